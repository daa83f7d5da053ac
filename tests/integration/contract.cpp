// The plug-in's face as a host sees it: strings, IsSupported, sizes, result
// codes, input kinds and progress, against the real loaded module.
#include <stddef.h>
#include <string.h>

#include "tests/integration/harness.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::vector<uint8_t> Bytes(const char* s) { return std::vector<uint8_t>(s, s + strlen(s)); }

std::vector<uint8_t> RawPicture(char digit, int width, int height, size_t keep = (size_t)-1) {
  std::vector<uint8_t> px = PatternPixels(width, height, 77);
  if (keep < px.size()) px.resize(keep);
  return HeaderedPicture(digit, 'b', px);
}

// An open handle (Windows) or descriptor positioned at `at`, and its position.
struct OpenedFile {
#ifdef _WIN32
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit OpenedFile(const std::string& path, long at) {
    h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFilePointer(h, at, nullptr, FILE_BEGIN);
  }
  ~OpenedFile() { CloseHandle(h); }
  const void* value() const { return (const void*)h; }
  long position() const { return (long)SetFilePointer(h, 0, nullptr, FILE_CURRENT); }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
#else
  int fd = -1;
  explicit OpenedFile(const std::string& path, long at) {
    fd = open(path.c_str(), O_RDONLY);
    lseek(fd, at, SEEK_SET);
  }
  ~OpenedFile() { close(fd); }
  const void* value() const { return (const void*)(intptr_t)fd; }
  long position() const { return (long)lseek(fd, 0, SEEK_CUR); }
  bool ok() const { return fd >= 0; }
#endif
};

int32_t Info(const Plugin& plugin, const std::vector<uint8_t>& bytes, PictureInfo* info) {
  return plugin.get_picture_info((const char*)bytes.data(), (intptr_t)bytes.size(), 1, info);
}

}  // namespace

