// Encoder of the palette chain coding (".HHP").
//
// The decoder's sweep carries the index of the pixel before, so the marker of
// every pixel is fixed by the picture: none where the index equals the one
// before it in block order, the new index where it changes to a colour other
// than entry 0's, and the index before (closing its span) where it changes to
// entry 0's colour. The encoder only has to place these markers cheaply:
// runs in block order, each with a chain that follows pixels of the same
// marker down the rows, as the edges of areas go. Every write puts a pixel's
// own marker there, so the order of writes never matters and a pixel may be
// written twice.
#include <string.h>

#include "encode/encode.h"

namespace {

const uint32_t kMaxSkip = (1u << 20) - 1;
// How many rows a chain looks ahead for its edge to go on; up to 63 the row
// jump costs at most 14 bits with its step, less than any new run.
const int kJumpRows = 63;
// The six chain steps: their codes and sideways moves, tried in this order
// after the step that the chain took last.
const int kStepCode[6] = {1, 2, 3, 4, 5, 7};
const int kStepMove[6] = {0, 1, -1, 2, -2, 4};

struct BitSink {
  std::vector<uint8_t>* out;
  uint64_t bits;  // `count` pending bits, right-aligned
  int count;
};

// Precondition: n <= 32 and value < 2^n.
void Put(BitSink* s, uint32_t value, int n) {
  s->bits = (s->bits << n) | value;
  s->count += n;
  while (s->count >= 8) {
    s->count -= 8;
    s->out->push_back((uint8_t)(s->bits >> s->count));
  }
}

void Flush(BitSink* s) {
  if (s->count) s->out->push_back((uint8_t)(s->bits << (8 - s->count)));
  s->count = 0;
}

// A count field with the narrowest selector that holds n (n <= kMaxSkip).
void PutCount(BitSink* s, uint32_t n) {
  if (n < 16) {
    Put(s, 0, 2);
    Put(s, n, 4);
  } else if (n < 64) {
    Put(s, 1, 2);
    Put(s, n, 6);
  } else if (n < 256) {
    Put(s, 2, 2);
    Put(s, n, 8);
  } else {
    Put(s, 3, 2);
    Put(s, n, 20);
  }
}

// Colours of at most 256 kinds: an open-addressed table keyed by the 24-bit
// colour, slots numbered in order of first appearance.
struct ColourTable {
  uint32_t key[1024];  // colour + 1, 0 = empty
  uint16_t slot[1024];
  uint32_t colour[256];
  uint32_t uses[256];
  int size;
};

// Returns the colour's slot, or -1 when it would be the 257th colour.
int SlotOf(ColourTable* t, uint32_t c) {
  uint32_t h = (c * 2654435761u) >> 22;
  for (;; h = (h + 1) & 1023) {
    if (t->key[h] == c + 1) return t->slot[h];
    if (t->key[h] == 0) break;
  }
  if (t->size == 256) return -1;
  t->key[h] = c + 1;
  t->slot[h] = (uint16_t)t->size;
  t->colour[t->size] = c;
  t->uses[t->size] = 0;
  return t->size++;
}

inline uint32_t ColourAt(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16; }

struct Placer {
  BitSink* sink;
  const uint8_t* marker;  // every pixel's marker, 0 for none
  uint8_t* pending;       // markers not yet written by any run or chain
  int64_t width;
  int64_t count;
};

// Finds the pixel where the chain at `at` goes on: one row down with one of
// the six moves, or up to kJumpRows rows further after a row jump. Returns the
// step's index in kStepCode, or -1.
int NextStep(const Placer* pl, int64_t at, uint8_t index, int last, uint32_t* jump, int64_t* to) {
  for (uint32_t rows = 0; rows <= (uint32_t)kJumpRows; rows++) {
    int64_t below = at + (int64_t)(rows + 1) * pl->width;
    if (below - 2 >= pl->count) return -1;
    int step = -1;
    if (below >= 2 && below + 4 < pl->count) {  // all six in the block
      const uint8_t* row = pl->pending + below;
      if (row[kStepMove[last]] == index) {
        step = last;
      } else {
        for (int k = 0; k < 6 && step < 0; k++)
          if (row[kStepMove[k]] == index) step = k;
      }
    } else {
      for (int k = -1; k < 6 && step < 0; k++) {
        int s = k < 0 ? last : k;
        int64_t q = below + kStepMove[s];
        if (q >= 0 && q < pl->count && pl->pending[q] == index) step = s;
      }
    }
    if (step >= 0) {
      *jump = rows;
      *to = below + kStepMove[step];
      return step;
    }
  }
  return -1;
}

// One run at pixel p and its chain, written as far as the marker's edge goes.
void PlaceRun(Placer* pl, int64_t p, uint32_t skip) {
  BitSink* s = pl->sink;
  uint8_t index = pl->marker[p];
  PutCount(s, skip);
  Put(s, index, 8);
  pl->pending[p] = 0;
  if (index == 0) {
    Put(s, 0, 3);
    return;
  }
  int64_t at = p;
  int last = 0;
  for (;;) {
    uint32_t jump;
    int64_t to;
    int step = NextStep(pl, at, index, last, &jump, &to);
    if (step < 0) break;
    if (jump) {
      Put(s, 6, 3);
      PutCount(s, jump);
    }
    Put(s, (uint32_t)kStepCode[step], 3);
    pl->pending[to] = 0;
    at = to;
    last = step;
  }
  Put(s, 0, 3);
}

}  // namespace

