#ifndef VESK_DECODE_DISPATCH_H
#define VESK_DECODE_DISPATCH_H

#include "decode/decode.h"
#include "format/variant.h"

// Runs the decoder that a variant's coding names.
inline void RunDecoder(GdCoding coding, const DecodeJob* job) {
  switch (coding) {
    case kCodingRaw: CopyRaw(job); break;
    case kCodingLz: DecodeLz(job); break;
    case kCodingChain: DecodeChain(job); break;
    case kCodingPalette: DecodePaletteChain(job); break;
  }
}

#endif
