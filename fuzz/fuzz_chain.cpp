// Chain colour streams of any content: bounded reads and writes, every byte
// written, the reference's pixels, and no pixel left at the unwritten
// marker (255, 255, 255).
#include "fuzz/decoder_target.h"
#include "fuzz/pixel_checks.h"
#include "fuzz/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape kSizes[2] = {{640, 480}, {800, 600}};
  DecodeJob job;
  std::vector<uint8_t> block = RunDecoderTarget(DecodeChain, ReferenceChain, data, size, kSizes, 2, &job);
  if (HasWhitePixel(block.data(), block.size())) FuzzFail("a pixel left unwritten", job);
  return 0;
}
