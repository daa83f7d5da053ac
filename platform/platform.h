// The services the entry points take from the operating system: files,
// movable and fixed memory blocks, and the text operations of the extension
// test. A table of functions with a context, so that tests can hand in a
// layer that counts and fails on request.
#ifndef VESK_PLATFORM_PLATFORM_H
#define VESK_PLATFORM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#include "format/variant.h"

typedef uintptr_t PlatformFile;  // a HANDLE on Windows, a descriptor elsewhere
const PlatformFile kNoFile = ~(PlatformFile)0;

struct Platform {
  void* context;
  // Opens an existing file for reading, shared with other readers.
  PlatformFile (*open_file)(void* context, const char* name);
  // Size in bytes; 0 when it cannot be taken or does not fit in 32 bits.
  int (*file_size)(void* context, PlatformFile file, uint32_t* size);
  // Moves to `offset` from the start; returns 1 and the position reached.
  int (*seek_file)(void* context, PlatformFile file, uint32_t offset, uint32_t* reached);
  // Reads up to `want` bytes at the current position; 1 on success.
  int (*read_file)(void* context, PlatformFile file, void* buffer, uint32_t want, uint32_t* got);
  void (*close_file)(void* context, PlatformFile file);

  void* (*alloc_fixed)(void* context, size_t size);  // null on failure
  void (*free_fixed)(void* context, void* block);
  void* (*alloc_moveable)(void* context, size_t size);  // a handle, null on failure
  void* (*lock)(void* context, void* handle);          // null on failure
  void (*unlock)(void* context, void* handle);
  void (*free_moveable)(void* context, void* handle);

  // Copies at most size - 1 characters and terminates; returns the length copied.
  int32_t (*copy_text)(void* context, char* buffer, const char* text, int32_t size);
  TextOps text;
};

// The platform of the build: Win32 in the DLL, POSIX in the native library.
extern const Platform kSystemPlatform;

#endif
