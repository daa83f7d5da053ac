// Chain-coded pictures of every form decode to the pictures they were made
// from, by file and by memory input.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "encode/encode.h"
#include "tests/integration/harness.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Colour {
  uint8_t b, g, r;
};

// A picture of slanting stripes with single dots, built as a list of records
// at the same time as its pixels, so that the expected bytes do not come from
// any decoder. Stripe k begins at column edge[k][y] in row y; edge 0 is
// column 0 in every row. Each stripe's record in row 0 carries a chain down
// the whole picture along its edge. A dot is a record of its own colour and a
// record after it that gives the stripe's colour back.
struct Record {
  uint64_t pixel;
  Colour colour;
  std::vector<int> moves;  // columns relative to straight down, -2 to 2
};

const int kStripes = 9;

struct StripePicture {
  int width, height;
  std::vector<Record> records;
  Bytes pixels;
};

uint32_t NextRandom(uint32_t* s) {
  *s ^= *s << 13;
  *s ^= *s >> 17;
  *s ^= *s << 5;
  return *s;
}

StripePicture MakeStripes(int width, int height, uint32_t seed) {
  StripePicture pic;
  pic.width = width;
  pic.height = height;
  Colour colours[kStripes];
  for (int k = 0; k < kStripes; k++)
    colours[k] = {(uint8_t)NextRandom(&seed), (uint8_t)(k * 30), (uint8_t)NextRandom(&seed)};
  colours[3] = {255, 255, 254};  // near white is an ordinary colour
  colours[5] = {0, 0, 0};
  // Edges wander by up to two columns a row within 20 columns of evenly
  // spaced homes, so stripes never meet.
  std::vector<std::vector<int>> edge(kStripes, std::vector<int>(height));
  const int spacing = width / kStripes;
  for (int k = 0; k < kStripes; k++) {
    int home = k * spacing, reach = k ? 20 : 0;
    edge[k][0] = home;
    for (int y = 1; y < height; y++) {
      int x = edge[k][y - 1] + (int)(NextRandom(&seed) % 5) - 2;
      edge[k][y] = std::max(home - reach, std::min(home + reach, x));
    }
  }
  pic.pixels.resize((size_t)width * height * 3);
  for (int y = 0; y < height; y++) {
    int k = 0;
    for (int x = 0; x < width; x++) {
      while (k + 1 < kStripes && x >= edge[k + 1][y]) k++;
      memcpy(&pic.pixels[((size_t)y * width + x) * 3], &colours[k], 3);
    }
  }
  for (int k = 0; k < kStripes; k++) {
    Record rec = {(uint64_t)edge[k][0], colours[k], {}};
    for (int y = 1; y < height; y++) rec.moves.push_back(edge[k][y] - edge[k][y - 1]);
    pic.records.push_back(rec);
  }
  // Dots away from the edges; their second record restores the stripe.
  for (int i = 0; i < 400; i++) {
    int y = 1 + (int)(NextRandom(&seed) % (height - 1));
    int x = 1 + (int)(NextRandom(&seed) % (width - 3));
    bool near_edge = false;
    for (int k = 0; k < kStripes; k++)
      if (x >= edge[k][y] - 1 && x <= edge[k][y] + 1) near_edge = true;
    if (near_edge) continue;
    size_t at = (size_t)y * width + x;
    Colour dot = {(uint8_t)NextRandom(&seed), 7, 7}, back;
    memcpy(&back, &pic.pixels[(at + 1) * 3], 3);
    bool taken = false;
    for (const Record& r : pic.records)
      if (r.pixel >= at - 1 && r.pixel <= at + 2) taken = true;
    if (taken) continue;
    memcpy(&pic.pixels[at * 3], &dot, 3);
    pic.records.push_back({at, dot, {}});
    pic.records.push_back({at + 1, back, {}});
  }
  std::sort(pic.records.begin(), pic.records.end(),
            [](const Record& a, const Record& b) { return a.pixel < b.pixel; });
  return pic;
}

void PutRun(BitWriter* w, uint64_t run) {
  int n = 1;
  while (run + 2 >= ((uint64_t)1 << (n + 1))) n++;
  w->PutOnes(n - 1);
  w->Put(0, 1);
  w->Put((uint32_t)(run + 2 - ((uint64_t)1 << n)), n);
}

Bytes StreamOf(const StripePicture& pic) {
  static const uint32_t kMoveCodes[5][2] = {{2, 4}, {1, 2}, {2, 2}, {3, 2}, {3, 4}};  // -2 .. 2
  BitWriter w;
  uint64_t next = 0;  // the pixel a run of 0 would name
  for (const Record& rec : pic.records) {
    PutRun(&w, rec.pixel - next);
    w.PutByte(rec.colour.b);
    w.PutByte(rec.colour.g);
    w.PutByte(rec.colour.r);
    w.Put(rec.moves.empty() ? 0 : 1, 1);
    if (!rec.moves.empty()) {
      for (int m : rec.moves) w.Put(kMoveCodes[m + 2][0], (int)kMoveCodes[m + 2][1]);
      w.Put(0, 3);
    }
    next = rec.pixel + 1;
  }
  w.PutOnes(23);
  w.Put(0, 1);
  return w.bytes;
}

}  // namespace

