#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "decode/chain.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Writes a string of '0' and '1' (other characters are spacing).
void PutBits(BitWriter* w, const char* bits) {
  for (; *bits; bits++)
    if (*bits == '0' || *bits == '1') w->Put((uint32_t)(*bits - '0'), 1);
}

// n - 1 ones, a zero, then n bits of v, where 2^n - 2 <= run < 2^(n+1) - 2.
void PutRun(BitWriter* w, uint32_t run) {
  int n = 1;
  while ((uint64_t)run + 2 >= ((uint64_t)1 << (n + 1))) n++;
  w->PutOnes(n - 1);
  w->Put(0, 1);
  w->Put(run + 2 - (1u << n), n);
}

void PutColour(BitWriter* w, uint8_t b, uint8_t g, uint8_t r) {
  w->PutByte(b);
  w->PutByte(g);
  w->PutByte(r);
}

void PutEnd(BitWriter* w) {
  w->PutOnes(23);
  w->Put(0, 1);
}

// Moves in columns relative to straight down, -2 to 2.
void PutMove(BitWriter* w, int columns) {
  static const char* const kCodes[] = {"0010", "01", "10", "11", "0011"};
  PutBits(w, kCodes[columns + 2]);
}

void PutChainEnd(BitWriter* w) { PutBits(w, "000"); }

struct Decoded {
  Bytes records;  // before the final pass
  Bytes pixels;   // the finished block
};

Decoded Decode(const Bytes& source, int width, int height, int32_t offset = 0) {
  DecodeJob job = {};
  Decoded d;
  d.pixels.assign((size_t)width * height * 3, 0x5A);
  job.source = source.data();
  job.source_length = source.size();
  job.pixels = d.pixels.data();
  job.stream_offset = offset;
  job.width = width;
  job.height = height;
  job.bit_count = 24;
  job.bytes_per_pixel = 3;
  DecodeChainRecords(&job);
  d.records = d.pixels;
  FillUnwrittenPixels(&job);
  // DecodeChain settles pixels along the way instead: the same block.
  Bytes swept((size_t)width * height * 3, 0x5A);
  job.pixels = swept.data();
  DecodeChain(&job);
  EXPECT_EQ(swept, d.pixels) << "one sweep and two passes differ";
  return d;
}

Bytes Pixel(const Bytes& block, size_t i) { return Bytes(block.begin() + i * 3, block.begin() + i * 3 + 3); }

const Bytes kUnwritten = {255, 255, 255};
const Bytes kBlack = {0, 0, 0};

bool HasPureWhite(const Bytes& block) {
  for (size_t i = 0; i + 2 < block.size(); i += 3)
    if (block[i] == 255 && block[i + 1] == 255 && block[i + 2] == 255) return true;
  return false;
}

// Rows of hexadecimal pixels, "b g r" each, for the worked example's tables.
Bytes FromHex(const char* text) {
  Bytes out;
  for (const char* s = text; *s;) {
    if (*s == ' ' || *s == '\n') {
      s++;
      continue;
    }
    out.push_back((uint8_t)std::stoul(std::string(s, 2), nullptr, 16));
    s += 2;
  }
  return out;
}

// ---------------------------------------------------------------------------
// A reference decoder: the grammar field by field through ReadBits, with the
// same limits. Slow and plain, to check the real one on many streams.

struct ReferenceBits {
  const uint8_t* source;
  uint64_t length;
  BitCursor cursor;
  uint64_t bits_left;
  bool Get(int n, uint32_t* v) {
    if ((uint64_t)n > bits_left) return false;
    bits_left -= (uint64_t)n;
    *v = ReadBits(source, length, &cursor, n);
    return true;
  }
};

