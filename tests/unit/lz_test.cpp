#include <gtest/gtest.h>

#include <random>

#include "decode/dispatch.h"
#include "decode/lz.h"
#include "format/variant.h"
#include "tests/support/bit_writer.h"

namespace {

struct LzCodes {
  BitWriter w;
  LzCodes& Literal(uint8_t v) { return w.Put(1, 1), w.Put(v, 8), *this; }
  LzCodes& Copy(uint32_t ring_position, uint32_t length_field) {
    return w.Put(0, 1), w.Put(ring_position, 16), w.Put(length_field, 4), *this;
  }
  LzCodes& End() { return w.Put(0, 17), *this; }
};

struct Decoded {
  std::vector<uint8_t> block;
  uint64_t count;
  BitCursor end;
};

const uint8_t kGuard = 0xA5;

// Decodes into a block of block_bytes followed by guard bytes that must stay.
Decoded DecodeStream(const std::vector<uint8_t>& source, uint64_t block_bytes, int32_t offset = 0,
                     uint64_t source_length = UINT64_MAX) {
  std::vector<uint8_t> block(block_bytes + 16, kGuard);
  DecodeJob job = {source.data(), block.data(), offset, (int32_t)block_bytes, 1, 8, 1,
                   source_length < source.size() ? source_length : source.size()};
  Decoded d;
  d.count = DecodeLzStream(&job, &d.end);
  for (size_t i = block_bytes; i < block.size(); i++) EXPECT_EQ(block[i], kGuard) << "written past the block";
  block.resize(block_bytes);
  d.block = block;
  return d;
}

// The byte sequence a block of `size` holds after `bytes` were decoded.
std::vector<uint8_t> Filled(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size, 0xFF);
  return bytes;
}

// The coding decoded step by step with a real ring, for comparison: ring
// positions not yet written hold 0, and a code is taken only if it fits.
uint64_t ReferenceLz(const DecodeJob* job, BitCursor* cursor) {
  static uint8_t ring[65536];
  memset(ring, 0, sizeof ring);
  uint64_t total = PixelBlockBytes(job);
  memset(job->pixels, 0xFF, total);
  *cursor = {(uint64_t)job->stream_offset, 128};
  uint64_t limit = job->source_length * 8;
  auto bit_at = [](const BitCursor& c) { return c.position * 8 + (uint64_t)__builtin_clz(c.bit_mask) - 24; };
  uint16_t write = 1;
  uint64_t out = 0;
  while (out < total) {
    BitCursor c = *cursor;
    if (bit_at(c) + 1 > limit) break;
    if (ReadBits(job->source, job->source_length, &c, 1)) {
      if (bit_at(*cursor) + 9 > limit) break;
      uint8_t v = (uint8_t)ReadBits(job->source, job->source_length, &c, 8);
      job->pixels[out++] = v;
      ring[write++] = v;
      *cursor = c;
      continue;
    }
    if (bit_at(*cursor) + 17 > limit) break;
    uint16_t p = (uint16_t)ReadBits(job->source, job->source_length, &c, 16);
    if (p == 0) {
      *cursor = c;
      break;
    }
    if (bit_at(*cursor) + 21 > limit) break;
    uint32_t n = ReadBits(job->source, job->source_length, &c, 4) + 3;
    *cursor = c;
    for (uint32_t j = 0; j < n && out < total; j++) {
      uint8_t b = ring[(uint16_t)(p + j)];
      ring[write++] = b;
      job->pixels[out++] = b;
    }
  }
  return out;
}

struct ExampleCase {
  std::vector<uint8_t> stream;
  std::vector<uint8_t> bytes;
  uint64_t end_position;
  uint8_t end_mask;
};

TEST(LzDecodeTest, WorkedExamples) {
  const ExampleCase cases[] = {
      {{0xA0, 0xD0, 0x80, 0x00, 0x20, 0x00, 0x00}, {0x41, 0x42, 0x41, 0x42, 0x41}, 7, 128},
      {{0x83, 0x80, 0x00, 0x48, 0x00, 0x00}, {7, 7, 7, 7, 7, 7}, 5, 1},  // 47 bits
      {{0x00, 0x00, 0x00}, {}, 2, 64},                                    // 17 bits
  };
  for (const ExampleCase& c : cases) {
    Decoded d = DecodeStream(c.stream, 12);
    EXPECT_EQ(d.block, Filled(c.bytes, 12));
    EXPECT_EQ(d.count, c.bytes.size());
    EXPECT_EQ(d.end.position, c.end_position);
    EXPECT_EQ(d.end.bit_mask, c.end_mask);
  }
}

