// Chain colour streams of any content: bounded reads and writes, every byte
// written, the one-pass decoder (final pass along the way, fast loop) equal
// to the two-pass one, the reference's pixels, and no pixel left at the
// unwritten marker (255, 255, 255).
#include "decode/chain.h"
#include "fuzz/decoder_target.h"
#include "fuzz/pixel_checks.h"
#include "fuzz/reference.h"

namespace {
void OnePass(const DecodeJob* job, BitCursor*) { DecodeChain(job); }
void TwoPasses(const DecodeJob* job, BitCursor*) { DecodeChainInTwoPasses(job); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape kSizes[2] = {{640, 480}, {800, 600}};
  DecodeJob job = {};
  RunDecoderTarget(OnePass, TwoPasses, ReferenceChain, data, size, kSizes, 2, &job);
  if (job.pixels && HasWhitePixel(job.pixels, (size_t)PixelBlockBytes(&job))) FuzzFail("a pixel left unwritten", job);
  return 0;
}