Bytes ReferenceRecords(const Bytes& source, int32_t offset, int width, int height) {
  const int64_t count = (int64_t)width * height;
  Bytes block((size_t)count * 3, 255);
  uint64_t start = (uint64_t)offset;
  ReferenceBits bits = {source.data(), source.size(), {start, 128},
                        source.size() > start ? (source.size() - start) * 8 : 0};
  auto put = [&](int64_t i, const uint8_t* c) {
    if (i >= 0 && i < count) memcpy(&block[(size_t)i * 3], c, 3);
  };
  int64_t p = 0;
  uint32_t v;
  for (;;) {
    if (!bits.Get(2, &v)) return block;
    int64_t run;
    if (v < 2) {
      run = v;
    } else if (v == 2) {
      if (!bits.Get(2, &v)) return block;
      run = v + 2;
    } else {
      int n = 3;
      for (;;) {
        if (!bits.Get(1, &v)) return block;
        if (!v) break;
        n++;
      }
      if (n >= 24) return block;
      if (!bits.Get(n, &v)) return block;
      run = (int64_t)v + (1ll << n) - 2;
    }
    p += run;
    if (p >= count) return block;
    uint8_t c[3];
    for (int i = 0; i < 3; i++) {
      if (!bits.Get(8, &v)) return block;
      c[i] = (uint8_t)v;
    }
    put(p, c);
    if (!bits.Get(1, &v)) return block;
    if (v) {
      int64_t q = p;
      for (;;) {
        if (!bits.Get(2, &v)) return block;
        int64_t move;
        if (v) {
          move = width - 2 + (int64_t)v;
        } else {
          if (!bits.Get(1, &v)) return block;
          if (!v) break;
          if (!bits.Get(1, &v)) return block;
          move = v ? width + 2 : width - 2;
        }
        q += move;
        put(q, c);
      }
    }
    p++;
  }
}

Bytes ReferenceFinal(Bytes block) {
  uint8_t previous[3] = {0, 0, 0};
  for (size_t i = 0; i < block.size(); i += 3) {
    if (block[i] == 255 && block[i + 1] == 255 && block[i + 2] == 255)
      memcpy(&block[i], previous, 3);
    else
      memcpy(previous, &block[i], 3);
  }
  return block;
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

// ---------------------------------------------------------------------------

TEST(ChainWorkedExample, BeforeAndAfterTheFinalPass) {
  const Bytes stream = FromHex("44 48 8C F6 04 45 56 64 BB CC D5 3F FF FF 80");
  Decoded d = Decode(stream, 4, 3);
  EXPECT_EQ(d.records, FromHex("FFFFFF 112233 445566 FFFFFF"
                               "FFFFFF 112233 7799AA FFFFFF"
                               "FFFFFF FFFFFF 112233 FFFFFF"));
  EXPECT_EQ(d.pixels, FromHex("000000 112233 445566 445566"
                              "445566 112233 7799AA 7799AA"
                              "7799AA 7799AA 112233 112233"));
}

TEST(ChainWorkedExample, SameStreamAfterAnOffset) {
  Bytes source = {'P', 0};
  const Bytes stream = FromHex("44 48 8C F6 04 45 56 64 BB CC D5 3F FF FF 80");
  source.insert(source.end(), stream.begin(), stream.end());
  EXPECT_EQ(Decode(source, 4, 3, 2).pixels, Decode(stream, 4, 3).pixels);
}

// One record per stream: the run length puts the record's pixel at `run`.
struct RunCase {
  const char* bits;  // the run code as written out, or null to use PutRun
  uint32_t run;
};

class ChainRunCodes : public ::testing::TestWithParam<RunCase> {};

TEST_P(ChainRunCodes, PlaceTheRecordAtItsRunLength) {
  const RunCase& c = GetParam();
  BitWriter w;
  if (c.bits)
    PutBits(&w, c.bits);
  else
    PutRun(&w, c.run);
  PutColour(&w, 1, 2, 3);
  w.Put(0, 1);
  PutEnd(&w);
  // One row a pixel longer than the run: the record, then one filled pixel.
  int width = (int)c.run + 2;
  Decoded d = Decode(w.bytes, width, 1);
  const Bytes colour = {1, 2, 3};
  EXPECT_EQ(Pixel(d.records, c.run), colour);
  EXPECT_EQ(Pixel(d.records, c.run + 1), kUnwritten);
  if (c.run > 0) {
    EXPECT_EQ(Pixel(d.records, c.run - 1), kUnwritten);
    EXPECT_EQ(Pixel(d.pixels, 0), kBlack);
    EXPECT_EQ(Pixel(d.pixels, c.run - 1), kBlack);
  }
  EXPECT_EQ(Pixel(d.pixels, c.run + 1), colour);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ChainRunCodes,
    ::testing::Values(RunCase{"00", 0}, RunCase{"01", 1}, RunCase{"10 00", 2}, RunCase{"10 11", 5},
                      RunCase{"110 000", 6}, RunCase{"110 111", 13}, RunCase{"1110 0000", 14},
                      RunCase{"11110 11111", 61}, RunCase{"111110 100110", 100},
                      RunCase{"11111111 0 010000010", 640}, RunCase{nullptr, 1000},
                      RunCase{nullptr, 65533}, RunCase{nullptr, 8388605},
                      // 22 ones and a zero are still a run code, with a 23-bit value
                      RunCase{"1111111111 1111111111 11 0 00000000000000000000000", 8388606},
                      RunCase{"1111111111 1111111111 11 0 11111111111111111111111", 16777213}));

// Several records in one stream, each run counted from the pixel after the
// record before it.
TEST(ChainRunCodes, SuccessiveRecordsAddTheirRunsPlusOne) {
  const uint32_t runs[] = {3, 0, 0, 7, 1, 29, 30, 2, 100};
  BitWriter w;
  for (uint32_t i = 0; i < sizeof runs / sizeof runs[0]; i++) {
    PutRun(&w, runs[i]);
    PutColour(&w, (uint8_t)i, 0, 0);
    w.Put(0, 1);
  }
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 20, 10);
  Bytes expected(200 * 3, 255);
  size_t p = 0;
  for (uint32_t i = 0; i < sizeof runs / sizeof runs[0]; i++) {
    p += runs[i];
    expected[p * 3] = (uint8_t)i;
    expected[p * 3 + 1] = expected[p * 3 + 2] = 0;
    p++;
  }
  EXPECT_EQ(d.records, expected);
}

