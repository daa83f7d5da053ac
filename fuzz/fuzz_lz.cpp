// LZ streams of any content: the decoder stays inside its input and its
// block, writes the whole block, and decodes as the reference does.
#include "fuzz/decoder_target.h"
#include "fuzz/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape kSizes[2] = {{640, 480}, {800, 600}};
  DecodeJob job;
  RunDecoderTarget(DecodeLz, ReferenceLz, data, size, kSizes, 2, &job);
  return 0;
}
