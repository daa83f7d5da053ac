#include "decode/chain.h"

#include <string.h>

#include "decode/bitword.h"
#include "decode/fast.h"
#include "decode/pixels.h"

namespace {

inline int LeadingOnes(BitWord w) { return LeadingZeros(~w); }

// A most-significant-first bit reader over a machine word. It takes the same
// bits as ReadBits from the same start, but knows where the input ends:
// `count` is the number of real input bits at the top of `buffer`, and a
// field longer than `count` after a refill lies past the end of the input.
struct ChainReader {
  const uint8_t* source;
  // Offsets in the input are machine words, as it lies in memory: 64-bit
  // counts cost an add with carry each on a 32-bit machine.
  size_t length;     // bytes readable at source
  size_t next_byte;  // first byte not yet in the buffer
  BitWord buffer;      // next bit in the top bit
  int count;           // bits of buffer that hold input, 0 to kWordBits
};

// One big-endian load. The bits below `count` after it are real input bits
// of the following byte; the next refill ORs the same bits in again.
// Precondition: a word's bytes from next_byte lie in the input, count <
// kWordBits (only the byte-wise refill fills the word, and only once fewer
// than a word's bytes remain).
inline void RefillWord(ChainReader* r) {
  r->buffer |= LoadWord(r->source + r->next_byte) >> r->count;
  r->next_byte += (size_t)((kWordBits - 1 - r->count) >> 3);
  r->count |= kWordBits - 8;
}

// Afterwards count >= kWordBits - 8 unless the input has run out.
inline void Refill(ChainReader* r) {
  if (r->count >= kWordBits - 8) return;
  if (r->length - r->next_byte >= kWordBytes) {
    RefillWord(r);
    return;
  }
  while (r->count <= kWordBits - 8 && r->next_byte < r->length) {
    r->buffer |= (BitWord)r->source[r->next_byte++] << (kWordBits - 8 - r->count);
    r->count += 8;
  }
}

// Precondition: 1 <= n <= count, n < kWordBits.
inline uint32_t Take(ChainReader* r, int n) {
  uint32_t value = (uint32_t)(r->buffer >> (kWordBits - n));
  r->buffer <<= n;
  r->count -= n;
  return value;
}

// Run codes begin with n - 1 ones; 23 or more ones make the end code.
const int kEndCodeOnes = 23;

// Reads one run code. Returns 1 with its run length, or 0 at the end code or
// when the code runs past the input; either way decoding ends there. The ones
// of an end code need not be read to their zero: nothing is read after them.
inline int ReadRun(ChainReader* r, uint64_t* run) {
  Refill(r);
  // ~buffer has a set bit within the top 23 unless the end code has begun
  // (the |1 keeps clz defined for a buffer of all ones); a refill leaves at
  // least 24 bits.
  int ones = LeadingOnes(r->buffer);
  if (ones >= kEndCodeOnes) return 0;
  int n = ones + 1;
  // The code takes 2n bits; fewer left (ones up to the end included) is the
  // end of the input. A 32-bit word may hold only the first n of them.
  if (kWordBits == 64) {
    if (2 * n > r->count) return 0;
    r->buffer <<= n;
    r->count -= n;
  } else {
    if (n > r->count) return 0;
    r->buffer <<= n;
    r->count -= n;
    Refill(r);
    if (n > r->count) return 0;
  }
  *run = (uint64_t)Take(r, n) + ((uint64_t)1 << n) - 2;
  return 1;
}

// The next bit to read as a byte of the input and a bit within it, 0 for
// its top bit, and back. Positions are bytes and bits apart rather than one
// bit count, which would wrap at 512 MiB in a 32-bit word.
inline void GetPosition(const ChainReader* r, size_t* byte, int* shift) {
  *byte = r->next_byte - (size_t)((r->count + 7) >> 3);
  *shift = (8 - (r->count & 7)) & 7;
}
inline void SetPosition(ChainReader* r, size_t byte, int shift) {
  r->next_byte = byte;
  r->buffer = 0;
  r->count = 0;
  if (shift) {
    // The byte holds unread bits, so it lies in the input.
    Refill(r);
    r->buffer <<= shift;
    r->count -= shift;
  }
}

// Run codes of up to 8 bits (run lengths 0 to 29), by the next 8 bits: the
// code's length and its run length; length 0 for a longer code.
struct RunEntry {
  uint8_t length;
  uint8_t run;
};
struct ShortRuns {
  RunEntry of[256];
};
constexpr ShortRuns MakeShortRuns() {
  ShortRuns t = {};
  for (int bits = 0; bits < 256; bits++) {
    int ones = 0;
    while (ones < 8 && ((bits << ones) & 0x80)) ones++;
    int n = ones + 1;
    if (2 * n > 8) continue;
    int value = (bits >> (8 - 2 * n)) & ((1 << n) - 1);
    t.of[bits].length = (uint8_t)(2 * n);
    t.of[bits].run = (uint8_t)(value + (1 << n) - 2);
  }
  return t;
}
constexpr ShortRuns kShortRuns = MakeShortRuns();

// Move codes by their first four bits: the code's length, and the move in
// steps of one column relative to straight down (kChainEnd for 000).
const int8_t kChainEnd = 9;
struct MoveEntry {
  int8_t length;
  int8_t columns;
};
const MoveEntry kMoves[16] = {
    {3, kChainEnd}, {3, kChainEnd}, {4, -2}, {4, 2},  // 000x, 0010, 0011
    {2, -1}, {2, -1}, {2, -1}, {2, -1},              // 01
    {2, 0},  {2, 0},  {2, 0},  {2, 0},               // 10
    {2, 1},  {2, 1},  {2, 1},  {2, 1},               // 11
};

// Up to four moves of 2 bits at once, by the next 8 bits: how many of them
// come before the first code that begins 00, the columns they add up to,
// and each one's sideways step in bytes (the row's bytes come on top).
struct MoveGroup {
  uint8_t moves;
  int8_t columns;
  int8_t step[4];
  // The bits taken with the moves: the chain-end code 000 as well where it
  // follows them within the 8 bits (a short chain, one or two moves).
  uint8_t length;
  uint8_t ends;
};
struct MoveGroups {
  MoveGroup of[256];
};
constexpr MoveGroups MakeMoveGroups() {
  MoveGroups t = {};
  for (int bits = 0; bits < 256; bits++) {
    int n = 0, sum = 0;
    for (; n < 4; n++) {
      int code = (bits >> (6 - 2 * n)) & 3;
      if (code == 0) break;
      sum += code - 2;
      t.of[bits].step[n] = (int8_t)(3 * (code - 2));
    }
    t.of[bits].moves = (uint8_t)n;
    t.of[bits].columns = (int8_t)sum;
    t.of[bits].ends = n <= 2 && ((bits << (2 * n)) & 0xE0) == 0;
    t.of[bits].length = (uint8_t)(2 * n + (t.of[bits].ends ? 3 : 0));
  }
  return t;
}
constexpr MoveGroups kMoveGroups = MakeMoveGroups();

const Colour kUnwritten = 0xFFFFFF;

// The move 10 over a whole word.
const BitWord kStraightMoves = (BitWord)0xAAAAAAAAAAAAAAAAu;

// Where the records' and chains' pixels go. `Marked` writes them into a block
// already filled with the unwritten marker, for a final pass afterwards.
struct Marked {
  uint8_t* block;
  uint64_t stride;
  void Record(uint64_t p, Colour c) { PutColour(block + p * stride, c); }
  void Chain(uint64_t q, Colour c) { PutColour(block + q * stride, c); }
  void Group(uint64_t q, uint64_t, const MoveGroup& g, int64_t width, Colour c) {
    for (int k = 0; k < g.moves; k++) {
      q += width + g.step[k] / 3;
      PutColour(block + q * stride, c);
    }
  }
  void Straight(uint64_t q, uint64_t, int moves, int64_t width, Colour c) {
    for (int k = 0; k < moves; k++) {
      q += width;
      PutColour(block + q * stride, c);
    }
  }
  size_t PlainRecords(ChainReader*, size_t p) { return p; }
  size_t PlainRecordsAt(const uint8_t*, size_t, size_t*, int*, size_t p) { return p; }
};

// The final pass done along the way, for 3-byte pixels and rows of at least
// 3 pixels. There every chain move goes at least one pixel forward, so no
// record or chain writes a pixel before its record's own: once the run
// reaches pixel p, every pixel before p is final and takes its colour at
// once, while it is still in the cache. Pixels from `ahead` on have not been
// touched at all; they get the marker only when a chain passes them, and
// those that none passes are filled outright, without a look at the marker.
// Pixel indices here are machine words, as the block lies in memory; the
// reader hands over only those inside the block.
struct Sweep {
  uint8_t* block;
  size_t done;   // pixels before it hold their final colour
  size_t ahead;  // pixels from done to ahead hold a colour or the marker
  Colour previous;
  size_t count;  // pixels in the block

