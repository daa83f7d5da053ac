// The decoders' fast loops against their careful ones, on full-size pictures
// where the fast loops do most of the work: whole streams, streams cut short
// at every byte near their end (where the fast loop hands over), at random
// places, and streams with bytes changed at random. Both paths must give the
// same block, and the LZ and palette decoders the same end of reading.
#include <gtest/gtest.h>

#include <vector>

#include "decode/chain.h"
#include "decode/lz.h"
#include "decode/palette.h"
#include "encode/encode.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Random {
  uint32_t s;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

// A picture with what real ones have: flat areas with slanted edges (long
// chains, copies of one colour), a ramp (a colour change every few pixels),
// and a band of fine noise (literals, a record every pixel). Colours come
// from a 6 x 6 x 6 cube, so the palette coding can hold them, and none is
// pure white, so the chain coding can.
Bytes Scene(int width, int height, uint32_t seed) {
  Bytes pixels((size_t)width * height * 3);
  Random r = {seed};
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      int c;
      if (y < height / 3)
        c = 36 * ((x + y / 2) * 6 / (width + height / 2)) + 6 * (y * 6 / height) + 1;
      else if (y < height / 2)
        c = (x * 216 / width) % 216;
      else if (y < height / 2 + 24)
        c = (int)r.Below(215);
      else
        c = ((x - y) / 40 & 1) ? 100 : (x / 97 + y / 61) % 7 * 30;
      uint8_t* p = &pixels[((size_t)y * width + x) * 3];
      p[0] = (uint8_t)(51 * (c % 6));
      p[1] = (uint8_t)(51 * (c / 6 % 6));
      p[2] = (uint8_t)(51 * (c / 36 % 6));
      if (p[0] == 255 && p[1] == 255 && p[2] == 255) p[0] = 204;
    }
  }
  return pixels;
}

DecodeJob Job(const Bytes& stream, uint64_t length, Bytes* block, int width, int height) {
  DecodeJob job = {stream.data(), block->data(), 0, width, height, 24, 3, length};
  return job;
}

// The streams a picture's stream gives the decoders here.
std::vector<Bytes> Variants(const Bytes& stream, uint32_t seed) {
  std::vector<Bytes> out = {stream};
  Random r = {seed};
  for (size_t cut = 1; cut <= 24 && cut < stream.size(); cut++)
    out.push_back(Bytes(stream.begin(), stream.end() - cut));
  for (int i = 0; i < 6; i++) out.push_back(Bytes(stream.begin(), stream.begin() + r.Below((uint32_t)stream.size())));
  for (int i = 0; i < 10; i++) {
    Bytes changed = stream;
    for (int k = 0; k < 1 + i / 3; k++) changed[r.Below((uint32_t)changed.size())] ^= (uint8_t)(1 + r.Below(255));
    out.push_back(changed);
  }
  return out;
}

const int kSizes[][2] = {{640, 480}, {800, 600}};

TEST(FastPaths, LzFastLoopMatchesCarefulLoop) {
  for (const auto& size : kSizes) {
    Bytes pixels = Scene(size[0], size[1], 7);
    Bytes stream;
    ASSERT_TRUE(EncodeLz(pixels.data(), size[0], size[1], &stream));
    int index = 0;
    for (const Bytes& s : Variants(stream, 11)) {
      // Also a block a little shorter than the picture: the fast loop must
      // hand over before its end.
      for (int height : {size[1], size[1] - 1}) {
        // The row past a shorter block must stay as it was.
        Bytes fast(pixels.size(), 0x5A), careful(pixels.size(), 0x5A);
        DecodeJob job = Job(s, s.size(), &fast, size[0], height);
        BitCursor fast_end, careful_end;
        uint64_t fast_count = DecodeLzStream(&job, &fast_end, 1);
        job.pixels = careful.data();
        uint64_t careful_count = DecodeLzStream(&job, &careful_end, 0);
        ASSERT_EQ(fast_count, careful_count) << index;
        ASSERT_TRUE(fast == careful) << index;
        ASSERT_EQ(fast_end.position, careful_end.position) << index;
        ASSERT_EQ(fast_end.bit_mask, careful_end.bit_mask) << index;
        for (size_t i = (size_t)size[0] * height * 3; i < fast.size(); i++) ASSERT_EQ(fast[i], 0x5A) << index;
        if (index == 0 && height == size[1]) {
          ASSERT_TRUE(fast == pixels);
        }
      }
      index++;
    }
  }
}

TEST(FastPaths, ChainSweepMatchesTwoPasses) {
  for (const auto& size : kSizes) {
    Bytes pixels = Scene(size[0], size[1], 8);
    Bytes stream;
    const char* why = nullptr;
    ASSERT_TRUE(EncodeChain(pixels.data(), size[0], size[1], &stream, &why)) << why;
    int index = 0;
    for (const Bytes& s : Variants(stream, 12)) {
      Bytes swept(pixels.size(), 0x11), passes(pixels.size(), 0x22);
      DecodeJob job = Job(s, s.size(), &swept, size[0], size[1]);
      DecodeChain(&job);
      job.pixels = passes.data();
      DecodeChainInTwoPasses(&job);
      ASSERT_TRUE(swept == passes) << index;
      if (index == 0) {
        ASSERT_TRUE(swept == pixels);
      }
      index++;
    }
  }
}

TEST(FastPaths, PaletteSweepMatchesCarefulPasses) {
  Bytes pixels = Scene(640, 400, 9);
  Bytes stream;
  const char* why = nullptr;
  ASSERT_TRUE(EncodePalette(pixels.data(), 640, 400, &stream, &why)) << why;
  int index = 0;
  for (const Bytes& s : Variants(stream, 13)) {
    Bytes fast(pixels.size(), 0x11), careful(pixels.size(), 0x22);
    DecodeJob job = Job(s, s.size(), &fast, 640, 400);
    BitCursor fast_end, careful_end;
    DecodePaletteChainTo(&job, &fast_end, 1);
    job.pixels = careful.data();
    DecodePaletteChainTo(&job, &careful_end, 0);
    ASSERT_TRUE(fast == careful) << index;
    ASSERT_EQ(fast_end.position, careful_end.position) << index;
    ASSERT_EQ(fast_end.bit_mask, careful_end.bit_mask) << index;
    if (index == 0) {
      ASSERT_TRUE(fast == pixels);
    }
    index++;
  }
}

}  // namespace
