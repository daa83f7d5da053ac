// Colours of 3-byte pixels as one value, and fills of many pixels with one
// colour, for the chain and palette decoders.
#ifndef VESK_DECODE_PIXELS_H
#define VESK_DECODE_PIXELS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Byte 0 of the pixel (blue) in bits 0-7, byte 1 in 8-15, byte 2 in 16-23.
typedef uint32_t Colour;

inline void PutColour(uint8_t* at, Colour c) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Two stores rather than three: a chain writes one pixel in each row, each
  // store to a line of its own, and fewer stores wait in line for them.
  uint16_t low = (uint16_t)c;
  memcpy(at, &low, 2);
#else
  at[0] = (uint8_t)c;
  at[1] = (uint8_t)(c >> 8);
#endif
  at[2] = (uint8_t)(c >> 16);
}

inline Colour GetColour(const uint8_t* at) { return at[0] | (Colour)at[1] << 8 | (Colour)at[2] << 16; }

// The same colour from one load of 4 bytes. Precondition: the byte after
// the pixel lies in the block too (the pixel is not the last one).
inline Colour GetColourBeforeMore(const uint8_t* at) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  Colour c;
  memcpy(&c, at, 4);
  return c & 0xFFFFFFu;
#else
  return GetColour(at);
#endif
}

// The colour in bytes 0-2 and any value in byte 3, in one store where the
// byte order allows.
inline void PutColourAndOneMore(uint8_t* at, Colour c) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  memcpy(at, &c, 4);
#else
  PutColour(at, c);
#endif
}

// Sets n bytes from `at` to `value`, as memset does. The sweeps fill their
// markers a few rows at a time, or a few pixels ahead of a short chain's
// next pixel. Fills of fewer than 16 bytes take two overlapping stores in
// line rather than a call. At a few rows the memset of the Windows C
// runtime (msvcrt) takes about twice as long as plain 16-byte stores, while
// elsewhere memset is as fast or faster.
inline void FillBytes(uint8_t* at, uint8_t value, size_t n) {
  if (n < 16) {
    uint32_t v = value * 0x01010101u;
    if (n >= 8) {
      memcpy(at, &v, 4);
      memcpy(at + 4, &v, 4);
      memcpy(at + n - 8, &v, 4);
      memcpy(at + n - 4, &v, 4);
    } else if (n >= 4) {
      memcpy(at, &v, 4);
      memcpy(at + n - 4, &v, 4);
    } else {
      for (size_t i = 0; i < n; i++) at[i] = value;
    }
    return;
  }
#if defined(_WIN32) && defined(__SSE2__)
  __m128i v = _mm_set1_epi8((char)value);
  for (size_t i = 0; i + 16 <= n; i += 16) _mm_storeu_si128((__m128i*)(at + i), v);
  _mm_storeu_si128((__m128i*)(at + n - 16), v);
#else
  memset(at, value, n);
#endif
}

// For the sweeps: pixels from *ahead on are untouched; those up to and
// including `last` take `marker` in all three bytes, and *ahead moves past
// them.
inline void MarkThrough(uint8_t* pixels, size_t* ahead, size_t last, uint8_t marker) {
  if (last >= *ahead) {
    FillBytes(pixels + 3 * *ahead, marker, 3 * (last + 1 - *ahead));
    *ahead = last + 1;
  }
}

