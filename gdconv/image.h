// The picture files that gdconv writes and reads: PNG (through libpng) and
// BMP. Pixels travel as pixel blocks: width * height pixels of B, G, R, the
// first row the picture's bottom row, as the decoders write them.
#ifndef VESK_GDCONV_IMAGE_H
#define VESK_GDCONV_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

// An 8-bit RGB PNG, top row first as PNG stores it.
int EncodePng(const uint8_t* block, int32_t width, int32_t height, std::vector<uint8_t>* out, std::string* why);

// A BMP file: the 14-byte file header, then exactly the 40-byte header and
// the pixel block that the plug-in hands to its host.
void EncodeBmp(const uint8_t* block, int32_t width, int32_t height, std::vector<uint8_t>* out);

// Reads any PNG into a pixel block. Refuses pictures with pixels that are
// not fully opaque: a GD picture has no transparency to keep them in.
int ReadPng(const char* path, std::vector<uint8_t>* block, int32_t* width, int32_t* height, std::string* why);

#endif
