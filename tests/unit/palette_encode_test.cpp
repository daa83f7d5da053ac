#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "decode/decode.h"
#include "encode/encode.h"

namespace {

typedef std::function<uint32_t(int row, int column)> Painter;  // 0xRRGGBB

std::vector<uint8_t> Paint(int width, int height, const Painter& colour) {
  std::vector<uint8_t> px((size_t)width * height * 3);
  for (int r = 0; r < height; r++)
    for (int c = 0; c < width; c++) {
      uint32_t k = colour(r, c);
      uint8_t* p = &px[3 * ((size_t)r * width + c)];
      p[0] = (uint8_t)k;
      p[1] = (uint8_t)(k >> 8);
      p[2] = (uint8_t)(k >> 16);
    }
  return px;
}

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  return x ^ (x >> 16);
}

std::vector<uint8_t> Decode(const std::vector<uint8_t>& stream, int width, int height) {
  std::vector<uint8_t> block((size_t)width * height * 3, 0xEE);
  DecodeJob job = {stream.data(), block.data(), 0, width, height, 24, 3, stream.size()};
  DecodePaletteChain(&job);
  return block;
}

struct Picture {
  const char* name;
  int width, height;
  Painter colour;
  // Most bytes the stream may take; 0 for no bound.
  size_t ceiling;
};

const uint32_t kInk = 0xFF8000, kSea = 0x1060C0, kLeaf = 0x20A040, kPaper = 0xF0F0E0;

bool InCircle(int r, int c, int cr, int cc, int radius) {
  return (r - cr) * (r - cr) + (c - cc) * (c - cc) < radius * radius;
}

// Each flat area costs a run per edge and three bits per row of each edge,
// so pictures of a few shapes stay within about 1 KiB beyond the palette.
std::vector<Picture> Pictures() {
  return {
      {"OneColour", 640, 400, [](int, int) { return kSea; }, 768 + 1},
      {"BlackPicture", 640, 400, [](int, int) { return 0u; }, 768 + 1},
      {"Rectangles", 640, 400,
       [](int r, int c) {
         if (r >= 50 && r < 350 && c >= 100 && c < 300) return kInk;
         if (r >= 100 && r < 200 && c >= 400 && c < 600) return kLeaf;
         return kPaper;
       },
       768 + 4 * (300 * 3 + 40) / 8},
      {"NestedRectangles", 640, 400,
       [](int r, int c) {
         if (r >= 100 && r < 300 && c >= 200 && c < 440) return (r < 150 || c >= 400) ? kInk : kLeaf;
         return kPaper;
       },
       768 + 1200},
      {"Circles", 640, 400,
       [](int r, int c) {
         if (InCircle(r, c, 200, 200, 150)) return InCircle(r, c, 180, 220, 60) ? kSea : kInk;
         if (InCircle(r, c, 300, 500, 90)) return kLeaf;
         return kPaper;
       },
       768 + 3000},
      {"VerticalStripes", 640, 400, [](int, int c) { return (c / 16) % 2 ? kInk : kPaper; },
       768 + 40 * (400 * 3 + 40) / 8},
      {"HorizontalStripes", 640, 400, [](int r, int) { return (r / 10) % 3 == 0 ? kInk : (r / 10) % 3 == 1 ? kSea : kPaper; },
       768 + 100},
      {"DiagonalStripes", 640, 400, [](int r, int c) { return ((r + c) / 20) % 2 ? kLeaf : kPaper; },
       768 + 52 * (400 * 3 + 40) / 8},
      {"SteepSlopes", 640, 400, [](int r, int c) { return ((c + 4 * r) / 50) % 2 ? kLeaf : kPaper; }, 0},
      {"AlternatingPixels", 640, 400, [](int, int c) { return c % 2 ? kInk : kPaper; },
       768 + 640 * (400 * 3 + 40) / 8},
      {"Checkerboard", 640, 400, [](int r, int c) { return (r + c) % 2 ? kInk : kPaper; },
       768 + 640 * (400 * 3 + 40) / 8},
      {"NoiseOf256Colours", 640, 400,
       [](int r, int c) {
         uint32_t k = Hash((uint32_t)(r * 640 + c)) & 255;
         return k * 0x010101u ^ 0x800000u;
       },
       768 + 640 * 400 * 22 / 8},
      {"NoiseOfFourColours", 320, 200,
       [](int r, int c) {
         const uint32_t k[4] = {kInk, kSea, kLeaf, kPaper};
         return k[Hash((uint32_t)(r * 320 + c)) & 3];
       },
       0},
      {"OneColumn", 1, 300, [](int r, int) { return r % 7 < 3 ? kInk : kSea; }, 0},
      {"TwoColumns", 2, 200, [](int r, int c) { return (r + c) % 3 ? kInk : kLeaf; }, 0},
      {"OneRow", 500, 1, [](int, int c) { return (c / 5) % 2 ? kInk : kLeaf; }, 0},
      // Far more than 2^20 pixels between the line's first markers and the
      // dot: the gap needs a run that only marks its own pixel, which here
      // is on the line at column 5.
      {"LongGapAcrossAnEdge", 1024, 1100,
       [](int r, int c) {
         if (c == 5) return kInk;
         if (r == 1099 && c == 1000) return kLeaf;
         return kPaper;
       },
       768 + 1100 * 2 * 3 / 8 + 200},
  };
}

