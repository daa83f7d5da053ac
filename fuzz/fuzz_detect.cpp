// Detection of any name and content: the variant is the one the layout
// rules give, nothing is read past the content, and IsSupported and
// GetPictureInfo agree with it.
//
// Input: one byte k; below 0xE0 a name of k % 20 bytes follows (cut at a
// zero byte), otherwise there is no name; the rest is the content.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "format/variant.h"
#include "plugin/entry.h"

namespace {

void Fail(const char* what) {
  fprintf(stderr, "fuzz: %s\n", what);
  abort();
}

// The layout rules, case by case: -1 for not recognised.
int ExpectedVariant(const char* name, const uint8_t* c, size_t n) {
  if (name) {
    const char* dot = nullptr;
    const char* end = name;
    for (; *end; end++) {
      if (*end == '\\' || *end == '/' || *end == ' ')
        dot = nullptr;
      else if (*end == '.')
        dot = end;
    }
    std::string ext = dot ? std::string(dot, (size_t)(end - dot)) : std::string();
    for (char& ch : ext)
      if (ch >= 'a' && ch <= 'z') ch = (char)(ch - 'a' + 'A');
    if (ext.compare(0, 4, ".HHP") == 0) return 0;
    if (ext.compare(0, 4, ".DCL") != 0 && ext.compare(0, 3, ".GD") != 0) return -1;
  }
  if (n < 3) return -1;
  if (c[0] == 'G' && c[1] == 'D') {
    if (c[2] != '2' && c[2] != '3') return -1;
    size_t mode_at = c[2] == '2' ? 9028 : 14164;
    if (n <= mode_at) return -1;
    const char* modes = "LlbPp";
    for (int i = 0; i < 5; i++)
      if (c[mode_at] == (uint8_t)modes[i]) return (c[2] == '2' ? 6 : 11) + i;
    return -1;
  }
  switch (c[0]) {
    case 'L': return 1;
    case 'l': return 2;
    case 'P': return 3;
    case 'p': return 4;
    default: return 5;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string name_bytes;
  const char* name = nullptr;
  size_t at = 1;
  if (data[0] < 0xE0) {
    size_t length = data[0] % 20;
    if (length > size - 1) length = size - 1;
    name_bytes.assign((const char*)data + 1, length);
    name = name_bytes.c_str();
    at += length;
  }
  // The content alone, in a block of its own size.
  std::vector<uint8_t> content(data + at, data + size);
  const uint8_t* c = content.empty() ? nullptr : content.data();
  size_t n = content.size();
  uint8_t empty_byte = 0;
  if (!c) c = &empty_byte;

  GdVariant variant = -7;
  int found = DetectVariantInMemory(&kPortableTextOps, name, c, n, &variant);
  int want = ExpectedVariant(name, c, n);
  if (found ? variant != want : (want != -1 || variant != -7)) Fail("detection differs from the layout rules");

  if (name) {
    NameClass kind = ClassifyName(&kPortableTextOps, name);
    if ((kind == kNameRefused && found) || (kind == kNamePalette && (!found || variant != 0)))
      Fail("the name's class and detection disagree");
  }
  // IsSupported reads only three bytes, so it passes everything detection
  // recognises; with a pointer it needs those three bytes.
  if (n >= 3 && found && QuickCheck(&kSystemPlatform, name, c) != 1) Fail("IsSupported refuses a detected picture");

  GdVariant by_content = -7;
  int content_found = DetectVariantInMemory(&kPortableTextOps, nullptr, c, n, &by_content);
  PictureInfo info;
  memset(&info, 0x3C, sizeof info);
  int32_t rc = PictureInfoCall(&kSystemPlatform, (const char*)c, (intptr_t)n, 1, &info);
  if (rc != (content_found ? 0 : 2)) Fail("GetPictureInfo differs from detection");
  if (rc == 0 && (info.width != GdVariantTable[by_content].width || info.height != GdVariantTable[by_content].height ||
                  info.color_depth != 24 || info.left || info.top || info.info_handle))
    Fail("GetPictureInfo's record is wrong");
  return 0;
}
