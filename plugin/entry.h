// The logic of the five exports, over a platform table. The exports pass the
// system's platform; tests pass one that counts and injects failures.
#ifndef VESK_PLUGIN_ENTRY_H
#define VESK_PLUGIN_ENTRY_H

#include <stdint.h>

#include "include/vesk_spi.h"
#include "platform/platform.h"

int32_t PluginInfoCall(const Platform* platform, int32_t index, char* buffer, int32_t buffer_length);
int32_t QuickCheck(const Platform* platform, const char* name, const void* value);
int32_t PictureInfoCall(const Platform* platform, const char* input, intptr_t len, uint32_t flag,
                        PictureInfo* info);
int32_t PictureCall(const Platform* platform, const char* input, intptr_t len, uint32_t flag, void** header_out,
                    void** pixels_out, ProgressCallback progress, intptr_t data);

// Bytes of the pixel block: rows of 3 * width bytes rounded up to 4.
inline uint32_t PixelBlockSize(int32_t width, int32_t height) {
  return ((3u * (uint32_t)width + 3u) & ~3u) * (uint32_t)height;
}

#endif
