#include "gdconv/quantize.h"

#include <algorithm>
#include <vector>

static uint32_t ColourAt(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16; }

static std::vector<uint32_t> SortedColours(const uint8_t* pixels, uint64_t pixel_count) {
  std::vector<uint32_t> colours((size_t)pixel_count);
  for (uint64_t i = 0; i < pixel_count; i++) colours[(size_t)i] = ColourAt(pixels + 3 * i);
  std::sort(colours.begin(), colours.end());
  return colours;
}

uint64_t CountColours(const uint8_t* pixels, uint64_t pixel_count) {
  std::vector<uint32_t> colours = SortedColours(pixels, pixel_count);
  return (uint64_t)(std::unique(colours.begin(), colours.end()) - colours.begin());
}

namespace {
struct Colour {
  uint32_t value;
  uint32_t count;
};
struct Box {
  size_t begin, end;  // range of the colour list
  int channel;        // the channel of widest spread
  int spread;
  uint64_t pixels;
};
}  // namespace

static int Channel(uint32_t value, int c) { return (int)(value >> (8 * c)) & 255; }

static Box MakeBox(const std::vector<Colour>& colours, size_t begin, size_t end) {
  Box box = {begin, end, 0, 0, 0};
  int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (size_t i = begin; i < end; i++) {
    box.pixels += colours[i].count;
    for (int c = 0; c < 3; c++) {
      lo[c] = std::min(lo[c], Channel(colours[i].value, c));
      hi[c] = std::max(hi[c], Channel(colours[i].value, c));
    }
  }
  for (int c = 0; c < 3; c++) {
    if (hi[c] - lo[c] > box.spread) {
      box.spread = hi[c] - lo[c];
      box.channel = c;
    }
  }
  return box;
}

void ReduceColours(uint8_t* pixels, uint64_t pixel_count, int max_colours) {
  std::vector<uint32_t> sorted = SortedColours(pixels, pixel_count);
  std::vector<Colour> colours;
  for (uint32_t v : sorted) {
    if (!colours.empty() && colours.back().value == v)
      colours.back().count++;
    else
      colours.push_back({v, 1});
  }
  if (colours.size() <= (size_t)max_colours) return;

  std::vector<Box> boxes = {MakeBox(colours, 0, colours.size())};
  while (boxes.size() < (size_t)max_colours) {
    // Split the box whose pixels spread widest, weighted by how many there are.
    size_t pick = boxes.size();
    double best = 0;
    for (size_t i = 0; i < boxes.size(); i++) {
      double score = (double)boxes[i].spread * (double)boxes[i].pixels;
      if (boxes[i].end - boxes[i].begin > 1 && score > best) {
        best = score;
        pick = i;
      }
    }
    if (pick == boxes.size()) break;
    Box box = boxes[pick];
    const int c = box.channel;
    std::sort(colours.begin() + (long)box.begin, colours.begin() + (long)box.end,
              [c](const Colour& a, const Colour& b) { return Channel(a.value, c) < Channel(b.value, c); });
    // Cut at the weighted median, keeping at least one colour on each side.
    uint64_t half = box.pixels / 2, seen = 0;
    size_t cut = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; i++) {
      seen += colours[i].count;
      cut = i + 1;
      if (seen >= half) break;
    }
    boxes[pick] = MakeBox(colours, box.begin, cut);
    boxes.push_back(MakeBox(colours, cut, box.end));
  }

  // Each colour takes its box's weighted mean.
  std::vector<std::pair<uint32_t, uint32_t>> mapping;  // colour -> replacement
  mapping.reserve(colours.size());
  for (const Box& box : boxes) {
    uint64_t sum[3] = {0, 0, 0};
    for (size_t i = box.begin; i < box.end; i++)
      for (int c = 0; c < 3; c++) sum[c] += (uint64_t)Channel(colours[i].value, c) * colours[i].count;
    uint32_t mean = 0;
    for (int c = 0; c < 3; c++) mean |= (uint32_t)((sum[c] + box.pixels / 2) / box.pixels) << (8 * c);
    for (size_t i = box.begin; i < box.end; i++) mapping.push_back({colours[i].value, mean});
  }
  std::sort(mapping.begin(), mapping.end());
  for (uint64_t i = 0; i < pixel_count; i++) {
    uint8_t* p = pixels + 3 * i;
    uint32_t v = ColourAt(p);
    auto hit = std::lower_bound(mapping.begin(), mapping.end(), std::make_pair(v, 0u));
    uint32_t to = hit->second;
    p[0] = (uint8_t)to;
    p[1] = (uint8_t)(to >> 8);
    p[2] = (uint8_t)(to >> 16);
  }
}
