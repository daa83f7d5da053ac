// Colour reduction for the palette coding, which holds 256 colours.
#ifndef VESK_GDCONV_QUANTIZE_H
#define VESK_GDCONV_QUANTIZE_H

#include <stdint.h>

// Number of distinct colours among pixel_count pixels of 3 bytes.
uint64_t CountColours(const uint8_t* pixels, uint64_t pixel_count);

// Reduces the pixels to at most max_colours colours in place (median cut,
// weighted by how often each colour occurs; no dithering, which would break
// up the flat areas that the palette coding compresses). Pictures that
// already have few enough colours are left exactly as they are.
void ReduceColours(uint8_t* pixels, uint64_t pixel_count, int max_colours);

#endif
