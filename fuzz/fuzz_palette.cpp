// Palette chain streams of any content: bounded reads and writes, every
// byte written, the reference's pixels, and every pixel one of the
// stream's 256 palette colours.
#include "fuzz/decoder_target.h"
#include "fuzz/pixel_checks.h"
#include "fuzz/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape kSizes[1] = {{640, 400}};
  DecodeJob job;
  std::vector<uint8_t> block = RunDecoderTarget(DecodePaletteChain, ReferencePalette, data, size, kSizes, 1, &job);
  if (!block.empty() && !AllInPalette(block.data(), block.size(), job.source, job.source_length))
    FuzzFail("a pixel of no palette colour", job);
  return 0;
}