TEST(ChainEndCode, LongerRunsOfOnesEndTooAndNothingAfterIsRead) {
  for (int ones : {23, 24, 31, 64, 200}) {
    BitWriter w;
    PutRun(&w, 2);
    PutColour(&w, 9, 8, 7);
    w.Put(0, 1);
    w.PutOnes(ones);
    w.Put(0, 1);
    // A record after the end code that must not be applied.
    PutRun(&w, 0);
    PutColour(&w, 1, 1, 1);
    w.Put(0, 1);
    Decoded d = Decode(w.bytes, 8, 1);
    EXPECT_EQ(d.records, FromHex("FFFFFF FFFFFF 090807 FFFFFF FFFFFF FFFFFF FFFFFF FFFFFF")) << ones;
    EXPECT_EQ(d.pixels, FromHex("000000 000000 090807 090807 090807 090807 090807 090807")) << ones;
  }
}

TEST(ChainEndCode, TwentyThreeOnesTakeNoValueBits) {
  // Read as a run code, 23 ones, a zero and 24 zero bits would put the
  // record at pixel 16,777,214, inside this block of 4096 x 4097.
  BitWriter w;
  PutEnd(&w);
  w.Put(0, 24);
  PutColour(&w, 1, 2, 3);
  w.Put(0, 1);
  Decoded d = Decode(w.bytes, 4096, 4097);
  EXPECT_EQ(d.records, Bytes(d.records.size(), 255));
}

TEST(ChainEndCode, AtTheStartGivesAllBlack) {
  BitWriter w;
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 5, 3);
  EXPECT_EQ(d.pixels, Bytes(5 * 3 * 3, 0));
}

// ---------------------------------------------------------------------------

