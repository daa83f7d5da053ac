// The five exports: thin shims over the entry logic with the system platform.
#define VESK_BUILDING_PLUGIN 1
#include "plugin/entry.h"

#ifdef _WIN32
#include <windows.h>
#endif

static_assert(sizeof(PictureInfo) == (sizeof(void*) == 4 ? 26 : 32), "PictureInfo layout");

extern "C" {

SPI_EXPORT int32_t SPI_CALL GetPluginInfo(int32_t index, char* buffer, int32_t buffer_length) {
  return PluginInfoCall(&kSystemPlatform, index, buffer, buffer_length);
}

SPI_EXPORT int32_t SPI_CALL IsSupported(const char* file_name, const void* value) {
  return QuickCheck(&kSystemPlatform, file_name, value);
}

SPI_EXPORT int32_t SPI_CALL GetPictureInfo(const char* input, intptr_t len, uint32_t flag, PictureInfo* info) {
  return PictureInfoCall(&kSystemPlatform, input, len, flag, info);
}

SPI_EXPORT int32_t SPI_CALL GetPicture(const char* input, intptr_t len, uint32_t flag, void** header_out,
                                       void** pixels_out, ProgressCallback progress, intptr_t data) {
  return PictureCall(&kSystemPlatform, input, len, flag, header_out, pixels_out, progress, data);
}

SPI_EXPORT int32_t SPI_CALL GetPreview(const char*, intptr_t, uint32_t, void**, void**, ProgressCallback, intptr_t) {
  return -1;
}

#ifdef _WIN32
// Nothing to set up or tear down, for any reason.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif

}  // extern "C"
