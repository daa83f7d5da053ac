// Uncompressed pictures decode to exactly their stored bytes.
#include <string.h>

#include "tests/integration/harness.h"

CONTRACT_TEST(RawPicturesDecodeExactly) {
  struct Case {
    char digit;
    int width, height;
  } cases[] = {{'2', 640, 480}, {'3', 800, 600}};
  for (const Case& c : cases) {
    std::vector<uint8_t> pixels = PatternPixels(c.width, c.height, (uint32_t)c.digit);
    std::vector<uint8_t> picture = HeaderedPicture(c.digit, 'b', pixels);
    // The picture sits at a non-zero offset inside a larger file.
    std::vector<uint8_t> file(1234 + picture.size(), 0x5A);
    memcpy(file.data() + 1234, picture.data(), picture.size());
    std::string path = TempPath(std::string("raw") + c.digit + ".gd");
    CHECK(WriteBytes(path, file));

    Decoded by_file = DecodeFile(plugin, path, 1234);
    CHECK_EQ(by_file.result, 0);
    CHECK(by_file.pixels == pixels);
    Decoded by_memory = DecodeMemory(plugin, picture);
    CHECK_EQ(by_memory.result, 0);
    CHECK(by_memory.pixels == pixels);

    const int32_t expected_header[] = {40, c.width, c.height};
    for (int i = 0; i < 3 && by_file.header.size() == 40; i++) {
      int32_t v;
      memcpy(&v, by_file.header.data() + 4 * i, 4);
      CHECK_EQ(v, expected_header[i]);
    }
  }
}
