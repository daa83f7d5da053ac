#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/variant.h"

namespace {

// A picture's first bytes: "GD" + digit with a mode letter at its offset, or
// a headerless start.
std::vector<uint8_t> Headered(char digit, char mode, size_t extra = 2) {
  size_t at = digit == '3' ? kGd3ModeOffset : kGd2ModeOffset;
  std::vector<uint8_t> b(at + extra, 0);
  b[0] = 'G';
  b[1] = 'D';
  b[2] = (uint8_t)digit;
  if (extra > 0) b[at] = (uint8_t)mode;  // extra 0: cut just before the mode letter
  return b;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

struct DetectCase {
  const char* what;
  const char* name;  // null: memory input, the content decides
  std::vector<uint8_t> content;
  int expected;  // variant, or -1 for not recognised
};

class DetectTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectTest, Variant) {
  const DetectCase& c = GetParam();
  GdVariant v = 99;
  int found = DetectVariantInMemory(&kPortableTextOps, c.name, c.content.data(), c.content.size(), &v);
  if (c.expected < 0) {
    EXPECT_EQ(found, 0) << c.what;
    EXPECT_EQ(v, 99) << c.what << ": the out-parameter is left alone";
  } else {
    EXPECT_EQ(found, 1) << c.what;
    EXPECT_EQ(v, c.expected) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectTest,
    ::testing::Values(
        // the palette form is recognised by the name alone
        DetectCase{"hhp, empty", "a.HHP", {}, 0}, DetectCase{"hhp lower", "dir/a.hhp", Bytes("GD2"), 0},
        DetectCase{"hhp prefix", "a.Hhpq", Bytes("xyz"), 0},
        // as memory input the same bytes are judged by content
        DetectCase{"no name L", nullptr, Bytes("Lxyz"), 1}, DetectCase{"no name x", nullptr, {0x78, 0, 0}, 5},
        // names that are refused whatever the content
        DetectCase{"bmp", "a.bmp", Headered('2', 'b'), -1}, DetectCase{"no ext", "picture", Headered('2', 'b'), -1},
        DetectCase{"short ext G", "a.G", Bytes("Lxx"), -1}, DetectCase{"short ext DC", "a.DC", Bytes("Lxx"), -1},
        DetectCase{"short ext HH", "a.HH", Bytes("Lxx"), -1}, DetectCase{"empty ext", "a.", Bytes("Lxx"), -1},
        DetectCase{"dot in folder", "a.gd/picture", Bytes("Lxx"), -1},
        // names that go on to the content
        DetectCase{"gd2 ext", "a.gd2", Bytes("Lxx"), 1}, DetectCase{"DCLX ext", "a.DCLX", Bytes("lxx"), 2},
        DetectCase{"GDX ext", "x/y.GDX", Bytes("Pxx"), 3}, DetectCase{"dcl", "a.dcl", Bytes("pxx"), 4},
        DetectCase{"windows path", "C:\\pics\\a.GD", Bytes("Lxx"), 1},
        // headered variants
        DetectCase{"GD2 L", "a.gd", Headered('2', 'L'), 6}, DetectCase{"GD2 l", nullptr, Headered('2', 'l'), 7},
        DetectCase{"GD2 b", "a.gd", Headered('2', 'b'), 8}, DetectCase{"GD2 P", "a.gd", Headered('2', 'P'), 9},
        DetectCase{"GD2 p", "a.gd", Headered('2', 'p'), 10}, DetectCase{"GD3 L", "a.gd", Headered('3', 'L'), 11},
        DetectCase{"GD3 l", "a.gd", Headered('3', 'l'), 12}, DetectCase{"GD3 b", "a.gd", Headered('3', 'b'), 13},
        DetectCase{"GD3 P", "a.gd", Headered('3', 'P'), 14}, DetectCase{"GD3 p", "a.gd", Headered('3', 'p'), 15},
        DetectCase{"GD2 B upper", "a.gd", Headered('2', 'B'), -1},
        DetectCase{"GD2 mode 0", "a.gd", Headered('2', 0), -1},
        DetectCase{"GD4", "a.gd", Headered('4', 'L'), -1}, DetectCase{"GD digit 0", "a.gd", Bytes("GD0xxx"), -1},
        // "G" with a lower-case "d", a "b", zero and high bytes are headerless chain pictures
        DetectCase{"Gd", "a.gd", Bytes("Gd2"), 5}, DetectCase{"b", "a.gd", Bytes("b00"), 5},
        DetectCase{"zero", "a.gd", {0, 0, 0}, 5}, DetectCase{"0x80", "a.gd", {0x80, 1, 2}, 5},
        DetectCase{"0xFF", nullptr, {0xFF, 0xFF, 0xFF}, 5},
        // inputs too short for a byte that detection must read
        DetectCase{"two bytes", "a.gd", Bytes("Lx"), -1}, DetectCase{"empty", nullptr, {}, -1},
        DetectCase{"GD2 cut before mode", "a.gd", Headered('2', 'L', 0), -1},
        DetectCase{"GD2 mode is last byte", "a.gd", Headered('2', 'L', 1), 6},
        DetectCase{"GD3 cut before mode", nullptr, Headered('3', 'L', 0), -1}));

TEST(DetectTest, PaletteNameIsNotRead) {
  // A source that fails the test if anything is read from it.
  struct Probe {
    int reads = 0;
  } probe;
  DetectSource source = {&probe, [](void* ctx, uint32_t, uint8_t*, uint32_t) -> uint32_t {
                           ((Probe*)ctx)->reads++;
                           return 0;
                         }};
  GdVariant v = 99;
  EXPECT_EQ(DetectVariant(&kPortableTextOps, "x.hhp", &source, &v), 1);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(probe.reads, 0);
}

TEST(DetectTest, HeaderedReadsThreeBytesThenTheModeLetter) {
  struct Probe {
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    std::vector<uint8_t> bytes;
  } probe;
  probe.bytes = Headered('3', 'p');
  DetectSource source = {&probe, [](void* ctx, uint32_t at, uint8_t* buf, uint32_t n) -> uint32_t {
                           Probe* p = (Probe*)ctx;
                           p->reads.push_back({at, n});
                           for (uint32_t i = 0; i < n; i++) buf[i] = p->bytes[at + i];
                           return n;
                         }};
  GdVariant v = 99;
  EXPECT_EQ(DetectVariant(&kPortableTextOps, nullptr, &source, &v), 1);
  EXPECT_EQ(v, 15);
  ASSERT_EQ(probe.reads.size(), 2u);
  EXPECT_EQ(probe.reads[0], std::make_pair(0u, 3u));
  EXPECT_EQ(probe.reads[1], std::make_pair(kGd3ModeOffset, 1u));
}

TEST(VariantTableTest, SizesAndOffsetsFollowTheForm) {
  for (int v = 0; v < 16; v++) {
    const GdVariantRow& r = GdVariantTable[v];
    if (v == 0) {
      EXPECT_EQ(r.height, 400);
      EXPECT_EQ(r.decoder, kCodingPalette);
    } else if (v <= 5) {
      EXPECT_EQ(r.stream_offset, v == 5 ? 0 : 2);
      EXPECT_EQ(r.width * 10000 + r.height, 6400480);
    } else {
      bool gd3 = v >= 11;
      EXPECT_EQ(r.stream_offset, gd3 ? 14166 : 9030);
      EXPECT_EQ(r.width, gd3 ? 800 : 640);
      EXPECT_EQ(r.height, gd3 ? 600 : 480);
      EXPECT_EQ(r.decoder == kCodingRaw, v == 8 || v == 13);
    }
  }
  // The two letters of a pair decode alike.
  for (int v : {1, 3, 6, 9, 11, 14}) {
    EXPECT_EQ(GdVariantTable[v].decoder, GdVariantTable[v + 1].decoder);
    EXPECT_EQ(GdVariantTable[v].stream_offset, GdVariantTable[v + 1].stream_offset);
  }
}

TEST(ExtensionTest, FindsTheLastDotOfTheLastComponent) {
  struct {
    const char* name;
    const char* ext;
  } cases[] = {{"a.gd", ".gd"}, {"a.b.hhp", ".hhp"}, {"dir.x/a", ""}, {"dir.x\\a", ""}, {"a", ""},
               {".gd", ".gd"}, {"a.gd x", ""}, {"my pic.gd", ".gd"}};
  for (auto& c : cases) EXPECT_STREQ(PortableFindExtension(c.name), c.ext) << c.name;
  EXPECT_EQ(PortableFindExtension(nullptr), nullptr);
  EXPECT_EQ(PortableCompareNI(".hHp", ".HHP", 4), 0);
  EXPECT_NE(PortableCompareNI(".hh", ".HHP", 4), 0);
  EXPECT_EQ(PortableCompareNI(".GDX", ".GD", 3), 0);
}

}  // namespace
