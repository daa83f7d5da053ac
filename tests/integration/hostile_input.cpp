// Hostile input against the loaded plug-in, as a host would meet it:
// damaged pictures of every coding (and the sample pictures, if any), memory
// input that ends flush against a page that cannot be read, and several host
// threads decoding at once.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/integration/harness.h"
#include "tests/support/coded_pictures.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

typedef std::vector<uint8_t> Bytes;

void Fail(const std::string& what) { RecordFailure(__FILE__, __LINE__, what); }

// Decodes by memory, or by a file of the picture's name when the name
// decides the form.
Decoded DecodeAs(const Plugin& plugin, const coded::Picture& p, const Bytes& bytes) {
  if (!p.by_name) return DecodeMemory(plugin, bytes);
  std::string path = TempPath("hostile_" + p.name);
  if (!WriteBytes(path, bytes)) return Decoded();
  return DecodeFile(plugin, path, 0);
}

// Two runs must see fresh blocks filled differently, so that a byte the
// decoder leaves unwritten shows as a difference.
//
// Windows: the plug-in's import of LocalAlloc is pointed at a wrapper that
// fills every new block with the poison of the run. Elsewhere: a picture of
// the same size whose pixels are all one value is decoded and freed just
// before, and the C heap hands the next decode the same blocks, still full of
// that value.
#ifdef _WIN32
typedef HLOCAL(WINAPI* LocalAllocFn)(UINT, SIZE_T);
LocalAllocFn g_local_alloc = nullptr;
uint8_t g_poison = 0xA5;

HLOCAL WINAPI PoisoningLocalAlloc(UINT flags, SIZE_T bytes) {
  HLOCAL h = g_local_alloc(flags, bytes);
  if (h && bytes && !(flags & LMEM_ZEROINIT)) {
    void* p = (flags & LMEM_MOVEABLE) ? LocalLock(h) : (void*)h;
    if (p) memset(p, g_poison, bytes);
    if (flags & LMEM_MOVEABLE) LocalUnlock(h);
  }
  return h;
}

// Rewrites every slot of the module's import table that holds `from`.
int PatchImports(void* module, void* from, void* to) {
  uint8_t* base = (uint8_t*)module;
  IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
  IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  int patched = 0;
  if (!dir.VirtualAddress) return 0;
  for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; d++) {
    for (void** slot = (void**)(base + d->FirstThunk); *slot; slot++) {
      if (*slot != from) continue;
      DWORD old;
      VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
      *slot = to;
      VirtualProtect(slot, sizeof *slot, old, &old);
      patched++;
    }
  }
  return patched;
}

struct PoisonedAllocations {
  bool active = false;
  void* module;
  explicit PoisonedAllocations(const Plugin& plugin) : module(plugin.module) {
    g_local_alloc = (LocalAllocFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "LocalAlloc");
    active = g_local_alloc && PatchImports(module, (void*)g_local_alloc, (void*)PoisoningLocalAlloc) > 0;
  }
  ~PoisonedAllocations() {
    if (active) PatchImports(module, (void*)PoisoningLocalAlloc, (void*)g_local_alloc);
  }
  void Before(const Plugin&, const coded::Picture&, int run) { g_poison = run ? 0x5A : 0xA5; }
};
#else
// A picture of the same size and form whose pixels are all `value`.
coded::Picture Filler(const coded::Picture& like, uint8_t value) {
  coded::Picture f = like;
  if (like.by_name) {
    Bytes stream(769, 0);
    stream[0] = stream[1] = stream[2] = value;  // entry 0 everywhere
    f.bytes = stream;
  } else {
    Bytes pixels((size_t)like.width * like.height * 3, value);
    f.bytes = coded::Headered(like.width == 800 ? '3' : '2', 'b', pixels);
  }
  return f;
}