  // Pixels [done, marked) where there are many of them. Between chain
  // pixels they are mostly unwritten: sixteen at a time are told by their
  // 48 bytes all 255 and filled at once, and sixteen with no marker at all
  // are passed over; other pixels go eight at a time, one by one. Returns
  // where the few left over begin.
  size_t SettleMany(size_t marked) {
    uint8_t* at = block + 3 * done;
    size_t left = marked - done;
    Colour fill_of = previous;
    ColourBlock fill = MakeColourBlock(previous);
    // Pixels are read 4 bytes at a time, so the block's last pixel is left
    // to the caller.
    const size_t keep = marked < count ? 0 : 1;
    while (left >= 8 + keep) {
      if (left >= 16) {
        // Sixteen pixels are mostly all unwritten, or, under a stretch of
        // chains side by side, all written; the first pixel tells which
        // test to make.
        if (GetColourBeforeMore(at) == kUnwritten) {
          if (SixteenPixelsAllOnes(at)) {
            if (fill_of != previous) {
              fill_of = previous;
              fill = MakeColourBlock(previous);
            }
            do {
              PutSixteenPixels(at, fill);
              left -= 16;
              at += 48;
            } while (left >= 16 && SixteenPixelsAllOnes(at));
            continue;
          }
        } else if (!SixteenPixelsWith(at, 255)) {
          previous = GetColour(at + 45);
          left -= 16;
          at += 48;
          continue;
        }
      }
      // Each pixel is read before the one before it is written back: that
      // store takes 4 bytes, reaching into it. Only two colours are live,
      // which suits the few registers of a 32-bit machine.
      Colour c = GetColourBeforeMore(at);
      for (int k = 0; k < 7; k++, at += 3) {
        Colour next = GetColourBeforeMore(at + 3);
        if (c == kUnwritten) c = previous;
        previous = c;
        PutColourAndOneMore(at, c);
        c = next;
      }
      if (c == kUnwritten) c = previous;
      previous = c;
      PutColour(at, c);
      at += 3;
      left -= 8;
    }
    return marked - left;
  }

