#include "plugin/entry.h"

#include <string.h>

#include "decode/dispatch.h"

static const char* const kPluginStrings[4] = {
    "00IN",
    "GD to DIB filter ver0.60",
    "*.GD;*.DCL;*.HHP",
    "GD file(*.GD;*.DCL;*.HHP)",
};

// A value with no bits above the low 16 is a file handle, not a pointer.
static bool IsHandleValue(const void* value) { return ((uintptr_t)value >> 16) == 0; }

int32_t PluginInfoCall(const Platform* platform, int32_t index, char* buffer, int32_t buffer_length) {
  if (index < 0 || index > 3) return 0;
  if (!buffer || buffer_length < 1) return 0;
  return platform->copy_text(platform->context, buffer, kPluginStrings[index], buffer_length);
}

int32_t QuickCheck(const Platform* platform, const char* name, const void* value) {
  if (name) {
    NameClass kind = ClassifyName(&platform->text, name);
    if (kind == kNameRefused) return 0;
    if (kind == kNamePalette) return 1;
  }
  uint8_t head[3];
  if (IsHandleValue(value)) {
    uint32_t got = 0;
    if (!platform->read_file(platform->context, (PlatformFile)(uintptr_t)value, head, 3, &got) || got < 3)
      return 0;
  } else {
    memcpy(head, value, 3);
  }
  if (head[0] != 'G' || head[1] != 'D') return 1;
  return (head[2] == '2' || head[2] == '3') ? 1 : 0;
}

// Detection over an open file positioned at the picture: the first read takes
// the bytes where the file stands, a later one seeks from the picture's start.
struct FileInput {
  const Platform* platform;
  PlatformFile file;
  uint32_t base;
};

static uint32_t ReadFileAt(void* context, uint32_t at, uint8_t* buf, uint32_t n) {
  const FileInput* in = (const FileInput*)context;
  const Platform* p = in->platform;
  if (at != 0) {
    uint64_t target = (uint64_t)in->base + at;
    uint32_t reached = 0;
    if (target > 0xFFFFFFFFu) return 0;
    if (!p->seek_file(p->context, in->file, (uint32_t)target, &reached) || reached != target) return 0;
  }
  uint32_t got = 0;
  if (!p->read_file(p->context, in->file, buf, n, &got)) return 0;
  return got;
}

// Opens `name` and positions it at `offset`; kNoFile (after closing) on failure.
static PlatformFile OpenAt(const Platform* p, const char* name, intptr_t offset, uint32_t* size) {
  if (!name || offset < 0 || (uint64_t)offset > 0xFFFFFFFFu) return kNoFile;
  PlatformFile file = p->open_file(p->context, name);
  if (file == kNoFile) return kNoFile;
  if (size) {
    // An offset past the end leaves no input at all.
    if (!p->file_size(p->context, file, size) || (uint64_t)offset > *size) {
      p->close_file(p->context, file);
      return kNoFile;
    }
  }
  uint32_t reached = 0;
  if (!p->seek_file(p->context, file, (uint32_t)offset, &reached) || reached != (uint64_t)offset) {
    p->close_file(p->context, file);
    return kNoFile;
  }
  return file;
}

int32_t PictureInfoCall(const Platform* platform, const char* input, intptr_t len, uint32_t flag,
                        PictureInfo* info) {
  if (!input || !info) return SPI_NOT_SUPPORTED;
  GdVariant variant = 0;
  if ((flag & SPI_INPUT_MASK) == SPI_INPUT_FILE) {
    PlatformFile file = OpenAt(platform, input, len, nullptr);
    if (file == kNoFile) return SPI_FILE_ERROR;
    FileInput in = {platform, file, (uint32_t)len};
    DetectSource source = {&in, ReadFileAt};
    int found = DetectVariant(&platform->text, input, &source, &variant);
    platform->close_file(platform->context, file);
    if (!found) return SPI_NOT_SUPPORTED;
  } else {
    uint64_t length = len > 0 ? (uint64_t)len : 0;
    if (!DetectVariantInMemory(&platform->text, nullptr, (const uint8_t*)input, length, &variant))
      return SPI_NOT_SUPPORTED;
  }
  const GdVariantRow& row = GdVariantTable[variant];
  memset(info, 0, sizeof *info);
  info->width = row.width;
  info->height = row.height;
  info->color_depth = 24;
  return SPI_OK;
}

static void PutLe32(uint8_t* at, uint32_t v) {
  at[0] = (uint8_t)v;
  at[1] = (uint8_t)(v >> 8);
  at[2] = (uint8_t)(v >> 16);
  at[3] = (uint8_t)(v >> 24);
}

