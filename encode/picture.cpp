#include "encode/picture.h"

#include <stddef.h>


#include "encode/encode.h"

void FormSize(GdForm form, int32_t* width, int32_t* height) {
  switch (form) {
    case kFormGd3:
      *width = 800;
      *height = 600;
      return;
    case kFormHhp:
      *width = 640;
      *height = 400;
      return;
    case kFormGd2:
    case kFormHeaderless:
      break;
  }
  *width = 640;
  *height = 480;
}

int ChooseVariant(GdForm form, GdCoding coding, GdVariant* variant, const char** why) {
  if (form == kFormHhp) {
    if (coding != kCodingPalette) {
      *why = "the .HHP form holds only the palette coding";
      return 0;
    }
    *variant = 0;
    return 1;
  }
  if (coding == kCodingPalette) {
    *why = "the palette coding exists only in the .HHP form";
    return 0;
  }
  if (form == kFormHeaderless) {
    if (coding == kCodingRaw) {
      *why = "the headerless form has no letter for raw pixels (use gd2)";
      return 0;
    }
    *variant = coding == kCodingLz ? 1 : 3;  // "L", "P"
    return 1;
  }
  // Headered rows run L, l, b, P, p from 6 ("GD2") and 11 ("GD3").
  GdVariant base = form == kFormGd2 ? 6 : 11;
  *variant = base + (coding == kCodingLz ? 0 : coding == kCodingRaw ? 2 : 3);
  return 1;
}

int EncodeStream(GdCoding coding, const uint8_t* pixels, int32_t width, int32_t height,
                 std::vector<uint8_t>* out, const char** why) {
  switch (coding) {
    case kCodingRaw:
      out->insert(out->end(), pixels, pixels + (size_t)width * (size_t)height * 3);
      return 1;
    case kCodingLz:
      if (EncodeLz(pixels, width, height, out)) return 1;
      *why = "the LZ encoder failed";
      return 0;
    case kCodingChain:
      return EncodeChain(pixels, width, height, out, why);
    case kCodingPalette:
      return EncodePalette(pixels, width, height, out, why);
  }
  *why = "unknown coding";
  return 0;
}

// The byte that names a variant: a mode letter, or none (0) for the bare
// forms. Rows follow the variant table.
static uint8_t VariantLetter(GdVariant variant) {
  static const char kLetters[16] = {0, 'L', 'l', 'P', 'p', 0, 'L', 'l', 'b', 'P', 'p', 'L', 'l', 'b', 'P', 'p'};
  return (uint8_t)kLetters[variant & 15];
}

void WrapStream(GdVariant variant, const std::vector<uint8_t>& stream, std::vector<uint8_t>* picture) {
  const GdVariantRow& row = GdVariantTable[variant & 15];
  picture->assign((size_t)row.stream_offset, 0);
  if (variant >= 6) {
    (*picture)[0] = 'G';
    (*picture)[1] = 'D';
    (*picture)[2] = variant >= 11 ? '3' : '2';
    (*picture)[variant >= 11 ? kGd3ModeOffset : kGd2ModeOffset] = VariantLetter(variant);
  } else if (row.stream_offset == 2) {
    (*picture)[0] = VariantLetter(variant);
  }
  picture->insert(picture->end(), stream.begin(), stream.end());
}

int EncodePicture(GdForm form, GdCoding coding, const uint8_t* pixels, int32_t width, int32_t height,
                  std::vector<uint8_t>* picture, GdVariant* variant, const char** why) {
  int32_t form_width = 0, form_height = 0;
  FormSize(form, &form_width, &form_height);
  if (width != form_width || height != form_height) {
    *why = "the picture's size is not the one that the form holds";
    return 0;
  }
  GdVariant chosen = 0;
  if (!ChooseVariant(form, coding, &chosen, why)) return 0;
  std::vector<uint8_t> stream;
  if (!EncodeStream(coding, pixels, width, height, &stream, why)) return 0;
  WrapStream(chosen, stream, picture);
  *variant = chosen;
  return 1;
}

uint64_t MapPureWhite(uint8_t* pixels, uint64_t pixel_count) {
  uint64_t changed = 0;
  for (uint64_t i = 0; i < pixel_count; i++) {
    uint8_t* p = pixels + 3 * i;
    if (p[0] == 255 && p[1] == 255 && p[2] == 255) {
      p[0] = 254;
      changed++;
    }
  }
  return changed;
}