  // Precondition: done <= to <= the pixel count.
  void Settle(size_t to) {
    size_t marked = to < ahead ? to : ahead;
    size_t i = done;
    if (marked > i && marked - i >= 16) i = SettleMany(marked);
    uint8_t* at = block + 3 * i;
    for (size_t before_last = marked < count ? marked : count - 1; i < before_last; i++, at += 3) {
      // Written back either way: which pixels a chain has written is hard
      // to foresee, a branch on it costs more than the store.
      Colour c = GetColourBeforeMore(at);
      if (c == kUnwritten) c = previous;
      previous = c;
      PutColour(at, c);
    }
    if (i < marked) {
      Colour c = GetColour(at);
      if (c == kUnwritten)
        PutColour(at, previous);
      else
        previous = c;
    }
    if (to > marked) FillColour(block + 3 * marked, to - marked, previous);
    done = to;
    if (ahead < to) ahead = to;
  }
  // Precondition: done <= q < count.
  void Put(size_t q, Colour c) {
    uint8_t* at = block + 3 * q;
    if (q >= ahead) {
      if (q > ahead) FillBytes(block + 3 * ahead, 255, 3 * (q - ahead));
      ahead = q + 1;
      // One 4-byte store: its last byte lands on pixel q + 1, which is
      // untouched and will be written in full before anything reads it.
      if (q + 1 < count) {
        PutColourAndOneMore(at, c);
        return;
      }
    }
    PutColour(at, c);
  }
  // Pixels from `from` up to `at` (at most 4 of them, all untouched) take
  // `last`, and pixel `at` the record's colour c; returns the colour that
  // follows. Four stores of 4 bytes cover the run, and any beyond `at` land
  // on untouched pixels again. Precondition: at + 5 <= count.
  Colour PutShortRun(size_t from, size_t at, Colour last, Colour c) {
    uint8_t* run = block + 3 * from;
    PutColourAndOneMore(run, last);
    PutColourAndOneMore(run + 3, last);
    PutColourAndOneMore(run + 6, last);
    PutColourAndOneMore(run + 9, last);
    // A record of the marker's colour is no record: its pixel takes the
    // previous colour, as the final pass would give it.
    if (c != kUnwritten) last = c;
    PutColourAndOneMore(block + 3 * at, last);
    return last;
  }
  void Record(size_t p, Colour c) {
    // Where no chain has gone past the last record (the usual case in a
    // picture of many short runs), the pixels before p are untouched and
    // take the previous colour outright.
    if (p != done && ahead <= done && p - done <= 4 && count - p >= 5) {
      previous = PutShortRun(done, p, previous, c);
      done = p + 1;
      ahead = done;
      return;
    }
    if (p != done) Settle(p);
    Put(p, c);
    // Nothing later writes pixel p again, so a colour other than the marker
    // is final at once.
    if (c != kUnwritten) {
      previous = c;
      done = p + 1;
    }
  }
  // Records of a run of 0 to 4 and no chain, one after another where no
  // chain has gone ahead (a picture of short runs, one colour each): each
  // takes the stores of Record's short run, with the sweep's state in
  // registers. `p` is where the next run starts; returns where the run after
  // the records taken starts. For a 64-bit word, which holds a whole record
  // after a refill: records are taken while a word of input lies beyond the
  // buffer.
  size_t PlainRecords(ChainReader* r, size_t p) {
    if (kWordBits < 64 || p != done || ahead > done) return p;
    Colour last = previous;
    while (r->length - r->next_byte >= kWordBytes) {
      RefillWord(r);
      // 00 and 01: runs 0 and 1; 10 vv: runs 2 to 5; 11: longer. The two
      // lengths go different ways, so that the next refill waits on a
      // predicted branch rather than on the bits of this one.
      uint32_t top = (uint32_t)(r->buffer >> (kWordBits - 2));
      uint32_t run;
      BitWord bits;
      int taken;
      if (top < 2) {
        run = top;
        bits = r->buffer << 2;
        taken = 2 + 25;
      } else {
        run = 2 + (uint32_t)(r->buffer >> (kWordBits - 4) & 3);
        if (top == 3 || run > 4) break;
        bits = r->buffer << 4;
        taken = 4 + 25;
        // Keeps the compiler from merging the two ways into a select.
        asm("" : "+r"(bits));
      }
      if (bits >> (kWordBits - 25) & 1) break;
      size_t at = p + run;
      if (at + 5 > count) break;
      last = PutShortRun(p, at, last, __builtin_bswap32((uint32_t)(bits >> (kWordBits - 24))) >> 8);
      r->buffer = bits << 25;
      r->count -= taken;
      p = at + 1;
    }
    previous = last;
    done = p;
    ahead = p;
    return p;
  }
  // The same for a 32-bit word, which holds a run code or a colour and its
  // flag, not both: each record is read at its byte and bit position in
  // `source` (`length` bytes), in two loads.
  size_t PlainRecordsAt(const uint8_t* source, size_t length, size_t* byte_at, int* shift_at, size_t p) {
    if (kWordBits != 32 || p != done || ahead > done) return p;
    size_t byte = *byte_at;
    int shift = *shift_at;
    Colour last = previous;
    // 12 bytes: the two loads, 4 bytes each, and at most 4 bytes between.
    while (length - byte >= 12) {
      uint32_t w = (uint32_t)LoadWord(source + byte) << shift;
      uint32_t top = w >> 30;
      // As in the 64-bit loop, the two code lengths go different ways.
      uint32_t run;
      int fields;
      if (top < 2) {
        run = top;
        fields = shift + 2;
      } else {
        run = 2 + (w >> 28 & 3);
        if (top == 3 || run > 4) break;
        fields = shift + 4;
        asm("" : "+r"(fields));  // two ways, not a select
      }
      uint32_t v = (uint32_t)LoadWord(source + byte + (size_t)(fields >> 3)) << (fields & 7);
      if (v >> 7 & 1) break;
      size_t at = p + run;
      if (at + 5 > count) break;
      last = PutShortRun(p, at, last, __builtin_bswap32(v) & 0xFFFFFFu);
      fields += 25;
      byte += (size_t)(fields >> 3);
      shift = fields & 7;
      p = at + 1;
    }
    *byte_at = byte;
    *shift_at = shift;
    previous = last;
    done = p;
    ahead = p;
    return p;
  }
  void Chain(size_t q, Colour c) { Put(q, c); }
  // A group's moves from q (whose pixel is written, so q < ahead) to last,
  // all inside the block: one fill of the marker for any untouched pixels
  // up to last, then a store for each move.
  void Group(size_t q, size_t last, const MoveGroup& g, int64_t width, Colour c) {
    MarkThrough(block, &ahead, last, 255);
    // Moves in order from q's pixel: each is a row's bytes and its step on.
    uint8_t* at = block + 3 * q;
    const ptrdiff_t row = 3 * (ptrdiff_t)width;
    at += row + g.step[0];
    PutColour(at, c);
    if (g.moves > 1) {
      at += row + g.step[1];
      PutColour(at, c);
      if (g.moves > 2) {
        at += row + g.step[2];
        PutColour(at, c);
        if (g.moves > 3) PutColour(at + row + g.step[3], c);
      }
    }
  }
  // `moves` straight down from q (whose pixel is written) to last, inside
  // the block.
  void Straight(size_t q, size_t last, int moves, int64_t width, Colour c) {
    MarkThrough(block, &ahead, last, 255);
    // Two rows a step, up to the last pixel itself.
    uint8_t* at = block + 3 * q;
    uint8_t* const end = block + 3 * last;
    const ptrdiff_t row = 3 * (ptrdiff_t)width;
    if (moves & 1) {
      at += row;
      PutColour(at, c);
    }
    while (at != end) {
      PutColour(at + row, c);
      at += 2 * row;
      PutColour(at, c);
    }
  }
};

// Reads a chain's moves up to its end code, starting from the record's pixel
// p. Returns 0 when the input ends inside the chain, which ends decoding.
//
// With `fast`, the moves of 2 bits go up to four at a time from one look at
// the next 8 bits, while the last of them stays inside the block; any other
// code, or the block's end near, takes the move on its own.
//
// Always inlined: called out of line, it would take the sweep's state
// through memory at every chain.
template <class Out>
__attribute__((always_inline)) inline int ReadChain(ChainReader* r, uint64_t p, Colour colour, uint64_t count,
                                                    int64_t width, Out* out, int fast) {
  // With every move at least 0, a chain past the block never comes back, so
  // q may stop at `count`; that keeps it far from overflow.
  const bool moves_forward = width >= 2;
  // Moves of 2 bits go forward, so a group's last pixel is its farthest.
  const bool grouped = fast && moves_forward;
  int64_t q = (int64_t)p;
  for (;;) {
    if (grouped) {
      if (r->count < 8) Refill(r);
      if (r->count >= 8) {
        // A vertical edge is a long stretch of moves 10, straight down: up
        // to half a word of them at once.
        int straight = LeadingZeros(r->buffer ^ kStraightMoves) >> 1;
        if (2 * straight > r->count) straight = r->count >> 1;
        if (straight > 4) {
          int64_t last = q + straight * width;
          if ((uint64_t)last < count) {
            out->Straight((uint64_t)q, (uint64_t)last, straight, width, colour);
            r->buffer <<= 2 * straight;
            r->count -= 2 * straight;
            q = last;
            continue;
          }
        }
        const MoveGroup& g = kMoveGroups.of[r->buffer >> (kWordBits - 8)];
        if (g.moves) {
          int64_t last = q + g.moves * width + g.columns;
          if ((uint64_t)last < count) {
            out->Group((uint64_t)q, (uint64_t)last, g, width, colour);
            r->buffer <<= g.length;
            r->count -= g.length;
            if (g.ends) return 1;
            q = last;
            continue;
          }
        }
      }
    }
    // With 4 bits in the buffer the code is known; fewer call for a refill,
    // after which fewer than the code's length is the input's end.
    if (r->count < 4) Refill(r);
    // The moves of one column or none (01, 10, 11) are the usual ones and
    // are told from the first two bits without a table, which keeps the
    // buffer's shift from waiting on a load at every step.
    uint32_t first = (uint32_t)(r->buffer >> (kWordBits - 2));
    int length = 2;
    int columns = (int)first - 2;
    if (first == 0) {
      const MoveEntry& m = kMoves[r->buffer >> (kWordBits - 4)];
      length = m.length;
      columns = m.columns;
    }
    if (length > r->count) return 0;
    r->buffer <<= length;
    r->count -= length;
    if (columns == kChainEnd) return 1;
    q += width + columns;
    // A negative q (only for width 1) casts to a huge index and is skipped.
    if ((uint64_t)q < count)
      out->Chain((uint64_t)q, colour);
    else if (moves_forward && q > (int64_t)count)
      q = (int64_t)count;
  }
}

// Reads the records and chains up to the end code, the end of the input or a
// run past the block, handing every pixel inside the block to `out`.
//
// The fast loop runs while enough input bytes lie beyond the buffer that a
// refill is one load and leaves only real input bits, so that a whole
// record with a run code of up to 30 bits (24 in a 32-bit word) is taken
// without a check between the fields. Anything else (a longer run code,
// the end of the input near) goes to the careful loop, which takes each
// field on its own and gives the same result from the same state. `fast` 0
// runs only that.
template <class Out>
void ReadRecords(const DecodeJob* job, Out* out, int fast) {
  const uint64_t count = (uint64_t)job->width * (uint64_t)job->height;
  const int64_t width = job->width;
  uint64_t start = job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0;
  size_t length = job->source_length > SIZE_MAX ? SIZE_MAX : (size_t)job->source_length;
  ChainReader r = {job->source, length, start < length ? (size_t)start : length, 0, 0};

  uint64_t p = 0;
#if UINTPTR_MAX <= 0xFFFFFFFFu
  // A 32-bit word holds too few bits for a whole record. Each record takes
  // two loads straight from the input instead, at a byte and a bit within
  // it: one for the run code (up to 24 bits), one for the colour and the
  // flag. Neither waits on the bits left in a buffer, only on the position.
  // 12 input bytes from the position leave room for both loads and for the
  // chain reader's refill.
  //
  // The run position is a machine word here too: a block that lies in
  // memory counts fewer pixels than SIZE_MAX / 3, which leaves room for a
  // run on top of any position inside it.
  size_t byte;
  int shift;
  GetPosition(&r, &byte, &shift);
  const size_t pixels = (size_t)count;
  size_t pos = (size_t)p;
  while (fast && count <= SIZE_MAX / 3 && r.length - byte >= 12) {
    uint32_t w = LoadWord(r.source + byte) << shift;  // 25 input bits or more
    const RunEntry& e = kShortRuns.of[w >> 24];
    int length = e.length;
    uint32_t run = e.run;
    if (!length) {
      int ones = LeadingOnes(w);
      if (ones >= kEndCodeOnes) return;
      int n = ones + 1;
      if (n > 12) break;
      run = ((w << n) >> (32 - n)) + ((1u << n) - 2);
      length = 2 * n;
    }
    pos += run;
    if (pos >= pixels) return;
    shift += length;
    byte += (size_t)(shift >> 3);
    shift &= 7;
    // Fields blue, green, red: the first is the colour's low byte.
    uint32_t v = LoadWord(r.source + byte) << shift;
    Colour colour = __builtin_bswap32(v) & 0xFFFFFFu;
    int chain = (int)(v >> 7) & 1;
    shift += 25;
    byte += (size_t)(shift >> 3);
    shift &= 7;
    out->Record(pos, colour);
    if (chain) {
      SetPosition(&r, byte, shift);
      if (!ReadChain(&r, pos, colour, count, width, out, fast)) return;
      GetPosition(&r, &byte, &shift);
    }
    pos += 1;
    if (!chain) pos = out->PlainRecordsAt(r.source, r.length, &byte, &shift, pos);
  }
  p = pos;
  SetPosition(&r, byte, shift);
#else
  while (fast && r.length - r.next_byte >= 8) {
    RefillWord(&r);
    // Short run codes, the usual ones, by one lookup; a refill leaves at
    // least 56 bits, room for such a code, the colour and the flag.
    const RunEntry& e = kShortRuns.of[r.buffer >> (kWordBits - 8)];
    int length = e.length;
    uint64_t run = e.run;
    if (!length) {
      int ones = LeadingOnes(r.buffer);
      if (ones >= kEndCodeOnes) return;
      int n = ones + 1;
      if (2 * n + 25 > r.count) break;
      run = ((r.buffer << n) >> (64 - n)) + ((uint64_t)1 << n) - 2;
      length = 2 * n;
    }
    r.buffer <<= length;
    p += run;
    if (p >= count) return;
    // Fields blue, green, red: the first is the colour's low byte.
    Colour colour = __builtin_bswap32((uint32_t)(r.buffer >> 40)) >> 8;
    int chain = (int)(r.buffer >> 39) & 1;
    r.buffer <<= 25;
    r.count -= length + 25;
    out->Record(p, colour);
    if (chain && !ReadChain(&r, p, colour, count, width, out, fast)) return;
    p += 1;
    if (!chain) p = out->PlainRecords(&r, (size_t)p);
  }
#endif

  for (;;) {
    uint64_t run;
    if (!ReadRun(&r, &run)) break;
    p += run;
    // p never decreases, so no later record can land inside the block.
    if (p >= count) break;
    // A run code of up to 30 bits leaves the colour and the flag in the buffer.
    if (r.count < 25) Refill(&r);
    if (r.count < 24) break;
    Colour colour = __builtin_bswap32(Take(&r, 24)) >> 8;
    out->Record(p, colour);
    if (r.count < 1) Refill(&r);
    if (r.count < 1) break;
    if (Take(&r, 1) && !ReadChain(&r, p, colour, count, width, out, fast)) break;
    p += 1;
  }
}

}  // namespace

