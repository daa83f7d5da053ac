#include "bench/pictures.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "tests/support/bit_writer.h"

namespace {

// A fixed pseudo-random sequence, so every run decodes the same pictures.
struct Random {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

enum Content { kFlat, kScene, kNoise };

const char* ContentName(Content c) { return c == kFlat ? "flat" : c == kScene ? "scene" : "noise"; }

// Palette indices of a synthetic picture: one index, a scene of flat blocks,
// circles and a band of fine texture, or an index per pixel at random.
// Index 0 is black.
std::vector<uint8_t> MakeIndices(Content content, int width, int height) {
  std::vector<uint8_t> index((size_t)width * height);
  Random random = {12345};
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      uint8_t v;
      if (content == kFlat) {
        v = 77;
      } else if (content == kNoise) {
        v = (uint8_t)random.Next();
      } else {
        // A 6 x 6 grid of blocks from a 6 x 6 x 6 colour cube (indices 1 to 216).
        v = (uint8_t)(1 + 36 * (y * 6 / height) + 6 * (x * 6 / width) + 2);
        static const int kCircles[4][3] = {{160, 120, 70}, {480, 200, 110}, {300, 330, 60}, {560, 90, 40}};
        for (int c = 0; c < 4; c++) {
          int dx = x - kCircles[c][0] * width / 640, dy = y - kCircles[c][1] * height / 480;
          if (dx * dx + dy * dy < kCircles[c][2] * kCircles[c][2]) v = (uint8_t)(1 + 43 * c);
        }
        // Fine texture: 2 x 2 cells of pseudo-random colours.
        if (y >= height * 3 / 4 && y < height * 7 / 8) {
          uint32_t h = (uint32_t)(x / 2) * 2654435761u ^ (uint32_t)(y / 2) * 40503u;
          v = (uint8_t)(1 + (h >> 13) % 216);
        }
      }
      index[(size_t)y * width + x] = v;
    }
  }
  return index;
}

// 256 colours in block order (blue, green, red); none is pure white, which
// the chain coding cannot hold. Index 0 is black.
std::vector<uint8_t> MakePalette(Content content) {
  std::vector<uint8_t> palette(256 * 3, 0);
  Random random = {999};
  for (int k = 1; k < 256; k++) {
    if (content == kNoise) {
      for (int i = 0; i < 3; i++) palette[3 * k + i] = (uint8_t)random.Next();
    } else {
      int cube = (k - 1) % 216;
      palette[3 * k + 0] = (uint8_t)(51 * (cube % 6));
      palette[3 * k + 1] = (uint8_t)(51 * (cube / 6 % 6));
      palette[3 * k + 2] = (uint8_t)(51 * (cube / 36));
    }
    if (palette[3 * k] == 255 && palette[3 * k + 1] == 255 && palette[3 * k + 2] == 255) palette[3 * k] = 254;
  }
  return palette;
}

std::vector<uint8_t> ToPixels(const std::vector<uint8_t>& index, const std::vector<uint8_t>& palette) {
  std::vector<uint8_t> pixels(index.size() * 3);
  for (size_t i = 0; i < index.size(); i++) memcpy(&pixels[3 * i], &palette[3 * index[i]], 3);
  return pixels;
}

// Noise for the byte-oriented codings: every byte at random, not only 256 colours.
std::vector<uint8_t> NoisePixels(int width, int height) {
  std::vector<uint8_t> pixels((size_t)width * height * 3);
  Random random = {4242};
  for (size_t i = 0; i < pixels.size(); i += 3) {
    for (int k = 0; k < 3; k++) pixels[i + k] = (uint8_t)random.Next();
    if (pixels[i] == 255 && pixels[i + 1] == 255 && pixels[i + 2] == 255) pixels[i] = 254;
  }
  return pixels;
}

