// The pictures the benchmark decodes: every GD file of a samples folder, and
// a built-in set made here from synthetic pixels by small encoders of the
// bench's own (greedy LZ, chain records without chains, palette markers
// without chains), so that the benchmark runs before any sample exists.
#ifndef VESK_BENCH_PICTURES_H
#define VESK_BENCH_PICTURES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "format/variant.h"

struct BenchPicture {
  std::string name;       // as printed; a file name with its extension
  std::string path;       // the file on disk, empty for built-in pictures
  GdVariant variant;
  std::vector<uint8_t> bytes;  // the whole picture, header included
};

// Appends the built-in pictures.
void AddBuiltInPictures(std::vector<BenchPicture>* pictures);

// Appends every file of `folder` whose name and content detection accepts.
// Returns the number added.
int AddSamplePictures(const std::string& folder, std::vector<BenchPicture>* pictures);

#endif
