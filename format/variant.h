// Recognition of GD pictures and the table of their sixteen variants.
#ifndef VESK_FORMAT_VARIANT_H
#define VESK_FORMAT_VARIANT_H

#include <stdint.h>

typedef int32_t GdVariant;  // 0 to 15, an index into GdVariantTable

enum GdCoding { kCodingRaw, kCodingLz, kCodingChain, kCodingPalette };

struct GdVariantRow {
  int32_t width;
  int32_t height;
  int32_t stream_offset;
  GdCoding decoder;
};

extern const GdVariantRow GdVariantTable[16];

// Offsets of the mode letter after "GD2" and "GD3".
const uint32_t kGd2ModeOffset = 9028;
const uint32_t kGd3ModeOffset = 14164;

// The two text operations of the extension test. On Windows they are
// PathFindExtensionA and StrCmpNIA; elsewhere the portable pair below gives
// the same results.
struct TextOps {
  // Points at the name's extension ("." included) or at its terminating zero;
  // null when no extension can be taken at all.
  const char* (*find_extension)(const char* name);
  // Compares at most n characters ignoring ASCII case; 0 when equal.
  int (*compare_ni)(const char* a, const char* b, int n);
};

const char* PortableFindExtension(const char* name);
int PortableCompareNI(const char* a, const char* b, int n);
extern const TextOps kPortableTextOps;

enum NameClass {
  kNameRefused = 0,  // no extension, or one that is not ours
  kNamePalette = 1,  // ".HHP": the name alone decides
  kNameContent = 2,  // ".GD" or ".DCL": the content decides
};
NameClass ClassifyName(const TextOps* text, const char* name);

// Where detection takes the picture's bytes from: `read` fills buf with up to
// n bytes found at offset `at` from the picture's first byte and returns how
// many it got. Detection asks for 3 bytes at 0 and then at most one mode byte.
struct DetectSource {
  void* context;
  uint32_t (*read)(void* context, uint32_t at, uint8_t* buf, uint32_t n);
};

// Returns 1 and stores the variant when the input is a GD picture, else 0 and
// leaves *variant alone. name may be null (memory input): the content decides.
int DetectVariant(const TextOps* text, const char* name, const DetectSource* source, GdVariant* variant);

// The same over a block of memory with its length.
int DetectVariantInMemory(const TextOps* text, const char* name, const uint8_t* data, uint64_t length,
                          GdVariant* variant);

#endif
