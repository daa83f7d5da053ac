// The chain colour encoder. The decoder fills every pixel it was not given
// from the pixel before it, so the picture is fixed by its run starts: the
// pixels whose colour differs from the pixel before them (pixel 0 unless it
// is black). Every run start must be written, by a record or by a chain of
// an earlier record; any other pixel may be written too, with its own colour.
//
// Walking the pixels in order, each run start that no chain has covered yet
// gets a record, and the record's chain follows its colour down the rows
// through run starts of that colour, within two columns a row. Where no run
// start follows at once, the chain may bridge up to kBridgeRows rows through
// pixels of its colour to reach one. Every pixel a chain passes has the
// chain's colour, so the order of writes never matters.
#include <string.h>

#include <vector>

#include "encode/encode.h"

namespace {

const uint32_t kMaxRun = 16777213;  // 22 ones, a zero, 23 one bits
const int kBridgeRows = 3;
// The map of covered pixels takes a byte a pixel; this keeps it sane.
const uint64_t kMaxPixels = (uint64_t)1 << 28;

struct BitSink {
  std::vector<uint8_t>* out;
  uint64_t bits;  // the last `count` bits are pending
  int count;      // 0 to 7 between calls
};

// count 0 to 32.
inline void Put(BitSink* s, uint32_t value, int count) {
  s->bits = (s->bits << count) | value;
  s->count += count;
  while (s->count >= 8) {
    s->count -= 8;
    s->out->push_back((uint8_t)(s->bits >> s->count));
  }
}

inline void Flush(BitSink* s) {
  if (s->count) s->out->push_back((uint8_t)(s->bits << (8 - s->count)));
  s->count = 0;
}

// n - 1 ones, a zero and an n-bit value, for 2^n - 2 <= run <= 2^(n+1) - 3.
void PutRun(BitSink* s, uint32_t run) {
  uint32_t biased = run + 2;
  int n = 31 - __builtin_clz(biased);
  Put(s, (1u << n) - 2, n);
  Put(s, biased - (1u << n), n);
}

// Move codes by column offset -2 to 2.
const uint8_t kMoveBits[5] = {2, 1, 2, 3, 3};
const uint8_t kMoveLength[5] = {4, 2, 2, 2, 4};

struct Picture {
  const uint8_t* pixels;
  uint64_t count;
  int64_t width;
};

inline bool SameColour(const Picture& pic, uint64_t a, uint64_t b) {
  const uint8_t* x = pic.pixels + a * 3;
  const uint8_t* y = pic.pixels + b * 3;
  return x[0] == y[0] && x[1] == y[1] && x[2] == y[2];
}

inline bool StartsRun(const Picture& pic, uint64_t i) {
  if (i == 0) {
    const uint8_t* x = pic.pixels;
    return x[0] | x[1] | x[2];
  }
  return !SameColour(pic, i, i - 1);
}

// A move's target, or false when it would leave the block or not advance
// (moves of width - 2 or less are 0 or negative for widths 1 and 2).
inline bool Target(const Picture& pic, uint64_t q, int columns, uint64_t* to) {
  int64_t step = pic.width + columns;
  if (step <= 0) return false;
  uint64_t t = q + (uint64_t)step;
  if (t >= pic.count) return false;
  *to = t;
  return true;
}

// The order in which moves are tried: cheap codes first, the previous move
// first of all so that slanting edges keep their slant.
void MoveOrder(int previous, int order[5]) {
  static const int kPlain[5] = {0, -1, 1, -2, 2};
  int n = 0;
  order[n++] = previous;
  for (int m : kPlain)
    if (m != previous) order[n++] = m;
}

// Looks for a path of 1 to `rows` moves from q through pixels of q's colour
// that ends at an uncovered run start. Stores the moves in path[0..] and
// returns their number, or 0.
int FindPath(const Picture& pic, const std::vector<uint8_t>& covered, uint64_t q, int previous,
             int rows, int path[]) {
  int order[5];
  MoveOrder(previous, order);
  // Direct targets first, at this depth, before any bridge.
  for (int m : order) {
    uint64_t t;
    if (Target(pic, q, m, &t) && !covered[t] && SameColour(pic, t, q) && StartsRun(pic, t)) {
      path[0] = m;
      return 1;
    }
  }
  if (rows <= 1) return 0;
  for (int m : order) {
    uint64_t t;
    if (!Target(pic, q, m, &t) || !SameColour(pic, t, q)) continue;
    int found = FindPath(pic, covered, t, m, rows - 1, path + 1);
    if (found) {
      path[0] = m;
      return found + 1;
    }
  }
  return 0;
}

void PutColourOf(BitSink* s, const Picture& pic, uint64_t i) {
  const uint8_t* x = pic.pixels + i * 3;
  Put(s, ((uint32_t)x[0] << 16) | ((uint32_t)x[1] << 8) | x[2], 24);
}

}  // namespace

int EncodeChain(const uint8_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out,
                const char** why) {
  if (!pixels || !out || width <= 0 || height <= 0) {
    if (why) *why = "no pixels, or a width or height that is not positive";
    return 0;
  }
  Picture pic = {pixels, (uint64_t)width * (uint64_t)height, width};
  if (pic.count > kMaxPixels) {
    if (why) *why = "picture too large for the chain encoder";
    return 0;
  }
  for (uint64_t i = 0; i < pic.count; i++) {
    const uint8_t* x = pixels + i * 3;
    if ((x[0] & x[1] & x[2]) == 255) {
      if (why) *why = "pure white (255, 255, 255) cannot be chain coded: the decoder takes it as unwritten";
      return 0;
    }
  }

  std::vector<uint8_t> covered((size_t)pic.count, 0);
  std::vector<int> moves;
  BitSink sink = {out, 0, 0};
  uint64_t next = 0;  // the pixel that a run of 0 names
  for (uint64_t i = 0; i < pic.count; i++) {
    bool must = StartsRun(pic, i) && !covered[i];
    // A gap longer than any run code gets a record of the pixel's own colour.
    if (!must && i - next < kMaxRun) continue;
    PutRun(&sink, (uint32_t)(i - next));
    PutColourOf(&sink, pic, i);
    next = i + 1;

    moves.clear();
    uint64_t q = i;
    int previous = 0;
    int path[kBridgeRows];
    for (;;) {
      int steps = FindPath(pic, covered, q, previous, kBridgeRows, path);
      if (!steps) break;
      for (int k = 0; k < steps; k++) {
        Target(pic, q, path[k], &q);
        covered[q] = 1;
        moves.push_back(path[k]);
      }
      previous = path[steps - 1];
    }
    if (moves.empty()) {
      Put(&sink, 0, 1);
      continue;
    }
    Put(&sink, 1, 1);
    for (int m : moves) Put(&sink, kMoveBits[m + 2], kMoveLength[m + 2]);
    Put(&sink, 0, 3);
  }
  Put(&sink, 0xFFFFFE, 24);  // the end code: 23 ones and a zero
  Flush(&sink);
  return 1;
}
