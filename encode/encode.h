// Encoders of GD pixel streams: the inverse of the decoders. Each takes a
// pixel block as the decoder writes it (width * height pixels of 3 bytes,
// blue, green, red, in block order, first row = bottom row of the picture)
// and appends the coded stream, end code included, to *out. Decoding that
// stream gives back exactly the same block.
#ifndef VESK_ENCODE_ENCODE_H
#define VESK_ENCODE_ENCODE_H

#include <stdint.h>

#include <vector>

// Any pixels. LZ with hash chains over the 64 KiB window and lazy matching.
int EncodeLz(const uint8_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out);

// Fails (returns 0, *why set to a static message) when a pixel is pure white
// (255, 255, 255), which this coding cannot hold.
int EncodeChain(const uint8_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out,
                const char** why);

// The palette coding: fails when the picture has more than 256 colours.
int EncodePalette(const uint8_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out,
                  const char** why);

#endif