// Greedy LZ: the latest earlier place with the same three bytes, extended to
// at most 18 bytes. A match whose ring position would be 0 (the end code) is
// sent as a literal instead.
std::vector<uint8_t> EncodeLzGreedy(const std::vector<uint8_t>& data) {
  BitWriter out;
  std::vector<int64_t> head(1 << 16, -1);
  auto hash = [&](size_t i) {
    return ((uint32_t)data[i] * 506832829u ^ (uint32_t)data[i + 1] * 2654435761u ^ data[i + 2]) & 0xFFFFu;
  };
  size_t n = data.size();
  size_t i = 0;
  while (i < n) {
    size_t length = 0, distance = 0;
    if (i + 3 <= n) {
      uint32_t h = hash(i);
      int64_t candidate = head[h];
      head[h] = (int64_t)i;
      if (candidate >= 0 && i - (size_t)candidate <= 65535) {
        size_t limit = std::min<size_t>(18, n - i);
        size_t k = 0;
        while (k < limit && data[(size_t)candidate + k] == data[i + k]) k++;
        if (k >= 3) {
          length = k;
          distance = i - (size_t)candidate;
        }
      }
    }
    uint32_t ring_position = (uint32_t)((i + 1 - distance) & 0xFFFFu);
    if (length >= 3 && ring_position != 0) {
      out.Put(0, 1);
      out.Put(ring_position, 16);
      out.Put((uint32_t)(length - 3), 4);
      for (size_t k = 1; k < length; k++)
        if (i + k + 3 <= n) head[hash(i + k)] = (int64_t)(i + k);
      i += length;
    } else {
      out.Put(1, 1);
      out.Put(data[i], 8);
      i++;
    }
  }
  out.Put(0, 17);
  return out.bytes;
}

void PutRunLength(BitWriter* out, uint64_t run) {
  int n = 1;
  while (run > ((uint64_t)1 << (n + 1)) - 3) n++;
  out->PutOnes(n - 1);
  out->Put(0, 1);
  out->Put((uint32_t)(run - (((uint64_t)1 << n) - 2)), n);
}

// Chain coding without chains: a record wherever a pixel differs from the one
// before it in memory order (black before pixel 0).
std::vector<uint8_t> EncodeChainRecords(const std::vector<uint8_t>& pixels) {
  BitWriter out;
  size_t count = pixels.size() / 3;
  uint8_t previous[3] = {0, 0, 0};
  uint64_t p = 0;  // where the next run starts
  for (size_t i = 0; i < count; i++) {
    const uint8_t* at = &pixels[3 * i];
    if (memcmp(at, previous, 3) == 0) continue;
    PutRunLength(&out, i - p);
    out.Put(at[0], 8);
    out.Put(at[1], 8);
    out.Put(at[2], 8);
    out.Put(0, 1);  // no chain
    memcpy(previous, at, 3);
    p = i + 1;
  }
  out.PutOnes(23);
  out.Put(0, 1);
  return out.bytes;
}

void PutCount(BitWriter* out, uint32_t count) {
  static const int kWidth[4] = {4, 6, 8, 20};
  int selector = 0;
  while (count >= (1u << kWidth[selector])) selector++;
  out->Put((uint32_t)selector, 2);
  out->Put(count, kWidth[selector]);
}

// Palette coding without chains: a marker wherever the index that the fill
// pass carries has to change.
std::vector<uint8_t> EncodePaletteMarkers(const std::vector<uint8_t>& index, const std::vector<uint8_t>& palette) {
  BitWriter out;
  for (int k = 0; k < 256; k++) {
    out.Put(palette[3 * k + 2], 8);
    out.Put(palette[3 * k + 1], 8);
    out.Put(palette[3 * k + 0], 8);
  }
  uint8_t carried = 0;
  int64_t last = -1;
  for (size_t i = 0; i < index.size(); i++) {
    uint8_t want = index[i];
    if (want == carried) continue;
    // A marker equal to the carried index closes the span and leaves 0.
    uint8_t marker = want == 0 ? carried : want;
    PutCount(&out, (uint32_t)((int64_t)i - last));
    out.Put(marker, 8);
    out.Put(0, 3);  // no chain
    carried = want;
    last = (int64_t)i;
  }
  PutCount(&out, 0);
  return out.bytes;
}

