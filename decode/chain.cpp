#include "decode/chain.h"

#include <string.h>

namespace {

// A most-significant-first bit reader over a 64-bit buffer. It takes the same
// bits as ReadBits from the same start, but knows where the input ends:
// `count` is the number of real input bits at the top of `buffer`, and a
// field longer than `count` after a refill lies past the end of the input.
struct ChainReader {
  const uint8_t* source;
  uint64_t length;     // bytes readable at source
  uint64_t next_byte;  // first byte not yet in the buffer
  uint64_t buffer;     // next bit in bit 63
  int count;           // bits of buffer that hold input, 0 to 64
};

// Afterwards count >= 56 unless the input has run out.
inline void Refill(ChainReader* r) {
  if (r->count >= 56) return;
  if (r->length - r->next_byte >= 8) {
    // One big-endian load. The bits below `count` after it are real input
    // bits of the following byte; the next refill ORs the same bits in again.
    const uint8_t* s = r->source + r->next_byte;
    uint64_t word = 0;
    for (int i = 0; i < 8; i++) word = (word << 8) | s[i];
    r->buffer |= word >> r->count;
    r->next_byte += (uint64_t)((63 - r->count) >> 3);
    r->count |= 56;
    return;
  }
  while (r->count <= 56 && r->next_byte < r->length) {
    r->buffer |= (uint64_t)r->source[r->next_byte++] << (56 - r->count);
    r->count += 8;
  }
}

// Precondition: 1 <= n <= count.
inline uint32_t Take(ChainReader* r, int n) {
  uint32_t value = (uint32_t)(r->buffer >> (64 - n));
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
  // (the |1 keeps clz defined for a buffer of all ones).
  int ones = __builtin_clzll(~r->buffer | 1u);
  if (ones >= kEndCodeOnes) return 0;
  int n = ones + 1;
  // The code takes 2n bits; fewer left (ones up to the end included) is the
  // end of the input.
  if (2 * n > r->count) return 0;
  r->buffer <<= n;
  r->count -= n;
  *run = (uint64_t)Take(r, n) + ((uint64_t)1 << n) - 2;
  return 1;
}

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

inline void PutColour(uint8_t* at, const uint8_t colour[3]) {
  at[0] = colour[0];
  at[1] = colour[1];
  at[2] = colour[2];
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
  const uint64_t stride = (uint64_t)job->bytes_per_pixel;
  const uint64_t count = (uint64_t)job->width * (uint64_t)job->height;
  const int64_t width = job->width;
  // With every move at least 0, a chain past the block never comes back, so
  // q may stop at `count`; that keeps it far from overflow.
  const bool moves_forward = width >= 2;

  uint64_t start = job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0;
  ChainReader r = {job->source, job->source_length, start, 0, 0};
  if (start > r.length) r.next_byte = r.length;

  uint64_t p = 0;
  uint8_t colour[3];
  for (;;) {
    uint64_t run;
    if (!ReadRun(&r, &run)) break;
    p += run;
    // p never decreases, so no later record can land inside the block.
    if (p >= count) break;
    Refill(&r);
    if (r.count < 24) break;
    uint32_t bgr = Take(&r, 24);
    colour[0] = (uint8_t)(bgr >> 16);
    colour[1] = (uint8_t)(bgr >> 8);
    colour[2] = (uint8_t)bgr;
    PutColour(block + p * stride, colour);
    if (r.count < 1) break;
    if (Take(&r, 1)) {
      int64_t q = (int64_t)p;
      for (;;) {
        Refill(&r);
        const MoveEntry& m = kMoves[r.buffer >> 60];
        if (m.length > r.count) return;
        r.buffer <<= m.length;
        r.count -= m.length;
        if (m.columns == kChainEnd) break;
        q += width + m.columns;
        // A negative q (only for width 1) casts to a huge index and is skipped.
        if ((uint64_t)q < count)
          PutColour(block + (uint64_t)q * stride, colour);
        else if (moves_forward && q > (int64_t)count)
          q = (int64_t)count;
      }
    }
    p += 1;
  }
}

void FillUnwrittenPixels(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  if (total == 0 || job->bytes_per_pixel < 3) return;
  const uint64_t stride = (uint64_t)job->bytes_per_pixel;
  uint8_t* at = job->pixels;
  uint8_t* end = job->pixels + total;
  uint8_t previous[3] = {0, 0, 0};
  for (; at < end; at += stride) {
    if ((at[0] & at[1] & at[2]) == 255) {
      PutColour(at, previous);
    } else {
      previous[0] = at[0];
      previous[1] = at[1];
      previous[2] = at[2];
    }
  }
}

void DecodeChain(const DecodeJob* job) {
  DecodeChainRecords(job);
  FillUnwrittenPixels(job);
}
