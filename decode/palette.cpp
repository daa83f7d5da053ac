// The palette chain coding (".HHP"): a palette of 256 colours, then runs and
// chains that put palette indices as markers into byte 0 of the pixels, a
// sweep that turns markers into spans, and the palette lookup.
//
// Limits: a marker that would land outside the block is dropped while its
// chain is still read, so the stream stays in step; a run that passes the
// last pixel ends decoding, as nothing after it can land inside. Bits past the
// end of the input read as zero, and decoding ends once every input bit has
// been read.
#include "decode/palette.h"

#include <string.h>

namespace {

// Bits taken most significant first through a 64-bit buffer: `bits` holds
// `count` unread bits from its top down, `next` is the next byte to load.
// Bits below `count` may already hold the leading bits of byte `next`.
struct BitBuffer {
  const uint8_t* source;
  uint64_t length;
  uint64_t next;
  uint64_t bits;
  int count;
};

// Leaves at least 57 bits in the buffer, zeros past the end of the input.
inline void Refill(BitBuffer* in) {
  if (in->next < in->length && in->length - in->next >= 8) {
    const uint8_t* p = in->source + in->next;
    uint64_t word = ((uint64_t)p[0] << 56) | ((uint64_t)p[1] << 48) | ((uint64_t)p[2] << 40) |
                    ((uint64_t)p[3] << 32) | ((uint64_t)p[4] << 24) | ((uint64_t)p[5] << 16) |
                    ((uint64_t)p[6] << 8) | (uint64_t)p[7];
    in->bits |= word >> in->count;
    in->next += (uint64_t)((63 - in->count) >> 3);
    in->count |= 56;
    return;
  }
  while (in->count <= 56) {
    uint64_t byte = in->next < in->length ? in->source[in->next] : 0;
    in->bits |= byte << (56 - in->count);
    in->count += 8;
    in->next++;
  }
}

// Precondition: 1 <= n <= in->count.
inline uint32_t Take(BitBuffer* in, int n) {
  uint32_t value = (uint32_t)(in->bits >> (64 - n));
  in->bits <<= n;
  in->count -= n;
  return value;
}

// A 2-bit selector, then a count of 4, 6, 8 or 20 bits. Precondition: at
// least 22 bits in the buffer.
inline uint32_t TakeCount(BitBuffer* in) {
  static const int kCountWidth[4] = {4, 6, 8, 20};
  return Take(in, kCountWidth[Take(in, 2)]);
}

// Index of the next unread bit, counted from the start of the input.
inline uint64_t BitsRead(const BitBuffer* in) { return in->next * 8 - (uint64_t)in->count; }

inline bool Exhausted(const BitBuffer* in) { return BitsRead(in) >= in->length * 8; }

// Sideways offsets of the chain codes 1 to 5 and 7, on top of one row down.
const int kChainOffset[8] = {0, 0, 1, -1, 2, -2, 0, 4};

}  // namespace

void DecodePaletteChainTo(const DecodeJob* job, BitCursor* end) {
  uint64_t start = job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0;
  BitBuffer in = {job->source, job->source_length, start, 0, 0};

  // Entries are kept in pixel byte order: blue, green, red.
  uint8_t palette[256 * 3];
  for (int k = 0; k < 256; k++) {
    Refill(&in);
    palette[3 * k + 2] = (uint8_t)Take(&in, 8);
    palette[3 * k + 1] = (uint8_t)Take(&in, 8);
    palette[3 * k + 0] = (uint8_t)Take(&in, 8);
  }

  uint8_t* pixels = job->pixels;
  uint64_t block_bytes = PixelBlockBytes(job);
  uint64_t count = block_bytes ? (uint64_t)job->width * (uint64_t)job->height : 0;
  if (count * 3 > block_bytes) count = block_bytes / 3;  // fewer than 3 bytes per pixel
  if (block_bytes) memset(pixels, 0, (size_t)block_bytes);

  const int64_t width = job->width;
  const int64_t pixel_count = (int64_t)count;
  // A chain position this far past the block can never come back inside it
  // (steps go back at most 2 pixels, and only at widths below 3); holding it
  // there keeps long chains of row jumps from overflowing.
  const int64_t far_past = pixel_count + ((int64_t)1 << 40);
  int64_t run = -1;
  for (;;) {
    if (Exhausted(&in)) break;
    Refill(&in);
    uint32_t skip = TakeCount(&in);
    if (skip == 0) break;
    run += skip;
    if (run >= pixel_count) break;
    // A skip that used up the input has no index: reading zeros would only
    // erase the marker already there.
    if (Exhausted(&in)) break;
    uint8_t index = (uint8_t)Take(&in, 8);
    pixels[3 * run] = index;

    int64_t chain = run;
    for (;;) {
      Refill(&in);
      uint32_t code = Take(&in, 3);
      if (code == 0) break;
      if (code == 6) {
        chain += width * (int64_t)TakeCount(&in);
        if (chain > far_past) chain = far_past;
        continue;
      }
      chain += width + kChainOffset[code];
      if ((uint64_t)chain < count)
        pixels[3 * chain] = index;
      else if (chain > far_past)
        chain = far_past;
    }
  }

  uint64_t bits_read = BitsRead(&in);
  end->position = bits_read >> 3;
  end->bit_mask = (uint8_t)(128u >> (bits_read & 7));

  // The fill pass and the palette pass in one sweep: a pixel's index depends
  // only on its own marker and on the index of the pixel before it, which is
  // the carried index.
  uint8_t carried = 0;
  uint8_t* p = pixels;
  for (uint64_t i = 0; i < count; i++, p += 3) {
    uint8_t marker = p[0];
    uint8_t index = marker == 0 ? carried : marker == carried ? 0 : marker;
    carried = index;
    const uint8_t* colour = palette + 3 * index;
    p[0] = colour[0];
    p[1] = colour[1];
    p[2] = colour[2];
  }
}

void DecodePaletteChain(const DecodeJob* job) {
  BitCursor end;
  DecodePaletteChainTo(job, &end);
}
