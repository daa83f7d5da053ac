// make_samples: draws the sample pictures and writes them in every coding,
// size and variant of the GD format into a folder.
//
//   make_samples DIR
//   make_samples --pictures DIR
//
// Each picture is read back by the core before it is written and must give
// exactly the pixels that went in. Prints one line per file with its
// compression ratio (pixel block bytes / coded stream bytes). --pictures
// writes the drawings themselves instead, as PNG files at each of the three
// sizes, before white is moved off pure white or colours are reduced.
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "encode/picture.h"
#include "gdconv/draw.h"
#include "gdconv/gdfile.h"
#include "gdconv/image.h"
#include "gdconv/output.h"
#include "gdconv/quantize.h"

enum Art { kTestCard, kGradients, kShapes };

struct Sample {
  const char* name;
  Art art;
  GdVariant variant;
};

// Every variant, the bare headerless one (5) included; upper and lower case
// letters over different pictures.
static const Sample kSamples[] = {
    {"testcard-gd2-raw.gd", kTestCard, 8},
    {"testcard-gd3-raw.gd", kTestCard, 13},
    {"testcard-gd2-lz.gd", kTestCard, 6},
    {"gradients-gd2-lz-lower.gd", kGradients, 7},
    {"testcard-gd3-lz.gd", kTestCard, 11},
    {"gradients-gd3-lz-lower.gd", kGradients, 12},
    {"shapes-headerless-lz.dcl", kShapes, 1},
    {"gradients-headerless-lz-lower.dcl", kGradients, 2},
    {"testcard-gd2-chain.gd", kTestCard, 9},
    {"shapes-gd2-chain-lower.gd", kShapes, 10},
    {"gradients-gd3-chain.gd", kGradients, 14},
    {"testcard-gd3-chain-lower.gd", kTestCard, 15},
    {"shapes-headerless-chain.dcl", kShapes, 3},
    {"testcard-headerless-chain-lower.dcl", kTestCard, 4},
    {"gradients-headerless-chain-bare.dcl", kGradients, 5},
    {"shapes.hhp", kShapes, 0},
    {"testcard.hhp", kTestCard, 0},
};

static void Draw(Art art, Canvas* canvas) {
  if (art == kTestCard) DrawTestCard(canvas);
  if (art == kGradients) DrawGradients(canvas);
  if (art == kShapes) DrawShapes(canvas);
}

static bool WritePictures(const std::string& dir) {
  static const char* const kArt[] = {"testcard", "gradients", "shapes"};
  static const int32_t kSizes[3][2] = {{640, 400}, {640, 480}, {800, 600}};
  for (int art = 0; art < 3; art++) {
    for (const int32_t* size : kSizes) {
      Canvas canvas;
      MakeCanvas(size[0], size[1], &canvas);
      Draw((Art)art, &canvas);
      std::vector<uint8_t> png;
      std::string why;
      std::string path = dir + "/" + kArt[art] + "-" + std::to_string(size[0]) + "x" + std::to_string(size[1]) + ".png";
      if (!EncodePng(canvas.block.data(), size[0], size[1], &png, &why) || !WriteWholeFile(path, png, true, 0, &why)) {
        fprintf(stderr, "make_samples: %s: %s\n", path.c_str(), why.c_str());
        return false;
      }
      printf("%s\n", path.c_str());
    }
  }
  return true;
}

static bool Make(const std::string& dir, const Sample& s) {
  const GdVariantRow& row = GdVariantTable[s.variant];
  Canvas canvas;
  MakeCanvas(row.width, row.height, &canvas);
  Draw(s.art, &canvas);
  const uint64_t pixel_count = (uint64_t)row.width * (uint64_t)row.height;
  if (row.decoder == kCodingPalette) ReduceColours(canvas.block.data(), pixel_count, 256);
  if (row.decoder == kCodingChain) MapPureWhite(canvas.block.data(), pixel_count);

  std::vector<uint8_t> stream, picture;
  const char* why = "";
  if (!EncodeStream(row.decoder, canvas.block.data(), row.width, row.height, &stream, &why)) {
    fprintf(stderr, "make_samples: %s: %s\n", s.name, why);
    return false;
  }
  // The bare form holds only a stream that no reader takes for a letter or
  // a header.
  if (s.variant == 5 && !stream.empty()) {
    const uint8_t b = stream[0];
    if (b == 'L' || b == 'l' || b == 'P' || b == 'p' || (b == 'G' && stream.size() > 1 && stream[1] == 'D')) {
      fprintf(stderr, "make_samples: %s: this stream cannot go without a letter\n", s.name);
      return false;
    }
  }
  WrapStream(s.variant, stream, &picture);

  GdFile check;
  check.path = s.name;
  check.file_size = check.input_length = picture.size();
  check.bytes = picture;
  GdIdentity id;
  std::vector<uint8_t> decoded;
  std::string reason;
  if (!IdentifyGd(check, &id, &reason) || id.variant != s.variant || !DecodeGd(check, id, &decoded, &reason) ||
      decoded != canvas.block) {
    fprintf(stderr, "make_samples: %s: does not read back to the same pixels %s\n", s.name, reason.c_str());
    return false;
  }
  std::string path = dir + "/" + s.name;
  if (!WriteWholeFile(path, picture, true, 0, &reason)) {
    fprintf(stderr, "make_samples: %s %s\n", path.c_str(), reason.c_str());
    return false;
  }
  printf("%-38s variant %2d  %-7s %8zu bytes  ratio %6.2f\n", s.name, (int)s.variant, CodingName(row.decoder),
         picture.size(), (double)(pixel_count * 3) / (double)stream.size());
  return true;
}

int main(int argc, char** argv) {
  const bool pictures = argc == 3 && std::string(argv[1]) == "--pictures";
  if (argc != 2 && !pictures) {
    fprintf(stderr, "usage: make_samples DIR\n       make_samples --pictures DIR\n");
    return 2;
  }
  std::string dir = argv[argc - 1];
  mkdir(dir.c_str(), 0777);
  if (pictures) return WritePictures(dir) ? 0 : 1;
  int failed = 0;
  for (const Sample& s : kSamples)
    if (!Make(dir, s)) failed++;
  return failed ? 1 : 0;
}
