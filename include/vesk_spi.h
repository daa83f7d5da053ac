/* vesk_spi.h: the import-filter interface of VESK.SPI (32-bit Windows),
 * VESK.SPH (64-bit Windows) and libvesk.so (Linux), for host programs.
 *
 * One header serves every build. Lengths and the callback's value are
 * pointer-sized (intptr_t); results and the other arguments are 32-bit.
 * On Windows the blocks handed over by GetPicture are movable local memory
 * (HLOCAL, free with LocalFree); on Linux they are malloc blocks, the handle
 * is the block's address, and the host frees each with free().
 */
#ifndef VESK_SPI_H
#define VESK_SPI_H

#include <stdint.h>

#if defined(_WIN32)
#define SPI_CALL __stdcall
#else
#define SPI_CALL
#endif

#if defined(_WIN32) && defined(VESK_BUILDING_PLUGIN)
#define SPI_EXPORT
#elif defined(VESK_BUILDING_PLUGIN)
#define SPI_EXPORT __attribute__((visibility("default")))
#else
#define SPI_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of GetPictureInfo and GetPicture. */
enum {
  SPI_OK = 0,
  SPI_STOPPED = 1,       /* the progress callback asked to stop */
  SPI_NOT_SUPPORTED = 2, /* not a picture this filter reads */
  SPI_NO_MEMORY = 4,
  SPI_LOCK_FAILED = 5,
  SPI_FILE_ERROR = 6     /* open, position or read failed */
};

/* Low three bits of the flag word: 0 file input, anything else memory input. */
#define SPI_INPUT_MASK 7u
#define SPI_INPUT_FILE 0u
#define SPI_INPUT_MEMORY 1u

#pragma pack(push, 1)
typedef struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  int16_t color_depth;
#if UINTPTR_MAX > 0xFFFFFFFFu
  uint8_t filler[2]; /* the 64-bit layout puts the handle at offset 24 */
#endif
  void* info_handle;
} PictureInfo;
#pragma pack(pop)

typedef int32_t(SPI_CALL* ProgressCallback)(int32_t numerator, int32_t denominator, intptr_t data);

SPI_EXPORT int32_t SPI_CALL GetPluginInfo(int32_t index, char* buffer, int32_t buffer_length);
/* value: a pointer to the file's first bytes, or (up to 0xFFFF) an open file
 * handle (Windows) or descriptor (Linux) positioned at the picture. */
SPI_EXPORT int32_t SPI_CALL IsSupported(const char* file_name, const void* value);
/* File input: input is a file name, len the picture's offset in the file.
 * Memory input: input is the picture's first byte, len its length. */
SPI_EXPORT int32_t SPI_CALL GetPictureInfo(const char* input, intptr_t len, uint32_t flag, PictureInfo* info);
SPI_EXPORT int32_t SPI_CALL GetPicture(const char* input, intptr_t len, uint32_t flag, void** header_out,
                                       void** pixels_out, ProgressCallback progress, intptr_t data);
SPI_EXPORT int32_t SPI_CALL GetPreview(const char* input, intptr_t len, uint32_t flag, void** header_out,
                                       void** pixels_out, ProgressCallback progress, intptr_t data);

#ifdef __cplusplus
}
#endif

#endif