static void FillBitmapHeader(uint8_t* h, const DecodeJob* job) {
  memset(h, 0, 40);
  PutLe32(h + 0, 40);
  PutLe32(h + 4, (uint32_t)job->width);
  PutLe32(h + 8, (uint32_t)job->height);  // positive: bottom-up
  h[12] = 1;                               // planes
  h[14] = (uint8_t)job->bit_count;
  h[15] = (uint8_t)(job->bit_count >> 8);
}

// Reads the whole file from `offset` to its end into one fixed block.
static int32_t ReadWholeFile(const Platform* p, const char* name, intptr_t offset, uint8_t** data,
                             uint32_t* length) {
  uint32_t size = 0;
  PlatformFile file = OpenAt(p, name, offset, &size);
  if (file == kNoFile) return SPI_FILE_ERROR;
  uint32_t want = size - (uint32_t)offset;
  uint8_t* buffer = (uint8_t*)p->alloc_fixed(p->context, want ? want : 1);
  if (!buffer) {
    p->close_file(p->context, file);
    return SPI_NO_MEMORY;
  }
  uint32_t got = 0;
  int read_ok = p->read_file(p->context, file, buffer, want, &got);
  p->close_file(p->context, file);
  if (!read_ok || got < want) {
    p->free_fixed(p->context, buffer);
    return SPI_FILE_ERROR;
  }
  *data = buffer;
  *length = want;
  return SPI_OK;
}

int32_t PictureCall(const Platform* platform, const char* input, intptr_t len, uint32_t flag, void** header_out,
                    void** pixels_out, ProgressCallback progress, intptr_t data) {
  const Platform* p = platform;
  if (!input || !header_out || !pixels_out) return SPI_NOT_SUPPORTED;

  const uint8_t* source;
  uint64_t source_length;
  uint8_t* owned = nullptr;  // the input buffer of file input, freed on every path
  const char* name = nullptr;
  if ((flag & SPI_INPUT_MASK) == SPI_INPUT_FILE) {
    uint32_t length = 0;
    int32_t rc = ReadWholeFile(p, input, len, &owned, &length);
    if (rc == SPI_NO_MEMORY) {
      // Both out-parameters say null after 4 and 5, whichever block failed.
      *header_out = nullptr;
      *pixels_out = nullptr;
    }
    if (rc != SPI_OK) return rc;
    source = owned;
    source_length = length;
    name = input;
  } else {
    source = (const uint8_t*)input;
    source_length = len > 0 ? (uint64_t)len : 0;
  }

  GdVariant variant = 0;
  int found = DetectVariantInMemory(&p->text, name, source, source_length, &variant);
  const GdVariantRow& row = GdVariantTable[found ? variant : 0];
  // A stream without a single byte is no picture.
  if (!found || (uint64_t)row.stream_offset >= source_length) {
    if (owned) p->free_fixed(p->context, owned);
    return SPI_NOT_SUPPORTED;
  }

  DecodeJob job = {};
  job.width = row.width;
  job.height = row.height;
  job.bit_count = 24;
  job.bytes_per_pixel = 3;

  if (progress && progress(0, 1, data) != 0) {
    if (owned) p->free_fixed(p->context, owned);
    return SPI_STOPPED;
  }

  void* header = p->alloc_moveable(p->context, 40);
  void* pixels = p->alloc_moveable(p->context, PixelBlockSize(row.width, row.height));
  int32_t rc = SPI_OK;
  uint8_t* header_bytes = nullptr;
  uint8_t* pixel_bytes = nullptr;
  if (!header || !pixels) {
    rc = SPI_NO_MEMORY;
  } else {
    header_bytes = (uint8_t*)p->lock(p->context, header);
    pixel_bytes = header_bytes ? (uint8_t*)p->lock(p->context, pixels) : nullptr;
    if (!pixel_bytes) rc = SPI_LOCK_FAILED;
  }
  if (rc != SPI_OK) {
    if (header_bytes) p->unlock(p->context, header);
    if (header) p->free_moveable(p->context, header);
    if (pixels) p->free_moveable(p->context, pixels);
    if (owned) p->free_fixed(p->context, owned);
    *header_out = nullptr;
    *pixels_out = nullptr;
    return rc;
  }

  FillBitmapHeader(header_bytes, &job);
  job.source = source;
  job.source_length = source_length;
  job.pixels = pixel_bytes;
  job.stream_offset = row.stream_offset;
  RunDecoder(row.decoder, &job);

  p->unlock(p->context, header);
  p->unlock(p->context, pixels);
  if (owned) p->free_fixed(p->context, owned);
  *header_out = header;
  *pixels_out = pixels;

  // The host owns both blocks from here on, whatever the callback says.
  if (progress && progress(1, 1, data) != 0) return SPI_STOPPED;
  return SPI_OK;
}
