// spihost: a small host of the Susie import-filter interface. It loads a
// plug-in by path, asks it about a picture and decodes the picture to a BMP.
//
//   spihost PLUGIN INPUT [OUT.bmp] [--offset N] [--memory]
//
// File input passes the name and the offset; --memory reads the file from the
// offset to its end and passes the bytes instead. Prints each result code.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "include/vesk_spi.h"

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Module;
static Module OpenModule(const char* path) { return LoadLibraryA(path); }
static void* Symbol(Module m, const char* name) { return (void*)GetProcAddress(m, name); }
static void FreeBlock(void* handle) { LocalFree((HLOCAL)handle); }
static void* LockBlock(void* handle) { return LocalLock((HLOCAL)handle); }
static void UnlockBlock(void* handle) { LocalUnlock((HLOCAL)handle); }
#else
#include <dlfcn.h>
typedef void* Module;
static Module OpenModule(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* Symbol(Module m, const char* name) { return dlsym(m, name); }
static void FreeBlock(void* handle) { free(handle); }
static void* LockBlock(void* handle) { return handle; }
static void UnlockBlock(void*) {}
#endif

typedef int32_t(SPI_CALL* PluginInfoFn)(int32_t, char*, int32_t);
typedef int32_t(SPI_CALL* PictureInfoFn)(const char*, intptr_t, uint32_t, PictureInfo*);
typedef int32_t(SPI_CALL* PictureFn)(const char*, intptr_t, uint32_t, void**, void**, ProgressCallback, intptr_t);

static int32_t SPI_CALL Progress(int32_t, int32_t, intptr_t) { return 0; }

static bool ReadFrom(const char* path, long offset, char** data, long* length) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  bool ok = fseek(f, 0, SEEK_END) == 0;
  long size = ok ? ftell(f) : -1;
  ok = ok && size >= offset && fseek(f, offset, SEEK_SET) == 0;
  *length = ok ? size - offset : 0;
  *data = ok ? (char*)malloc(*length ? *length : 1) : nullptr;
  ok = ok && *data && fread(*data, 1, *length, f) == (size_t)*length;
  fclose(f);
  return ok;
}

static void PutLe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; i++) at[i] = (uint8_t)(v >> (8 * i));
}

// A BMP file is a 14-byte file header, the bitmap header and the pixels.
static bool WriteBmp(const char* path, const uint8_t* header, const uint8_t* pixels, uint32_t pixel_bytes) {
  uint8_t file_header[14] = {'B', 'M'};
  PutLe32(file_header + 2, 14 + 40 + pixel_bytes);
  PutLe32(file_header + 10, 14 + 40);
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  bool ok = fwrite(file_header, 1, 14, f) == 14 && fwrite(header, 1, 40, f) == 40 &&
            fwrite(pixels, 1, pixel_bytes, f) == pixel_bytes;
  return fclose(f) == 0 && ok;
}

int main(int argc, char** argv) {
  const char* positional[3] = {nullptr, nullptr, nullptr};
  int count = 0;
  long offset = 0;
  bool memory = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--offset") == 0 && i + 1 < argc) {
      offset = strtol(argv[++i], nullptr, 0);
    } else if (strcmp(argv[i], "--memory") == 0) {
      memory = true;
    } else if (count < 3 && argv[i][0] != '-') {
      positional[count++] = argv[i];
    } else {
      count = 0;
      break;
    }
  }
  if (count < 2) {
    fprintf(stderr, "usage: spihost PLUGIN INPUT [OUT.bmp] [--offset N] [--memory]\n");
    return 2;
  }
  Module plugin = OpenModule(positional[0]);
  if (!plugin) {
    fprintf(stderr, "spihost: cannot load %s\n", positional[0]);
    return 2;
  }
  PluginInfoFn plugin_info = (PluginInfoFn)Symbol(plugin, "GetPluginInfo");
  PictureInfoFn picture_info = (PictureInfoFn)Symbol(plugin, "GetPictureInfo");
  PictureFn picture = (PictureFn)Symbol(plugin, "GetPicture");
  if (!plugin_info || !picture_info || !picture) {
    fprintf(stderr, "spihost: %s is not an import filter\n", positional[0]);
    return 2;
  }
  char text[256];
  plugin_info(1, text, sizeof text);
  printf("plug-in: %s\n", text);

  const char* input = positional[1];
  intptr_t len = offset;
  uint32_t flag = SPI_INPUT_FILE;
  char* data = nullptr;
  if (memory) {
    long length = 0;
    if (!ReadFrom(positional[1], offset, &data, &length)) {
      fprintf(stderr, "spihost: cannot read %s\n", positional[1]);
      return 2;
    }
    input = data;
    len = length;
    flag = SPI_INPUT_MEMORY;
  }

  PictureInfo info;
  memset(&info, 0, sizeof info);
  int32_t rc = picture_info(input, len, flag, &info);
  printf("GetPictureInfo: %d", (int)rc);
  if (rc == 0) printf(" (%d x %d, %d bits)", (int)info.width, (int)info.height, (int)info.color_depth);
  printf("\n");

  void* header = nullptr;
  void* pixels = nullptr;
  rc = picture(input, len, flag, &header, &pixels, Progress, 0);
  printf("GetPicture: %d\n", (int)rc);
  int status = rc == 0 ? 0 : 1;
  if (rc == 0 || rc == 1) {
    const uint8_t* h = (const uint8_t*)LockBlock(header);
    const uint8_t* px = (const uint8_t*)LockBlock(pixels);
    int32_t width = (int32_t)(h[4] | h[5] << 8 | h[6] << 16 | (uint32_t)h[7] << 24);
    int32_t height = (int32_t)(h[8] | h[9] << 8 | h[10] << 16 | (uint32_t)h[11] << 24);
    uint32_t pixel_bytes = ((3u * (uint32_t)width + 3u) & ~3u) * (uint32_t)height;
    if (positional[2]) {
      if (WriteBmp(positional[2], h, px, pixel_bytes)) {
        printf("wrote %s (%d x %d)\n", positional[2], (int)width, (int)height);
      } else {
        fprintf(stderr, "spihost: cannot write %s\n", positional[2]);
        status = 1;
      }
    }
    UnlockBlock(header);
    UnlockBlock(pixels);
    FreeBlock(header);
    FreeBlock(pixels);
  }
  free(data);
  return status;
}
