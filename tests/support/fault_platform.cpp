#include "tests/support/fault_platform.h"

#include <string.h>

static FaultPlatform* Self(void* context) { return (FaultPlatform*)context; }

// Counts the call and says whether this one is to fail.
static bool Fails(FaultPlatform* fp, FaultOp op) {
  int n = fp->calls[op]++;
  return fp->fail_op == op && fp->fail_nth == n;
}

static const Platform& Real() { return kSystemPlatform; }

static PlatformFile Open(void* c, const char* name) {
  if (Fails(Self(c), kOpOpen)) return kNoFile;
  PlatformFile f = Real().open_file(nullptr, name);
  if (f != kNoFile) Self(c)->open_files++;
  return f;
}
static int Size(void* c, PlatformFile f, uint32_t* size) {
  return Fails(Self(c), kOpSize) ? 0 : Real().file_size(nullptr, f, size);
}
static int Seek(void* c, PlatformFile f, uint32_t offset, uint32_t* reached) {
  return Fails(Self(c), kOpSeek) ? 0 : Real().seek_file(nullptr, f, offset, reached);
}
static int Read(void* c, PlatformFile f, void* buf, uint32_t want, uint32_t* got) {
  FaultPlatform* fp = Self(c);
  if (Fails(fp, kOpRead)) {
    if (!fp->short_read || want == 0) {
      *got = 0;
      return 0;
    }
    int ok = Real().read_file(nullptr, f, buf, want - 1, got);
    return ok;
  }
  return Real().read_file(nullptr, f, buf, want, got);
}
static void Close(void* c, PlatformFile f) {
  Self(c)->open_files--;
  Real().close_file(nullptr, f);
}
static void* AllocFixed(void* c, size_t size) {
  if (Fails(Self(c), kOpAllocFixed)) return nullptr;
  void* p = Real().alloc_fixed(nullptr, size);
  if (p) {
    memset(p, Self(c)->poison, size);
    Self(c)->fixed_blocks.insert(p);
  }
  return p;
}
static void FreeFixed(void* c, void* p) {
  Self(c)->fixed_blocks.erase(p);
  Real().free_fixed(nullptr, p);
}
static void* AllocMoveable(void* c, size_t size) {
  if (Fails(Self(c), kOpAllocMoveable)) return nullptr;
  void* h = Real().alloc_moveable(nullptr, size);
  if (h) {
    memset(Real().lock(nullptr, h), Self(c)->poison, size);
    Real().unlock(nullptr, h);
    Self(c)->moveable_blocks.insert(h);
  }
  return h;
}
static void* Lock(void* c, void* h) {
  if (Fails(Self(c), kOpLock)) return nullptr;
  Self(c)->locks_held++;
  return Real().lock(nullptr, h);
}
static void Unlock(void* c, void* h) {
  Self(c)->locks_held--;
  Real().unlock(nullptr, h);
}
static void FreeMoveable(void* c, void* h) {
  Self(c)->moveable_blocks.erase(h);
  Real().free_moveable(nullptr, h);
}
static int32_t CopyText(void*, char* buffer, const char* text, int32_t size) {
  return Real().copy_text(nullptr, buffer, text, size);
}

void InitFaultPlatform(FaultPlatform* fp) {
  fp->table = Platform{fp,        Open,   Size,          Seek, Read,   Close,        AllocFixed, FreeFixed,
                       AllocMoveable, Lock, Unlock, FreeMoveable, CopyText, Real().text};
}
