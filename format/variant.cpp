#include "format/variant.h"

#include <string.h>

const GdVariantRow GdVariantTable[16] = {
    {640, 400, 0, kCodingPalette},    // 0  ".HHP"
    {640, 480, 2, kCodingLz},         // 1  headerless "L"
    {640, 480, 2, kCodingLz},         // 2  headerless "l"
    {640, 480, 2, kCodingChain},      // 3  headerless "P"
    {640, 480, 2, kCodingChain},      // 4  headerless "p"
    {640, 480, 0, kCodingChain},      // 5  headerless, no letter
    {640, 480, 9030, kCodingLz},      // 6  "GD2" L
    {640, 480, 9030, kCodingLz},      // 7  "GD2" l
    {640, 480, 9030, kCodingRaw},     // 8  "GD2" b
    {640, 480, 9030, kCodingChain},   // 9  "GD2" P
    {640, 480, 9030, kCodingChain},   // 10 "GD2" p
    {800, 600, 14166, kCodingLz},     // 11 "GD3" L
    {800, 600, 14166, kCodingLz},     // 12 "GD3" l
    {800, 600, 14166, kCodingRaw},    // 13 "GD3" b
    {800, 600, 14166, kCodingChain},  // 14 "GD3" P
    {800, 600, 14166, kCodingChain},  // 15 "GD3" p
};

// Mirrors PathFindExtensionA: the last "." after the last separator; a
// backslash, a slash or a space starts over.
const char* PortableFindExtension(const char* name) {
  if (!name) return nullptr;
  const char* dot = nullptr;
  const char* p = name;
  for (; *p; p++) {
    if (*p == '\\' || *p == '/' || *p == ' ')
      dot = nullptr;
    else if (*p == '.')
      dot = p;
  }
  return dot ? dot : p;
}

static int FoldAscii(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

int PortableCompareNI(const char* a, const char* b, int n) {
  for (int i = 0; i < n; i++) {
    int ca = FoldAscii((unsigned char)a[i]);
    int cb = FoldAscii((unsigned char)b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

const TextOps kPortableTextOps = {PortableFindExtension, PortableCompareNI};

NameClass ClassifyName(const TextOps* text, const char* name) {
  const char* ext = text->find_extension(name);
  if (!ext) return kNameRefused;
  // Bounded comparisons: an extension that merely begins with a pattern passes.
  if (text->compare_ni(ext, ".HHP", 4) == 0) return kNamePalette;
  if (text->compare_ni(ext, ".DCL", 4) == 0) return kNameContent;
  if (text->compare_ni(ext, ".GD", 3) == 0) return kNameContent;
  return kNameRefused;
}

static GdVariant HeaderlessVariant(uint8_t first) {
  switch (first) {
    case 'L': return 1;
    case 'l': return 2;
    case 'P': return 3;
    case 'p': return 4;
    default: return 5;
  }
}

static int HeaderedVariant(uint8_t digit, uint8_t mode, GdVariant* variant) {
  static const char kModes[] = "LlbPp";
  const char* hit = mode ? strchr(kModes, mode) : nullptr;
  if (!hit) return 0;
  *variant = (digit == '2' ? 6 : 11) + (GdVariant)(hit - kModes);
  return 1;
}

int DetectVariant(const TextOps* text, const char* name, const DetectSource* source, GdVariant* variant) {
  if (name) {
    NameClass kind = ClassifyName(text, name);
    if (kind == kNameRefused) return 0;
    if (kind == kNamePalette) {
      *variant = 0;
      return 1;
    }
  }
  uint8_t head[3];
  if (source->read(source->context, 0, head, 3) != 3) return 0;
  if (head[0] == 'G' && head[1] == 'D') {
    uint32_t mode_at;
    if (head[2] == '2')
      mode_at = kGd2ModeOffset;
    else if (head[2] == '3')
      mode_at = kGd3ModeOffset;
    else
      return 0;
    uint8_t mode;
    if (source->read(source->context, mode_at, &mode, 1) != 1) return 0;
    return HeaderedVariant(head[2], mode, variant);
  }
  *variant = HeaderlessVariant(head[0]);
  return 1;
}

struct MemoryInput {
  const uint8_t* data;
  uint64_t length;
};

static uint32_t ReadMemory(void* context, uint32_t at, uint8_t* buf, uint32_t n) {
  const MemoryInput* in = (const MemoryInput*)context;
  if (at >= in->length) return 0;
  uint64_t have = in->length - at;
  uint32_t got = have < n ? (uint32_t)have : n;
  memcpy(buf, in->data + at, got);
  return got;
}

int DetectVariantInMemory(const TextOps* text, const char* name, const uint8_t* data, uint64_t length,
                          GdVariant* variant) {
  MemoryInput in = {data, length};
  DetectSource source = {&in, ReadMemory};
  return DetectVariant(text, name, &source, variant);
}
