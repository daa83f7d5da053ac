// POSIX platform layer: descriptors for files, malloc blocks whose handle is
// their address, and the portable extension test.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

static PlatformFile PosixOpen(void*, const char* name) {
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // a folder is no file to read
    close(fd);
    return kNoFile;
  }
  return (PlatformFile)fd;
}

static int PosixSize(void*, PlatformFile file, uint32_t* size) {
  struct stat st;
  if (fstat((int)file, &st) != 0 || st.st_size < 0 || (uint64_t)st.st_size > 0xFFFFFFFFu) return 0;
  *size = (uint32_t)st.st_size;
  return 1;
}

static int PosixSeek(void*, PlatformFile file, uint32_t offset, uint32_t* reached) {
  off_t at = lseek((int)file, (off_t)offset, SEEK_SET);
  if (at < 0 || (uint64_t)at > 0xFFFFFFFFu) return 0;
  *reached = (uint32_t)at;
  return 1;
}

// Like ReadFile: keeps reading until `want` bytes or the end of the file.
static int PosixRead(void*, PlatformFile file, void* buffer, uint32_t want, uint32_t* got) {
  uint32_t done = 0;
  while (done < want) {
    ssize_t n = read((int)file, (char*)buffer + done, want - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *got = done;
      return 0;
    }
    if (n == 0) break;
    done += (uint32_t)n;
  }
  *got = done;
  return 1;
}

static void PosixClose(void*, PlatformFile file) { close((int)file); }

static void* PosixAlloc(void*, size_t size) { return malloc(size ? size : 1); }
static void PosixFree(void*, void* block) { free(block); }
static void* PosixLock(void*, void* handle) { return handle; }
static void PosixUnlock(void*, void*) {}

static int32_t PosixCopyText(void*, char* buffer, const char* text, int32_t size) {
  size_t n = strlen(text);
  if (n > (size_t)(size - 1)) n = (size_t)(size - 1);
  memcpy(buffer, text, n);
  buffer[n] = 0;
  return (int32_t)n;
}

const Platform kSystemPlatform = {
    nullptr,   PosixOpen, PosixSize,     PosixSeek, PosixRead,     PosixClose,
    PosixAlloc, PosixFree, PosixAlloc,   PosixLock, PosixUnlock,   PosixFree,
    PosixCopyText, {PortableFindExtension, PortableCompareNI},
};
