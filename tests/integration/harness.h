// A small harness for contract tests of a loaded plug-in. The same sources
// build natively (dlopen of libvesk.so) and for Windows (LoadLibrary of
// VESK.SPI under Wine); every test gets the loaded plug-in.
#ifndef VESK_TESTS_HARNESS_H
#define VESK_TESTS_HARNESS_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "include/vesk_spi.h"

typedef int32_t(SPI_CALL* PluginInfoFn)(int32_t, char*, int32_t);
typedef int32_t(SPI_CALL* IsSupportedFn)(const char*, const void*);
typedef int32_t(SPI_CALL* PictureInfoFn)(const char*, intptr_t, uint32_t, PictureInfo*);
typedef int32_t(SPI_CALL* PictureFn)(const char*, intptr_t, uint32_t, void**, void**, ProgressCallback, intptr_t);

struct Plugin {
  std::string path;
  void* module;
  PluginInfoFn get_plugin_info;
  IsSupportedFn is_supported;
  PictureInfoFn get_picture_info;
  PictureFn get_picture;
  PictureFn get_preview;
};

typedef void (*ContractFn)(const Plugin& plugin);
struct ContractRegistration {
  ContractRegistration(const char* name, ContractFn fn);
};

#define CONTRACT_TEST(name)                                                \
  static void name(const Plugin& plugin);                                  \
  static ContractRegistration name##_registration(#name, name);            \
  static void name(const Plugin& plugin)

// Ends nothing by itself: the test returns after calling it, and is counted
// as skipped unless a check failed.
void SkipTest(const char* why);

// Failures are counted per test; a test goes on after a failed check.
void RecordFailure(const char* file, int line, const std::string& what);
#define CHECK(cond)                                                          \
  do {                                                                       \
    if (!(cond)) RecordFailure(__FILE__, __LINE__, "CHECK(" #cond ")");     \
  } while (0)
#define CHECK_EQ(a, b)                                                                         \
  do {                                                                                         \
    long long check_a_ = (long long)(a), check_b_ = (long long)(b);                            \
    if (check_a_ != check_b_)                                                                  \
      RecordFailure(__FILE__, __LINE__,                                                        \
                    std::string(#a " == " #b ": ") + std::to_string(check_a_) + " vs " +     \
                        std::to_string(check_b_));                                             \
  } while (0)

// What GetPicture gave, copied out of the blocks, which are then freed.
struct Decoded {
  int32_t result = -100;
  std::vector<uint8_t> header;
  std::vector<uint8_t> pixels;
};
Decoded DecodeFile(const Plugin& plugin, const std::string& path, intptr_t offset);
Decoded DecodeMemory(const Plugin& plugin, const std::vector<uint8_t>& bytes);

// Frees a block handed over by GetPicture (LocalFree or free()).
void FreeHostBlock(void* handle);
// Locks a block handed over by GetPicture; its size in *size.
const uint8_t* LockHostBlock(void* handle, size_t* size);
void UnlockHostBlock(void* handle);

// A fresh file in the run's own temporary folder.
std::string TempPath(const std::string& name);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A picture in the headered form: "GD" digit, a header of zeros, the mode
// letter, one more byte, then the stream.
std::vector<uint8_t> HeaderedPicture(char digit, char mode, const std::vector<uint8_t>& stream);
// Distinct-looking test pixels for a block of width x height.
std::vector<uint8_t> PatternPixels(int width, int height, uint32_t seed);

#endif
