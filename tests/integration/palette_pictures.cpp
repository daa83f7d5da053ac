// Palette pictures (".HHP") through the plug-in: the name decides the form,
// and the same bytes as memory input are whatever their content says.
#include <string.h>

#include "encode/encode.h"
#include "tests/integration/harness.h"
#include "tests/support/bit_writer.h"

namespace {

const int kWidth = 640, kHeight = 400;

struct Colour {
  uint8_t red, green, blue;
};
// Entry 0's red value is the picture's first byte: 'x'.
const Colour kPalette[4] = {{'x', 0x10, 0x20}, {0xFF, 0x80, 0x00}, {0x11, 0x22, 0x33}, {0xC0, 0xC1, 0xC2}};

// The picture drawn: a rectangle of colour 1, a parallelogram of colour 2
// leaning one column right per row, and a band of colour 3 broken for ten rows.
int ColourAt(int row, int column) {
  if (row >= 10 && row < 100 && column >= 20 && column < 120) return 1;
  int lean = row - 150;
  if (row >= 150 && row < 250 && column >= 200 + lean && column < 300 + lean) return 2;
  if (row >= 300 && (row < 330 || row >= 340) && column >= 400 && column < 410) return 3;
  return 0;
}

std::vector<uint8_t> ExpectedPixels() {
  std::vector<uint8_t> px((size_t)kWidth * kHeight * 3);
  for (int r = 0; r < kHeight; r++)
    for (int c = 0; c < kWidth; c++) {
      const Colour& k = kPalette[ColourAt(r, c)];
      uint8_t* p = &px[3 * ((size_t)r * kWidth + c)];
      p[0] = k.blue;
      p[1] = k.green;
      p[2] = k.red;
    }
  return px;
}

struct Writer {
  BitWriter w;
  long last = -1;  // the previous run's pixel
  void Count(uint32_t n) {
    int selector = n < 16 ? 0 : n < 64 ? 1 : n < 256 ? 2 : 3;
    const int widths[4] = {4, 6, 8, 20};
    w.Put((uint32_t)selector, 2);
    w.Put(n, widths[selector]);
  }
  void Run(int row, int column, uint8_t index) {
    long at = (long)row * kWidth + column;
    Count((uint32_t)(at - last));
    last = at;
    w.PutByte(index);
  }
  void Steps(uint32_t code, int n) {
    for (int i = 0; i < n; i++) w.Put(code, 3);
  }
};

// Each edge of each shape is one run with its chain; an edge's marker opens
// the span on the left and closes it on the right.
std::vector<uint8_t> PalettePicture() {
  Writer s;
  for (const Colour& k : kPalette) {
    s.w.PutByte(k.red);
    s.w.PutByte(k.green);
    s.w.PutByte(k.blue);
  }
  for (int k = 4; k < 256; k++) s.w.Put(0xFFFFFF, 24);  // unused entries
  for (int column : {20, 120}) {
    s.Run(10, column, 1);
    s.Steps(1, 89);
    s.Steps(0, 1);
  }
  for (int column : {200, 300}) {
    s.Run(150, column, 2);
    s.Steps(2, 99);
    s.Steps(0, 1);
  }
  for (int column : {400, 410}) {
    s.Run(300, column, 3);
    s.Steps(1, 29);  // to row 329
    s.Steps(6, 1);
    s.Count(10);     // row 339, not written
    s.Steps(1, 60);  // rows 340 to 399
    s.Steps(0, 1);
  }
  s.Count(0);
  return s.w.bytes;
}

void CheckHeader(const Decoded& d, int width, int height) {
  CHECK_EQ(d.header.size(), 40);
  if (d.header.size() != 40) return;
  int32_t w, h;
  memcpy(&w, d.header.data() + 4, 4);
  memcpy(&h, d.header.data() + 8, 4);
  CHECK_EQ(w, width);
  CHECK_EQ(h, height);
  CHECK_EQ(d.pixels.size(), (size_t)width * height * 3);
}

}  // namespace

CONTRACT_TEST(PalettePictureDecodesByName) {
  std::vector<uint8_t> picture = PalettePicture();
  std::vector<uint8_t> expected = ExpectedPixels();
  struct Case {
    const char* name;
    size_t offset;
  } cases[] = {{"shapes.HHP", 0}, {"inside.hhp", 300}};
  for (const Case& c : cases) {
    std::vector<uint8_t> file(c.offset, 'G');
    file.insert(file.end(), picture.begin(), picture.end());
    file.insert(file.end(), 50, 0xFF);  // after the end marker, never read
    std::string path = TempPath(c.name);
    CHECK(WriteBytes(path, file));
    Decoded d = DecodeFile(plugin, path, (intptr_t)c.offset);
    CHECK_EQ(d.result, 0);
    CheckHeader(d, kWidth, kHeight);
    CHECK(d.pixels == expected);
  }
}

// Without a name the content decides: this palette's first byte 'x' makes it
// a headerless chain picture of 640 x 480; an 'L' makes it an LZ picture of
// the same size; "GD2" a headered picture too short to hold its mode letter.
CONTRACT_TEST(PalettePictureAsMemoryIsReadByContent) {
  std::vector<uint8_t> picture = PalettePicture();
  struct Case {
    const char* start;
    int32_t result;
  } cases[] = {{"x", 0}, {"L", 0}, {"GD2", 2}};
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = picture;
    memcpy(bytes.data(), c.start, strlen(c.start));
    PictureInfo info;
    memset(&info, 0, sizeof info);
    int32_t info_result = plugin.get_picture_info((const char*)bytes.data(), (intptr_t)bytes.size(), 1, &info);
    Decoded d = DecodeMemory(plugin, bytes);
    CHECK_EQ(info_result, c.result);
    CHECK_EQ(d.result, c.result);
    if (c.result != 0) continue;
    CHECK_EQ(info.width, 640);
    CHECK_EQ(info.height, 480);
    CheckHeader(d, 640, 480);
  }
}

// A picture of our own encoder's making: discs, stripes and a patch of 200
// colours of noise, all within one palette.
CONTRACT_TEST(EncodedPalettePictureDecodesExactly) {
  std::vector<uint8_t> pixels((size_t)kWidth * kHeight * 3);
  uint32_t noise = 12345;
  for (int r = 0; r < kHeight; r++)
    for (int c = 0; c < kWidth; c++) {
      uint32_t k = 0xE0E0F0;
      int dr = r - 200, dc = c - 320;
      if (dr * dr + dc * dc < 150 * 150) k = 0x2050A0;
      if (dr * dr + dc * dc < 60 * 60) k = 0xF0C000;
      if ((r + 2 * c) % 64 < 5) k = 0x103010;
      if (r >= 20 && r < 80 && c >= 20 && c < 120) {
        noise = noise * 1103515245u + 12345u;
        k = ((noise >> 16) % 200) * 0x010305u;
      }
      uint8_t* p = &pixels[3 * ((size_t)r * kWidth + c)];
      p[0] = (uint8_t)k;
      p[1] = (uint8_t)(k >> 8);
      p[2] = (uint8_t)(k >> 16);
    }
  std::vector<uint8_t> stream;
  const char* why = "";
  CHECK_EQ(EncodePalette(pixels.data(), kWidth, kHeight, &stream, &why), 1);
  std::string path = TempPath("encoded.Hhp");
  CHECK(WriteBytes(path, stream));
  Decoded d = DecodeFile(plugin, path, 0);
  CHECK_EQ(d.result, 0);
  CheckHeader(d, kWidth, kHeight);
  CHECK(d.pixels == pixels);
}
