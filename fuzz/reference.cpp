#include "fuzz/reference.h"

#include <string.h>

#include <vector>

namespace {

// Three bytes, byte by byte (a memcpy call per pixel is slow under ASan).
inline void Put3(uint8_t* to, const uint8_t* from) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

// A cursor that also knows how many bits the input has left.
struct Reader {
  const DecodeJob* job;
  BitCursor cursor;
  uint64_t Position() const {
    unsigned mask = cursor.bit_mask ? cursor.bit_mask : 128u;
    unsigned used = 0;
    while ((128u >> used) != mask) used++;
    return cursor.position * 8 + used;
  }
  uint64_t Left() const {
    uint64_t end = job->source_length * 8;
    uint64_t at = Position();
    return at < end ? end - at : 0;
  }
  uint32_t Read(int bits) { return ReadBits(job->source, job->source_length, &cursor, bits); }
  // The next `bits` bits without moving.
  uint32_t Peek(int bits) const {
    BitCursor c = cursor;
    return ReadBits(job->source, job->source_length, &c, bits);
  }
};

Reader StartReader(const DecodeJob* job) {
  Reader r = {job, {job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0, 128}};
  return r;
}

uint64_t PixelCount(const DecodeJob* job) {
  return job->width > 0 && job->height > 0 ? (uint64_t)job->width * (uint64_t)job->height : 0;
}

}  // namespace

void ReferenceLz(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  memset(job->pixels, 0xFF, (size_t)total);
  std::vector<uint8_t> ring(65536, 0);  // positions not yet written read 0
  uint16_t write = 1;
  uint64_t out = 0;
  Reader r = StartReader(job);
  while (out < total) {
    if (r.Left() >= 9 && r.Peek(1) == 1) {
      r.Read(1);
      uint8_t v = (uint8_t)r.Read(8);
      job->pixels[out++] = v;
      ring[write++] = v;
      continue;
    }
    if (r.Left() < 17) return;
    uint64_t left = r.Left();
    r.Read(1);
    uint16_t position = (uint16_t)r.Read(16);
    if (position == 0) return;
    if (left < 21) return;
    uint32_t length = r.Read(4) + 3;
    for (uint32_t j = 0; j < length && out < total; j++) {
      uint8_t b = ring[(uint16_t)(position + j)];
      ring[write++] = b;
      job->pixels[out++] = b;
    }
  }
}

void ReferenceChain(const DecodeJob* job) {
  const uint64_t count = PixelCount(job);
  const uint64_t bpp = (uint64_t)job->bytes_per_pixel;
  uint8_t* block = job->pixels;
  memset(block, 255, (size_t)PixelBlockBytes(job));
  Reader r = StartReader(job);
  uint64_t p = 0;
  bool reading = true;
  while (reading) {
    // Run code: n - 1 ones, a zero, n value bits; 23 ones end the stream.
    int ones = 0;
    while (ones < 23 && (uint64_t)ones < r.Left() && ((r.Peek(ones + 1) & 1u) == 1)) ones++;
    if (ones >= 23) break;
    int n = ones + 1;
    if ((uint64_t)(2 * n) > r.Left()) break;
    r.Read(n);
    uint64_t run = (uint64_t)r.Read(n) + ((uint64_t)1 << n) - 2;
    p += run;
    if (p >= count) break;
    if (r.Left() < 24) break;
    uint8_t colour[3];
    colour[0] = (uint8_t)r.Read(8);
    colour[1] = (uint8_t)r.Read(8);
    colour[2] = (uint8_t)r.Read(8);
    Put3(block + p * bpp, colour);
    if (r.Left() < 1) break;
    if (r.Read(1)) {
      int64_t q = (int64_t)p;
      for (;;) {
        // 01, 10, 11: width - 1, width, width + 1; 0010, 0011: width -+ 2;
        // 000: the end of the chain.
        uint32_t head = r.Peek(4);
        int length = head >= 4 ? 2 : head >= 2 ? 4 : 3;
        if ((uint64_t)length > r.Left()) {
          reading = false;
          break;
        }
        uint32_t code = r.Read(length);
        int64_t move;
        if (length == 3) break;
        if (length == 2)
          move = code == 1 ? job->width - 1 : code == 2 ? job->width : job->width + 1;
        else
          move = code == 2 ? job->width - 2 : job->width + 2;
        q += move;
        if (q >= 0 && (uint64_t)q < count) Put3(block + (uint64_t)q * bpp, colour);
      }
    }
    p += 1;
  }
  uint8_t previous[3] = {0, 0, 0};
  for (uint64_t i = 0; i < count; i++) {
    uint8_t* px = block + i * bpp;
    if (px[0] == 255 && px[1] == 255 && px[2] == 255)
      Put3(px, previous);
    else
      Put3(previous, px);
  }
}

void ReferencePalette(const DecodeJob* job) {
  static const int kCountWidth[4] = {4, 6, 8, 20};
  static const int kSideways[8] = {0, 0, 1, -1, 2, -2, 0, 4};
  Reader r = StartReader(job);
  auto count_field = [&r]() { return r.Read(kCountWidth[r.Read(2)]); };
  uint8_t palette[256][3];
  for (int k = 0; k < 256; k++) {
    palette[k][2] = (uint8_t)r.Read(8);
    palette[k][1] = (uint8_t)r.Read(8);
    palette[k][0] = (uint8_t)r.Read(8);
  }
  const int64_t count = (int64_t)PixelCount(job);
  uint8_t* block = job->pixels;
  memset(block, 0, (size_t)PixelBlockBytes(job));
  int64_t run = -1;
  while (r.Left() > 0) {
    uint32_t skip = count_field();
    if (skip == 0) break;
    run += skip;
    if (run >= count) break;
    if (r.Left() == 0) break;
    uint8_t index = (uint8_t)r.Read(8);
    block[3 * run] = index;
    int64_t chain = run;
    for (uint32_t code; (code = r.Read(3)) != 0;) {
      if (code == 6)
        chain += job->width * (int64_t)count_field();
      else
        chain += job->width + kSideways[code];
      if (code != 6 && chain >= 0 && chain < count) block[3 * chain] = index;
    }
  }
  uint8_t carried = 0;
  for (int64_t i = 0; i < count; i++) {
    uint8_t& m = block[3 * i];
    if (m == 0) {
      m = carried;
    } else if (m == carried) {
      m = 0;
      carried = 0;
    } else {
      carried = m;
    }
  }
  for (int64_t i = 0; i < count; i++) Put3(block + 3 * i, palette[block[3 * i]]);
}
