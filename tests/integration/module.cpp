// The Windows module itself: its export directory, what it imports, and its
// version resource read back through the Windows version API.
#ifdef _WIN32
#include <windows.h>
#include <string.h>

#include <algorithm>

#include "tests/integration/harness.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  fclose(f);
  return bytes;
}

struct PeImage {
  std::vector<uint8_t> bytes;
  uint32_t sections_at = 0, section_count = 0;
  uint32_t u32(uint32_t at) const { return at + 4 <= bytes.size() ? *(const uint32_t*)&bytes[at] : 0; }
  uint16_t u16(uint32_t at) const { return at + 2 <= bytes.size() ? *(const uint16_t*)&bytes[at] : 0; }
  // File offset of a relative virtual address.
  uint32_t Offset(uint32_t rva) const {
    for (uint32_t i = 0; i < section_count; i++) {
      uint32_t s = sections_at + 40 * i;
      uint32_t va = u32(s + 12), size = std::max(u32(s + 8), u32(s + 16)), raw = u32(s + 20);
      if (rva >= va && rva < va + size) return rva - va + raw;
    }
    return 0;
  }
  std::string Text(uint32_t rva) const {
    uint32_t at = Offset(rva);
    std::string s;
    while (at && at < bytes.size() && bytes[at]) s += (char)bytes[at++];
    return s;
  }
};

std::string Upper(std::string s) {
  for (char& c : s) c = (char)toupper((unsigned char)c);
  return s;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

CONTRACT_TEST(ExportsAndImports) {
  PeImage pe;
  pe.bytes = ReadAll(plugin.path);
  CHECK(pe.bytes.size() > 1024);
  if (pe.bytes.size() < 1024) return;
  uint32_t nt = pe.u32(0x3C);
  CHECK_EQ(pe.u32(nt), 0x4550);  // "PE\0\0"
  pe.section_count = pe.u16(nt + 6);
  uint32_t optional = nt + 24;
  uint16_t magic = pe.u16(optional);
  uint32_t dirs = optional + (magic == 0x20B ? 112 : 96);
  pe.sections_at = optional + pe.u16(nt + 20);

  uint32_t exports = pe.Offset(pe.u32(dirs));
  CHECK(exports != 0);
  CHECK(pe.Text(pe.u32(exports + 12)) == Upper(BaseName(plugin.path)));
  uint32_t count = pe.u32(exports + 24);
  std::vector<std::string> names;
  for (uint32_t i = 0; i < count; i++) names.push_back(pe.Text(pe.u32(pe.Offset(pe.u32(exports + 32)) + 4 * i)));
  std::vector<std::string> expected = {"GetPicture", "GetPictureInfo", "GetPluginInfo", "GetPreview", "IsSupported"};
  CHECK(names == expected);

  // Only libraries that every Windows has.
  uint32_t imports = pe.Offset(pe.u32(dirs + 8));
  const char* system[] = {"KERNEL32.DLL", "SHLWAPI.DLL", "MSVCRT.DLL", "USER32.DLL"};
  for (uint32_t at = imports; at && pe.u32(at + 12); at += 20) {
    std::string dll = Upper(pe.Text(pe.u32(at + 12)));
    bool known = std::find(std::begin(system), std::end(system), dll) != std::end(system);
    if (!known) RecordFailure(__FILE__, __LINE__, "imports " + dll);
  }
}

CONTRACT_TEST(VersionResource) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(plugin.path.c_str(), &ignored);
  CHECK(size > 0);
  if (!size) return;
  std::vector<uint8_t> data(size);
  CHECK(GetFileVersionInfoA(plugin.path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  CHECK(VerQueryValueA(data.data(), "\\", (void**)&fixed, &len));
  if (!fixed) return;
  CHECK_EQ(fixed->dwFileVersionMS, 0x00000008);
  CHECK_EQ(fixed->dwFileVersionLS, 0x00000020);
  CHECK_EQ(fixed->dwProductVersionMS, 0x00000008);
  CHECK_EQ(fixed->dwProductVersionLS, 0x00000001);
  WORD* translation = nullptr;
  CHECK(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", (void**)&translation, &len));
  if (translation) {
    CHECK_EQ(translation[0], 0x0411);
    CHECK_EQ(translation[1], 1200);
  }
  std::string module = Upper(BaseName(plugin.path));
  for (const char* field : {"InternalName", "OriginalFilename"}) {
    char* value = nullptr;
    std::string query = std::string("\\StringFileInfo\\041104B0\\") + field;
    CHECK(VerQueryValueA(data.data(), query.c_str(), (void**)&value, &len));
    CHECK(value && module == value);
  }
  char* version = nullptr;
  CHECK(VerQueryValueA(data.data(), "\\StringFileInfo\\041104B0\\FileVersion", (void**)&version, &len));
  CHECK(version && strcmp(version, "0.8.0.32") == 0);
}
#endif
