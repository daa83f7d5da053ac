// Palette chain streams of any content: bounded reads and writes, every
// byte written, the fast way (passes along the way) equal to the careful
// one, the reference's pixels, and every pixel one of the stream's 256
// palette colours.
#include "decode/palette.h"
#include "fuzz/decoder_target.h"
#include "fuzz/pixel_checks.h"
#include "fuzz/reference.h"

namespace {
void Fast(const DecodeJob* job, BitCursor* end) { DecodePaletteChainTo(job, end, 1); }
void Careful(const DecodeJob* job, BitCursor* end) { DecodePaletteChainTo(job, end, 0); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape kSizes[1] = {{640, 400}};
  DecodeJob job = {};
  RunDecoderTarget(Fast, Careful, ReferencePalette, data, size, kSizes, 1, &job);
  if (job.pixels && !AllInPalette(job.pixels, (size_t)PixelBlockBytes(&job), job.source, job.source_length))
    FuzzFail("a pixel of no palette colour", job);
  return 0;
}