TEST(ChainChains, FlagThenChainEndIsTheSameAsNoChain) {
  BitWriter with, without;
  for (BitWriter* w : {&with, &without}) {
    PutRun(w, 1);
    PutColour(w, 10, 20, 30);
    if (w == &with) {
      w->Put(1, 1);
      PutChainEnd(w);
    } else {
      w->Put(0, 1);
    }
    PutRun(w, 2);
    PutColour(w, 40, 50, 60);
    w->Put(0, 1);
    PutEnd(w);
  }
  Decoded a = Decode(with.bytes, 3, 3), b = Decode(without.bytes, 3, 3);
  EXPECT_EQ(a.records, b.records);
  EXPECT_EQ(a.records, FromHex("FFFFFF 0A141E FFFFFF FFFFFF 28323C FFFFFF FFFFFF FFFFFF FFFFFF"));
}

TEST(ChainChains, EveryMoveAddsItsDistance) {
  // Width 10, from pixel 4 of row 0: -2, -1, 0, +1, +2 columns, row by row.
  BitWriter w;
  PutRun(&w, 4);
  PutColour(&w, 5, 5, 5);
  w.Put(1, 1);
  for (int m : {-2, -1, 0, 1, 2}) PutMove(&w, m);
  PutChainEnd(&w);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 10, 6);
  const size_t expected[] = {4, 12, 21, 31, 42, 54};
  Bytes want(60 * 3, 255);
  for (size_t i : expected) memset(&want[i * 3], 5, 3);
  EXPECT_EQ(d.records, want);
}

TEST(ChainChains, CrossRowEndsInMemoryOrder) {
  // Width 4. Past the right end: from the last pixel of row 0, +1 column
  // lands on the first pixel of row 2, and +2 columns from column 2 on the
  // first pixel two rows on. Past the left end: from the first pixel of a
  // row, -2 columns stay in the same row, as does -1.
  BitWriter w;
  PutRun(&w, 3);
  PutColour(&w, 1, 1, 1);
  w.Put(1, 1);
  PutMove(&w, 1);   // 3 -> 8
  PutMove(&w, -2);  // 8 -> 10
  PutMove(&w, 2);   // 10 -> 16
  PutMove(&w, -1);  // 16 -> 19
  PutChainEnd(&w);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 4, 5);
  Bytes want(20 * 3, 255);
  for (size_t i : {3, 8, 10, 16, 19}) memset(&want[i * 3], 1, 3);
  EXPECT_EQ(d.records, want);
}

TEST(ChainChains, NextRunCountsFromTheRecordsOwnPixel) {
  // A chain straight down all rows, then a record with run 2: it lands three
  // pixels after the first record, not after the chain's end.
  const int width = 7, height = 40;
  BitWriter w;
  PutRun(&w, 1);
  PutColour(&w, 3, 3, 3);
  w.Put(1, 1);
  for (int row = 1; row < height; row++) PutMove(&w, 0);
  PutChainEnd(&w);
  PutRun(&w, 2);
  PutColour(&w, 4, 4, 4);
  w.Put(0, 1);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, width, height);
  EXPECT_EQ(Pixel(d.records, 4), (Bytes{4, 4, 4}));
  for (int row = 0; row < height; row++) EXPECT_EQ(Pixel(d.records, 1 + row * width), (Bytes{3, 3, 3}));
  EXPECT_EQ(Pixel(d.records, 2), kUnwritten);
  EXPECT_EQ(Pixel(d.pixels, 2), (Bytes{3, 3, 3}));
  EXPECT_EQ(Pixel(d.pixels, 5), (Bytes{4, 4, 4}));
}

TEST(ChainChains, LaterWritesReplaceEarlierOnes) {
  // A chain sets pixel 5; the next record sets pixel 5 again.
  BitWriter w;
  PutRun(&w, 1);
  PutColour(&w, 1, 0, 0);
  w.Put(1, 1);
  PutMove(&w, 0);  // width 4: 1 -> 5
  PutChainEnd(&w);
  PutRun(&w, 2);  // 2 + 2 = 4
  PutColour(&w, 2, 0, 0);
  w.Put(1, 1);
  PutMove(&w, -1);  // 4 -> 7
  PutChainEnd(&w);
  PutRun(&w, 0);  // 5
  PutColour(&w, 3, 0, 0);
  w.Put(0, 1);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 4, 2);
  EXPECT_EQ(d.records, FromHex("FFFFFF 010000 FFFFFF FFFFFF 020000 030000 FFFFFF 020000"));
}