CONTRACT_TEST(PluginInfoStrings) {
  const char* expected[] = {"00IN", "GD to DIB filter ver0.60", "*.GD;*.DCL;*.HHP", "GD file(*.GD;*.DCL;*.HHP)"};
  for (int i = 0; i < 4; i++) {
    char buf[64];
    CHECK_EQ(plugin.get_plugin_info(i, buf, sizeof buf), strlen(expected[i]));
    CHECK(strcmp(buf, expected[i]) == 0);
  }
  char buf[8];
  memset(buf, 'z', sizeof buf);
  CHECK_EQ(plugin.get_plugin_info(0, buf, 3), 2);
  CHECK(strcmp(buf, "00") == 0);
  CHECK_EQ(plugin.get_plugin_info(1, buf, 1), 0);
  CHECK_EQ(buf[0], 0);
  for (int index : {4, -1, 1000}) {
    memset(buf, 'z', sizeof buf);
    CHECK_EQ(plugin.get_plugin_info(index, buf, sizeof buf), 0);
    CHECK_EQ(buf[0], 'z');
  }
  CHECK_EQ(plugin.get_preview(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
  CHECK_EQ(plugin.get_preview("x.gd", 5, 1, nullptr, nullptr, nullptr, 9), -1);
}

CONTRACT_TEST(IsSupportedFromMemory) {
  char buffer[2048] = {};
  struct {
    const char* name;
    const char* content;
    int32_t expected;
  } cases[] = {{"a.GD", "xyz", 1},   {"a.gd", "GD2", 1},      {"a.gd", "GD3", 1},   {"a.gd", "GD4", 0},
               {"a.DCL", "GDx", 0},  {"a.HHP", "GD9", 1},     {"a.bmp", "GD2", 0},  {"a", "xyz", 0},
               {nullptr, "Lxx", 1},  {nullptr, "GD7", 0},     {"a.gd2", "GD2", 1},  {"a.G", "xyz", 0}};
  for (auto& c : cases) {
    memcpy(buffer, c.content, 3);
    if (plugin.is_supported(c.name, buffer) != c.expected)
      RecordFailure(__FILE__, __LINE__, std::string("IsSupported ") + (c.name ? c.name : "(null)") + " " + c.content);
  }
}

CONTRACT_TEST(IsSupportedWithOpenFiles) {
  std::string path = TempPath("quick.gd");
  CHECK(WriteBytes(path, Bytes("..GD2LLGD")));
  struct {
    const char* name;
    long start;
    int32_t expected;
    long end;
  } cases[] = {{"a.gd", 2, 1, 5},  {"a.DCL", 0, 1, 3}, {"a.hhp", 2, 1, 2},
               {"a.bmp", 2, 0, 2}, {"a.gd", 7, 0, 9},  {"a.gd", 6, 1, 9}};
  for (auto& c : cases) {
    OpenedFile f(path, c.start);
    CHECK(f.ok());
    CHECK(((uintptr_t)f.value() >> 16) == 0);
    CHECK_EQ(plugin.is_supported(c.name, f.value()), c.expected);
    CHECK_EQ(f.position(), c.end);
  }
}

CONTRACT_TEST(PictureInfoForEveryForm) {
  struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t width, height;
  } cases[] = {
      {"L", Bytes("Lxyz"), 640, 480},       {"p", Bytes("pxyz"), 640, 480},
      {"no letter", Bytes("xyz"), 640, 480}, {"GD2 L", HeaderedPicture('2', 'L', {}), 640, 480},
      {"GD2 b", HeaderedPicture('2', 'b', {}), 640, 480}, {"GD3 p", HeaderedPicture('3', 'p', {}), 800, 600},
      {"GD3 l", HeaderedPicture('3', 'l', {}), 800, 600},
  };
  for (auto& c : cases) {
    PictureInfo info;
    memset(&info, 0x5C, sizeof info);
    CHECK_EQ(Info(plugin, c.bytes, &info), 0);
    CHECK_EQ(info.left, 0);
    CHECK_EQ(info.top, 0);
    CHECK_EQ(info.width, c.width);
    CHECK_EQ(info.height, c.height);
    CHECK_EQ(info.x_density, 0);
    CHECK_EQ(info.y_density, 0);
    CHECK_EQ(info.color_depth, 24);
    CHECK(info.info_handle == nullptr);
  }
  // The record is written exactly: nothing past its end, the 64-bit filler zero.
  {
    uint8_t guarded[sizeof(PictureInfo) + 8];
    memset(guarded, 0xEE, sizeof guarded);
    CHECK_EQ(Info(plugin, Bytes("Lxyz"), (PictureInfo*)guarded), 0);
    for (size_t i = sizeof(PictureInfo); i < sizeof guarded; i++) CHECK_EQ(guarded[i], 0xEE);
    CHECK_EQ(sizeof(PictureInfo), sizeof(void*) == 8 ? 32 : 26);
    CHECK_EQ(offsetof(PictureInfo, info_handle), sizeof(void*) == 8 ? 24 : 22);
    for (size_t i = 22; i < sizeof(PictureInfo); i++) CHECK_EQ(guarded[i], 0);
  }
  // The palette form by name: 640 x 400, the file is opened but not read.
  std::string hhp = TempPath("empty.HHP");
  CHECK(WriteBytes(hhp, {}));
  PictureInfo info;
  CHECK_EQ(plugin.get_picture_info(hhp.c_str(), 0, 0, &info), 0);
  CHECK_EQ(info.height, 400);
  CHECK_EQ(plugin.get_picture_info(TempPath("missing.hhp").c_str(), 0, 0, &info), 6);
  // An unknown mode letter passes the quick check only.
  std::vector<uint8_t> odd = HeaderedPicture('2', 'x', {1, 2, 3});
  CHECK_EQ(plugin.is_supported("odd.gd", odd.data()), 1);
  CHECK_EQ(Info(plugin, odd, &info), 2);
  CHECK_EQ(DecodeMemory(plugin, odd).result, 2);
}

CONTRACT_TEST(ResultCodesOfFileInput) {
  std::string missing = TempPath("missing.gd");
  PictureInfo info;
  CHECK_EQ(plugin.get_picture_info(missing.c_str(), 0, 0, &info), 6);
  CHECK_EQ(DecodeFile(plugin, missing, 0).result, 6);
  std::string path = TempPath("short.gd");
  std::vector<uint8_t> raw = RawPicture('2', 640, 480, 30);
  CHECK(WriteBytes(path, raw));
  CHECK_EQ(plugin.get_picture_info(path.c_str(), -1, 0, &info), 6);
  CHECK_EQ(DecodeFile(plugin, path, -1).result, 6);
  CHECK_EQ(DecodeFile(plugin, path, (intptr_t)raw.size() + 1).result, 6);
  CHECK_EQ(DecodeFile(plugin, path, (intptr_t)raw.size()).result, 2);
  std::string bmp = TempPath("picture.bmp");
  CHECK(WriteBytes(bmp, raw));
  CHECK_EQ(DecodeFile(plugin, bmp, 0).result, 2);
  CHECK_EQ(plugin.get_picture_info(bmp.c_str(), 0, 0, &info), 2);
  // GD2 shorter than its mode letter.
  std::string cut = TempPath("cut.gd");
  CHECK(WriteBytes(cut, std::vector<uint8_t>(raw.begin(), raw.begin() + 9000)));
  CHECK_EQ(plugin.get_picture_info(cut.c_str(), 0, 0, &info), 2);
  CHECK_EQ(DecodeFile(plugin, cut, 0).result, 2);
}

CONTRACT_TEST(FlagWordChoosesTheInputKind) {
  std::vector<uint8_t> raw = RawPicture('3', 800, 600);
  std::string path = TempPath("flags.gd");
  CHECK(WriteBytes(path, raw));
  const std::vector<uint8_t> expected(raw.begin() + 14166, raw.end());
  for (uint32_t flag : {0u, 8u, 0x100u}) {
    void* h = nullptr;
    void* p = nullptr;
    CHECK_EQ(plugin.get_picture(path.c_str(), 0, flag, &h, &p, nullptr, 0), 0);
    if (h) FreeHostBlock(h);
    if (p) FreeHostBlock(p);
  }
  for (uint32_t flag : {1u, 2u, 4u, 7u, 9u}) {
    void* h = nullptr;
    void* p = nullptr;
    CHECK_EQ(plugin.get_picture((const char*)raw.data(), (intptr_t)raw.size(), flag, &h, &p, nullptr, 0), 0);
    size_t size = 0;
    const uint8_t* px = p ? LockHostBlock(p, &size) : nullptr;
    CHECK(size >= expected.size());
    CHECK(px && memcmp(px, expected.data(), expected.size()) == 0);
    if (p) UnlockHostBlock(p);
    if (h) FreeHostBlock(h);
    if (p) FreeHostBlock(p);
  }
}

CONTRACT_TEST(HeaderAndBlockOf800x600) {
  Decoded d = DecodeMemory(plugin, RawPicture('3', 800, 600));
  CHECK_EQ(d.result, 0);
  CHECK_EQ(d.header.size(), 40);
  CHECK_EQ(d.pixels.size(), 1440000);
  if (d.header.size() != 40) return;
  const int widths[] = {4, 4, 4, 2, 2, 4, 4, 4, 4, 4, 4};
  const long long values[] = {40, 800, 600, 1, 24, 0, 0, 0, 0, 0, 0};
  size_t at = 0;
  for (int i = 0; i < 11; i++) {
    long long v = 0;
    for (int b = widths[i] - 1; b >= 0; b--) v = v * 256 + d.header[at + b];
    CHECK_EQ(v, values[i]);
    at += widths[i];
  }
}

CONTRACT_TEST(MemoryLengthExactOrPadded) {
  // A raw picture cut short decodes the same whether the host's block ends
  // where the data ends or is padded with zeros.
  std::vector<uint8_t> cut = RawPicture('2', 640, 480, 5000);
  std::vector<uint8_t> padded = cut;
  padded.resize(cut.size() + 100000, 0);
  Decoded a = DecodeMemory(plugin, cut);
  Decoded b = DecodeMemory(plugin, padded);
  CHECK_EQ(a.result, 0);
  CHECK(a.pixels == b.pixels);
  CHECK(a.header == b.header);
  // Too short for the first three bytes: not a picture.
  CHECK_EQ(DecodeMemory(plugin, Bytes("Lx")).result, 2);
}

namespace {
struct ProgressLog {
  int calls = 0;
  int stop_at = -1;
  int32_t seen[4][2] = {};
  intptr_t data_seen = 0;
};
int32_t SPI_CALL LogProgress(int32_t num, int32_t denom, intptr_t data) {
  ProgressLog* log = (ProgressLog*)data;
  if (log->calls < 4) {
    log->seen[log->calls][0] = num;
    log->seen[log->calls][1] = denom;
  }
  log->data_seen = data;
  return log->calls++ == log->stop_at ? 1 : 0;
}
}  // namespace

CONTRACT_TEST(ProgressCallbacks) {
  std::vector<uint8_t> raw = RawPicture('2', 640, 480);
  for (int stop_at : {-1, 0, 1}) {
    ProgressLog log;
    log.stop_at = stop_at;
    void* h = (void*)0x1234;
    void* p = (void*)0x1234;
    int32_t rc = plugin.get_picture((const char*)raw.data(), (intptr_t)raw.size(), 1, &h, &p, LogProgress,
                                    (intptr_t)&log);
    CHECK_EQ(rc, stop_at < 0 ? 0 : 1);
    CHECK_EQ(log.calls, stop_at == 0 ? 1 : 2);
    CHECK_EQ(log.seen[0][0], 0);
    CHECK_EQ(log.seen[0][1], 1);
    CHECK(log.data_seen == (intptr_t)&log);
    if (stop_at == 0) {
      CHECK(h == (void*)0x1234 && p == (void*)0x1234);
      continue;
    }
    CHECK_EQ(log.seen[1][0], 1);
    CHECK_EQ(log.seen[1][1], 1);
    size_t size = 0;
    const uint8_t* px = LockHostBlock(p, &size);
    CHECK(px && memcmp(px, raw.data() + 9030, 640 * 480 * 3) == 0);
    UnlockHostBlock(p);
    FreeHostBlock(h);
    FreeHostBlock(p);
  }
}