void PrintTo(const Picture& p, std::ostream* os) { *os << p.name; }

class PaletteRoundTrip : public ::testing::TestWithParam<Picture> {};

TEST_P(PaletteRoundTrip, DecodesToThePicture) {
  const Picture& pic = GetParam();
  std::vector<uint8_t> pixels = Paint(pic.width, pic.height, pic.colour);
  std::vector<uint8_t> stream = {0xAB};  // the stream is appended
  const char* why = nullptr;
  ASSERT_EQ(EncodePalette(pixels.data(), pic.width, pic.height, &stream, &why), 1) << why;
  EXPECT_EQ(stream[0], 0xAB);
  stream.erase(stream.begin());
  EXPECT_TRUE(Decode(stream, pic.width, pic.height) == pixels);
  if (pic.ceiling) {
    EXPECT_LE(stream.size(), pic.ceiling);
  }
}

INSTANTIATE_TEST_SUITE_P(Pictures, PaletteRoundTrip, ::testing::ValuesIn(Pictures()),
                         [](const ::testing::TestParamInfo<Picture>& info) { return std::string(info.param.name); });

// Random small pictures of few colours, in blobs and specks, at every width.
TEST(PaletteEncodeTest, RoundTripsRandomPictures) {
  for (uint32_t seed = 1; seed <= 300; seed++) {
    int width = 1 + (int)(Hash(seed) % 40), height = 1 + (int)(Hash(seed * 3) % 30);
    int colours = 1 + (int)(Hash(seed * 5) % 6);
    int grain = 1 + (int)(Hash(seed * 7) % 8);
    std::vector<uint8_t> pixels = Paint(width, height, [&](int r, int c) {
      return (Hash(seed * 1000003u + (uint32_t)(r / grain) * 977u + (uint32_t)((c + r / 3) / grain)) %
              (uint32_t)colours) * 0x3F1D07u;
    });
    std::vector<uint8_t> stream;
    const char* why = nullptr;
    ASSERT_EQ(EncodePalette(pixels.data(), width, height, &stream, &why), 1) << why;
    ASSERT_TRUE(Decode(stream, width, height) == pixels) << "seed " << seed;
  }
}

TEST(PaletteEncodeTest, MoreThan256ColoursFail) {
  std::vector<uint8_t> pixels = Paint(257, 2, [](int r, int c) { return r ? 0u : (uint32_t)c * 0x000101u; });
  std::vector<uint8_t> stream;
  const char* why = nullptr;
  EXPECT_EQ(EncodePalette(pixels.data(), 257, 2, &stream, &why), 0);
  EXPECT_STREQ(why, "more than 256 colours");
  EXPECT_TRUE(stream.empty());
  // The same picture without its 257th colour encodes.
  pixels[3 * 256] = pixels[3 * 256 + 1] = pixels[3 * 256 + 2] = 0;
  why = nullptr;
  EXPECT_EQ(EncodePalette(pixels.data(), 257, 2, &stream, &why), 1);
  EXPECT_TRUE(Decode(stream, 257, 2) == pixels);
}

TEST(PaletteEncodeTest, BadSizesFail) {
  uint8_t pixel[3] = {1, 2, 3};
  for (int32_t w : {0, -1, 1}) {
    std::vector<uint8_t> stream;
    const char* why = nullptr;
    EXPECT_EQ(EncodePalette(pixel, w, w == 1 ? 0 : 1, &stream, &why), 0);
    EXPECT_STREQ(why, "picture size out of range");
  }
}

// The commonest colour is entry 0, whatever the order of first appearance.
TEST(PaletteEncodeTest, CommonestColourIsEntryZero) {
  std::vector<uint8_t> pixels = Paint(10, 10, [](int r, int c) { return r == 0 && c < 3 ? kInk : kSea; });
  std::vector<uint8_t> stream;
  const char* why = nullptr;
  ASSERT_EQ(EncodePalette(pixels.data(), 10, 10, &stream, &why), 1);
  ASSERT_GE(stream.size(), 6u);
  const uint8_t sea[3] = {0x10, 0x60, 0xC0}, ink[3] = {0xFF, 0x80, 0x00};
  EXPECT_EQ(memcmp(stream.data(), sea, 3), 0);
  EXPECT_EQ(memcmp(stream.data() + 3, ink, 3), 0);
}

}  // namespace