// Sixteen pixels of one colour (48 bytes, three 16-byte vectors where the
// machine has them), stores of eight or sixteen of them, and the test
// whether sixteen pixels' bytes are all one value. Precondition for the
// stores and the test: the pixels they cover lie in the block.
#if defined(__SSE2__)
struct ColourBlock {
  __m128i v[3];
};
inline ColourBlock MakeColourBlock(Colour c) {
  // Four pixels are the 32-bit words a, b, d in memory order. 32-bit
  // arithmetic only: 64-bit shifts take several instructions each on a
  // 32-bit machine.
  int a = (int)(c | c << 24), b = (int)(c >> 8 | c << 16), d = (int)(c >> 16 | c << 8);
  ColourBlock k = {{_mm_set_epi32(a, d, b, a), _mm_set_epi32(b, a, d, b), _mm_set_epi32(d, b, a, d)}};
  return k;
}
inline void PutEightPixels(uint8_t* at, const ColourBlock& b) {
  _mm_storeu_si128((__m128i*)at, b.v[0]);
  _mm_storel_epi64((__m128i*)(at + 16), b.v[1]);
}
inline void PutSixteenPixels(uint8_t* at, const ColourBlock& b) {
  _mm_storeu_si128((__m128i*)at, b.v[0]);
  _mm_storeu_si128((__m128i*)(at + 16), b.v[1]);
  _mm_storeu_si128((__m128i*)(at + 32), b.v[2]);
}
inline bool SixteenPixelsAll(const uint8_t* at, uint8_t fill) {
  __m128i f = _mm_set1_epi8((char)fill);
  __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)at), f);
  __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)(at + 16)), f);
  __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)(at + 32)), f);
  return _mm_movemask_epi8(_mm_and_si128(_mm_and_si128(a, b), c)) == 0xFFFF;
}
// The same for a fill of 255: all 48 bytes are 255 where their minimum is,
// one compare rather than three.
inline bool SixteenPixelsAllOnes(const uint8_t* at) {
  __m128i a = _mm_loadu_si128((const __m128i*)at);
  __m128i b = _mm_loadu_si128((const __m128i*)(at + 16));
  __m128i c = _mm_loadu_si128((const __m128i*)(at + 32));
  __m128i m = _mm_min_epu8(_mm_min_epu8(a, b), c);
  return _mm_movemask_epi8(_mm_cmpeq_epi8(m, _mm_set1_epi8(-1))) == 0xFFFF;
}
// Which of sixteen pixels hold `fill` in all three bytes: bit 3i for pixel i.
const uint64_t kSixteenPixels = 0x249249249249u;
inline uint64_t SixteenPixelsWith(const uint8_t* at, uint8_t fill) {
  __m128i f = _mm_set1_epi8((char)fill);
  uint64_t a = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)at), f));
  uint64_t b = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)(at + 16)), f));
  uint64_t c = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)(at + 32)), f));
  uint64_t m = a | b << 16 | c << 32;
  return m & m >> 1 & m >> 2 & kSixteenPixels;
}
#else
// Eight pixels as three 8-byte words, in memory order.
struct ColourBlock {
  uint64_t w[3];
};
inline ColourBlock MakeColourBlock(Colour colour) {
  uint64_t c = colour;
  ColourBlock k = {{c | c << 24 | c << 48, c >> 16 | c << 8 | c << 32 | c << 56, c >> 8 | c << 16 | c << 40}};
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (int i = 0; i < 3; i++) k.w[i] = __builtin_bswap64(k.w[i]);
#endif
  return k;
}
inline void PutEightPixels(uint8_t* at, const ColourBlock& b) {
  memcpy(at, &b.w[0], 8);
  memcpy(at + 8, &b.w[1], 8);
  memcpy(at + 16, &b.w[2], 8);
}
inline void PutSixteenPixels(uint8_t* at, const ColourBlock& b) {
  PutEightPixels(at, b);
  PutEightPixels(at + 24, b);
}
inline bool SixteenPixelsAll(const uint8_t* at, uint8_t fill) {
  // Machine words, each loaded on its own (one copy of all 48 bytes would go
  // through the stack).
  typedef uintptr_t Word;
  const Word spread = fill ? ~(Word)0 : 0;
  Word differ = 0;
  for (size_t k = 0; k < 48; k += sizeof(Word)) {
    Word w;
    memcpy(&w, at + k, sizeof w);
    differ |= w ^ spread;
  }
  return differ == 0;
}
inline bool SixteenPixelsAllOnes(const uint8_t* at) { return SixteenPixelsAll(at, 255); }
const uint64_t kSixteenPixels = 0x249249249249u;
inline uint64_t SixteenPixelsWith(const uint8_t* at, uint8_t fill) {
  uint64_t m = 0;
  for (int k = 0; k < 48; k += 3)
    if (at[k] == fill && at[k + 1] == fill && at[k + 2] == fill) m |= (uint64_t)1 << k;
  return m;
}
#endif

// Fills n pixels from `at` with one colour, sixteen pixels a step.
inline void FillColour(uint8_t* at, size_t n, Colour colour) {
  if (n >= 8) {
    ColourBlock block = MakeColourBlock(colour);
    for (; n >= 16; n -= 16, at += 48) PutSixteenPixels(at, block);
    if (n >= 8) {
      PutEightPixels(at, block);
      n -= 8;
      at += 24;
    }
  }
  for (; n; n--, at += 3) PutColour(at, colour);
}

#endif