// ---------------------------------------------------------------------------

TEST(ChainPureWhite, FromARecordCountsAsUnwritten) {
  BitWriter w;
  PutRun(&w, 0);
  PutColour(&w, 255, 255, 255);  // pixel 0: becomes black
  w.Put(0, 1);
  PutRun(&w, 0);
  PutColour(&w, 7, 8, 9);  // pixel 1
  w.Put(0, 1);
  PutRun(&w, 0);
  PutColour(&w, 255, 255, 255);  // pixel 2: takes pixel 1's colour
  w.Put(0, 1);
  PutRun(&w, 0);
  PutColour(&w, 255, 255, 254);  // near white is an ordinary colour
  w.Put(0, 1);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 5, 1);
  EXPECT_EQ(d.pixels, FromHex("000000 070809 070809 FFFFFE FFFFFE"));
}

TEST(ChainPureWhite, FromAChainCountsAsUnwritten) {
  BitWriter w;
  PutRun(&w, 0);
  PutColour(&w, 6, 6, 6);
  w.Put(0, 1);
  PutRun(&w, 0);
  PutColour(&w, 255, 255, 255);
  w.Put(1, 1);
  PutMove(&w, 0);  // width 3: 1 -> 4, over a pixel the fill would give pixel 3's colour
  PutChainEnd(&w);
  PutRun(&w, 1);  // pixel 3
  PutColour(&w, 2, 2, 2);
  w.Put(0, 1);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 3, 2);
  EXPECT_EQ(d.pixels, FromHex("060606 060606 060606 020202 020202 020202"));
  EXPECT_FALSE(HasPureWhite(d.pixels));
}

// ---------------------------------------------------------------------------
// The limits of the block and of the input.

TEST(ChainLimits, RecordOnTheLastPixelIsWrittenOnePastEndsDecoding) {
  for (uint32_t run : {11u, 12u, 13u, 1000u}) {
    BitWriter w;
    PutRun(&w, run);
    PutColour(&w, 1, 2, 3);
    w.Put(0, 1);
    PutEnd(&w);
    Decoded d = Decode(w.bytes, 4, 3);
    Bytes want(12 * 3, 255);
    if (run < 12) memcpy(&want[run * 3], "\1\2\3", 3);
    EXPECT_EQ(d.records, want) << run;
  }
}

TEST(ChainLimits, ShortRunsPastTheBlocksEndWriteNothingBeyondIt) {
  // Records of one short run and no chain, far more than the block holds,
  // with input to spare after the end code: the runs meet the block's end
  // at each of its last pixels. Guard bytes after the block stay as they were.
  for (int width : {3, 4, 5, 7}) {
    for (int height : {1, 2, 3}) {
      for (uint32_t run = 0; run <= 4; run++) {
        BitWriter w;
        for (int i = 0; i < 3 * width * height + 8; i++) {
          PutRun(&w, run);
          PutColour(&w, (uint8_t)i, (uint8_t)(i * 7), 9);
          w.Put(0, 1);
        }
        PutEnd(&w);
        for (int i = 0; i < 32; i++) w.PutByte(0);
        const size_t size = (size_t)width * height * 3;
        Bytes block(size + 16, 0xA5);
        DecodeJob job = {w.bytes.data(), block.data(), 0, width, height, 24, 3, w.bytes.size()};
        DecodeChain(&job);
        EXPECT_EQ(Bytes(block.begin() + size, block.end()), Bytes(16, 0xA5)) << width << "x" << height << " run " << run;
        Bytes want = ReferenceFinal(ReferenceRecords(w.bytes, 0, width, height));
        EXPECT_EQ(Bytes(block.begin(), block.begin() + size), want) << width << "x" << height << " run " << run;
      }
    }
  }
}

