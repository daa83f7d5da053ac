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

#include "decode/bitword.h"
#include "decode/fast.h"
#include "decode/pixels.h"

namespace {

// Bits taken most significant first through a machine word: `bits` holds
// `count` unread bits from its top down, `next` is the next byte to load.
// Bits below `count` may already hold the leading bits of byte `next`.
//
// Offsets in the input are machine words, as it lies in memory: 64-bit
// counts cost an add with carry each on a 32-bit machine.
struct BitBuffer {
  const uint8_t* source;
  size_t length;
  size_t next;
  BitWord bits;
  int count;
};

// A 64-bit word holds a run record (30 bits) and a row jump (25) after one
// refill; a 32-bit one holds 24 bits after a refill, so each is taken in two
// steps with a refill between: the count field (22 bits at most), then the
// rest.
const bool kWholeRecords = kWordBits >= 64;

// Precondition: a word's bytes from `next` lie in the input, count <
// kWordBits (only the byte-wise refill below fills the word, and only near
// the end).
inline void RefillWord(BitBuffer* in) {
  in->bits |= LoadWord(in->source + in->next) >> in->count;
  in->next += (size_t)((kWordBits - 1 - in->count) >> 3);
  in->count |= kWordBits - 8;
}

// 8 bytes from `next`: room for two word loads, the first of which moves
// `next` on by at most 3 bytes in a 32-bit word, 7 in a 64-bit one.
inline bool FarFromEnd(const BitBuffer* in) { return in->next < in->length && in->length - in->next >= 8; }

// Leaves at least kWordBits - 8 bits in the buffer, zeros past the end of
// the input.
inline void Refill(BitBuffer* in) {
  if (FarFromEnd(in)) {
    RefillWord(in);
    return;
  }
  while (in->count <= kWordBits - 8) {
    BitWord byte = in->next < in->length ? in->source[in->next] : 0;
    in->bits |= byte << (kWordBits - 8 - in->count);
    in->count += 8;
    in->next++;
  }
}

// Precondition: n <= in->count, n < kWordBits.
inline void Skip(BitBuffer* in, int n) {
  in->bits <<= n;
  in->count -= n;
}

// Precondition: 1 <= n <= in->count, n < kWordBits.
inline uint32_t Take(BitBuffer* in, int n) {
  uint32_t value = (uint32_t)(in->bits >> (kWordBits - n));
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
inline uint64_t BitsRead(const BitBuffer* in) { return (uint64_t)in->next * 8 - (uint64_t)in->count; }

inline bool Exhausted(const BitBuffer* in) { return BitsRead(in) >= (uint64_t)in->length * 8; }

// Sideways offsets of the chain codes 1 to 5 and 7, on top of one row down.
const int kChainOffset[8] = {0, 0, 1, -1, 2, -2, 0, 4};

// The code 1 (one row straight down) over a whole word, from its top bit.
const BitWord kStraightCodes = (BitWord)(0x2492492492492492u >> (64 - kWordBits));

// The fill pass's rule: the index a pixel takes, from its marker and the
// carried index, which becomes the same index. Written so that the carried
// index goes through two steps, not three, from one pixel to the next: the
// marker if any, else the carried index, unless the two are equal (which
// also holds for no marker and a carried 0).
inline uint32_t Carry(uint32_t marker, uint32_t carried) {
  uint32_t kept = marker ? marker : carried;
  return (marker ^ carried) ? kept : 0;
}

// Markers written into byte 0 of a cleared block, for the fill and palette
// passes after all runs (the plain layout of the decoder).
struct Plane {
  uint8_t* pixels;
  void Mark(uint64_t p, uint32_t index) { pixels[3 * p] = (uint8_t)index; }
  void Run(uint64_t p, uint32_t index) { Mark(p, index); }
  void Straight(uint64_t q, uint64_t, int moves, int64_t width, uint32_t index) {
    for (int k = 1; k <= moves; k++) Mark(q + k * (uint64_t)width, index);
  }
};

// The fill and palette passes done along the way, for rows of at least 3
// pixels. There every chain step goes at least one pixel forward, so nothing
// marks a pixel before the current run's: once the runs reach pixel p, every
// pixel before it, and p itself once marked, is final and takes its colour
// at once, while it is in the cache. Pixels from `ahead` on are untouched;
// they are cleared only when a chain marks a pixel past them, and those that
// no chain passes take the carried index without a look at a marker.
// Pixel indices here are machine words, as the block lies in memory; the
// reader hands over only those inside the block.
struct Sweep {
  uint8_t* pixels;
  const Colour* colours;
  size_t done;   // pixels before it hold their colour
  size_t ahead;  // pixels from done to ahead hold a marker in byte 0
  uint32_t carried;  // an index, 0 to 255

  // Pixels [done, marked) where there are many of them. Between chain
  // markers they are mostly cleared: sixteen at a time are told by their 48
  // bytes all 0 (bytes 1 and 2 of a marked pixel stay 0 too) and take the
  // carried index at once; other pixels go eight at a time, one by one.
  // Returns where the few left over begin.
  size_t SettleMany(size_t marked) {
    uint8_t* at = pixels + 3 * done;
    size_t left = marked - done;
    uint32_t fill_of = carried;
    ColourBlock fill = MakeColourBlock(colours[carried]);
    while (left >= 8) {
      if (left >= 16 && SixteenPixelsAll(at, 0)) {
        if (fill_of != carried) {
          fill_of = carried;
          fill = MakeColourBlock(colours[carried]);
        }
        PutSixteenPixels(at, fill);
        left -= 16;
        at += 48;
        continue;
      }
      // Each marker is read before the pixel before it is written: that
      // store takes 4 bytes, reaching into it.
      uint32_t marker = at[0];
      for (int k = 0; k < 7; k++, at += 3) {
        uint32_t next = at[3];
        carried = Carry(marker, carried);
        PutColourAndOneMore(at, colours[carried]);
        marker = next;
      }
      carried = Carry(marker, carried);
      PutColour(at, colours[carried]);
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
    for (uint8_t* at = pixels + 3 * i; i < marked; i++, at += 3) {
      carried = Carry(at[0], carried);
      PutColour(at, colours[carried]);
    }
    if (to > marked) FillColour(pixels + 3 * marked, to - marked, colours[carried]);
    done = to;
    if (ahead < to) ahead = to;
  }
  // Precondition: done <= p < the pixel count.
  void Mark(size_t p, uint32_t index) {
    if (p >= ahead) {
      if (p > ahead) FillBytes(pixels + 3 * ahead, 0, 3 * (p - ahead));
      ahead = p + 1;
    }
    pixels[3 * p] = (uint8_t)index;
  }
  // `moves` rows straight down from q (done <= q) to last, inside the
  // block: one clearing of any untouched pixels up to last, then a marker
  // in each row.
  void Straight(size_t q, size_t last, int moves, int64_t width, uint32_t index) {
    MarkThrough(pixels, &ahead, last, 0);
    // Two rows a step, up to the last pixel itself.
    uint8_t* at = pixels + 3 * q;
    uint8_t* const end = pixels + 3 * last;
    const ptrdiff_t row = 3 * (ptrdiff_t)width;
    if (moves & 1) {
      at += row;
      at[0] = (uint8_t)index;
    }
    while (at != end) {
      at[row] = (uint8_t)index;
      at += 2 * row;
      at[0] = (uint8_t)index;
    }
  }
  // A run's marker is the last write to its pixel: it takes its colour now.
  void Run(size_t p, uint32_t index) {
    if (p != done) Settle(p);
    carried = Carry(index, carried);
    PutColour(pixels + 3 * p, colours[carried]);
    done = p + 1;
    if (ahead < done) ahead = done;
  }
};

// A record of selector 0 (a skip of 1 to 15), an index and no chain takes
// 17 bits: 00, the skip, the index, 000. Such records make up a noisy
// picture, one a pixel; they are told by their fixed fields and taken whole,
// as many as the buffer holds, each with one shift. Returns whether it took
// any. A skip past the block is left to the caller.
inline bool IsShortRecord(uint32_t bits17) { return (bits17 & 0x18007u) == 0 && (bits17 & 0x7800u) != 0; }

template <class Out>
inline bool TakeShortRecords(BitBuffer* in, int64_t* run, int64_t pixel_count, Out* out) {
  uint32_t record = (uint32_t)(in->bits >> (kWordBits - 17));
  if (!IsShortRecord(record)) return false;
  int64_t p = *run;
  do {
    int64_t next = p + (record >> 11);
    if (next >= pixel_count) break;
    p = next;
    out->Run((uint64_t)p, (record >> 3) & 0xFFu);
    Skip(in, 17);
    // A 32-bit word holds one record after a refill: refill here rather
    // than go round the caller's loop for each.
    if (!kWholeRecords) {
      if (!FarFromEnd(in)) break;
      RefillWord(in);
    }
    record = (uint32_t)(in->bits >> (kWordBits - 17));
  } while (in->count >= 17 && IsShortRecord(record));
  bool took = p != *run;
  *run = p;
  return took;
}

// Reads the runs and their chains from the reader's position up to the end
// marker, the end of the input or a run past the block, handing every marker
// inside the block to `out`.
//
// While 8 input bytes lie beyond the buffer, a load refills it with bits
// none of which lies past the end of the input, so the fast loop reads a run
// record after one refill (two in a 32-bit word), without asking whether the
// input is used up. Near the end the careful loop takes over from the same
// state.
template <class Out>
void ReadRuns(BitBuffer* in, int64_t width, uint64_t count, Out* out, int fast) {
  const int64_t pixel_count = (int64_t)count;
  // A chain position this far past the block can never come back inside it
  // (steps go back at most 2 pixels, and only at widths below 3); holding it
  // there keeps long chains of row jumps from overflowing.
  const int64_t far_past = pixel_count + ((int64_t)1 << 40);
  int64_t run = -1;
  for (;;) {
    uint32_t index;
    if (fast && FarFromEnd(in)) {
      // The count field and the index taken from one look at the buffer:
      // the count's width is byte `selector` of 0x14080604 (4, 6, 8, 20).
      RefillWord(in);
      if (TakeShortRecords(in, &run, pixel_count, out)) continue;
      BitWord bits = in->bits;
      int width_of_count = (int)((0x14080604u >> (8 * (bits >> (kWordBits - 2)))) & 0xFFu);
      uint32_t skip = (uint32_t)((bits << 2) >> (kWordBits - width_of_count));
      if (skip == 0 || run + (int64_t)skip >= pixel_count) {
        Skip(in, 2 + width_of_count);
        break;
      }
      run += skip;
      if (kWholeRecords) {
        index = (uint32_t)((bits << (2 + width_of_count)) >> (kWordBits - 8));
        Skip(in, 10 + width_of_count);
      } else {
        Skip(in, 2 + width_of_count);
        RefillWord(in);
        index = Take(in, 8);
      }
    } else {
      if (Exhausted(in)) break;
      Refill(in);
      uint32_t skip = TakeCount(in);
      if (skip == 0) break;
      run += skip;
      if (run >= pixel_count) break;
      // A skip that used up the input has no index: reading zeros would only
      // erase the marker already there.
      if (Exhausted(in)) break;
      if (!kWholeRecords) Refill(in);
      index = Take(in, 8);
    }
    out->Run((uint64_t)run, index);

    int64_t chain = run;
    for (;;) {
      // A step takes at most 25 bits: the code and a count field.
      if (in->count < (kWholeRecords ? 25 : 3)) Refill(in);
      if (fast) {
        // A vertical edge is a long stretch of code 1: as many of them at
        // once as the buffer holds. They go forward, so the last is the
        // farthest.
        if (in->count < 6) Refill(in);
        int straight = LeadingZeros(in->bits ^ kStraightCodes) / 3;
        if (3 * straight > in->count) straight = in->count / 3;
        if (straight >= 2) {
          int64_t last = chain + straight * width;
          if ((uint64_t)last < count) {
            out->Straight((uint64_t)chain, (uint64_t)last, straight, width, index);
            Skip(in, 3 * straight);
            chain = last;
            continue;
          }
        }
      }
      uint32_t code = Take(in, 3);
      if (code == 0) break;
      if (code == 6) {
        if (!kWholeRecords && in->count < 22) Refill(in);
        chain += width * (int64_t)TakeCount(in);
        if (chain > far_past) chain = far_past;
        continue;
      }
      chain += width + kChainOffset[code];
      if ((uint64_t)chain < count)
        out->Mark((uint64_t)chain, index);
      else if (chain > far_past)
        chain = far_past;
    }
  }
}

}  // namespace

void DecodePaletteChainTo(const DecodeJob* job, BitCursor* end, int fast) {
  size_t start = job->stream_offset > 0 ? (size_t)job->stream_offset : 0;
  size_t length = job->source_length > SIZE_MAX ? SIZE_MAX : (size_t)job->source_length;
  BitBuffer in = {job->source, length, start, 0, 0};

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

  if (fast && job->width >= 3 && count) {
    Colour colours[256];
    for (int k = 0; k < 256; k++)
      colours[k] = palette[3 * k] | (Colour)palette[3 * k + 1] << 8 | (Colour)palette[3 * k + 2] << 16;
    Sweep out = {pixels, colours, 0, 0, 0};
    ReadRuns(&in, job->width, count, &out, 1);
    out.Settle(count);
    // Bytes of a block wider than 3 bytes a pixel, past the last pixel.
    if (block_bytes > count * 3) memset(pixels + count * 3, 0, (size_t)(block_bytes - count * 3));
  } else {
    if (block_bytes) memset(pixels, 0, (size_t)block_bytes);
    Plane out = {pixels};
    ReadRuns(&in, job->width, count, &out, 0);
    // The fill pass and the palette pass in one sweep: a pixel's index
    // depends only on its own marker and on the index of the pixel before
    // it, which is the carried index.
    uint32_t carried = 0;
    uint8_t* p = pixels;
    for (uint64_t i = 0; i < count; i++, p += 3) {
      carried = Carry(p[0], carried);
      const uint8_t* colour = palette + 3 * carried;
      p[0] = colour[0];
      p[1] = colour[1];
      p[2] = colour[2];
    }
  }

  uint64_t bits_read = BitsRead(&in);
  end->position = bits_read >> 3;
  end->bit_mask = (uint8_t)(128u >> (bits_read & 7));
}

void DecodePaletteChain(const DecodeJob* job) {
  BitCursor end;
  DecodePaletteChainTo(job, &end, kFastLoops);
}
