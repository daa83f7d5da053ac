// Straightforward decoders of the four GD codings, written the way the format
// reads: one bit at a time, a real 64 KiB history ring for LZ, a separate
// fill pass and palette pass. They are the yardstick that the benchmark
// times the product's decoders against, and a second opinion that their
// output must match byte for byte.
//
// Reads past the end of the input give zero bits; writes outside the pixel
// block are dropped. Beyond that they make no effort at the limits.
#ifndef VESK_BENCH_REFERENCE_H
#define VESK_BENCH_REFERENCE_H

#include "decode/decode.h"
#include "format/variant.h"

void ReferenceCopyRaw(const DecodeJob* job);
void ReferenceDecodeLz(const DecodeJob* job);
void ReferenceDecodeChain(const DecodeJob* job);
void ReferenceDecodePaletteChain(const DecodeJob* job);

// The reference decoder of a variant's coding.
typedef void (*DecoderFn)(const DecodeJob* job);
DecoderFn ReferenceFor(GdCoding coding);

#endif