struct PoisonedAllocations {
  bool active = true;
  explicit PoisonedAllocations(const Plugin&) {}
  void Before(const Plugin& plugin, const coded::Picture& p, int run) {
    coded::Picture f = Filler(p, run ? 0xEE : 0x11);
    DecodeAs(plugin, f, f.bytes);
  }
};
#endif

struct SweepCounts {
  int runs = 0, decoded = 0;
};

void RunDamaged(const Plugin& plugin, PoisonedAllocations* poison, const coded::Picture& p, const Bytes& bytes,
                const std::string& what, SweepCounts* counts) {
  Decoded d[2];
  for (int i = 0; i < 2; i++) {
    poison->Before(plugin, p, i);
    d[i] = DecodeAs(plugin, p, bytes);
  }
  counts->runs++;
  if (d[0].result != 0 && d[0].result != 2) Fail(p.label + ", " + what + ": result " + std::to_string(d[0].result));
  if (d[1].result != d[0].result) Fail(p.label + ", " + what + ": two results");
  if (d[0].result != 0) return;
  counts->decoded++;
  if (d[0].pixels.empty() || d[0].pixels != d[1].pixels)
    Fail(p.label + ", " + what + ": pixels unwritten or unstable");
}

std::vector<coded::Picture> SamplePictures();

void SweepOne(const Plugin& plugin, PoisonedAllocations* poison, const coded::Picture& p, int positions,
              int lengths) {
  SweepCounts counts;
  RunDamaged(plugin, poison, p, p.bytes, "undamaged", &counts);
  if (counts.decoded != 1) Fail(p.label + ": the undamaged picture is not decoded");
  std::vector<size_t> at = {0, 1, 2};
  if (p.stream_offset >= 9030) {
    at.push_back(p.stream_offset - 2);
    at.push_back(p.stream_offset - 1);
  }
  coded::Random rng((uint32_t)p.bytes.size());
  size_t stream = p.bytes.size() - p.stream_offset;
  for (int i = 0; i < positions; i++) at.push_back(p.stream_offset + rng.Below((uint32_t)stream));
  Bytes bytes = p.bytes;
  for (size_t k : at) {
    if (k >= bytes.size()) continue;
    uint8_t original = bytes[k];
    for (uint8_t value : {(uint8_t)~original, (uint8_t)0, (uint8_t)0xFF}) {
      if (value == original) continue;
      bytes[k] = value;
      RunDamaged(plugin, poison, p, bytes, "byte " + std::to_string(k) + " := " + std::to_string(value), &counts);
    }
    bytes[k] = original;
  }
  std::vector<size_t> cuts = {0, 1, 2, 3, p.stream_offset, p.stream_offset + 1, p.bytes.size() - 1};
  for (int i = 1; i <= lengths; i++) cuts.push_back(p.stream_offset + stream * (size_t)i / (size_t)(lengths + 1));
  for (size_t n : cuts) {
    if (n > p.bytes.size()) continue;
    RunDamaged(plugin, poison, p, Bytes(p.bytes.begin(), p.bytes.begin() + (long)n), "cut to " + std::to_string(n),
               &counts);
  }
  if (counts.decoded * 2 <= counts.runs) Fail(p.label + ": most damaged pictures were refused");
}

}  // namespace

CONTRACT_TEST(HostileDamageSweep) {
  PoisonedAllocations poison(plugin);
  CHECK(poison.active);
  for (const coded::Picture& p : coded::EveryCoding(9)) SweepOne(plugin, &poison, p, 40, 12);
  std::vector<coded::Picture> samples = SamplePictures();
  for (const coded::Picture& p : samples)
    SweepOne(plugin, &poison, p, (int)std::max<size_t>(8, 120 / samples.size()), 4);
}

// ---------------------------------------------------------------------------
// Memory input whose last byte is the last readable byte before a page that
// cannot be read: any read past the host's length faults at once.

