// Decodes one picture a given number of times, with the product's decoder or
// the reference one, for instruction counts under an emulator: the count of
// REPS decodes less that of 0 decodes is what the decodes take.
//
//   decode_once FILE REPS [ref]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "bench/reference.h"
#include "decode/dispatch.h"
#include "format/variant.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: decode_once FILE REPS [ref]\n");
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  if (!f) {
    perror(argv[1]);
    return 1;
  }
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) data.insert(data.end(), chunk, chunk + n);
  fclose(f);
  GdVariant variant;
  if (!DetectVariantInMemory(&kPortableTextOps, argv[1], data.data(), data.size(), &variant)) {
    fprintf(stderr, "%s: not a GD picture\n", argv[1]);
    return 1;
  }
  const GdVariantRow& row = GdVariantTable[variant];
  std::vector<uint8_t> pixels((size_t)row.width * row.height * 3);
  DecodeJob job = {data.data(), pixels.data(), row.stream_offset, row.width, row.height, 24, 3, data.size()};
  const bool reference = argc > 3 && strcmp(argv[3], "ref") == 0;
  for (int i = 0, reps = atoi(argv[2]); i < reps; i++) {
    if (reference)
      ReferenceFor(row.decoder)(&job);
    else
      RunDecoder(row.decoder, &job);
  }
  return 0;
}