CONTRACT_TEST(ChainPicturesDecodeExactly) {
  struct Case {
    const char* name;
    char digit;  // 0: headerless
    char letter; // 0: no letter
    int width, height;
  } cases[] = {
      {"gd2P", '2', 'P', 640, 480}, {"gd2p", '2', 'p', 640, 480}, {"gd3P", '3', 'P', 800, 600},
      {"gd3p", '3', 'p', 800, 600}, {"barP", 0, 'P', 640, 480},   {"barp", 0, 'p', 640, 480},
      {"bare", 0, 0, 640, 480},
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    StripePicture pic = MakeStripes(c.width, c.height, seed++);
    Bytes stream = StreamOf(pic);
    Bytes picture;
    if (c.digit) {
      picture = HeaderedPicture(c.digit, c.letter, stream);
    } else if (c.letter) {
      picture.assign(2 + stream.size(), 0);
      picture[0] = (uint8_t)c.letter;
      memcpy(picture.data() + 2, stream.data(), stream.size());
    } else {
      picture = stream;
      // Detection must see neither a letter nor "GD" here.
      CHECK(picture[0] != 'L' && picture[0] != 'l' && picture[0] != 'P' && picture[0] != 'p');
      CHECK(!(picture[0] == 'G' && picture[1] == 'D'));
    }
    // The picture sits at a non-zero offset inside a larger file.
    Bytes file(77 + picture.size(), 0x5A);
    memcpy(file.data() + 77, picture.data(), picture.size());
    std::string path = TempPath(std::string("chain_") + c.name + ".gd");
    CHECK(WriteBytes(path, file));

    Decoded by_file = DecodeFile(plugin, path, 77);
    CHECK_EQ(by_file.result, 0);
    CHECK_EQ(by_file.pixels.size(), pic.pixels.size());
    CHECK(by_file.pixels == pic.pixels);
    Decoded by_memory = DecodeMemory(plugin, picture);
    CHECK_EQ(by_memory.result, 0);
    CHECK(by_memory.pixels == pic.pixels);
    if (by_file.header.size() == 40) {
      int32_t w, h;
      memcpy(&w, by_file.header.data() + 4, 4);
      memcpy(&h, by_file.header.data() + 8, 4);
      CHECK_EQ(w, c.width);
      CHECK_EQ(h, c.height);
    }
  }
}

// A stream cut short still gives a whole picture, and no pixel of it is
// left at the unwritten marker.
CONTRACT_TEST(ChainPictureCutShortIsStillWhole) {
  StripePicture pic = MakeStripes(640, 480, 99);
  Bytes stream = StreamOf(pic);
  stream.resize(stream.size() / 2);
  Bytes picture(2 + stream.size(), 0);
  picture[0] = 'P';
  memcpy(picture.data() + 2, stream.data(), stream.size());
  Decoded d = DecodeMemory(plugin, picture);
  CHECK_EQ(d.result, 0);
  CHECK_EQ(d.pixels.size(), (size_t)640 * 480 * 3);
  size_t white = 0;
  for (size_t i = 0; i + 2 < d.pixels.size(); i += 3)
    if (d.pixels[i] == 255 && d.pixels[i + 1] == 255 && d.pixels[i + 2] == 255) white++;
  CHECK_EQ(white, 0);
  // The first rows come before the cut and are exact.
  CHECK(memcmp(d.pixels.data(), pic.pixels.data(), 640 * 3) == 0);
}

// The encoder's streams read back through the plug-in.
CONTRACT_TEST(EncodedChainPicturesDecodeExactly) {
  struct Case {
    char digit;
    int width, height;
  } cases[] = {{'2', 640, 480}, {'3', 800, 600}};
  for (const Case& c : cases) {
    Bytes pixels = PatternPixels(c.width, c.height, 5);
    // Wide flat bands over the pattern, for chains to carry; no pure white.
    for (size_t i = 0; i < pixels.size(); i += 3) {
      size_t x = (i / 3) % c.width, y = (i / 3) / c.width;
      if ((x + y / 3) % 97 < 60) pixels[i] = pixels[i + 1] = pixels[i + 2] = (uint8_t)(x / 97 * 20);
      if (pixels[i] == 255 && pixels[i + 1] == 255 && pixels[i + 2] == 255) pixels[i] = 254;
    }
    Bytes stream;
    const char* why = nullptr;
    CHECK_EQ(EncodeChain(pixels.data(), c.width, c.height, &stream, &why), 1);
    Decoded d = DecodeMemory(plugin, HeaderedPicture(c.digit, 'P', stream));
    CHECK_EQ(d.result, 0);
    CHECK(d.pixels == pixels);
  }
}
