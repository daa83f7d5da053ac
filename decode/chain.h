// The two halves of the chain colour decoder, for tests that look at the
// block between them.
#ifndef VESK_DECODE_CHAIN_H
#define VESK_DECODE_CHAIN_H

#include "decode/decode.h"

// Fills the block with the unwritten marker (255, 255, 255) and applies the
// stream's records and chains, up to the end code or the end of the input.
void DecodeChainRecords(const DecodeJob* job);

// Gives every pixel still holding 255, 255, 255 the colour of the pixel
// before it in memory order (black for pixel 0).
void FillUnwrittenPixels(const DecodeJob* job);

// The two above, one after the other: what DecodeChain gives, the plain way.
// DecodeChain itself does the final pass along the way where it can.
void DecodeChainInTwoPasses(const DecodeJob* job);

#endif