struct CopyCase {
  const char* what;
  int literals;  // literals 1, 2, ... before the copy
  uint32_t ring_position, length_field;
  std::vector<uint8_t> copied;
};

TEST(LzDecodeTest, CopiesRepeatAndOverlap) {
  const CopyCase cases[] = {
      {"length 3", 20, 1, 0, {1, 2, 3}},
      {"length 18", 20, 1, 15, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}},
      {"from the middle", 20, 6, 1, {6, 7, 8, 9}},
      {"last byte repeated", 3, 3, 15, std::vector<uint8_t>(18, 3)},
      {"two back", 2, 1, 4, {1, 2, 1, 2, 1, 2, 1}},
      {"three back", 3, 1, 5, {1, 2, 3, 1, 2, 3, 1, 2}},
      {"just apart", 19, 2, 15, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
      {"one byte overlap", 17, 1, 15, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 1}},
  };
  for (const CopyCase& c : cases) {
    LzCodes s;
    std::vector<uint8_t> expected;
    for (int i = 1; i <= c.literals; i++) s.Literal((uint8_t)i), expected.push_back((uint8_t)i);
    s.Copy(c.ring_position, c.length_field).Literal(0x77).End();
    expected.insert(expected.end(), c.copied.begin(), c.copied.end());
    expected.push_back(0x77);
    EXPECT_EQ(DecodeStream(s.w.bytes, 64).block, Filled(expected, 64)) << c.what;
  }
}

// Differs between byte n and byte n + 65536.
uint8_t LiteralValue(uint32_t n) { return (uint8_t)(n * 7 + (n >> 8) * 13 + (n >> 16) * 101 + 1); }

// Around the ring's end: after 65,535 bytes the write position is 0.
TEST(LzDecodeTest, RingWrapsAtBothEnds) {
  struct Case {
    const char* what;
    uint32_t literals, ring_position;
    std::vector<uint32_t> from;  // indices of the decoded bytes the copy repeats
  } cases[] = {
      {"at 65535 the last byte sits at 65535", 65535, 65535, {65534, 65534, 65534}},
      {"65535 goes on at 0 and 1", 65545, 65535, {65534, 65535, 65536}},
      {"then 0 and 1 hold bytes 65535 and 65536", 65537, 65535, {65534, 65535, 65536}},
      {"overlap across the wrap", 65536, 65535, {65534, 65535, 65536}},
      {"position 1 was overwritten", 65540, 1, {65536, 65537, 65538}},
      {"before the wrap position 1 is the first byte", 65534, 1, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    LzCodes s;
    std::vector<uint8_t> expected;
    for (uint32_t n = 0; n < c.literals; n++) s.Literal(LiteralValue(n)), expected.push_back(LiteralValue(n));
    s.Copy(c.ring_position, 0).End();
    for (uint32_t n : c.from) expected.push_back(expected[n]);
    Decoded d = DecodeStream(s.w.bytes, 70000);
    EXPECT_EQ(d.count, c.literals + 3) << c.what;
    EXPECT_TRUE(d.block == Filled(expected, 70000)) << c.what;
  }
}

TEST(LzDecodeTest, NeverWrittenPositionsReadZero) {
  struct Case {
    const char* what;
    LzCodes codes;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"first code a copy", LzCodes().Copy(5, 0), {0, 0, 0}},
      {"the write position itself", LzCodes().Literal(9).Literal(8).Copy(3, 0), {9, 8, 0, 0, 0}},
      {"from 65535 through 0 to the first byte", LzCodes().Literal(9).Literal(8).Copy(65535, 1),
       {9, 8, 0, 0, 9, 8}},
  };
  for (Case& c : cases) EXPECT_EQ(DecodeStream(c.codes.End().w.bytes, 8).block, Filled(c.bytes, 8)) << c.what;
}

TEST(LzDecodeTest, StreamAtOffsetTwoSkipsLeadingBytes) {
  LzCodes s;
  s.Literal(5).Literal(6).Copy(1, 3).Literal(7).End();
  std::vector<uint8_t> shifted = {0xFF, 0xFF};  // would read as literals
  shifted.insert(shifted.end(), s.w.bytes.begin(), s.w.bytes.end());
  Decoded at0 = DecodeStream(s.w.bytes, 16), at2 = DecodeStream(shifted, 16, 2);
  EXPECT_EQ(at0.block, Filled({5, 6, 5, 6, 5, 6, 5, 6, 7}, 16));
  EXPECT_EQ(at2.block, at0.block);
  EXPECT_EQ(at2.end.position, at0.end.position + 2);
  EXPECT_EQ(at2.end.bit_mask, at0.end.bit_mask);
}

