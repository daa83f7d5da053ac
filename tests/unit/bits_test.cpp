#include <gtest/gtest.h>

#include "decode/decode.h"

namespace {

struct ReadCase {
  std::vector<uint8_t> bytes;
  uint64_t position;
  uint8_t mask;
  int32_t wanted;
  uint32_t expected;
  uint64_t end_position;
  uint8_t end_mask;
};

class ReadBitsTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadBitsTest, ReadsFieldAndMovesCursor) {
  const ReadCase& c = GetParam();
  BitCursor cursor = {c.position, c.mask};
  EXPECT_EQ(ReadBits(c.bytes.data(), c.bytes.size(), &cursor, c.wanted), c.expected);
  EXPECT_EQ(cursor.position, c.end_position);
  EXPECT_EQ(cursor.bit_mask, c.end_mask);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadBitsTest,
    ::testing::Values(
        // counts below 1 read nothing and keep the cursor, a zero mask included
        ReadCase{{0xFF}, 0, 128, 0, 0, 0, 128}, ReadCase{{0xFF}, 0, 0, -5, 0, 0, 0},
        ReadCase{{0xFF}, 0, 16, 0, 0, 0, 16},
        // a zero mask reads as 128
        ReadCase{{0xB4}, 0, 0, 4, 11, 0, 8},
        // whole bytes, big-endian fields
        ReadCase{{0xB4}, 0, 128, 8, 0xB4, 1, 128}, ReadCase{{0x12, 0x34}, 0, 128, 16, 0x1234, 2, 128},
        // a 16-bit field starting mid-byte takes its high bits from the rest of the byte
        ReadCase{{0xB4, 0x0F, 0xF0}, 0, 16, 16, 0xA07F, 2, 16},
        // the last bit of a byte moves to the next byte
        ReadCase{{0x01}, 0, 1, 1, 1, 1, 128},
        // more than 32 bits read exactly 32
        ReadCase{{0x12, 0x34, 0x56, 0x78, 0x9A}, 0, 128, 40, 0x12345678u, 4, 128},
        ReadCase{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 8, 33, 0xFFFFFFFFu, 4, 8},
        // past the end zeros are read and the position goes on counting
        ReadCase{{0xFF}, 0, 8, 8, 0xF0, 1, 8}, ReadCase{{}, 0, 128, 32, 0, 4, 128},
        ReadCase{{0xAB}, 5, 128, 8, 0, 6, 128}));

TEST(ReadBitsTest, WorkedExample) {
  const uint8_t bytes[] = {0xB4, 0x0F};
  BitCursor cursor = {0, 128};
  EXPECT_EQ(ReadBits(bytes, 2, &cursor, 3), 5u);
  EXPECT_EQ(cursor.position, 0u);
  EXPECT_EQ(cursor.bit_mask, 16);
  EXPECT_EQ(ReadBits(bytes, 2, &cursor, 5), 20u);
  EXPECT_EQ(cursor.position, 1u);
  EXPECT_EQ(cursor.bit_mask, 128);
  EXPECT_EQ(ReadBits(bytes, 2, &cursor, 8), 15u);
  EXPECT_EQ(cursor.position, 2u);
  EXPECT_EQ(cursor.bit_mask, 128);
}

// Any split of a stream into fields reads the same bits as one bit at a time.
TEST(ReadBitsTest, FieldsAgreeWithSingleBits) {
  std::vector<uint8_t> bytes(64);
  uint32_t seed = 12345;
  for (auto& b : bytes) b = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
  BitCursor a = {0, 128}, b = {0, 128};
  for (int step = 0; step < 200; step++) {
    int n = 1 + (int)((seed = seed * 1103515245u + 12345u) >> 16) % 32;
    uint32_t expected = 0;
    for (int i = 0; i < n; i++) expected = (expected << 1) | ReadBits(bytes.data(), bytes.size(), &b, 1);
    ASSERT_EQ(ReadBits(bytes.data(), bytes.size(), &a, n), expected) << "step " << step;
    ASSERT_EQ(a.position, b.position);
    ASSERT_EQ(a.bit_mask, b.bit_mask);
  }
}

TEST(CopyRawTest, CopiesFromStreamOffsetAndZeroesWhatIsMissing) {
  std::vector<uint8_t> source(10 + 4 * 2 * 3 - 5);
  for (size_t i = 0; i < source.size(); i++) source[i] = (uint8_t)(i * 7 + 1);
  std::vector<uint8_t> block(4 * 2 * 3, 0xCD);
  DecodeJob job = {source.data(), block.data(), 10, 4, 2, 24, 3, source.size()};
  CopyRaw(&job);
  for (size_t k = 0; k < block.size(); k++) {
    uint8_t expected = 10 + k < source.size() ? source[10 + k] : 0;
    EXPECT_EQ(block[k], expected) << "byte " << k;
  }
}

TEST(CopyRawTest, CopiesExactlyTheBlock) {
  std::vector<uint8_t> source(2 + 24 + 8, 0x5A);
  for (size_t i = 0; i < source.size(); i++) source[i] = (uint8_t)i;
  std::vector<uint8_t> block(24 + 4, 0xEE);  // guard bytes after the block
  DecodeJob job = {source.data(), block.data(), 2, 4, 2, 24, 3, source.size()};
  CopyRaw(&job);
  for (size_t k = 0; k < 24; k++) EXPECT_EQ(block[k], source[2 + k]);
  for (size_t k = 24; k < block.size(); k++) EXPECT_EQ(block[k], 0xEE);
}

}  // namespace
