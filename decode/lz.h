// The LZ decoder's inner entry, for the tests: the same decoding as DecodeLz,
// also telling where reading stopped.
#ifndef VESK_DECODE_LZ_H
#define VESK_DECODE_LZ_H

#include "decode/decode.h"

// Fills the pixel block with 0xFF, decodes the stream into it and returns the
// number of bytes decoded. *end receives the cursor after the last code read
// in full: the end code, the code that filled the block, or the last code
// that fitted in the input.
uint64_t DecodeLzStream(const DecodeJob* job, BitCursor* end);

#endif
