// LZ pixel streams: literal bytes and copies out of a 64 KiB history ring
// addressed by absolute 16-bit positions, ended by a copy from position 0.
//
// No ring is kept. Decoded byte n sits at ring position (n + 1) mod 65536, so
// ring position P, seen when `written` bytes are decoded, holds the byte
// d = ((written + 1 - P - 1) mod 65536) + 1 bytes back in the block, and d
// stays the same through one copy. Positions that no byte has reached yet
// (d > written) read as 0.
#include <string.h>

#include "decode/lz.h"

namespace {

// A bit reader private to this decoder, giving exactly ReadBits's fields.
// The `count` unread bits sit at the top of `bits`; the bits below them are
// either zero or copies of the input bytes that follow, so OR-ing those bytes
// in again changes nothing.
struct LzReader {
  const uint8_t* source;
  uint64_t length;
  uint64_t next;  // next byte to load; next <= length
  uint64_t bits;
  unsigned count;
};

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Afterwards count >= 56, or every byte of the input is loaded. While 8 bytes
// remain one load serves; near the end bytes are taken one at a time.
inline void Refill(LzReader* r) {
  if (r->length - r->next >= 8) {
    // count <= 63 here: only the byte-wise path below can reach 64, and once
    // fewer than 8 bytes remain it is the only path taken.
    r->bits |= LoadBigEndian64(r->source + r->next) >> r->count;
    r->next += (63 - r->count) >> 3;
    r->count |= 56;
    return;
  }
  while (r->count <= 56 && r->next < r->length) {
    r->bits |= (uint64_t)r->source[r->next] << (56 - r->count);
    r->next++;
    r->count += 8;
  }
}

// Precondition: 1 <= n <= count.
inline uint32_t Peek(const LzReader* r, unsigned n) { return (uint32_t)(r->bits >> (64 - n)); }
inline void Skip(LzReader* r, unsigned n) {
  r->bits <<= n;
  r->count -= n;
}

// Copies n (1 to 18) bytes from d bytes back, where the two ranges do not
// overlap (d >= n), in a few fixed-size moves.
inline void CopyApart(uint8_t* dst, const uint8_t* src, uint64_t n) {
  if (n >= 8) {
    uint64_t a, b, c;
    memcpy(&a, src, 8);
    memcpy(&c, src + n - 8, 8);
    if (n > 16) {
      memcpy(&b, src + 8, 8);
      memcpy(dst + 8, &b, 8);
    }
    memcpy(dst, &a, 8);
    memcpy(dst + n - 8, &c, 8);
  } else if (n >= 4) {
    uint32_t a, c;
    memcpy(&a, src, 4);
    memcpy(&c, src + n - 4, 4);
    memcpy(dst, &a, 4);
    memcpy(dst + n - 4, &c, 4);
  } else {
    for (uint64_t i = 0; i < n; i++) dst[i] = src[i];
  }
}

}  // namespace

uint64_t DecodeLzStream(const DecodeJob* job, BitCursor* end) {
  uint64_t total = PixelBlockBytes(job);
  uint8_t* out = job->pixels;
  if (total) memset(out, 0xFF, (size_t)total);
  uint64_t start = job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0;
  end->position = start;
  end->bit_mask = 128;
  if (start >= job->source_length) return 0;

  LzReader r = {job->source, job->source_length, start, 0, 0};
  uint64_t written = 0;
  // Each code is taken only when the input holds all of it; the loop stops
  // before reading anything once the block is full.
  while (written < total) {
    Refill(&r);
    if (r.count >= 9 && Peek(&r, 1)) {
      out[written++] = (uint8_t)Peek(&r, 9);
      Skip(&r, 9);
      continue;
    }
    if (r.count < 17) break;  // also a literal cut short: its first bit is 1
    uint32_t ring_position = Peek(&r, 17);  // the leading 0 bit adds nothing
    if (ring_position == 0) {
      Skip(&r, 17);
      break;
    }
    if (r.count < 21) break;
    uint32_t length = (Peek(&r, 21) & 15u) + 3;
    Skip(&r, 21);

    uint64_t back = (((uint32_t)written - ring_position) & 0xFFFFu) + 1;
    uint64_t n = total - written < length ? total - written : length;
    uint8_t* dst = out + written;
    if (back > written) {
      // Starts at positions never written: those give 0 until the copy
      // reaches ring position 1, the first byte decoded.
      for (uint64_t i = 0; i < n; i++) dst[i] = written + i >= back ? out[written + i - back] : 0;
    } else if (back >= n) {
      CopyApart(dst, dst - back, n);
    } else if (back == 1) {
      memset(dst, dst[-1], (size_t)n);
    } else {
      // Overlapping: each byte may be one this copy has just written.
      for (uint64_t i = 0; i < n; i++) dst[i] = dst[i - back];
    }
    written += n;
  }

  uint64_t bit = r.next * 8 - r.count;
  end->position = bit >> 3;
  end->bit_mask = (uint8_t)(128u >> (bit & 7));
  return written;
}

void DecodeLz(const DecodeJob* job) {
  BitCursor end;
  DecodeLzStream(job, &end);
}
