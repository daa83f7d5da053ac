// spihost: a small host of the Susie import-filter interface. It loads a
// plug-in by path, asks it about a picture and decodes the picture to a BMP.
//
//   spihost PLUGIN INPUT [OUT.bmp] [--offset N] [--memory]
//   spihost PLUGIN --batch FILE
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

struct Plugin {
  PluginInfoFn plugin_info;
  PictureInfoFn picture_info;
  PictureFn picture;
};

struct Job {
  const char* input;
  const char* output;  // null: decode only
  long offset;
  bool memory;
};

// Parses "INPUT [OUT.bmp] [--offset N] [--memory]" from args[0..count).
static bool ParseJob(char** args, int count, Job* job) {
  const char* positional[2] = {nullptr, nullptr};
  int n = 0;
  job->offset = 0;
  job->memory = false;
  for (int i = 0; i < count; i++) {
    if (strcmp(args[i], "--offset") == 0 && i + 1 < count) {
      job->offset = strtol(args[++i], nullptr, 0);
    } else if (strcmp(args[i], "--memory") == 0) {
      job->memory = true;
    } else if (n < 2 && args[i][0] != '-') {
      positional[n++] = args[i];
    } else {
      return false;
    }
  }
  job->input = positional[0];
  job->output = positional[1];
  return n >= 1;
}

// Returns 0 when the picture was decoded (and written, if asked).
static int RunJob(const Plugin& plugin, const Job& job) {
  const char* input = job.input;
  intptr_t len = job.offset;
  uint32_t flag = SPI_INPUT_FILE;
  char* data = nullptr;
  if (job.memory) {
    long length = 0;
    if (!ReadFrom(job.input, job.offset, &data, &length)) {
      fprintf(stderr, "spihost: cannot read %s\n", job.input);
      free(data);
      return 2;
    }
    input = data;
    len = length;
    flag = SPI_INPUT_MEMORY;
  }

  PictureInfo info;
  memset(&info, 0, sizeof info);
  int32_t rc = plugin.picture_info(input, len, flag, &info);
  printf("GetPictureInfo: %d", (int)rc);
  if (rc == 0) printf(" (%d x %d, %d bits)", (int)info.width, (int)info.height, (int)info.color_depth);
  printf("\n");

  void* header = nullptr;
  void* pixels = nullptr;
  rc = plugin.picture(input, len, flag, &header, &pixels, Progress, 0);
  printf("GetPicture: %d\n", (int)rc);
  int status = rc == 0 ? 0 : 1;
  if (rc == 0 || rc == 1) {
    const uint8_t* h = (const uint8_t*)LockBlock(header);
    const uint8_t* px = (const uint8_t*)LockBlock(pixels);
    int32_t width = (int32_t)(h[4] | h[5] << 8 | h[6] << 16 | (uint32_t)h[7] << 24);
    int32_t height = (int32_t)(h[8] | h[9] << 8 | h[10] << 16 | (uint32_t)h[11] << 24);
    uint32_t pixel_bytes = ((3u * (uint32_t)width + 3u) & ~3u) * (uint32_t)height;
    if (job.output) {
      if (WriteBmp(job.output, h, px, pixel_bytes)) {
        printf("wrote %s (%d x %d)\n", job.output, (int)width, (int)height);
      } else {
        fprintf(stderr, "spihost: cannot write %s\n", job.output);
        status = 1;
      }
    }
    UnlockBlock(header);
    UnlockBlock(pixels);
    FreeBlock(header);
    FreeBlock(pixels);
  }
  free(data);
  fflush(stdout);
  return status;
}

// Each line of a batch file is one job's words, split at blanks.
static int RunBatch(const Plugin& plugin, const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) {
    fprintf(stderr, "spihost: cannot read %s\n", path);
    return 2;
  }
  int status = 0;
  char line[4096];
  while (fgets(line, sizeof line, f)) {
    char* words[8];
    int n = 0;
    for (char* w = strtok(line, " \t\r\n"); w && n < 8; w = strtok(nullptr, " \t\r\n")) words[n++] = w;
    if (n == 0) continue;
    Job job;
    if (!ParseJob(words, n, &job)) {
      fprintf(stderr, "spihost: bad batch line: %s\n", words[0]);
      status = 2;
      continue;
    }
    printf("job: %s\n", job.input);
    int rc = RunJob(plugin, job);
    if (rc > status) status = rc;
  }
  fclose(f);
  return status;
}

int main(int argc, char** argv) {
  const char* usage =
      "usage: spihost PLUGIN INPUT [OUT.bmp] [--offset N] [--memory]\n"
      "       spihost PLUGIN --batch FILE   (one job of the first form a line)\n";
  bool batch = argc == 4 && strcmp(argv[2], "--batch") == 0;
  Job job = {};
  if (argc < 3 || (!batch && !ParseJob(argv + 2, argc - 2, &job))) {
    fputs(usage, stderr);
    return 2;
  }
  Module module = OpenModule(argv[1]);
  if (!module) {
    fprintf(stderr, "spihost: cannot load %s\n", argv[1]);
    return 2;
  }
  Plugin plugin;
  plugin.plugin_info = (PluginInfoFn)Symbol(module, "GetPluginInfo");
  plugin.picture_info = (PictureInfoFn)Symbol(module, "GetPictureInfo");
  plugin.picture = (PictureFn)Symbol(module, "GetPicture");
  if (!plugin.plugin_info || !plugin.picture_info || !plugin.picture) {
    fprintf(stderr, "spihost: %s is not an import filter\n", argv[1]);
    return 2;
  }
  char text[256];
  plugin.plugin_info(1, text, sizeof text);
  printf("plug-in: %s\n", text);
  return batch ? RunBatch(plugin, argv[3]) : RunJob(plugin, job);
}