TEST(LzDecodeTest, StopsWhenTheBlockIsFull) {
  LzCodes literals;  // no end code: what follows the fourth literal is not read
  for (int i = 1; i <= 6; i++) literals.Literal((uint8_t)i);
  Decoded d = DecodeStream(literals.w.bytes, 4);
  EXPECT_EQ(d.block, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(d.end.position, 4u);  // 36 bits
  EXPECT_EQ(d.end.bit_mask, 8);

  LzCodes copy;  // a copy running past the block's end
  copy.Literal(1).Literal(2).Copy(1, 15).End();
  d = DecodeStream(copy.w.bytes, 10);
  EXPECT_EQ(d.block, (std::vector<uint8_t>{1, 2, 1, 2, 1, 2, 1, 2, 1, 2}));
  EXPECT_EQ(d.count, 10u);
  EXPECT_EQ(d.end.position, 4u);  // 39 bits
  EXPECT_EQ(d.end.bit_mask, 1);
}

TEST(LzDecodeTest, InputCutMidCodeEndsAtTheLastWholeCode) {
  LzCodes s;
  s.Literal(0x11).Literal(0x22).Copy(1, 0).Literal(0x33).End();
  const uint64_t code_ends[] = {9, 18, 39, 48, 65};
  const std::vector<uint8_t> full = {0x11, 0x22, 0x11, 0x22, 0x11, 0x33};
  const size_t bytes_after[] = {1, 2, 5, 6, 6};
  for (uint64_t cut = 0; cut <= s.w.bytes.size(); cut++) {
    uint64_t end_bit = 0;
    size_t bytes = 0;
    for (int i = 0; i < 5; i++)
      if (code_ends[i] <= cut * 8) end_bit = code_ends[i], bytes = bytes_after[i];
    Decoded d = DecodeStream(s.w.bytes, 8, 0, cut);
    EXPECT_EQ(d.block, Filled(std::vector<uint8_t>(full.begin(), full.begin() + bytes), 8)) << cut;
    EXPECT_EQ(d.end.position, end_bit / 8) << cut;
    EXPECT_EQ(d.end.bit_mask, 128 >> (end_bit % 8)) << cut;
  }
}

TEST(LzDecodeTest, UpperAndLowerCaseLettersDecodeAlike) {
  LzCodes s;
  for (int i = 0; i < 300; i++) s.Literal((uint8_t)(i * 31));
  for (int i = 0; i < 5000; i++) s.Copy(1 + (i * 97) % 300, i % 16);
  s.End();
  struct Case {
    std::vector<uint8_t> head;
    GdVariant upper, lower;
  } cases[] = {
      {{'L', 0}, 1, 2},
      {std::vector<uint8_t>(9030, 0), 6, 7},
      {std::vector<uint8_t>(14166, 0), 11, 12},
  };
  cases[1].head[0] = cases[2].head[0] = 'G';
  cases[1].head[1] = cases[2].head[1] = 'D';
  cases[1].head[2] = '2';
  cases[2].head[2] = '3';
  for (Case& c : cases) {
    std::vector<uint8_t> pixels[2];
    for (int lower = 0; lower < 2; lower++) {
      std::vector<uint8_t> picture = c.head;
      picture[picture.size() == 2 ? 0 : picture.size() - 2] = lower ? 'l' : 'L';
      picture.insert(picture.end(), s.w.bytes.begin(), s.w.bytes.end());
      GdVariant variant = -1;
      ASSERT_TRUE(DetectVariantInMemory(&kPortableTextOps, nullptr, picture.data(), picture.size(), &variant));
      EXPECT_EQ(variant, lower ? c.lower : c.upper);
      const GdVariantRow& row = GdVariantTable[variant];
      pixels[lower].assign((size_t)row.width * row.height * 3, 0);
      DecodeJob job = {picture.data(), pixels[lower].data(), row.stream_offset, row.width, row.height, 24, 3,
                       picture.size()};
      RunDecoder(row.decoder, &job);
      if (lower) continue;
      std::vector<uint8_t> expected(pixels[0].size());
      job.pixels = expected.data();
      BitCursor end;
      ReferenceLz(&job, &end);
      EXPECT_TRUE(pixels[0] == expected);
    }
    EXPECT_TRUE(pixels[0] == pixels[1]);
  }
}

// Long runs of the same copy of 18 bytes, as flat colour and repeated rows
// give, for distances with and without a whole period in 18, through the
// ring's wrap: where the next copy's ring position would be 0 there stands
// either the end code, followed by bits that would make that copy, or a
// literal and a new run.
TEST(LzDecodeTest, RunsOfOneCopyMatchReference) {
  const uint32_t backs[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 17, 18, 19, 24, 100, 1920};
  for (uint32_t back : backs) {
    for (int end_at_wrap = 0; end_at_wrap < 2; end_at_wrap++) {
      const uint64_t block_bytes = 80000 + back;
      LzCodes s;
      uint32_t written = 0;
      for (; written < back; written++) s.Literal(LiteralValue(written));
      while (written < block_bytes + 40) {
        uint32_t position = (written + 1 - back) & 0xFFFF;
        if (position == 0) {
          if (end_at_wrap) {
            // Input goes on past the end code, so the fast loop is still
            // running when it reaches it.
            s.End();
            for (int i = 0; i < 16; i++) s.Literal(0xF5);
            break;
          }
          s.Literal(0x3C);
          written++;
          continue;
        }
        // Now and then a shorter copy breaks the run; one also lines the
        // run up so that a copy of 18 ends just where position 0 is next.
        uint32_t to_wrap = 65536 - position;
        uint32_t length_field = written % 997 < 18 ? 9 : 15;
        if (to_wrap > 18 && to_wrap < 36) {
          if (to_wrap - 18 < 3) {
            s.Literal(0x3C);
            written++;
            continue;
          }
          length_field = to_wrap - 18 - 3;
        }
        s.Copy(position, length_field);
        written += length_field + 3;
      }
      for (int cut = 0; cut < 2; cut++) {
        uint64_t length = s.w.bytes.size() - (cut ? 3 : 0);
        std::vector<uint8_t> got(block_bytes), want(block_bytes);
        DecodeJob job = {s.w.bytes.data(), got.data(), 0, (int32_t)block_bytes, 1, 8, 1, length};
        BitCursor got_end, want_end;
        uint64_t got_count = DecodeLzStream(&job, &got_end);
        job.pixels = want.data();
        uint64_t want_count = ReferenceLz(&job, &want_end);
        ASSERT_EQ(got_count, want_count) << back << " " << end_at_wrap << " " << cut;
        ASSERT_TRUE(got == want) << back << " " << end_at_wrap << " " << cut;
        ASSERT_EQ(got_end.position, want_end.position) << back;
        ASSERT_EQ(got_end.bit_mask, want_end.bit_mask) << back;
      }
    }
  }
}

// Random code sequences, cut anywhere, against the step-by-step decoding.
TEST(LzDecodeTest, MatchesReferenceOnRandomStreams) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; round++) {
    uint64_t block_bytes = round % 10 == 0 ? 150000 + rng() % 100000 : 1 + rng() % 3000;
    LzCodes s;
    uint32_t offset = rng() % 4;
    for (uint32_t i = 0; i < offset; i++) s.w.Put(rng() & 0xFF, 8);
    uint32_t written = 0;
    while (written < block_bytes + 40 && rng() % (block_bytes > 100000 ? 100000 : 2000) != 0) {
      uint32_t kind = rng() % 8, write = (written + 1) & 0xFFFF;
      if (kind < 3) {
        s.Literal((uint8_t)(rng() % 4 ? rng() % 8 : rng()));
        written++;
        continue;
      }
      uint32_t back = kind < 6 ? 1 + rng() % 20 : kind == 6 ? 1 + rng() % 65536 : 0;
      uint32_t position = kind == 7 ? 1 + rng() % 65535 : (write - back) & 0xFFFF;
      if (position == 0) continue;
      uint32_t length = rng() % 16;
      s.Copy(position, length);
      written += length + 3;
    }
    if (rng() % 4) s.End();
    uint64_t length = s.w.bytes.size() - (rng() % 3 == 0 ? rng() % 8 : 0);
    std::vector<uint8_t> got(block_bytes), want(block_bytes);
    DecodeJob job = {s.w.bytes.data(), got.data(), (int32_t)offset, (int32_t)block_bytes, 1, 8, 1, length};
    BitCursor got_end, want_end;
    uint64_t got_count = DecodeLzStream(&job, &got_end);
    job.pixels = want.data();
    uint64_t want_count = ReferenceLz(&job, &want_end);
    ASSERT_EQ(got_count, want_count) << round;
    ASSERT_TRUE(got == want) << round;
    ASSERT_EQ(got_end.position, want_end.position) << round;
    ASSERT_EQ(got_end.bit_mask, want_end.bit_mask) << round;
  }
}

}  // namespace
