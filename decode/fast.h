// The switch between the decoders' fast loops and their careful ones.
//
// Each coded decoder runs a fast loop while it is far from the end of its
// input and of its block, where it can skip per-field checks, and hands over
// to a careful loop of the same shape near either end; both give the same
// bytes from the same state. Built with VESK_CAREFUL_DECODING, the fast loops
// are skipped and every field goes through the careful ones, so that the
// whole test suite can be run over both.
#ifndef VESK_DECODE_FAST_H
#define VESK_DECODE_FAST_H

#ifdef VESK_CAREFUL_DECODING
const int kFastLoops = 0;
#else
const int kFastLoops = 1;
#endif

#endif