int EncodePalette(const uint8_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out,
                  const char** why) {
  if (width <= 0 || height <= 0 || (uint64_t)width * (uint64_t)height > ((uint64_t)1 << 31)) {
    *why = "picture size out of range";
    return 0;
  }
  const int64_t count = (int64_t)width * height;

  ColourTable table;
  memset(table.key, 0, sizeof table.key);
  table.size = 0;
  std::vector<uint8_t> marker((size_t)count);
  uint32_t cached = ColourAt(pixels) ^ 1u;  // differs from the first pixel
  int cached_slot = 0;
  for (int64_t p = 0; p < count; p++) {
    uint32_t c = ColourAt(pixels + 3 * p);
    if (c != cached) {
      cached_slot = SlotOf(&table, c);
      if (cached_slot < 0) {
        *why = "more than 256 colours";
        return 0;
      }
      cached = c;
    }
    table.uses[cached_slot]++;
    marker[p] = (uint8_t)cached_slot;
  }

  // Entry 0, the colour outside every span, is the commonest: the other
  // colours then need markers only where their areas begin and end.
  uint8_t entry_of[256];
  uint32_t entry_colour[256] = {0};
  bool placed[256] = {false};
  for (int e = 0; e < table.size; e++) {
    int best = -1;
    for (int k = 0; k < table.size; k++)
      if (!placed[k] && (best < 0 || table.uses[k] > table.uses[best])) best = k;
    placed[best] = true;
    entry_of[best] = (uint8_t)e;
    entry_colour[e] = table.colour[best];
  }

  // Indices to markers, from the end backwards so that each pixel still sees
  // the index of the one before it.
  for (int64_t p = count - 1; p >= 0; p--) {
    uint8_t here = entry_of[marker[p]];
    uint8_t before = p ? entry_of[marker[p - 1]] : 0;
    marker[p] = here == before ? 0 : here ? here : before;
  }

  for (int e = 0; e < 256; e++) {
    out->push_back((uint8_t)(entry_colour[e] >> 16));
    out->push_back((uint8_t)(entry_colour[e] >> 8));
    out->push_back((uint8_t)entry_colour[e]);
  }

  std::vector<uint8_t> pending = marker;
  BitSink sink = {out, 0, 0};
  Placer pl = {&sink, marker.data(), pending.data(), width, count};
  int64_t last = -1;
  for (int64_t p = 0; p < count; p++) {
    if (!pending[p]) continue;
    // A gap longer than a skip can say gets runs of their own pixels' markers
    // (a marker already written, or none), which change nothing.
    while (p - last > (int64_t)kMaxSkip) {
      PlaceRun(&pl, last + kMaxSkip, kMaxSkip);
      last += kMaxSkip;
    }
    PlaceRun(&pl, p, (uint32_t)(p - last));
    last = p;
  }
  PutCount(&sink, 0);
  Flush(&sink);
  return 1;
}
