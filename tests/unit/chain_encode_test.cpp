#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "decode/decode.h"
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

struct Picture {
  int width, height;
  Bytes pixels;
  void Set(int x, int y, uint32_t bgr) {
    uint8_t* p = &pixels[((size_t)y * width + x) * 3];
    p[0] = (uint8_t)(bgr >> 16);
    p[1] = (uint8_t)(bgr >> 8);
    p[2] = (uint8_t)bgr;
  }
};

Picture Flat(int width, int height, uint32_t bgr) {
  Picture pic = {width, height, Bytes((size_t)width * height * 3)};
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) pic.Set(x, y, bgr);
  return pic;
}

// Any colour but pure white.
uint32_t SomeColour(Random* rng) {
  uint32_t c = rng->Next() & 0xFFFFFF;
  return c == 0xFFFFFF ? 0xFFFFFE : c;
}

Bytes Decode(const Bytes& stream, size_t offset, int width, int height) {
  Bytes block((size_t)width * height * 3, 0x5A);
  DecodeJob job = {};
  job.source = stream.data();
  job.source_length = stream.size();
  job.pixels = block.data();
  job.stream_offset = (int32_t)offset;
  job.width = width;
  job.height = height;
  job.bit_count = 24;
  job.bytes_per_pixel = 3;
  DecodeChain(&job);
  return block;
}

// Encodes, checks the round trip, returns the stream's size.
size_t RoundTrip(const Picture& pic, const std::string& what) {
  Bytes stream;
  const char* why = nullptr;
  EXPECT_EQ(EncodeChain(pic.pixels.data(), pic.width, pic.height, &stream, &why), 1) << what;
  EXPECT_EQ(Decode(stream, 0, pic.width, pic.height), pic.pixels) << what;
  return stream.size();
}

// ---------------------------------------------------------------------------
// Generators of pictures of many kinds.

Picture Shapes(int width, int height, Random* rng, int colours) {
  uint32_t palette[8];
  for (int i = 0; i < 8; i++) palette[i] = SomeColour(rng);
  Picture pic = Flat(width, height, palette[0]);
  for (int s = 0; s < 12; s++) {
    uint32_t c = palette[rng->Below((uint32_t)colours)];
    int cx = (int)rng->Below((uint32_t)width), cy = (int)rng->Below((uint32_t)height);
    int r = 1 + (int)rng->Below((uint32_t)(width / 3 + 1));
    bool circle = rng->Below(2);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) {
        int dx = x - cx, dy = y - cy;
        if (circle ? dx * dx + dy * dy <= r * r : (dx >= -r && dx <= r && dy >= -r / 2 && dy <= r / 2))
          pic.Set(x, y, c);
      }
  }
  return pic;
}

Picture Stripes(int width, int height, int count) {
  Picture pic = Flat(width, height, 0);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) pic.Set(x, y, 0x102030u * (uint32_t)(x * count / width) + 0x010101);
  return pic;
}

// Half-planes whose edge moves `shift` columns every `every` rows.
Picture Slant(int width, int height, int shift, int every, uint32_t left, uint32_t right) {
  Picture pic = Flat(width, height, left);
  for (int y = 0; y < height; y++) {
    int edge = width / 4 + (y / every) * shift;
    for (int x = 0; x < width; x++)
      if (x >= edge) pic.Set(x, y, right);
  }
  return pic;
}

Picture Gradient(int width, int height, bool across, bool down) {
  Picture pic = Flat(width, height, 0);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      pic.Set(x, y, (uint32_t)((across ? x * 7 : 0) & 0xFF) << 16 | (uint32_t)((down ? y * 3 : 0) & 0xFF) << 8 | 0x40);
  return pic;
}

Picture Noise(int width, int height, Random* rng, int colours) {
  uint32_t palette[4] = {0x000000, 0xFFFFFE, 0xFEFFFF, 0x123456};
  Picture pic = Flat(width, height, 0);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      pic.Set(x, y, colours ? palette[rng->Below((uint32_t)colours)] : SomeColour(rng));
  return pic;
}

// ---------------------------------------------------------------------------

TEST(EncodeChain, RoundTripsPicturesOfManyKinds) {
  Random rng = {2463534242u};
  struct Size {
    int width, height;
  } sizes[] = {{640, 480}, {800, 600}, {37, 23}, {3, 50}, {2, 9}, {1, 17}, {5, 1}};
  for (const Size& z : sizes) {
    int w = z.width, h = z.height;
    std::string at = " at " + std::to_string(w) + "x" + std::to_string(h);
    RoundTrip(Flat(w, h, 0), "all black" + at);
    RoundTrip(Flat(w, h, 0xFFFFFE), "near white" + at);
    RoundTrip(Shapes(w, h, &rng, 4), "shapes" + at);
    RoundTrip(Shapes(w, h, &rng, 8), "shapes of many colours" + at);
    RoundTrip(Stripes(w, h, 9), "stripes" + at);
    for (int shift : {-3, -2, -1, 1, 2, 3, 5})
      for (int every : {1, 2, 7}) RoundTrip(Slant(w, h, shift, every, 0x334455, 0), "slant" + at);
    RoundTrip(Gradient(w, h, true, false), "gradient across" + at);
    RoundTrip(Gradient(w, h, false, true), "gradient down" + at);
    RoundTrip(Gradient(w, h, true, true), "gradient both ways" + at);
    RoundTrip(Noise(w, h, &rng, 0), "noise" + at);
    // Few colours in noise: many pixels of a chain's colour, at every move.
    RoundTrip(Noise(w, h, &rng, 2), "two-colour noise" + at);
    RoundTrip(Noise(w, h, &rng, 4), "four-colour noise" + at);
  }
}

