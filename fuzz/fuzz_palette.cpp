// Palette chain streams of any content: bounded reads and writes, every
// byte written, the reference's pixels, and every pixel one of the
// stream's 256 palette colours.
#include "fuzz/decoder_target.h"
#include "fuzz/reference.h"

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape kSizes[1] = {{640, 400}};
  DecodeJob job;
  std::vector<uint8_t> block = RunDecoderTarget(DecodePaletteChain, ReferencePalette, data, size, kSizes, 1, &job);
  if (block.empty()) return 0;
  // Entry k is stream bytes 3k (red), 3k + 1, 3k + 2 (blue); zeros past the end.
  ColourSet colours;
  for (uint32_t k = 0; k < 256; k++) {
    uint32_t rgb = 0;
    for (uint32_t i = 0; i < 3; i++) rgb = rgb << 8 | (3 * k + i < job.source_length ? job.source[3 * k + i] : 0u);
    colours.Add(rgb);
  }
  for (size_t i = 0; i + 2 < block.size(); i += 3) {
    uint32_t rgb = (uint32_t)block[i + 2] << 16 | (uint32_t)block[i + 1] << 8 | block[i];
    if (!colours.Has(rgb)) FuzzFail("a pixel of no palette colour", job);
  }
  return 0;
}
