// Whole GD pictures from pixel blocks: the form around a coded stream (a
// "GD2" or "GD3" header, a headerless mode letter, or the bare ".HHP"
// stream) and the choice of variant that a form and a coding give.
#ifndef VESK_ENCODE_PICTURE_H
#define VESK_ENCODE_PICTURE_H

#include <stdint.h>

#include <vector>

#include "format/variant.h"

enum GdForm {
  kFormGd2,         // "GD2" header, 640 x 480
  kFormGd3,         // "GD3" header, 800 x 600
  kFormHeaderless,  // a mode letter in byte 0, 640 x 480
  kFormHhp,         // palette stream from byte 0, named *.HHP, 640 x 400
};

// The one size of picture that a form holds.
void FormSize(GdForm form, int32_t* width, int32_t* height);

// The variant that a picture of this form and coding is written as. Returns
// 0 with *why set to a static message when the form cannot hold the coding.
// Headerless pictures always get their letter ("L" or "P"): a bare stream
// would be misread whenever its first bytes looked like a letter or "GD".
int ChooseVariant(GdForm form, GdCoding coding, GdVariant* variant, const char** why);

// Appends the coding's stream for a pixel block (block order, B, G, R) to
// *out. Returns 0 with *why set when the coding cannot hold the pixels.
int EncodeStream(GdCoding coding, const uint8_t* pixels, int32_t width, int32_t height,
                 std::vector<uint8_t>* out, const char** why);

// Replaces *picture by the bytes of a picture of `variant` around `stream`:
// the header or letter in front, the stream at the variant's stream offset.
// Bytes that no reader looks at (the rest of a header, the byte after a
// letter) are zero.
void WrapStream(GdVariant variant, const std::vector<uint8_t>& stream, std::vector<uint8_t>* picture);

// ChooseVariant, a size check, EncodeStream and WrapStream in one.
int EncodePicture(GdForm form, GdCoding coding, const uint8_t* pixels, int32_t width, int32_t height,
                  std::vector<uint8_t>* picture, GdVariant* variant, const char** why);

// The chain coding reads (255, 255, 255) as "not yet written": turns every
// such pixel into red 255, green 255, blue 254 (block bytes FE FF FF), the
// nearest colour that it keeps: blue is the channel the eye weighs least.
// Returns how many pixels changed.
uint64_t MapPureWhite(uint8_t* pixels, uint64_t pixel_count);

#endif
