#include "fuzz/pixel_checks.h"

#include <string.h>

int HasWhitePixel(const uint8_t* block, size_t bytes) {
  for (size_t i = 0; i + 2 < bytes; i += 3)
    if (block[i] == 255 && block[i + 1] == 255 && block[i + 2] == 255) return 1;
  return 0;
}

namespace {

// The palette's colours in a small open-addressed table.
struct ColourSet {
  uint32_t slots[1024];  // colour + 1; 0 is empty
  ColourSet() { memset(slots, 0, sizeof slots); }
  static uint32_t Hash(uint32_t c) { return (c * 2654435761u) >> 22; }
  void Add(uint32_t c) {
    uint32_t i = Hash(c);
    while (slots[i] && slots[i] != c + 1) i = (i + 1) & 1023;
    slots[i] = c + 1;
  }
  bool Has(uint32_t c) const {
    for (uint32_t i = Hash(c); slots[i]; i = (i + 1) & 1023)
      if (slots[i] == c + 1) return true;
    return false;
  }
};

}  // namespace

int AllInPalette(const uint8_t* block, size_t bytes, const uint8_t* stream, uint64_t stream_length) {
  ColourSet colours;
  for (uint32_t k = 0; k < 256; k++) {
    uint32_t rgb = 0;
    for (uint32_t i = 0; i < 3; i++) rgb = rgb << 8 | (3 * k + i < stream_length ? stream[3 * k + i] : 0u);
    colours.Add(rgb);
  }
  for (size_t i = 0; i + 2 < bytes; i += 3) {
    uint32_t rgb = (uint32_t)block[i + 2] << 16 | (uint32_t)block[i + 1] << 8 | block[i];
    if (!colours.Has(rgb)) return 0;
  }
  return 1;
}