namespace {

struct GuardedBlock {
  uint8_t* base = nullptr;
  size_t readable = 0;  // bytes before the unreadable page
  size_t total = 0;
};

size_t PageSize() {
#ifdef _WIN32
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return si.dwPageSize;
#else
  return (size_t)sysconf(_SC_PAGESIZE);
#endif
}

GuardedBlock MakeGuarded(size_t capacity) {
  GuardedBlock g;
  size_t page = PageSize();
  g.readable = (capacity + page - 1) / page * page;
  g.total = g.readable + page;
#ifdef _WIN32
  g.base = (uint8_t*)VirtualAlloc(nullptr, g.total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  DWORD old;
  if (g.base && !VirtualProtect(g.base + g.readable, page, PAGE_NOACCESS, &old)) g.base = nullptr;
#else
  void* m = mmap(nullptr, g.total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  g.base = m == MAP_FAILED ? nullptr : (uint8_t*)m;
  if (g.base && mprotect(g.base + g.readable, page, PROT_NONE) != 0) g.base = nullptr;
#endif
  return g;
}

void FreeGuarded(GuardedBlock* g) {
  if (!g->base) return;
#ifdef _WIN32
  VirtualFree(g->base, 0, MEM_RELEASE);
#else
  munmap(g->base, g->total);
#endif
  g->base = nullptr;
}

// Copies bytes so that they end where the readable part ends.
const uint8_t* PlaceFlush(const GuardedBlock& g, const Bytes& bytes) {
  uint8_t* at = g.base + g.readable - bytes.size();
  if (!bytes.empty()) memcpy(at, bytes.data(), bytes.size());
  return at;
}

// A fault is reported with what was being read, then the run ends.
const char* g_reading = "";
#ifdef _WIN32
LONG CALLBACK OnFault(EXCEPTION_POINTERS* e) {
  if (e->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
  fprintf(stdout, "  access violation at %p while reading %s: a read past the host's length\n",
          (void*)e->ExceptionRecord->ExceptionInformation[1], g_reading);
  fflush(stdout);
  ExitProcess(3);
  return EXCEPTION_CONTINUE_SEARCH;
}
#else
void OnFault(int, siginfo_t* info, void*) {
  char line[160];
  int n = snprintf(line, sizeof line, "  fault at %p while reading %s: a read past the host's length\n", info->si_addr,
                   g_reading);
  if (n > 0 && write(1, line, (size_t)n) < 0) _exit(3);
  _exit(3);
}
#endif

struct FaultReport {
#ifdef _WIN32
  void* handler;
  FaultReport() { handler = AddVectoredExceptionHandler(1, OnFault); }
  ~FaultReport() { RemoveVectoredExceptionHandler(handler); }
#else
  struct sigaction old_segv, old_bus;
  FaultReport() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = OnFault;
    sa.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &sa, &old_segv);
    sigaction(SIGBUS, &sa, &old_bus);
  }
  ~FaultReport() {
    sigaction(SIGSEGV, &old_segv, nullptr);
    sigaction(SIGBUS, &old_bus, nullptr);
  }
#endif
};

void ReadFlush(const Plugin& plugin, const GuardedBlock& g, const Bytes& bytes, const std::string& what) {
  const uint8_t* at = PlaceFlush(g, bytes);
  g_reading = what.c_str();
  PictureInfo info;
  int32_t info_rc = plugin.get_picture_info((const char*)at, (intptr_t)bytes.size(), 1, &info);
  void* header = nullptr;
  void* pixels = nullptr;
  int32_t rc = plugin.get_picture((const char*)at, (intptr_t)bytes.size(), 1, &header, &pixels, nullptr, 0);
  // IsSupported takes three bytes from a pointer, whatever the host has.
  int32_t quick = bytes.size() >= 3 ? plugin.is_supported("flush.gd", at) : 1;
  g_reading = "";
  if (rc == 0) {
    FreeHostBlock(header);
    FreeHostBlock(pixels);
  }
  if ((rc != 0 && rc != 2) || (info_rc != 0 && info_rc != 2) || (rc == 0 && (info_rc != 0 || quick != 1)))
    Fail(what + ": results " + std::to_string(rc) + ", " + std::to_string(info_rc) + ", " + std::to_string(quick));
}

}  // namespace

CONTRACT_TEST(HostileInputFlushAgainstUnreadablePage) {
  std::vector<coded::Picture> pictures = coded::EveryCoding(13);
  size_t largest = 0;
  for (const coded::Picture& p : pictures) largest = std::max(largest, p.bytes.size());
  GuardedBlock g = MakeGuarded(largest);
  CHECK(g.base != nullptr);
  if (!g.base) return;
  FaultReport report;
  int runs = 0;
  for (const coded::Picture& p : pictures) {
    size_t size = p.bytes.size();
    std::vector<size_t> cuts;
    for (size_t n = 0; n < 16; n++) cuts.push_back(n);
    for (size_t n = p.stream_offset >= 3 ? p.stream_offset - 3 : 0; n < p.stream_offset + 64; n++) cuts.push_back(n);
    for (size_t i = 1; i < 48; i++) cuts.push_back(p.stream_offset + (size - p.stream_offset) * i / 48);
    for (size_t n = size - 8; n <= size; n++) cuts.push_back(n);
    for (size_t n : cuts) {
      if (n > size) continue;
      Bytes cut(p.bytes.begin(), p.bytes.begin() + (long)n);
      ReadFlush(plugin, g, cut, p.label + " cut to " + std::to_string(n));
      runs++;
    }
    // Damage that sends a stream on past its end code.
    coded::Random rng(77);
    for (int i = 0; i < 24; i++) {
      Bytes bytes = p.bytes;
      bytes[p.stream_offset + rng.Below((uint32_t)(size - p.stream_offset))] ^= 0xFF;
      for (size_t k = size >= 4 ? size - 4 : 0; k < size; k++) bytes[k] = 0xFF;
      ReadFlush(plugin, g, bytes, p.label + " damaged " + std::to_string(i));
      runs++;
    }
  }
  // Nothing at all before the page: a length of 0 reads nothing.
  ReadFlush(plugin, g, Bytes(), "an empty block");
  CHECK(runs > 500);
  FreeGuarded(&g);
}

// ---------------------------------------------------------------------------
// Several host threads decoding different pictures at once.

namespace {

struct ThreadJob {
  coded::Picture picture;
  std::string path;
  Bytes pixels;
};

struct ThreadWork {
  const Plugin* plugin;
  const std::vector<ThreadJob>* jobs;
  int index;
  int decodes = 0, mismatches = 0, failures = 0;
};

void DecodeTurns(ThreadWork* w) {
  size_t n = w->jobs->size();
  for (size_t k = 0; k < 2 * n; k++) {
    const ThreadJob& job = (*w->jobs)[(w->index % 2 ? 3 * n - 1 - k : k + 5 * (size_t)w->index) % n];
    Decoded d = (k + (size_t)w->index) % 2 || job.picture.by_name ? DecodeFile(*w->plugin, job.path, 0)
                                                                   : DecodeMemory(*w->plugin, job.picture.bytes);
    if (d.result != 0) {
      w->failures++;
      continue;
    }
    w->decodes++;
    if (d.pixels != job.pixels) w->mismatches++;
  }
}

#ifdef _WIN32
DWORD WINAPI ThreadMain(LPVOID arg) {
  DecodeTurns((ThreadWork*)arg);
  return 0;
}
#else
void* ThreadMain(void* arg) {
  DecodeTurns((ThreadWork*)arg);
  return nullptr;
}
#endif

}  // namespace

CONTRACT_TEST(HostThreadsDecodeAtOnce) {
  // Where 32-bit programs run under qemu's user-mode emulation, Wine crashes
  // in the emulator with any program that starts threads (a plain one of
  // four LocalAlloc loops does too), so there is nothing to learn here. The
  // same test runs natively, under TSan, and on the 64-bit build under Wine.
  const char* emulated = getenv("VESK_I386_EMULATED");
  if (sizeof(void*) == 4 && emulated && *emulated == '1') {
    SkipTest("32-bit code runs emulated on this machine");
    return;
  }
  std::vector<ThreadJob> jobs;
  for (uint32_t seed : {21u, 22u}) {
    for (const coded::Picture& p : coded::EveryCoding(seed)) {
      ThreadJob job;
      job.picture = p;
      job.path = TempPath("threads_" + std::to_string(seed) + "_" + p.name);
      CHECK(WriteBytes(job.path, p.bytes));
      Decoded d = p.by_name ? DecodeFile(plugin, job.path, 0) : DecodeMemory(plugin, p.bytes);
      CHECK_EQ(d.result, 0);
      job.pixels = d.pixels;
      jobs.push_back(job);
    }
  }
  const int kThreads = 4;
  std::vector<ThreadWork> work(kThreads);
#ifdef _WIN32
  HANDLE threads[kThreads];
  for (int i = 0; i < kThreads; i++) {
    work[i] = {&plugin, &jobs, i};
    threads[i] = CreateThread(nullptr, 0, ThreadMain, &work[i], 0, nullptr);
    CHECK(threads[i] != nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE t : threads) CloseHandle(t);
#else
  pthread_t threads[kThreads];
  for (int i = 0; i < kThreads; i++) {
    work[i] = {&plugin, &jobs, i};
    CHECK_EQ(pthread_create(&threads[i], nullptr, ThreadMain, &work[i]), 0);
  }
  for (pthread_t t : threads) pthread_join(t, nullptr);
#endif
  for (const ThreadWork& w : work) {
    CHECK_EQ(w.failures, 0);
    CHECK_EQ(w.mismatches, 0);
    CHECK_EQ(w.decodes, 2 * (int)jobs.size());
  }
}

// ---------------------------------------------------------------------------
// The repository's sample pictures, found next to the sources.

namespace {

std::string SamplesFolder() {
  const char* env = getenv("VESK_SAMPLES");
  if (env && *env) return env;
  std::string here = __FILE__;
  size_t cut = here.rfind("tests/integration/");
  return cut == std::string::npos ? "samples" : here.substr(0, cut) + "samples";
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "/*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileA(h, &found));
  FindClose(h);
#else
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(dir);
#endif
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWithNoCase(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; i++)
    if (toupper((unsigned char)s[s.size() - n + i]) != toupper((unsigned char)tail[i])) return false;
  return true;
}

// Up to eight samples, each as its form says: by name (".hhp") or by content.
std::vector<coded::Picture> SamplePictures() {
  std::vector<coded::Picture> v;
  std::string folder = SamplesFolder();
  for (const std::string& name : FileNames(folder)) {
    bool hhp = EndsWithNoCase(name, ".hhp");
    if (!hhp && !EndsWithNoCase(name, ".gd") && !EndsWithNoCase(name, ".dcl")) continue;
    FILE* f = fopen((folder + "/" + name).c_str(), "rb");
    if (!f) continue;
    Bytes bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    if (bytes.size() < 4) continue;
    coded::Picture p = {name, hhp ? "sample.hhp" : "sample.gd", bytes, 640, 480, 0, hhp};
    if (hhp) {
      p.height = 400;
    } else if (bytes[0] == 'G' && bytes[1] == 'D') {
      p.stream_offset = bytes[2] == '3' ? 14166 : 9030;
      if (bytes[2] == '3') {
        p.width = 800;
        p.height = 600;
      }
    } else if (bytes[0] && strchr("LlPp", bytes[0])) {
      p.stream_offset = 2;
    }
    if (p.stream_offset >= bytes.size()) continue;
    v.push_back(p);
    if (v.size() == 8) break;
  }
  return v;
}

}  // namespace
