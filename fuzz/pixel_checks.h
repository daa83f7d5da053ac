// Checks over whole pixel blocks for the fuzz targets. Built without the
// fuzzer's comparison tracing, which makes per-pixel loops very slow and
// gives the fuzzer nothing to learn from.
#ifndef VESK_FUZZ_PIXEL_CHECKS_H
#define VESK_FUZZ_PIXEL_CHECKS_H

#include <stddef.h>
#include <stdint.h>

// 1 when some 3-byte pixel of the block is 255, 255, 255.
int HasWhitePixel(const uint8_t* block, size_t bytes);

// 1 when every pixel is one of the 256 colours of the palette at the
// stream's start (entry k: red, green, blue at 3k; zeros past the end).
int AllInPalette(const uint8_t* block, size_t bytes, const uint8_t* stream, uint64_t stream_length);

#endif