void DecodeChainRecords(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  if (total == 0) return;
  uint8_t* block = job->pixels;
  // Every write sets three bytes; a narrower pixel would run past the block,
  // so such a job gets black rather than a colour half in the next pixel.
  if (job->bytes_per_pixel < 3) {
    memset(block, 0, (size_t)total);
    return;
  }
  memset(block, 255, (size_t)total);
  Marked out = {block, (uint64_t)job->bytes_per_pixel};
  ReadRecords(job, &out, 0);
}

void FillUnwrittenPixels(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  if (total == 0 || job->bytes_per_pixel < 3) return;
  const uint64_t stride = (uint64_t)job->bytes_per_pixel;
  uint8_t* at = job->pixels;
  uint8_t* end = job->pixels + total;
  Colour previous = 0;
  for (; at < end; at += stride) {
    Colour c = GetColour(at);
    if (c == kUnwritten)
      PutColour(at, previous);
    else
      previous = c;
  }
}

void DecodeChainInTwoPasses(const DecodeJob* job) {
  DecodeChainRecords(job);
  FillUnwrittenPixels(job);
}

void DecodeChain(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  if (total == 0) return;
  if (job->bytes_per_pixel != 3 || job->width < 3) {
    DecodeChainInTwoPasses(job);
    return;
  }
  Sweep out = {job->pixels, 0, 0, 0, (size_t)((uint64_t)job->width * (uint64_t)job->height)};
  ReadRecords(job, &out, kFastLoops);
  out.Settle((uint64_t)job->width * (uint64_t)job->height);
}