TEST(ChainLimits, ChainPastTheBlockIsReadOnAndLaterRecordsStayInStep) {
  // Width 4, height 3: from pixel 2 the chain leaves the block after two
  // moves and goes on for many more; the next record still lands at 2 + 1 + 1.
  BitWriter w;
  PutRun(&w, 2);
  PutColour(&w, 1, 1, 1);
  w.Put(1, 1);
  for (int i = 0; i < 50; i++) PutMove(&w, (i % 5) - 2);
  PutChainEnd(&w);
  PutRun(&w, 1);
  PutColour(&w, 2, 2, 2);
  w.Put(0, 1);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 4, 3);
  // Moves of -2, -1 and 0 columns: 2 -> 4 -> 7 -> 11, then past the end.
  EXPECT_EQ(d.records, FromHex("FFFFFF FFFFFF 010101 FFFFFF 020202 FFFFFF FFFFFF 010101"
                               "FFFFFF FFFFFF FFFFFF 010101"));
}

TEST(ChainLimits, WidthOneMovesBackwardOutsideTheBlockAreSkipped) {
  // At width 1 a move of -2 columns is -1 pixel: from pixel 0 it leaves the
  // block at the front; +1 column (2 pixels) brings it back to pixel 1.
  BitWriter w;
  PutRun(&w, 0);
  PutColour(&w, 4, 4, 4);
  w.Put(1, 1);
  PutMove(&w, -2);  // -1
  PutMove(&w, 1);   // 1
  PutMove(&w, -1);  // 1 again (0 pixels)
  PutMove(&w, 2);   // 4
  PutChainEnd(&w);
  PutEnd(&w);
  Decoded d = Decode(w.bytes, 1, 5);
  EXPECT_EQ(d.records, FromHex("040404 040404 FFFFFF FFFFFF 040404"));
}

// Cuts one stream after every byte: decoding stops at the first field that
// would need a bit past the end, as in the reference.
TEST(ChainLimits, InputEndingInsideAnyField) {
  BitWriter w;
  PutRun(&w, 1);
  PutColour(&w, 1, 2, 3);
  w.Put(1, 1);
  PutMove(&w, 2);
  PutMove(&w, 0);
  PutChainEnd(&w);
  PutRun(&w, 30);
  PutColour(&w, 4, 5, 6);
  w.Put(0, 1);
  PutEnd(&w);
  const uint64_t bits = w.BitCount();
  for (uint64_t keep = 0; keep <= bits; keep += 8) {
    Bytes cut(w.bytes.begin(), w.bytes.begin() + (size_t)(keep / 8));
    Decoded d = Decode(cut, 8, 6);
    EXPECT_EQ(d.records, ReferenceRecords(cut, 0, 8, 6)) << keep;
    EXPECT_FALSE(HasPureWhite(d.pixels)) << keep;
  }
  // Two cuts spelt out. Here the third colour field has only the six zero
  // bits that fill the last byte.
  BitWriter colour_cut;
  PutRun(&colour_cut, 1);
  colour_cut.Put(0x0102, 16);
  Decoded d = Decode(colour_cut.bytes, 4, 2);
  EXPECT_EQ(d.records, Bytes(8 * 3, 255));
  EXPECT_EQ(d.pixels, Bytes(8 * 3, 0));

  // Here the colour ends on the input's last bit: it is written, and the
  // missing chain flag ends the picture.
  BitWriter flag_cut;
  PutBits(&flag_cut, "1110 0000");  // run 14
  PutColour(&flag_cut, 7, 7, 7);
  ASSERT_EQ(flag_cut.BitCount(), 32u);
  d = Decode(flag_cut.bytes, 16, 1);
  EXPECT_EQ(Pixel(d.records, 14), (Bytes{7, 7, 7}));
  EXPECT_EQ(Pixel(d.pixels, 15), (Bytes{7, 7, 7}));
}

TEST(ChainLimits, OnesRunningToTheEndOfTheInput) {
  // A record of 27 bits, then fewer than 23 ones up to the input's last bit:
  // a run code's prefix that never meets its zero.
  for (int ones : {5, 13, 21}) {
    BitWriter w;
    PutRun(&w, 0);
    PutColour(&w, 9, 9, 9);
    w.Put(0, 1);
    w.PutOnes(ones);
    ASSERT_EQ(w.BitCount() % 8, 0u);
    Decoded d = Decode(w.bytes, 3, 1);
    EXPECT_EQ(d.records, FromHex("090909 FFFFFF FFFFFF")) << ones;
    EXPECT_EQ(d.pixels, FromHex("090909 090909 090909")) << ones;
  }
}

