// The LZ decoder's inner entry, for the tests: the same decoding as DecodeLz,
// also telling where reading stopped.
#ifndef VESK_DECODE_LZ_H
#define VESK_DECODE_LZ_H

#include "decode/decode.h"

// Decodes the stream into the pixel block, fills the rest of it with 0xFF and
// returns the number of bytes decoded. *end receives the cursor after the
// last code read in full: the end code, the code that filled the block, or
// the last code that fitted in the input. With `fast` 0 the decoder takes
// every code through its careful loop (see decode/fast.h): the same result.
uint64_t DecodeLzStream(const DecodeJob* job, BitCursor* end, int fast = 1);

#endif
