// Plain decoders of the three codings for the fuzz targets to compare with:
// every field read through ReadBits, a real 64 KiB ring, separate passes,
// no buffers or tables. They stop where the decoders document that they
// stop: LZ and chain codes are taken only when the input holds the whole
// code, palette fields read zeros past the end of the input, and nothing is
// written outside the block. Slow, and meant to be obviously right.
#ifndef VESK_FUZZ_REFERENCE_H
#define VESK_FUZZ_REFERENCE_H

#include "decode/decode.h"

void ReferenceLz(const DecodeJob* job);
void ReferenceChain(const DecodeJob* job);
void ReferencePalette(const DecodeJob* job);

#endif