// The file around a stream: a GD2 or GD3 header with its mode letter, a
// headerless letter and the byte after it, or nothing.
std::vector<uint8_t> Wrap(const std::vector<uint8_t>& stream, GdVariant variant, char letter) {
  const GdVariantRow& row = GdVariantTable[variant];
  std::vector<uint8_t> file((size_t)row.stream_offset, 0);
  if (row.stream_offset == 9030 || row.stream_offset == 14166) {
    file[0] = 'G';
    file[1] = 'D';
    file[2] = row.stream_offset == 9030 ? '2' : '3';
    file[(size_t)row.stream_offset - 2] = (uint8_t)letter;
  } else if (row.stream_offset == 2) {
    file[0] = (uint8_t)letter;
  }
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}

void Add(std::vector<BenchPicture>* pictures, const char* coding, Content content, GdVariant variant, char letter,
         const char* extension, const std::vector<uint8_t>& stream) {
  const GdVariantRow& row = GdVariantTable[variant];
  char name[96];
  snprintf(name, sizeof name, "%s-%s-%dx%d%s", coding, ContentName(content), row.width, row.height, extension);
  BenchPicture picture;
  picture.name = name;
  picture.variant = variant;
  picture.bytes = Wrap(stream, variant, letter);
  pictures->push_back(picture);
}

}  // namespace

void AddBuiltInPictures(std::vector<BenchPicture>* pictures) {
  // Raw: GD2 "b" (variant 8) and GD3 "b" (13).
  for (GdVariant v : {8, 13}) {
    const GdVariantRow& row = GdVariantTable[v];
    Add(pictures, "raw", kScene, v, 'b', ".gd",
        ToPixels(MakeIndices(kScene, row.width, row.height), MakePalette(kScene)));
  }
  // LZ: headerless "L" (1), GD2 "L" (6), GD3 "l" (12).
  struct Case {
    Content content;
    GdVariant variant;
    char letter;
  };
  for (Case c : {Case{kFlat, 1, 'L'}, Case{kScene, 6, 'L'}, Case{kScene, 12, 'l'}, Case{kNoise, 12, 'l'}}) {
    const GdVariantRow& row = GdVariantTable[c.variant];
    std::vector<uint8_t> pixels = c.content == kNoise ? NoisePixels(row.width, row.height)
                                                      : ToPixels(MakeIndices(c.content, row.width, row.height),
                                                                 MakePalette(c.content));
    Add(pictures, "lz", c.content, c.variant, c.letter, ".gd", EncodeLzGreedy(pixels));
  }
  // Chain: headerless "P" (3), GD2 "P" (9), GD3 "p" (15).
  for (Case c : {Case{kFlat, 3, 'P'}, Case{kScene, 9, 'P'}, Case{kScene, 15, 'p'}, Case{kNoise, 15, 'p'}}) {
    const GdVariantRow& row = GdVariantTable[c.variant];
    std::vector<uint8_t> pixels = c.content == kNoise ? NoisePixels(row.width, row.height)
                                                      : ToPixels(MakeIndices(c.content, row.width, row.height),
                                                                 MakePalette(c.content));
    Add(pictures, "chain", c.content, c.variant, c.letter, ".gd", EncodeChainRecords(pixels));
  }
  // Palette: ".HHP" (0), 640 x 400.
  for (Content content : {kFlat, kScene, kNoise}) {
    Add(pictures, "palette", content, 0, 0, ".hhp",
        EncodePaletteMarkers(MakeIndices(content, 640, 400), MakePalette(content)));
  }
}

int AddSamplePictures(const std::string& folder, std::vector<BenchPicture>* pictures) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  int added = 0;
  for (const std::string& name : names) {
    if (name[0] == '.') continue;
    std::string path = folder + "/" + name;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) continue;
    BenchPicture picture;
    uint8_t buffer[1 << 16];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) picture.bytes.insert(picture.bytes.end(), buffer, buffer + got);
    fclose(f);
    if (!DetectVariantInMemory(&kPortableTextOps, name.c_str(), picture.bytes.data(), picture.bytes.size(),
                               &picture.variant))
      continue;
    picture.name = name;
    picture.path = path;
    pictures->push_back(picture);
    added++;
  }
  return added;
}