TEST(EncodeChain, RoundTripsRandomSmallPictures) {
  Random rng = {12345};
  for (int i = 0; i < 3000; i++) {
    int w = 1 + (int)rng.Below(12), h = 1 + (int)rng.Below(12);
    Picture pic = i % 2 ? Noise(w, h, &rng, 1 + (int)rng.Below(4)) : Shapes(w, h, &rng, 1 + (int)rng.Below(3));
    RoundTrip(pic, "random picture " + std::to_string(i));
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(EncodeChain, AppendsToWhatIsAlreadyThere) {
  Random rng = {7};
  Picture pic = Shapes(64, 48, &rng, 4);
  Bytes stream = {'P', 0};
  const char* why = nullptr;
  ASSERT_EQ(EncodeChain(pic.pixels.data(), 64, 48, &stream, &why), 1);
  EXPECT_EQ(stream[0], 'P');
  EXPECT_EQ(Decode(stream, 2, 64, 48), pic.pixels);
}

TEST(EncodeChain, RunsLongerThanTheLongestRunCode) {
  // 4096 x 4097 pixels of one colour but the last: the gap after pixel 0
  // needs a record of the same colour inside it. And all black, where pixel 0
  // needs none.
  for (uint32_t colour : {0x102030u, 0u}) {
    Picture pic = Flat(4096, 4097, colour);
    pic.Set(4095, 4096, 0x405060);
    Bytes stream;
    const char* why = nullptr;
    ASSERT_EQ(EncodeChain(pic.pixels.data(), 4096, 4097, &stream, &why), 1);
    EXPECT_TRUE(Decode(stream, 0, 4096, 4097) == pic.pixels) << colour;
  }
}

TEST(EncodeChain, AllBlackIsTheEndCodeAlone) {
  Picture pic = Flat(640, 480, 0);
  Bytes stream;
  const char* why = nullptr;
  ASSERT_EQ(EncodeChain(pic.pixels.data(), 640, 480, &stream, &why), 1);
  EXPECT_EQ(stream, (Bytes{0xFF, 0xFF, 0xFE}));  // 23 ones and a zero
}

TEST(EncodeChain, RefusesPureWhiteAndBadSizes) {
  Picture pic = Flat(8, 4, 0x808080);
  pic.Set(7, 3, 0xFFFFFF);
  Bytes stream = {1, 2, 3};
  const char* why = nullptr;
  EXPECT_EQ(EncodeChain(pic.pixels.data(), 8, 4, &stream, &why), 0);
  ASSERT_NE(why, nullptr);
  EXPECT_NE(std::string(why).find("255, 255, 255"), std::string::npos);
  EXPECT_EQ(stream, (Bytes{1, 2, 3}));

  why = nullptr;
  EXPECT_EQ(EncodeChain(pic.pixels.data(), 0, 4, &stream, &why), 0);
  EXPECT_NE(why, nullptr);
  why = nullptr;
  EXPECT_EQ(EncodeChain(pic.pixels.data(), 8, -1, &stream, &why), 0);
  EXPECT_NE(why, nullptr);
}

// Chains must carry edges: sizes far below one record per run start.
TEST(EncodeChain, ChainsCarryEdgesDownTheRows) {
  const int w = 640, h = 480;
  // A record is at least 27 bits; nine stripes make nine run starts a row.
  // With chains each row after the first costs 2 bits per edge.
  size_t stripes = RoundTrip(Stripes(w, h, 9), "stripes");
  EXPECT_LT(stripes, (size_t)(9 * 80 + 9 * (h - 1) * 3) / 8);
  // Slanting edges, one and two columns a row: still one move a row each.
  for (int shift : {1, -1, 2, -2}) {
    size_t slant = RoundTrip(Slant(w, h, shift, 1, 0x334455, 0x010203), "slant");
    EXPECT_LT(slant, (size_t)(2 * 80 + 2 * (h - 1) * 5) / 8) << shift;
  }
  // An edge moving one column every seventh row: straight moves, then one
  // to the side.
  size_t steep = RoundTrip(Slant(w, h, 1, 7, 0x334455, 0x010203), "steep slant");
  EXPECT_LT(steep, (size_t)(2 * 80 + 2 * (h - 1) * 5) / 8);
  // Every pixel of row 0 starts a run; every pixel below is covered by a
  // straight chain.
  size_t across = RoundTrip(Gradient(w, h, true, false), "gradient across");
  EXPECT_LT(across, (size_t)(w * 80 + (size_t)w * (h - 1) * 2 + w * 4) / 8);
}

// Colour A left of column 300 and B right of it, but every fifth row is all
// B: there B's edge pixel starts no run, and B's chain bridges that row.
// A needs a record after every such row (96 of them, under 64 bits each with
// their chains); B needs one record and a move a row. Without bridges B
// would need 96 more records of at least 27 bits, about 320 bytes.
TEST(EncodeChain, ChainsBridgeRowsWhereTheirEdgeIsHidden) {
  const int w = 640, h = 480;
  Picture pic = Flat(w, h, 0x0000B0);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < (y % 5 == 4 ? 0 : 300); x++) pic.Set(x, y, 0x00A000);
  size_t size = RoundTrip(pic, "hidden edge");
  EXPECT_LT(size, (size_t)(96 * 64 + 480 * 2 + 64) / 8);
}

}  // namespace
