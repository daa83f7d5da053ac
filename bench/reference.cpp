#include "bench/reference.h"

#include <string.h>

namespace {

// The bit reader as the format describes it: one bit per step, the mask
// walking down from 128 and the position moving on after bit 0.
uint32_t ReferenceReadBits(const uint8_t* source, uint64_t length, BitCursor* cursor, int32_t bits_wanted) {
  if (bits_wanted < 1) return 0;
  if (bits_wanted > 32) bits_wanted = 32;
  if (cursor->bit_mask == 0) cursor->bit_mask = 128;
  uint32_t result = 0;
  uint32_t result_bit = 1u << (bits_wanted - 1);
  for (int32_t i = 0; i < bits_wanted; i++) {
    uint8_t byte = cursor->position < length ? source[cursor->position] : 0;
    if (byte & cursor->bit_mask) result |= result_bit;
    result_bit >>= 1;
    cursor->bit_mask >>= 1;
    if (cursor->bit_mask == 0) {
      cursor->bit_mask = 128;
      cursor->position++;
    }
  }
  return result;
}

struct Reader {
  const uint8_t* source;
  uint64_t length;
  BitCursor cursor;
};

uint32_t Read(Reader* r, int32_t bits) { return ReferenceReadBits(r->source, r->length, &r->cursor, bits); }
bool InputUsedUp(const Reader* r) { return r->cursor.position >= r->length; }

Reader StartReading(const DecodeJob* job) {
  Reader r;
  r.source = job->source;
  r.length = job->source_length;
  r.cursor.position = job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0;
  r.cursor.bit_mask = 128;
  return r;
}

void PutPixel(uint8_t* block, uint64_t count, int64_t pixel, const uint8_t colour[3]) {
  if (pixel < 0 || (uint64_t)pixel >= count) return;
  uint8_t* at = block + 3 * (uint64_t)pixel;
  at[0] = colour[0];
  at[1] = colour[1];
  at[2] = colour[2];
}

}  // namespace

void ReferenceCopyRaw(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  uint64_t start = job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0;
  for (uint64_t k = 0; k < total; k++) {
    uint64_t at = start + k;
    job->pixels[k] = at < job->source_length ? job->source[at] : 0;
  }
}

void ReferenceDecodeLz(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  memset(job->pixels, 0xFF, (size_t)total);
  // Positions not yet written read as 0, as in the product.
  static_assert(sizeof(uint16_t) == 2, "16-bit ring positions");
  uint8_t ring[65536];
  memset(ring, 0, sizeof ring);
  uint16_t write_position = 1;
  uint64_t out = 0;
  Reader r = StartReading(job);
  for (;;) {
    if (Read(&r, 1) == 1) {
      uint8_t v = (uint8_t)Read(&r, 8);
      if (out < total) job->pixels[out] = v;
      out++;
      ring[write_position++] = v;
      continue;
    }
    uint16_t p = (uint16_t)Read(&r, 16);
    if (p == 0) return;
    uint32_t n = Read(&r, 4);
    for (uint32_t j = 0; j < n + 3; j++) {
      uint8_t b = ring[(uint16_t)(p + j)];
      ring[write_position++] = b;
      if (out < total) job->pixels[out] = b;
      out++;
    }
    if (InputUsedUp(&r)) return;
  }
}

void ReferenceDecodeChain(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  uint64_t count = total / 3;
  uint8_t* block = job->pixels;
  memset(block, 255, (size_t)total);
  const int64_t width = job->width;
  Reader r = StartReading(job);
  uint64_t p = 0;
  for (;;) {
    if (InputUsedUp(&r) || p >= count) break;
    uint64_t run = Read(&r, 2);
    if (run == 2) {
      run = Read(&r, 2) + 2;
    } else if (run == 3) {
      int n = 3;
      while (Read(&r, 1) == 1) n++;
      if (n >= 24) break;
      run = Read(&r, n) + ((uint64_t)1 << n) - 2;
    }
    p += run;
    uint8_t colour[3];
    colour[0] = (uint8_t)Read(&r, 8);
    colour[1] = (uint8_t)Read(&r, 8);
    colour[2] = (uint8_t)Read(&r, 8);
    PutPixel(block, count, (int64_t)p, colour);
    if (Read(&r, 1) == 1) {
      int64_t q = (int64_t)p;
      for (;;) {
        uint32_t code = Read(&r, 2);
        int64_t move;
        if (code == 1) {
          move = width - 1;
        } else if (code == 2) {
          move = width;
        } else if (code == 3) {
          move = width + 1;
        } else if (Read(&r, 1) == 0) {
          break;
        } else {
          move = Read(&r, 1) ? width + 2 : width - 2;
        }
        q += move;
        PutPixel(block, count, q, colour);
      }
    }
    p += 1;
  }

  uint8_t previous[3] = {0, 0, 0};
  for (uint64_t i = 0; i < count; i++) {
    uint8_t* at = block + 3 * i;
    if (at[0] == 255 && at[1] == 255 && at[2] == 255) {
      at[0] = previous[0];
      at[1] = previous[1];
      at[2] = previous[2];
    } else {
      previous[0] = at[0];
      previous[1] = at[1];
      previous[2] = at[2];
    }
  }
}

void ReferenceDecodePaletteChain(const DecodeJob* job) {
  Reader r = StartReading(job);
  uint8_t palette[256][3];
  for (int k = 0; k < 256; k++) {
    palette[k][2] = (uint8_t)Read(&r, 8);
    palette[k][1] = (uint8_t)Read(&r, 8);
    palette[k][0] = (uint8_t)Read(&r, 8);
  }
  uint64_t total = PixelBlockBytes(job);
  uint64_t count = total / 3;
  uint8_t* block = job->pixels;
  memset(block, 0, (size_t)total);

  static const int32_t kCountWidth[4] = {4, 6, 8, 20};
  static const int64_t kOffset[8] = {0, 0, 1, -1, 2, -2, 0, 4};
  const int64_t width = job->width;
  int64_t run = -1;
  for (;;) {
    uint32_t skip = Read(&r, kCountWidth[Read(&r, 2)]);
    if (skip == 0) break;
    run += skip;
    uint8_t index = (uint8_t)Read(&r, 8);
    if ((uint64_t)run < count) block[3 * run] = index;
    int64_t chain = run;
    for (;;) {
      uint32_t code = Read(&r, 3);
      if (code == 0) break;
      if (code == 6) {
        chain += width * (int64_t)Read(&r, kCountWidth[Read(&r, 2)]);
        continue;
      }
      chain += width + kOffset[code];
      if (chain >= 0 && (uint64_t)chain < count) block[3 * chain] = index;
    }
    if (InputUsedUp(&r)) break;
  }

  uint8_t carried = 0;
  for (uint64_t i = 0; i < count; i++) {
    uint8_t* marker = block + 3 * i;
    if (*marker == 0) {
      *marker = carried;
    } else if (*marker == carried) {
      *marker = 0;
      carried = 0;
    } else {
      carried = *marker;
    }
  }
  for (uint64_t i = 0; i < count; i++) {
    uint8_t* at = block + 3 * i;
    const uint8_t* colour = palette[at[0]];
    at[0] = colour[0];
    at[1] = colour[1];
    at[2] = colour[2];
  }
}

DecoderFn ReferenceFor(GdCoding coding) {
  switch (coding) {
    case kCodingRaw: return ReferenceCopyRaw;
    case kCodingLz: return ReferenceDecodeLz;
    case kCodingChain: return ReferenceDecodeChain;
    case kCodingPalette: return ReferenceDecodePaletteChain;
  }
  return ReferenceCopyRaw;
}
