#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "decode/palette.h"
#include "tests/support/bit_writer.h"

namespace {

const int kCountWidth[4] = {4, 6, 8, 20};

// Palette chain streams. Entry k of the test palette is red k, green 0x80,
// blue 255 - k, so every decoded pixel tells which index it took.
struct PaletteStream {
  BitWriter w;
  PaletteStream() {
    for (int k = 0; k < 256; k++) {
      w.PutByte((uint8_t)k);
      w.PutByte(0x80);
      w.PutByte((uint8_t)(255 - k));
    }
  }
  void CountWith(int selector, uint32_t n) {
    w.Put((uint32_t)selector, 2);
    w.Put(n, kCountWidth[selector]);
  }
  void Count(uint32_t n) { CountWith(n < 16 ? 0 : n < 64 ? 1 : n < 256 ? 2 : 3, n); }
  void Run(uint32_t skip, uint8_t index) {
    Count(skip);
    w.PutByte(index);
  }
  void Code(uint32_t code) { w.Put(code, 3); }
  void Jump(uint32_t rows) {
    Code(6);
    Count(rows);
  }
  void End() { Count(0); }
};

struct Decoded {
  std::vector<uint8_t> block;
  BitCursor end;
};

const int kGuard = 16;

Decoded DecodeBytes(const std::vector<uint8_t>& source, int width, int height, int32_t offset = 0) {
  Decoded d;
  size_t bytes = (size_t)width * height * 3;
  d.block.assign(bytes + kGuard, 0xEE);  // stale bytes, and a guard after the block
  DecodeJob job = {source.data(), d.block.data(), offset, width, height, 24, 3, source.size()};
  DecodePaletteChainTo(&job, &d.end);
  for (size_t i = bytes; i < d.block.size(); i++) EXPECT_EQ(d.block[i], 0xEE) << "guard byte " << i - bytes;
  d.block.resize(bytes);
  return d;
}

// The test palette's index of every pixel, as digits and letters, rows
// separated by spaces; '?' for a colour not in the test palette.
std::string Plane(const std::vector<uint8_t>& block, int width) {
  std::string s;
  for (size_t p = 0; p * 3 < block.size(); p++) {
    if (p && p % (size_t)width == 0) s += ' ';
    uint8_t k = block[3 * p + 2];
    bool ok = block[3 * p + 1] == 0x80 && block[3 * p] == 255 - k && k < 36;
    s += !ok ? '?' : k < 10 ? (char)('0' + k) : (char)('a' + k - 10);
  }
  return s;
}

std::string DecodePlane(const PaletteStream& s, int width, int height) {
  return Plane(DecodeBytes(s.w.bytes, width, height).block, width);
}

struct Step {
  uint32_t code;
  uint32_t rows;  // the count of code 6
};
struct RunSpec {
  uint32_t skip;
  uint8_t index;
  std::vector<Step> chain;
};
struct PlaneCase {
  const char* name;
  std::vector<RunSpec> runs;
  const char* expected;  // 8 x 4 pixels
};

class PlaneTest : public ::testing::TestWithParam<PlaneCase> {};

TEST_P(PlaneTest, DecodesToExpectedIndices) {
  PaletteStream s;
  for (const RunSpec& r : GetParam().runs) {
    s.Run(r.skip, r.index);
    for (const Step& step : r.chain) {
      if (step.code == 6)
        s.Jump(step.rows);
      else
        s.Code(step.code);
    }
    s.Code(0);
  }
  s.End();
  EXPECT_EQ(DecodePlane(s, 8, 4), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Spans, PlaneTest,
    ::testing::Values(
        PlaneCase{"NoRuns", {}, "00000000 00000000 00000000 00000000"},
        PlaneCase{"FirstSkipOneMarksPixelZero", {{1, 1, {}}, {3, 1, {}}}, "11100000 00000000 00000000 00000000"},
        PlaneCase{"SkipKMarksPixelKMinusOne", {{3, 2, {}}, {2, 2, {}}}, "00220000 00000000 00000000 00000000"},
        // Pixel 17 ends the chain; the next skip still counts from pixel 1.
        PlaneCase{"SkipCountsFromRunNotChainEnd",
                  {{2, 1, {{1, 0}, {1, 0}}}, {3, 1, {}}},
                  "01110000 01111111 10000000 00000000"},
        PlaneCase{"UnrepeatedMarkerFillsToEndAcrossRows", {{11, 3, {}}}, "00000000 00333333 33333333 33333333"},
        PlaneCase{"NeighbouringMarkersOfOneIndex", {{3, 1, {}}, {1, 1, {}}}, "00100000 00000000 00000000 00000000"},
        // 2 switches the span; the next 1 opens anew, the one after closes.
        PlaneCase{"SecondIndexSwitchesSpan",
                  {{2, 1, {}}, {2, 2, {}}, {2, 1, {}}, {2, 1, {}}},
                  "01122110 00000000 00000000 00000000"},
        PlaneCase{"OnlyTheCarriedIndexCloses",
                  {{2, 1, {}}, {2, 2, {}}, {2, 1, {}}, {3, 2, {}}},
                  "01122111 22222222 22222222 22222222"},
        PlaneCase{"IndexZeroMarkerTakesCarriedIndex", {{2, 1, {}}, {2, 0, {}}, {2, 1, {}}},
                  "01111000 00000000 00000000 00000000"},
        PlaneCase{"IndexZeroNeverOpens", {{3, 0, {}}, {4, 0, {}}}, "00000000 00000000 00000000 00000000"},
        // The run at pixel 8 overwrites what the first chain put there.
        PlaneCase{"LaterWriteReplacesEarlier", {{1, 1, {{1, 0}}}, {8, 2, {}}}, "11111111 22222222 22222222 22222222"},
        PlaneCase{"LaterZeroWriteErasesMarker", {{1, 1, {{1, 0}}}, {8, 0, {}}},
                  "11111111 11111111 11111111 11111111"},
        // The second chain rewrites pixel 16, first marked by the first run's chain.
        PlaneCase{"ChainOverwritesEarlierChain", {{1, 1, {{1, 0}, {1, 0}}}, {1, 2, {{1, 0}, {3, 0}}}},
                  "12222222 12222222 00000000 00000000"}));

// A run at pixel 3 of a row of 8 with one chain step: the step's marker
// closes the span that the run opened, so the span ends where the step landed.
struct CodeCase {
  std::vector<Step> chain;
  const char* expected;
};

class ChainCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ChainCodeTest, StepLandsWhereTheCodeSays) {
  PaletteStream s;
  s.Run(4, 1);
  for (const Step& step : GetParam().chain) {
    if (step.code == 6)
      s.Jump(step.rows);
    else
      s.Code(step.code);
  }
  s.Code(0);
  s.End();
  EXPECT_EQ(DecodePlane(s, 8, 4), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ChainCodeTest,
    ::testing::Values(CodeCase{{{1, 0}}, "00011111 11100000 00000000 00000000"},   // + width
                      CodeCase{{{2, 0}}, "00011111 11110000 00000000 00000000"},   // + width + 1
                      CodeCase{{{3, 0}}, "00011111 11000000 00000000 00000000"},   // + width - 1
                      CodeCase{{{4, 0}}, "00011111 11111000 00000000 00000000"},   // + width + 2
                      CodeCase{{{5, 0}}, "00011111 10000000 00000000 00000000"},   // + width - 2
                      CodeCase{{{7, 0}}, "00011111 11111110 00000000 00000000"},   // + width + 4
                      CodeCase{{{6, 0}, {1, 0}}, "00011111 11100000 00000000 00000000"},  // a jump of 0 stays
                      CodeCase{{{6, 0}, {6, 0}, {7, 0}}, "00011111 11111110 00000000 00000000"},
                      CodeCase{{{6, 1}}, "00011111 11111111 11111111 11111111"},  // a jump writes nothing
                      CodeCase{{{6, 1}, {1, 0}}, "00011111 11111111 11100000 00000000"},
                      CodeCase{{{6, 2}, {5, 0}}, "00011111 11111111 11111111 10000000"}));

// Jumps written with every selector, and a width where code 2 from the last
// column reaches column 0 two rows down and code 3 from column 0 stays in its row.
TEST(PaletteChainTest, JumpCountsWithEverySelectorAndRowEdges) {
  for (int selector = 0; selector < 4; selector++) {
    PaletteStream s;
    s.Run(4, 1);
    s.Code(6);
    s.CountWith(selector, 2);
    s.Code(1);
    s.Code(0);
    s.End();
    EXPECT_EQ(DecodePlane(s, 8, 4), "00011111 11111111 11111111 11100000") << "selector " << selector;
  }
  PaletteStream s;
  s.Run(8, 1);  // pixel 7, the last column of row 0
  s.Code(2);    // pixel 16: row 2, column 0
  s.Code(0);
  s.Run(1, 2);  // pixel 8: row 1, column 0
  s.Code(3);    // pixel 15: the last column of row 1
  s.Code(0);
  s.End();
  EXPECT_EQ(DecodePlane(s, 8, 3), "00000001 22222220 11111111");
}

TEST(PaletteChainTest, WorkedExample) {
  std::vector<uint8_t> source(768, 0);
  source[3] = 0xFF;
  source[4] = 0x80;
  const uint8_t runs[] = {0x14, 0x04, 0xC0, 0x18, 0x0A, 0x20, 0x00};
  source.insert(source.end(), runs, runs + sizeof runs);
  Decoded d = DecodeBytes(source, 640, 400);
  std::vector<uint8_t> expected(640 * 400 * 3, 0);
  for (int p : {4, 5, 6, 644, 645, 646, 647, 1286, 1287}) {
    expected[3 * p + 1] = 0x80;
    expected[3 * p + 2] = 0xFF;
  }
  EXPECT_TRUE(d.block == expected);
  EXPECT_EQ(d.end.position, 774u);
  EXPECT_EQ(d.end.bit_mask, 8);
}

TEST(PaletteChainTest, PaletteAndZeroSkipGiveEntryZeroEverywhere) {
  PaletteStream s;
  s.w.bytes[0] = 0x12;  // entry 0: red 12, green 34, blue 56
  s.w.bytes[1] = 0x34;
  s.w.bytes[2] = 0x56;
  s.w.PutByte(0);
  Decoded d = DecodeBytes(s.w.bytes, 640, 400);
  bool all = true;
  for (size_t p = 0; p < 640 * 400; p++)
    all = all && d.block[3 * p] == 0x56 && d.block[3 * p + 1] == 0x34 && d.block[3 * p + 2] == 0x12;
  EXPECT_TRUE(all);
  EXPECT_EQ(d.end.position, 768u);
  EXPECT_EQ(d.end.bit_mask, 2);
}

TEST(PaletteChainTest, EndMarkerWithSelectorThree) {
  PaletteStream s;
  s.Run(2, 1);
  s.Code(0);
  s.CountWith(3, 0);
  uint64_t end_bit = s.w.BitCount();
  s.Run(3, 1);  // never read
  s.Code(0);
  s.End();
  Decoded d = DecodeBytes(s.w.bytes, 8, 2);
  EXPECT_EQ(Plane(d.block, 8), "01111111 11111111");
  EXPECT_EQ(d.end.position, end_bit / 8);
  EXPECT_EQ(d.end.bit_mask, 128 >> (end_bit % 8));
}

TEST(PaletteChainTest, BytesAfterEndMarkerChangeNothing) {
  PaletteStream s;
  s.Run(3, 1);
  s.Code(1);
  s.Code(0);
  s.End();
  Decoded plain = DecodeBytes(s.w.bytes, 8, 3);
  s.w.bytes.back() |= (uint8_t)(0xFF >> s.w.used);  // the end marker's left-over bits
  for (int i = 0; i < 8; i++) s.w.PutByte(0x5B);
  Decoded extra = DecodeBytes(s.w.bytes, 8, 3);
  EXPECT_TRUE(plain.block == extra.block);
  EXPECT_EQ(Plane(extra.block, 8), "00111111 11000000 00000000");
  EXPECT_EQ(extra.end.position, plain.end.position);
  EXPECT_EQ(extra.end.bit_mask, plain.end.bit_mask);
}

TEST(PaletteChainTest, StreamStartsAtStreamOffset) {
  PaletteStream s;
  s.Run(3, 1);
  s.Code(0);
  s.Run(2, 1);
  s.Code(0);
  s.End();
  std::vector<uint8_t> source(5, 0xA5);  // bytes before the stream, never read
  source.insert(source.end(), s.w.bytes.begin(), s.w.bytes.end());
  Decoded d = DecodeBytes(source, 8, 2, 5);
  EXPECT_EQ(Plane(d.block, 8), "00110000 00000000");
  EXPECT_EQ(d.end.position, 5 + s.w.BitCount() / 8);
}

// Limits of the block: a write past the last pixel is dropped while its chain
// is read on, and a run past the last pixel ends decoding.
TEST(PaletteChainLimitsTest, WritePastBlockIsDroppedAndChainReadOn) {
  PaletteStream s;
  s.Run(11, 1);  // pixel 10
  s.Code(1);     // pixel 18: past the 16 pixels
  s.Jump(3);
  s.Code(2);
  s.Code(0);
  s.Run(3, 1);  // pixel 13 closes
  s.Code(0);
  s.Run(2, 2);  // pixel 15, the last one
  s.Code(0);
  s.End();
  EXPECT_EQ(DecodePlane(s, 8, 2), "00000000 00111002");
}

TEST(PaletteChainLimitsTest, RunPastLastPixelEndsDecoding) {
  PaletteStream s;
  s.Run(2, 1);
  s.Code(0);
  s.Run(16, 2);  // pixel 17 of 16
  uint64_t end_bit = 768 * 8 + 6 + 8 + 3 + 2 + 6;
  s.Code(0);
  s.End();
  Decoded d = DecodeBytes(s.w.bytes, 8, 2);
  EXPECT_EQ(Plane(d.block, 8), "01111111 11111111");
  EXPECT_EQ(d.end.position, end_bit / 8);
  EXPECT_EQ(d.end.bit_mask, 128 >> (end_bit % 8));
}

// Code 6 jumps in 64 bits: at width 4096 a jump of 2^20 - 1 rows is 2^32 - 4096
// pixels, so a 32-bit position would come back to pixel 6 and close the span.
TEST(PaletteChainLimitsTest, LongJumpsNeverWrapIntoBlock) {
  for (int jumps : {1, 4096}) {
    PaletteStream s;
    s.Run(6, 1);  // pixel 5
    for (int i = 0; i < jumps; i++) s.Jump((1u << 20) - 1);
    s.Code(2);
    s.Code(1);
    s.Code(0);
    s.End();
    Decoded d = DecodeBytes(s.w.bytes, 4096, 2);
    std::string plane = Plane(d.block, 4096);
    EXPECT_EQ(plane, std::string(5, '0') + std::string(4091, '1') + " " + std::string(4096, '1'))
        << jumps << " jumps";
  }
}

// Limits of the input: bits past the end read as zero, and decoding ends once
// the input is used up.
TEST(PaletteChainLimitsTest, PaletteCutShortGetsZeroEntries) {
  const std::vector<uint8_t> source = {0x10, 0x20};
  Decoded d = DecodeBytes(source, 4, 2);
  for (size_t p = 0; p < 8; p++) {
    EXPECT_EQ(d.block[3 * p], 0);
    EXPECT_EQ(d.block[3 * p + 1], 0x20);
    EXPECT_EQ(d.block[3 * p + 2], 0x10);
  }
  EXPECT_EQ(d.end.position, 768u);  // the palette read in full, zeros included
  EXPECT_EQ(d.end.bit_mask, 128);
}

TEST(PaletteChainLimitsTest, CodeCutByEndReadsZeros) {
  PaletteStream s;
  s.Run(2, 1);  // pixel 1
  s.Code(1);    // 9
  s.Code(2);    // 18
  s.Code(5);    // 24
  s.w.Put(1, 1);  // the first bit of code 4, the input's last bit
  ASSERT_EQ(s.w.used, 8);
  Decoded d = DecodeBytes(s.w.bytes, 8, 5);
  // Code 4 lands on 34; the zero code after it ends the chain.
  EXPECT_EQ(Plane(d.block, 8), "01111111 10000000 00111111 00000000 00111111");
  // The zero code is read past the end; then the input is used up, so no
  // skip is read.
  EXPECT_EQ(d.end.position, s.w.bytes.size());
  EXPECT_EQ(d.end.bit_mask, 4);
}

// A skip that ends the input has no index to read; reading zeros would erase
// the marker the first chain left at pixel 9.
TEST(PaletteChainLimitsTest, SkipAtEndOfInputWritesNothing) {
  PaletteStream s;
  s.Run(2, 1);
  s.Code(1);
  while ((s.w.BitCount() + 3 + 6) % 8 != 0) s.Jump(0);
  s.Code(0);
  s.Run(8, 0);
  s.w.bytes.pop_back();  // the index byte that follows is cut off
  ASSERT_EQ(s.w.BitCount() % 8, 0u);
  Decoded d = DecodeBytes(s.w.bytes, 8, 2);
  EXPECT_EQ(Plane(d.block, 8), "01111111 10000000");
  EXPECT_EQ(d.end.position, s.w.bytes.size());
  EXPECT_EQ(d.end.bit_mask, 128);
}

// A plain decoder following the stream layout field by field through ReadBits,
// with separate fill and palette passes, under the same limits.
void ReferenceDecode(const DecodeJob* job, BitCursor* end) {
  const uint64_t n = job->source_length;
  BitCursor c = {(uint64_t)job->stream_offset, 128};
  auto read = [&](int bits) { return ReadBits(job->source, n, &c, bits); };
  auto count = [&]() { return read(kCountWidth[read(2)]); };
  uint8_t palette[768];
  for (int k = 0; k < 256; k++) {
    palette[3 * k + 2] = (uint8_t)read(8);
    palette[3 * k + 1] = (uint8_t)read(8);
    palette[3 * k] = (uint8_t)read(8);
  }
  const int64_t pixels = (int64_t)job->width * job->height;
  memset(job->pixels, 0, (size_t)pixels * 3);
  int64_t run = -1;
  while (c.position < n) {
    uint32_t skip = count();
    if (skip == 0) break;
    run += skip;
    if (run >= pixels || c.position >= n) break;
    uint8_t index = (uint8_t)read(8);
    job->pixels[3 * run] = index;
    int64_t chain = run;
    for (uint32_t code; (code = read(3)) != 0;) {
      static const int kMove[8] = {0, 0, 1, -1, 2, -2, 0, 4};
      if (code == 6) {
        chain += job->width * (int64_t)count();
        continue;
      }
      chain += job->width + kMove[code];
      if (chain >= 0 && chain < pixels) job->pixels[3 * chain] = index;
    }
  }
  *end = c;
  uint8_t carried = 0;
  for (int64_t p = 0; p < pixels; p++) {
    uint8_t& m = job->pixels[3 * p];
    if (m == 0)
      m = carried;
    else if (m == carried)
      m = carried = 0;
    else
      carried = m;
  }
  for (int64_t p = 0; p < pixels; p++) memcpy(job->pixels + 3 * p, palette + 3 * job->pixels[3 * p], 3);
}

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

// Streams shaped like real ones (small skips, short chains, a few indices),
// with any selector that fits, sometimes cut short or followed by noise.
std::vector<uint8_t> RandomStream(Random* r, int width, int height) {
  PaletteStream s;
  for (auto& b : s.w.bytes) b = (uint8_t)r->Next();
  auto count = [&](uint32_t v) {
    int least = v < 16 ? 0 : v < 64 ? 1 : v < 256 ? 2 : 3;
    s.CountWith(least + (int)r->Below((uint32_t)(4 - least)), v);
  };
  int runs = (int)r->Below(40);
  uint32_t area = (uint32_t)(width * height);
  for (int i = 0; i < runs; i++) {
    uint32_t roll = r->Below(100);
    uint32_t skip = roll < 2 ? 0 : roll < 90 ? 1 + r->Below(area / 4 + 2) : 1 + r->Below(area * 2);
    count(skip);
    s.w.PutByte((uint8_t)r->Below(5));
    for (int steps = (int)r->Below(8); steps > 0; steps--) {
      uint32_t code = 1 + r->Below(7);
      s.Code(code);
      if (code == 6) count(r->Below(4) ? r->Below(3) : r->Below(1u << 20));
    }
    s.Code(0);
  }
  count(0);
  std::vector<uint8_t> bytes = s.w.bytes;
  uint32_t tail = r->Below(4);
  if (tail == 0) bytes.resize(r->Below((uint32_t)bytes.size() + 1));
  if (tail == 1)
    for (int i = 0; i < 20; i++) bytes.push_back((uint8_t)r->Next());
  if (tail == 2)  // noise right after the palette
    for (size_t i = 768; i < bytes.size(); i++) bytes[i] = (uint8_t)r->Next();
  return bytes;
}

TEST(PaletteChainTest, AgreesWithReferenceOnRandomStreams) {
  Random r = {20240611};
  for (int iteration = 0; iteration < 3000; iteration++) {
    int width = iteration % 10 == 0 ? 640 : 1 + (int)r.Below(12);
    int height = 1 + (int)r.Below(6);
    int32_t offset = (int32_t)r.Below(3);
    std::vector<uint8_t> source(offset, 0x77);
    std::vector<uint8_t> stream = RandomStream(&r, width, height);
    source.insert(source.end(), stream.begin(), stream.end());

    Decoded d = DecodeBytes(source, width, height, offset);
    std::vector<uint8_t> expected((size_t)width * height * 3);
    DecodeJob job = {source.data(), expected.data(), offset, width, height, 24, 3, source.size()};
    BitCursor end;
    ReferenceDecode(&job, &end);
    ASSERT_TRUE(d.block == expected) << "iteration " << iteration;
    ASSERT_EQ(d.end.position, end.position) << "iteration " << iteration;
    ASSERT_EQ(d.end.bit_mask, end.bit_mask) << "iteration " << iteration;
  }
}

}  // namespace
