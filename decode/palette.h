// The palette chain decoder, with the reading position it ends at.
#ifndef VESK_DECODE_PALETTE_H
#define VESK_DECODE_PALETTE_H

#include "decode/decode.h"

// Decodes exactly as DecodePaletteChain does and stores in *end where the
// reading of the stream stopped: just after the end marker, or after the last
// field read when the input ran out or a run left the block. The cursor means
// what ReadBits's cursor means, so *end is what a reader taking the same
// fields one by one through ReadBits would hold. With `fast` 0 it takes
// every field through its careful loop and runs the fill and palette passes
// after all runs (see decode/fast.h): the same result.
void DecodePaletteChainTo(const DecodeJob* job, BitCursor* end, int fast = 1);

#endif
