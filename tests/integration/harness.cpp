#include "tests/integration/harness.h"

#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>
#endif

namespace {
struct Entry {
  const char* name;
  ContractFn fn;
};
std::vector<Entry>& Registry() {
  static std::vector<Entry> entries;
  return entries;
}
int g_failures_in_test = 0;
bool g_skipped_test = false;
std::string g_temp_dir;
}  // namespace

ContractRegistration::ContractRegistration(const char* name, ContractFn fn) { Registry().push_back({name, fn}); }

void SkipTest(const char* why) {
  printf("  skipped: %s\n", why);
  g_skipped_test = true;
}

void RecordFailure(const char* file, int line, const std::string& what) {
  if (g_failures_in_test < 20) fprintf(stdout, "  %s:%d: failed: %s\n", file, line, what.c_str());
  g_failures_in_test++;
}

#ifdef _WIN32
void FreeHostBlock(void* handle) { LocalFree((HLOCAL)handle); }
const uint8_t* LockHostBlock(void* handle, size_t* size) {
  *size = LocalSize((HLOCAL)handle);
  return (const uint8_t*)LocalLock((HLOCAL)handle);
}
void UnlockHostBlock(void* handle) { LocalUnlock((HLOCAL)handle); }
static void* LoadModule(const char* path) { return (void*)LoadLibraryA(path); }
static void* FindSymbol(void* module, const char* name) { return (void*)GetProcAddress((HMODULE)module, name); }
#else
void FreeHostBlock(void* handle) { free(handle); }
const uint8_t* LockHostBlock(void* handle, size_t* size) {
  *size = malloc_usable_size(handle);
  return (const uint8_t*)handle;
}
void UnlockHostBlock(void*) {}
static void* LoadModule(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* FindSymbol(void* module, const char* name) { return dlsym(module, name); }
#endif

static Decoded TakeBlocks(int32_t rc, void* header, void* pixels) {
  Decoded d;
  d.result = rc;
  if (rc == 0 || rc == 1) {
    size_t size = 0;
    const uint8_t* h = LockHostBlock(header, &size);
    d.header.assign(h, h + 40);
    UnlockHostBlock(header);
    int32_t width, height;
    memcpy(&width, d.header.data() + 4, 4);
    memcpy(&height, d.header.data() + 8, 4);
    size_t bytes = (size_t)((3 * width + 3) & ~3) * (size_t)height;
    const uint8_t* px = LockHostBlock(pixels, &size);
    if (size >= bytes) d.pixels.assign(px, px + bytes);
    UnlockHostBlock(pixels);
    FreeHostBlock(header);
    FreeHostBlock(pixels);
  }
  return d;
}

Decoded DecodeFile(const Plugin& plugin, const std::string& path, intptr_t offset) {
  void* header = nullptr;
  void* pixels = nullptr;
  int32_t rc = plugin.get_picture(path.c_str(), offset, 0, &header, &pixels, nullptr, 0);
  return TakeBlocks(rc, header, pixels);
}

Decoded DecodeMemory(const Plugin& plugin, const std::vector<uint8_t>& bytes) {
  void* header = nullptr;
  void* pixels = nullptr;
  int32_t rc = plugin.get_picture((const char*)bytes.data(), (intptr_t)bytes.size(), 1, &header, &pixels, nullptr, 0);
  return TakeBlocks(rc, header, pixels);
}

std::string TempPath(const std::string& name) { return g_temp_dir + "/" + name; }

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

std::vector<uint8_t> HeaderedPicture(char digit, char mode, const std::vector<uint8_t>& stream) {
  size_t mode_at = digit == '3' ? 14164 : 9028;
  std::vector<uint8_t> bytes(mode_at + 2, 0);
  bytes[0] = 'G';
  bytes[1] = 'D';
  bytes[2] = (uint8_t)digit;
  bytes[mode_at] = (uint8_t)mode;
  bytes.insert(bytes.end(), stream.begin(), stream.end());
  return bytes;
}

std::vector<uint8_t> PatternPixels(int width, int height, uint32_t seed) {
  std::vector<uint8_t> px((size_t)width * height * 3);
  uint32_t s = seed * 2654435761u + 1;
  for (size_t i = 0; i < px.size(); i++) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    px[i] = (uint8_t)(i % 3 == 0 ? (s >> 24) : (i / 3) * (i % 3));
  }
  return px;
}

static std::string MakeTempDir() {
#ifdef _WIN32
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string dir = std::string(base) + "vesk_contract_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
#else
  char templ[] = "/tmp/vesk_contract_XXXXXX";
  const char* dir = mkdtemp(templ);
  return dir ? dir : "/tmp";
#endif
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: plugin_contract PLUGIN [TEST-NAME-PREFIX]\n");
    return 2;
  }
  Plugin plugin = {};
  plugin.path = argv[1];
  plugin.module = LoadModule(argv[1]);
  if (!plugin.module) {
    fprintf(stderr, "plugin_contract: cannot load %s\n", argv[1]);
    return 2;
  }
  plugin.get_plugin_info = (PluginInfoFn)FindSymbol(plugin.module, "GetPluginInfo");
  plugin.is_supported = (IsSupportedFn)FindSymbol(plugin.module, "IsSupported");
  plugin.get_picture_info = (PictureInfoFn)FindSymbol(plugin.module, "GetPictureInfo");
  plugin.get_picture = (PictureFn)FindSymbol(plugin.module, "GetPicture");
  plugin.get_preview = (PictureFn)FindSymbol(plugin.module, "GetPreview");
  if (!plugin.get_plugin_info || !plugin.is_supported || !plugin.get_picture_info || !plugin.get_picture ||
      !plugin.get_preview) {
    fprintf(stderr, "plugin_contract: %s lacks an export\n", argv[1]);
    return 2;
  }
  g_temp_dir = MakeTempDir();
  const char* only = argc > 2 ? argv[2] : nullptr;
  int passed = 0, failed = 0, skipped = 0;
  for (const Entry& e : Registry()) {
    if (only && strncmp(e.name, only, strlen(only)) != 0) continue;
    g_failures_in_test = 0;
    g_skipped_test = false;
    e.fn(plugin);
    const char* status = g_failures_in_test ? "FAIL" : g_skipped_test ? "skip" : "ok  ";
    printf("%s %s\n", status, e.name);
    fflush(stdout);
    (g_failures_in_test ? failed : g_skipped_test ? skipped : passed)++;
  }
  printf("plugin_contract: %d passed, %d failed, %d skipped\n", passed, failed, skipped);
  return failed ? 1 : 0;
}
