// LZ streams of any content: the decoder stays inside its input and its
// block, writes the whole block, its fast and careful loops agree, and it
// decodes as the reference does.
#include "decode/lz.h"
#include "fuzz/decoder_target.h"
#include "fuzz/reference.h"

namespace {
void Fast(const DecodeJob* job, BitCursor* end) { DecodeLzStream(job, end, 1); }
void Careful(const DecodeJob* job, BitCursor* end) { DecodeLzStream(job, end, 0); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape kSizes[2] = {{640, 480}, {800, 600}};
  DecodeJob job = {};
  RunDecoderTarget(Fast, Careful, ReferenceLz, data, size, kSizes, 2, &job);
  return 0;
}
