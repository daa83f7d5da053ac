// Win32 platform layer: KERNEL32 files and local memory, SHLWAPI text tests.
#include <windows.h>
#include <shlwapi.h>

#include "platform/platform.h"

static PlatformFile Win32Open(void*, const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoFile : (PlatformFile)h;
}

static int Win32Size(void*, PlatformFile file, uint32_t* size) {
  DWORD high = 0;
  DWORD low = GetFileSize((HANDLE)file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
  if (high != 0) return 0;  // 4 GiB or more: beyond what a 32-bit length holds
  *size = low;
  return 1;
}

static int Win32Seek(void*, PlatformFile file, uint32_t offset, uint32_t* reached) {
  LONG high = 0;  // passed so that offsets of 2 GiB and up are not taken as negative
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer((HANDLE)file, (LONG)offset, &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;
  if (high != 0) return 0;
  *reached = low;
  return 1;
}

static int Win32Read(void*, PlatformFile file, void* buffer, uint32_t want, uint32_t* got) {
  DWORD n = 0;
  BOOL ok = ReadFile((HANDLE)file, buffer, want, &n, nullptr);
  *got = n;
  return ok ? 1 : 0;
}

static void Win32Close(void*, PlatformFile file) { CloseHandle((HANDLE)file); }

static void* Win32AllocFixed(void*, size_t size) { return (void*)LocalAlloc(LMEM_FIXED, size); }
static void Win32FreeFixed(void*, void* block) { LocalFree((HLOCAL)block); }
static void* Win32AllocMoveable(void*, size_t size) { return (void*)LocalAlloc(LMEM_MOVEABLE, size); }
static void* Win32Lock(void*, void* handle) { return LocalLock((HLOCAL)handle); }
static void Win32Unlock(void*, void* handle) { LocalUnlock((HLOCAL)handle); }
static void Win32FreeMoveable(void*, void* handle) { LocalFree((HLOCAL)handle); }

static int32_t Win32CopyText(void*, char* buffer, const char* text, int32_t size) {
  lstrcpynA(buffer, text, size);
  return lstrlenA(buffer);
}

static const char* Win32FindExtension(const char* name) { return PathFindExtensionA(name); }
static int Win32CompareNI(const char* a, const char* b, int n) { return StrCmpNIA(a, b, n); }

const Platform kSystemPlatform = {
    nullptr,        Win32Open,   Win32Size,         Win32Seek,          Win32Read,
    Win32Close,     Win32AllocFixed, Win32FreeFixed, Win32AllocMoveable, Win32Lock,
    Win32Unlock,    Win32FreeMoveable, Win32CopyText, {Win32FindExtension, Win32CompareNI},
};
