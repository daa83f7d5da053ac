// LZ pictures of every size decode to the pixels they were coded from.
#include <string.h>

#include "encode/encode.h"
#include "tests/integration/harness.h"

CONTRACT_TEST(LzPicturesDecodeExactly) {
  struct Case {
    const char* name;
    char digit;  // 0: headerless
    char mode;
    int width, height;
  } cases[] = {{"lz.gd", 0, 'L', 640, 480}, {"lz2.gd", '2', 'l', 640, 480}, {"lz3.dcl", '3', 'L', 800, 600}};
  for (const Case& c : cases) {
    std::vector<uint8_t> pixels = PatternPixels(c.width, c.height, (uint32_t)c.width + (uint32_t)c.mode);
    // The upper half repeats rows from far below, and runs of one colour,
    // so that the stream holds copies of every reach.
    size_t row = (size_t)c.width * 3;
    for (int y = c.height / 2; y < c.height; y++) {
      memcpy(&pixels[y * row], &pixels[(y - 13 - y % 11) * row], row);
      memset(&pixels[y * row + (y % 40) * 30], y, (size_t)(y % 7) * 50);
    }
    std::vector<uint8_t> stream;
    CHECK_EQ(EncodeLz(pixels.data(), c.width, c.height, &stream), 1);
    std::vector<uint8_t> picture;
    if (c.digit) {
      picture = HeaderedPicture(c.digit, c.mode, stream);
    } else {
      picture.resize(2 + stream.size());
      picture[0] = (uint8_t)c.mode;
      memcpy(picture.data() + 2, stream.data(), stream.size());
    }
    std::vector<uint8_t> file(77 + picture.size(), 0x3C);
    memcpy(file.data() + 77, picture.data(), picture.size());
    std::string path = TempPath(c.name);
    CHECK(WriteBytes(path, file));

    Decoded by_file = DecodeFile(plugin, path, 77);
    CHECK_EQ(by_file.result, 0);
    CHECK(by_file.pixels == pixels);
    Decoded by_memory = DecodeMemory(plugin, picture);
    CHECK_EQ(by_memory.result, 0);
    CHECK(by_memory.pixels == pixels);
  }
}

// Runs that repeat every 1 to 7 bytes, long enough to be coded as strings of
// the longest copy from the same distance, which the decoders store a
// period at a time: each row has its own period and phase, and a few runs
// break off at odd points, one just before the block's end.
CONTRACT_TEST(LzRunsOfEveryPeriodDecodeExactly) {
  const int width = 640, height = 480;
  const size_t row = (size_t)width * 3;
  std::vector<uint8_t> pixels((size_t)height * row);
  uint32_t state = 12345;
  for (int y = 0; y < height; y++) {
    const size_t period = 1 + (size_t)y % 7;
    uint8_t pattern[7];
    for (size_t k = 0; k < period; k++) {
      state = state * 1103515245u + 12345u;
      pattern[k] = (uint8_t)(state >> 16);
    }
    // A break of a few other bytes somewhere in most rows.
    const size_t break_at = (size_t)(y * 37) % row, break_length = (size_t)y % 5;
    for (size_t x = 0; x < row; x++)
      pixels[y * row + x] = x >= break_at && x < break_at + break_length ? (uint8_t)(x ^ y) : pattern[(x + y) % period];
  }
  pixels[pixels.size() - 7] ^= 0x55;
  std::vector<uint8_t> stream;
  CHECK_EQ(EncodeLz(pixels.data(), width, height, &stream), 1);
  std::vector<uint8_t> picture = HeaderedPicture('2', 'l', stream);
  Decoded got = DecodeMemory(plugin, picture);
  CHECK_EQ(got.result, 0);
  CHECK(got.pixels == pixels);
}
