// The decode job, the bit reader and the four decoders of GD pixel streams.
//
// Every decoder fills width * height * bytes_per_pixel bytes at `pixels` and
// never writes past them; every read of `source` is bounded by
// `source_length`, bits past the end reading as zero. Decoders allocate
// nothing and report nothing: what a damaged stream cannot say ends the
// picture early, and the block is always fully written.
#ifndef VESK_DECODE_DECODE_H
#define VESK_DECODE_DECODE_H

#include <stddef.h>
#include <stdint.h>

struct DecodeJob {
  const uint8_t* source;   // the picture's first byte
  uint8_t* pixels;         // the pixel block, rows bottom-up, BGR
  int32_t stream_offset;   // byte index in source of the coded stream
  int32_t width;
  int32_t height;
  int32_t bit_count;       // 24; only the bitmap header uses it
  int32_t bytes_per_pixel; // 3
  uint64_t source_length;  // bytes readable at source
};

// Reading position in a stream: the byte that holds the next bit, and a
// single set bit selecting it (128 is the most significant; 0 reads as 128).
// 64-bit so that a reader running on past a large input can never wrap.
struct BitCursor {
  uint64_t position;
  uint8_t bit_mask;
};

// Reads bits_wanted bits (1 to 32; more reads 32, fewer than 1 reads nothing
// and returns 0) most significant first, right-aligned in the result. Bytes
// at or past source_length read as zero and are never touched.
uint32_t ReadBits(const uint8_t* source, uint64_t source_length, BitCursor* cursor, int32_t bits_wanted);

// Number of bytes of the pixel block that a decoder owns.
inline uint64_t PixelBlockBytes(const DecodeJob* job) {
  if (job->width <= 0 || job->height <= 0 || job->bytes_per_pixel <= 0) return 0;
  return (uint64_t)job->width * (uint64_t)job->height * (uint64_t)job->bytes_per_pixel;
}

void CopyRaw(const DecodeJob* job);
void DecodeLz(const DecodeJob* job);
void DecodeChain(const DecodeJob* job);
void DecodePaletteChain(const DecodeJob* job);

#endif
