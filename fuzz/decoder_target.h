// The common body of the decoder fuzz targets. The input is one shape byte
// and then the stream, which the decoder gets as its whole, length-bounded
// source (no copy: past its end lies the fuzzer's redzone). The shape byte
// picks the picture size: 0 and 1 the coding's real sizes (the picture
// target always has those), any other value a small block of 1 to 92 by 1 to 64 pixels, where odd widths meet the
// row-end rules of the chains, and where the fuzzer runs fast. The block is
// exactly the decoder's size.
//
// Checks: the decoder's fast and careful ways give the same pixels and stop
// reading at the same place, they write every byte (the two runs go over
// blocks poisoned with different bytes), and the pixels are the reference
// decoder's.
#ifndef VESK_FUZZ_DECODER_TARGET_H
#define VESK_FUZZ_DECODER_TARGET_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <utility>
#include <vector>

#include "decode/decode.h"

struct Shape {
  int32_t width, height;
};

inline Shape PickShape(uint8_t s, const Shape* sizes, int size_count) {
  if (s < 2) return sizes[s % size_count];
  return Shape{1 + ((s >> 3) & 7) * 13, 1 + (s & 7) * 9};
}

inline void FuzzFail(const char* what, const DecodeJob& job) {
  fprintf(stderr, "fuzz: %s (width %d, height %d, %llu bytes of stream)\n", what, job.width, job.height,
          (unsigned long long)job.source_length);
  abort();
}

// One way of decoding; it stores where reading ended, where it can tell.
typedef void (*DecodeWay)(const DecodeJob* job, BitCursor* end);

// A block of exactly `bytes` for `role`, kept from run to run: fresh pages
// for every run would spend most of the fuzzer's time in page faults. Its
// size is still exact, so a write past it lands in the redzone.
inline uint8_t* KeptBlock(int role, size_t bytes) {
  static std::map<std::pair<int, size_t>, std::vector<uint8_t>> kept;
  std::vector<uint8_t>& v = kept[std::make_pair(role, bytes)];
  if (v.size() != bytes) v.assign(bytes, 0);
  return v.data();
}

// Runs the two ways and `reference` on the same stream, each into a block
// poisoned its own way; fills *job_out with the job over the first block,
// for the caller's own checks (pixels null when there was no input).
inline void RunDecoderTarget(DecodeWay fast, DecodeWay careful, void (*reference)(const DecodeJob*),
                             const uint8_t* data, size_t size, const Shape* sizes, int size_count, DecodeJob* job_out) {
  *job_out = DecodeJob();
  if (size < 1) return;
  Shape shape = PickShape(data[0], sizes, size_count);
  DecodeJob job = {};
  job.source = data + 1;
  job.source_length = size - 1;
  job.stream_offset = 0;
  job.width = shape.width;
  job.height = shape.height;
  job.bit_count = 24;
  job.bytes_per_pixel = 3;
  size_t bytes = (size_t)PixelBlockBytes(&job);
  uint8_t* first = KeptBlock(0, bytes);
  uint8_t* second = KeptBlock(1, bytes);
  uint8_t* expected = KeptBlock(2, bytes);
  memset(first, 0xA5, bytes);
  memset(second, 0x5A, bytes);
  memset(expected, 0x3C, bytes);
  BitCursor fast_end = {0, 0}, careful_end = {0, 0};
  job.pixels = first;
  fast(&job, &fast_end);
  job.pixels = second;
  careful(&job, &careful_end);
  if (memcmp(first, second, bytes) != 0)
    FuzzFail("fast and careful decoding differ, or a byte of the block is left unwritten", job);
  if (fast_end.position != careful_end.position || fast_end.bit_mask != careful_end.bit_mask)
    FuzzFail("fast and careful decoding stop reading at different places", job);
  job.pixels = expected;
  reference(&job);
  if (memcmp(first, expected, bytes) != 0) FuzzFail("the decoder and the reference decoder disagree", job);
  job.pixels = first;
  *job_out = job;
}

#endif
