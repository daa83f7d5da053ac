#include "gdconv/image.h"

#include <png.h>
#include <string.h>

int EncodePng(const uint8_t* block, int32_t width, int32_t height, std::vector<uint8_t>* out, std::string* why) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = (png_uint_32)width;
  image.height = (png_uint_32)height;
  image.format = PNG_FORMAT_BGR;
  // A negative stride tells libpng that the first row in memory is the
  // bottom row, which is exactly the pixel block's order.
  const png_int_32 stride = -(png_int_32)(3 * width);
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  out->resize((size_t)size);
  if (!png_image_write_to_memory(&image, out->data(), &size, 0, block, stride, nullptr)) {
    *why = std::string("cannot make the PNG: ") + image.message;
    out->clear();
    return 0;
  }
  out->resize((size_t)size);
  return 1;
}

static void PutLe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; i++) at[i] = (uint8_t)(v >> (8 * i));
}

void EncodeBmp(const uint8_t* block, int32_t width, int32_t height, std::vector<uint8_t>* out) {
  const uint32_t row_bytes = (3u * (uint32_t)width + 3u) & ~3u;
  const uint32_t pixel_bytes = row_bytes * (uint32_t)height;
  out->assign(14 + 40, 0);
  uint8_t* file_header = out->data();
  file_header[0] = 'B';
  file_header[1] = 'M';
  PutLe32(file_header + 2, 14 + 40 + pixel_bytes);
  PutLe32(file_header + 10, 14 + 40);
  // The plug-in's BITMAPINFOHEADER: 40 bytes, positive height (bottom-up),
  // one plane, 24 bits, no compression, every other field 0.
  uint8_t* info = out->data() + 14;
  PutLe32(info + 0, 40);
  PutLe32(info + 4, (uint32_t)width);
  PutLe32(info + 8, (uint32_t)height);
  info[12] = 1;
  info[14] = 24;
  // Rows of the sizes in use are already a multiple of 4 bytes; pad anyway.
  out->reserve(out->size() + pixel_bytes);
  for (int32_t y = 0; y < height; y++) {
    const uint8_t* row = block + (size_t)y * 3 * (size_t)width;
    out->insert(out->end(), row, row + 3 * (size_t)width);
    out->resize(out->size() + (row_bytes - 3u * (uint32_t)width), 0);
  }
}

int ReadPng(const char* path, std::vector<uint8_t>* block, int32_t* width, int32_t* height, std::string* why) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) {
    *why = std::string("cannot read as PNG: ") + image.message;
    return 0;
  }
  if (image.width > 16384 || image.height > 16384) {
    png_image_free(&image);
    *why = "cannot read as PNG: " + std::to_string(image.width) + " x " + std::to_string(image.height) +
           " is far larger than any GD picture";
    return 0;
  }
  image.format = PNG_FORMAT_BGRA;
  const size_t w = image.width, h = image.height;
  std::vector<uint8_t> bgra(w * h * 4);
  if (!png_image_finish_read(&image, nullptr, bgra.data(), -(png_int_32)(4 * w), nullptr)) {
    *why = std::string("cannot read as PNG: ") + image.message;
    return 0;
  }
  block->resize(w * h * 3);
  uint64_t clear = 0;
  for (size_t i = 0; i < w * h; i++) {
    memcpy(block->data() + 3 * i, bgra.data() + 4 * i, 3);
    if (bgra[4 * i + 3] != 255) clear++;
  }
  if (clear) {
    *why = std::to_string(clear) + " pixels are not fully opaque, and a GD picture has no transparency "
           "(flatten the picture first)";
    return 0;
  }
  *width = (int32_t)w;
  *height = (int32_t)h;
  return 1;
}