TEST(ChainLimits, EndlessChainEndsWithTheInput) {
  // A chain that never ends, far past the block, and a large input.
  BitWriter w;
  PutRun(&w, 0);
  PutColour(&w, 1, 2, 3);
  w.Put(1, 1);
  w.PutOnes(5);  // to the byte's end
  Bytes stream = w.bytes;
  stream.resize(1 << 20, 0xFF);  // moves of +1 column for ever
  Decoded d = Decode(stream, 5, 4);
  Bytes want(20 * 3, 255);
  for (size_t i : {0, 6, 12, 18}) memcpy(&want[i * 3], "\1\2\3", 3);
  EXPECT_EQ(d.records, want);
  EXPECT_FALSE(HasPureWhite(d.pixels));
}

TEST(ChainLimits, StreamOffsetAtOrPastTheEnd) {
  const Bytes source = {0x44, 0x48, 0x8C};
  for (int32_t offset : {3, 4, 1000}) {
    Decoded d = Decode(source, 2, 2, offset);
    EXPECT_EQ(d.pixels, Bytes(4 * 3, 0)) << offset;
  }
}

// ---------------------------------------------------------------------------
// Agreement with the reference decoder.

void PutRandomStream(Random* rng, int width, int height, BitWriter* w) {
  int records = (int)rng->Below(12);
  for (int i = 0; i < records; i++) {
    uint32_t kind = rng->Below(10);
    uint32_t run = kind < 6 ? rng->Below(4) : kind < 9 ? rng->Below((uint32_t)(width * height) + 1)
                                                       : rng->Below(1u << 20);
    PutRun(w, run);
    if (rng->Below(8) == 0)
      PutColour(w, 255, 255, 255);
    else
      PutColour(w, (uint8_t)rng->Next(), (uint8_t)rng->Next(), (uint8_t)rng->Next());
    if (rng->Below(2)) {
      w->Put(1, 1);
      int moves = (int)rng->Below((uint32_t)height + 3);
      // Some chains mostly straight down, as along a vertical edge, where
      // the moves are taken many at a time.
      bool straight = rng->Below(3) == 0;
      for (int m = 0; m < moves; m++) PutMove(w, straight && rng->Below(12) ? 0 : (int)rng->Below(5) - 2);
      PutChainEnd(w);
    } else {
      w->Put(0, 1);
    }
  }
  if (rng->Below(4)) PutEnd(w);
}

TEST(ChainReference, AgreesOnRandomStreams) {
  Random rng = {0x9E3779B9u};
  const int widths[] = {1, 2, 3, 4, 7, 16, 33};
  for (int iteration = 0; iteration < 6000; iteration++) {
    int width = widths[rng.Below(7)];
    int height = 1 + (int)rng.Below(iteration % 4 == 1 ? 70 : 9);
    Bytes source;
    int32_t offset = (int32_t)rng.Below(3);
    for (int32_t i = 0; i < offset; i++) source.push_back((uint8_t)rng.Next());
    if (iteration % 3 == 0) {
      // Any bytes at all: every string of bits is a stream.
      size_t n = rng.Below(80);
      for (size_t i = 0; i < n; i++) source.push_back((uint8_t)(rng.Below(2) ? rng.Next() : rng.Next() & 0x0F));
    } else {
      BitWriter w;
      PutRandomStream(&rng, width, height, &w);
      source.insert(source.end(), w.bytes.begin(), w.bytes.end());
      if (rng.Below(3) == 0) source.resize(offset + rng.Below((uint32_t)w.bytes.size() + 1));
    }
    Decoded d = Decode(source, width, height, offset);
    Bytes want = ReferenceRecords(source, offset, width, height);
    ASSERT_EQ(d.records, want) << "iteration " << iteration;
    ASSERT_EQ(d.pixels, ReferenceFinal(want)) << "iteration " << iteration;
    ASSERT_FALSE(HasPureWhite(d.pixels));
  }
}

}  // namespace
