#include <gtest/gtest.h>

#include <random>

#include "decode/lz.h"
#include "encode/encode.h"

namespace {

struct Picture {
  const char* what;
  int32_t width, height;
  std::vector<uint8_t> pixels;
};

// Generated pictures of the kinds that stress a match finder differently.
Picture Generate(const char* kind, int32_t width, int32_t height, uint32_t seed) {
  Picture p = {kind, width, height, std::vector<uint8_t>((size_t)width * height * 3)};
  std::mt19937 rng(seed);
  std::string k = kind;
  std::vector<uint8_t> tile;
  if (k == "tile 70001" || k == "tile 65536" || k == "tile 65535") {
    tile.resize(std::stoul(k.substr(5)));
    for (uint8_t& b : tile) b = (uint8_t)rng();
  }
  for (int32_t y = 0; y < height; y++) {
    for (int32_t x = 0; x < width; x++) {
      size_t i = ((size_t)y * width + x) * 3;
      uint8_t* px = &p.pixels[i];
      for (int c = 0; c < 3; c++) {
        uint8_t v = 0;
        if (k == "noise") v = (uint8_t)rng();
        else if (k == "flat") v = (uint8_t)(0x40 + 0x30 * c);
        else if (k == "gradient") v = (uint8_t)(c == 0 ? x * 255 / width : c == 1 ? y * 255 / height : (x + y) / 4);
        else if (k == "stripes") v = (uint8_t)(((x / 7) % 2 ? 200 : 30) + 10 * c + ((y / 5) % 3));
        else if (k == "card") {
          // colour bars on top, a grey ramp, then a noisy band and a checker
          if (y < height / 2) v = ((x * 8 / width) >> c) & 1 ? 235 : 16;
          else if (y < height * 5 / 8) v = (uint8_t)(x * 256 / width);
          else if (y < height * 3 / 4) v = (uint8_t)(128 + (int)(rng() % 9) - 4);
          else v = ((x / 16 + y / 16) % 2) ? 255 : 0;
        } else {
          v = tile[(i + c) % tile.size()];
        }
        px[c] = v;
      }
    }
  }
  return p;
}

// Encodes, decodes, and checks that the block came back and that the stream
// held exactly the codes for it: its end code right after the block's last.
std::vector<uint8_t> RoundTrip(const Picture& p) {
  std::vector<uint8_t> stream = {0xEE};  // appended to, never replaced
  EXPECT_EQ(EncodeLz(p.pixels.data(), p.width, p.height, &stream), 1) << p.what;
  EXPECT_EQ(stream[0], 0xEE);
  stream.erase(stream.begin());
  std::vector<uint8_t> block(p.pixels.size());
  DecodeJob job = {stream.data(), block.data(), 0, p.width, p.height, 24, 3, stream.size()};
  BitCursor end;
  EXPECT_EQ(DecodeLzStream(&job, &end), block.size()) << p.what;
  EXPECT_TRUE(block == p.pixels) << p.what;
  uint64_t end_bit = end.position * 8 + (uint64_t)__builtin_clz(end.bit_mask) - 24;
  EXPECT_EQ(stream.size(), (end_bit + 17 + 7) / 8) << p.what;
  BitCursor code = end;
  EXPECT_EQ(ReadBits(stream.data(), stream.size(), &code, 17), 0u) << p.what << ": end code";
  return stream;
}

TEST(LzEncodeTest, RoundTripsGeneratedPictures) {
  const char* kinds[] = {"noise", "flat", "gradient", "stripes", "card", "tile 70001", "tile 65536", "tile 65535"};
  for (const char* kind : kinds) {
    RoundTrip(Generate(kind, 640, 480, 7));
  }
}

TEST(LzEncodeTest, FindsWhatTheWindowHolds) {
  struct Case {
    const char* kind;
    double most;  // of the raw size
  } cases[] = {
      {"flat", 0.15},        // all but one byte in copies of 18: 21/144 = 0.146
      {"stripes", 0.16},     // each row repeats the one above
      {"tile 65536", 0.22},  // 65,536 literals (0.08), then copies from 65,536 back (0.135)
  };
  for (const Case& c : cases) {
    Picture p = Generate(c.kind, 640, 480, 3);
    EXPECT_LE(RoundTrip(p).size(), p.pixels.size() * c.most) << c.kind;
  }
}

TEST(LzEncodeTest, RoundTripsSmallAndOddSizes) {
  const int32_t sizes[][2] = {{1, 1}, {2, 1}, {1, 7}, {5, 3}, {33, 17}, {640, 400}, {800, 600}};
  for (const auto& s : sizes) {
    for (const char* kind : {"noise", "flat", "card"}) RoundTrip(Generate(kind, s[0], s[1], 11));
  }
}

// A run whose only earlier copy starts at ring position 0 (byte 65535) must
// be sent another way.
TEST(LzEncodeTest, NeverCopiesFromRingPositionZero) {
  Picture p = Generate("noise", 100000, 1, 5);
  const uint8_t marker[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  memcpy(&p.pixels[65535], marker, 18);
  memcpy(&p.pixels[90000], marker, 18);
  std::vector<uint8_t> stream = RoundTrip(p);
  memcpy(&p.pixels[65536], marker, 18);  // one byte later the copy is allowed
  memcpy(&p.pixels[90000], marker, 18);
  EXPECT_LT(RoundTrip(p).size(), stream.size());
}

// 1 2 3 was seen before, and 2 3 10 ... 25 as a whole: a literal and one copy
// of 18 beat copies of 3 and 16.
TEST(LzEncodeTest, PrefersALongerCopyOneByteLater) {
  std::vector<uint8_t> px = {1, 2, 3, 200, 2, 3};
  for (int pass = 0; pass < 2; pass++) {
    if (pass) px.insert(px.end(), {1, 2, 3});
    for (uint8_t q = 10; q <= 25; q++) px.push_back(q);
  }
  px.push_back(250);
  ASSERT_EQ(px.size(), 42u);
  std::vector<uint8_t> stream;
  ASSERT_EQ(EncodeLz(px.data(), 14, 1, &stream), 1);
  std::vector<uint32_t> copy_lengths;
  BitCursor d = {0, 128};
  int literals = 0;
  for (int codes = 0; codes < 50; codes++) {
    if (ReadBits(stream.data(), stream.size(), &d, 1)) {
      ReadBits(stream.data(), stream.size(), &d, 8);
      literals++;
    } else if (ReadBits(stream.data(), stream.size(), &d, 16)) {
      copy_lengths.push_back(ReadBits(stream.data(), stream.size(), &d, 4) + 3);
    } else {
      break;
    }
  }
  EXPECT_EQ(literals, 24);
  EXPECT_EQ(copy_lengths, std::vector<uint32_t>{18});
}

TEST(LzEncodeTest, RefusesEmptySizes) {
  std::vector<uint8_t> out;
  uint8_t px[3] = {};
  EXPECT_EQ(EncodeLz(px, 0, 1, &out), 0);
  EXPECT_EQ(EncodeLz(px, 1, -1, &out), 0);
  EXPECT_TRUE(out.empty());
}

}  // namespace
