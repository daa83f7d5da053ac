// The pieces of gdconv below its command line: reading GD files as the
// plug-in does and saying why one is refused, telling a cut-short stream,
// PNG and BMP files, writes that never leave half a file, colour reduction.
#include <gtest/gtest.h>
#include <png.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>

#include <string>
#include <vector>

#include "encode/picture.h"
#include "gdconv/draw.h"
#include "gdconv/gdfile.h"
#include "gdconv/image.h"
#include "gdconv/output.h"
#include "gdconv/quantize.h"

namespace {

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/gdconv_test_XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() {
    DIR* d = opendir(path_.c_str());
    for (dirent* e; d && (e = readdir(d));)
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) unlink((path_ + "/" + e->d_name).c_str());
    if (d) closedir(d);
    rmdir(path_.c_str());
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    DIR* d = opendir(path_.c_str());
    for (dirent* e; d && (e = readdir(d));)
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
    if (d) closedir(d);
    return names;
  }

 private:
  std::string path_;
};

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::vector<uint8_t> Read(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  for (int c; (c = fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
  fclose(f);
  return bytes;
}

GdFile InMemory(const std::string& name, const std::vector<uint8_t>& bytes) {
  GdFile file;
  file.path = name;
  file.bytes = bytes;
  file.file_size = file.input_length = bytes.size();
  return file;
}

std::vector<uint8_t> EncodedPicture(GdForm form, GdCoding coding, SceneKind scene) {
  int32_t w = 0, h = 0;
  FormSize(form, &w, &h);
  Canvas canvas;
  MakeCanvas(w, h, &canvas);
  DrawScene(&canvas, scene, 9);
  if (coding == kCodingChain) MapPureWhite(canvas.block.data(), (uint64_t)w * h);
  std::vector<uint8_t> picture;
  GdVariant variant;
  const char* why = nullptr;
  EXPECT_EQ(EncodePicture(form, coding, canvas.block.data(), w, h, &picture, &variant, &why), 1);
  return picture;
}

std::vector<uint8_t> Headered(char digit, char mode, size_t total) {
  std::vector<uint8_t> b(total, 0);
  b[0] = 'G';
  b[1] = 'D';
  b[2] = (uint8_t)digit;
  size_t at = digit == '2' ? 9028 : 14164;
  if (at < total) b[at] = (uint8_t)mode;
  return b;
}

// ---- recognition and its reasons ----

TEST(IdentifyGd, RefusalsNameWhatDecidedThem) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool memory;
    const char* reason;
  };
  const Case cases[] = {
      {"x.bmp", Headered('2', 'b', 9100), false, "by its name (\".bmp\""},
      {"picture", Headered('2', 'b', 9100), false, "no extension"},
      {"x.gd", {'G', 'D', '4', 0, 0}, false, "format digit is \"4\""},
      {"x.gd", Headered('2', 'b', 100), false, "before its mode letter at byte 9028"},
      {"x.gd", Headered('3', 'b', 9100), false, "before its mode letter at byte 14164"},
      {"x.gd", Headered('2', 'B', 9100), false, "mode letter \"B\" at byte 9028"},
      {"x.gd", Headered('2', 0x01, 9100), false, "mode letter 0x01"},
      {"x.gd", {'P', 0}, false, "only 2 bytes"},
      {"x.hhp", {}, false, "empty"},
      {"x.gd", Headered('2', 'L', 9030), false, "no pixel stream"},
  };
  for (const Case& c : cases) {
    GdFile file = InMemory(c.name, c.bytes);
    file.memory = c.memory;
    GdIdentity id;
    std::string why;
    EXPECT_EQ(IdentifyGd(file, &id, &why), 0) << c.name << " " << c.reason;
    EXPECT_NE(why.find(c.reason), std::string::npos) << "wanted \"" << c.reason << "\" in \"" << why << "\"";
  }
}

TEST(IdentifyGd, MemoryInputLetsTheContentDecide) {
  std::vector<uint8_t> raw = Headered('2', 'b', 9100);
  GdFile named = InMemory("x.bmp", raw);
  GdIdentity id;
  std::string why;
  EXPECT_EQ(IdentifyGd(named, &id, &why), 0);
  named.memory = true;
  ASSERT_EQ(IdentifyGd(named, &id, &why), 1) << why;
  EXPECT_EQ(id.variant, 8);
  // A palette picture is one only by its name: as memory input its first
  // byte decides instead.
  std::vector<uint8_t> palette(800, 0);
  palette[0] = 'L';
  GdFile hhp = InMemory("x.hhp", palette);
  ASSERT_EQ(IdentifyGd(hhp, &id, &why), 1);
  EXPECT_EQ(id.variant, 0);
  hhp.memory = true;
  ASSERT_EQ(IdentifyGd(hhp, &id, &why), 1);
  EXPECT_EQ(id.variant, 1);
}

TEST(IdentifyGd, ReportsFormAndLetter) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* name;
    GdVariant variant;
    const char* form;
    char letter;
  };
  const Case cases[] = {
      {Headered('2', 'p', 9100), "a.gd", 10, "gd2", 'p'},
      {Headered('3', 'l', 14200), "a.DCL", 12, "gd3", 'l'},
      {{'l', 0, 1, 2}, "a.gd", 2, "headerless", 'l'},
      {{'x', 0, 1, 2}, "a.gd", 5, "headerless", 0},
      {{'G', 'D', '2'}, "a.HhP", 0, "hhp", 0},
  };
  for (const Case& c : cases) {
    GdIdentity id;
    std::string why;
    ASSERT_EQ(IdentifyGd(InMemory(c.name, c.bytes), &id, &why), 1) << c.name << why;
    EXPECT_EQ(id.variant, c.variant);
    EXPECT_STREQ(id.form, c.form);
    EXPECT_EQ(id.letter, c.letter);
  }
}

// ---- reading files ----

TEST(ReadGdFile, ReadsFromTheOffsetToTheEnd) {
  TempDir dir;
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (uint8_t)(i * 7);
  Write(dir.File("a.gd"), bytes);
  GdFile file;
  std::string why;
  ASSERT_EQ(ReadGdFile(dir.File("a.gd").c_str(), 1234, false, 0, &file, &why), 1) << why;
  EXPECT_EQ(file.input_length, 5000u - 1234);
  EXPECT_TRUE(std::equal(file.bytes.begin(), file.bytes.end(), bytes.begin() + 1234));
  // A limited read stops early but knows the whole length.
  ASSERT_EQ(ReadGdFile(dir.File("a.gd").c_str(), 1000, false, 10, &file, &why), 1);
  EXPECT_EQ(file.bytes.size(), 10u);
  EXPECT_EQ(file.input_length, 4000u);
  // The end itself leaves an empty input; one byte further is an error.
  EXPECT_EQ(ReadGdFile(dir.File("a.gd").c_str(), 5000, false, 0, &file, &why), 1);
  EXPECT_EQ(file.input_length, 0u);
  EXPECT_EQ(ReadGdFile(dir.File("a.gd").c_str(), 5001, false, 0, &file, &why), 0);
  EXPECT_NE(why.find("past the end"), std::string::npos) << why;
}

TEST(ReadGdFile, MissingFilesAndFoldersAreRefused) {
  TempDir dir;
  GdFile file;
  std::string why;
  EXPECT_EQ(ReadGdFile(dir.File("none.gd").c_str(), 0, false, 0, &file, &why), 0);
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;
  EXPECT_EQ(ReadGdFile("/tmp", 0, false, 0, &file, &why), 0);
  EXPECT_NE(why.find("directory"), std::string::npos) << why;
}

// ---- cut-short pictures ----

TEST(DecodeGd, RawPicturesCutShortAreRefused) {
  std::vector<uint8_t> picture = EncodedPicture(kFormGd2, kCodingRaw, kSceneShapes);
  picture.pop_back();
  GdFile file = InMemory("a.gd", picture);
  GdIdentity id;
  std::string why;
  ASSERT_EQ(IdentifyGd(file, &id, &why), 1);
  std::vector<uint8_t> block;
  EXPECT_EQ(DecodeGd(file, id, &block, &why), 0);
  EXPECT_NE(why.find("921599 of the 921600"), std::string::npos) << why;
}

// A coded stream cut anywhere is either refused, or it decodes to exactly
// the picture that the whole stream gives (the lost bytes held nothing that
// the decoder needed: the zeros of an LZ end code, say). Cut in half it is
// always refused.
TEST(DecodeGd, CodedStreamsCutShortAreRefusedOrHarmless) {
  struct Case {
    GdForm form;
    GdCoding coding;
    SceneKind scene;
  };
  const Case cases[] = {
      {kFormGd2, kCodingLz, kSceneShapes},
      {kFormHeaderless, kCodingLz, kSceneGradient},
      {kFormGd3, kCodingChain, kSceneStripes},
      {kFormHeaderless, kCodingChain, kSceneShapes},
      {kFormHhp, kCodingPalette, kSceneShapes},
      {kFormHhp, kCodingPalette, kSceneDots},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(CodingName(c.coding)) + " scene " + std::to_string(c.scene));
    std::vector<uint8_t> picture = EncodedPicture(c.form, c.coding, c.scene);
    const std::string name = c.form == kFormHhp ? "a.hhp" : "a.gd";
    GdFile whole = InMemory(name, picture);
    GdIdentity id;
    std::string why;
    ASSERT_EQ(IdentifyGd(whole, &id, &why), 1);
    std::vector<uint8_t> expected;
    ASSERT_EQ(DecodeGd(whole, id, &expected, &why), 1) << why;

    const size_t start = (size_t)id.row->stream_offset, length = picture.size() - start;
    std::vector<size_t> cuts = {start + 1, start + length / 2};
    for (size_t k = 1; k < 16; k++) cuts.push_back(start + length * k / 16);
    for (size_t k = 1; k <= 4 && k < length; k++) cuts.push_back(picture.size() - k);
    for (size_t cut : cuts) {
      std::vector<uint8_t> part(picture.begin(), picture.begin() + (long)cut);
      GdFile file = InMemory(name, part);
      std::vector<uint8_t> block;
      if (DecodeGd(file, id, &block, &why)) {
        EXPECT_TRUE(block == expected) << "accepted a cut at " << cut << " of " << picture.size();
      } else {
        EXPECT_NE(why.find("truncated"), std::string::npos) << why;
      }
    }
    std::vector<uint8_t> half(picture.begin(), picture.begin() + (long)(start + length / 2));
    std::vector<uint8_t> block;
    EXPECT_EQ(DecodeGd(InMemory(name, half), id, &block, &why), 0);
  }
}

// ---- PNG and BMP ----

TEST(Png, TopRowOfTheFileIsTheBlocksLastRowInRgb) {
  Canvas c;
  MakeCanvas(5, 3, &c);
  SetPixel(&c, 0, 0, 0xFF0000);  // top left, red
  SetPixel(&c, 4, 2, 0x0000FF);  // bottom right, blue
  SetPixel(&c, 2, 1, 0x123456);
  std::vector<uint8_t> png;
  std::string why;
  ASSERT_EQ(EncodePng(c.block.data(), 5, 3, &png, &why), 1) << why;
  // Read with libpng's plain top-down RGB layout, not through ReadPng.
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
  EXPECT_EQ(image.width, 5u);
  EXPECT_EQ(image.height, 3u);
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(5 * 3 * 3);
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 15, nullptr));
  EXPECT_EQ(std::vector<uint8_t>(rgb.begin(), rgb.begin() + 3), (std::vector<uint8_t>{255, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(rgb.end() - 3, rgb.end()), (std::vector<uint8_t>{0, 0, 255}));
  EXPECT_EQ(std::vector<uint8_t>(rgb.begin() + 21, rgb.begin() + 24), (std::vector<uint8_t>{0x12, 0x34, 0x56}));
  // The block itself: red sits in the last row, as B, G, R.
  EXPECT_EQ(c.block[2 * 15 + 2], 255);
  EXPECT_EQ(c.block[2 * 15 + 0], 0);
}

TEST(Png, WrittenPicturesReadBackToTheSameBlock) {
  TempDir dir;
  for (int kind = 0; kind < kSceneKinds; kind++) {
    Canvas c;
    MakeCanvas(37, 23, &c);
    DrawScene(&c, (SceneKind)kind, 5);
    std::vector<uint8_t> png, back;
    std::string why;
    ASSERT_EQ(EncodePng(c.block.data(), c.width, c.height, &png, &why), 1);
    Write(dir.File("p.png"), png);
    int32_t w = 0, h = 0;
    ASSERT_EQ(ReadPng(dir.File("p.png").c_str(), &back, &w, &h, &why), 1) << why;
    EXPECT_EQ(w, 37);
    EXPECT_EQ(h, 23);
    EXPECT_TRUE(back == c.block) << "scene " << kind;
  }
}

TEST(Png, TransparencyAndNonPngsAreRefused) {
  TempDir dir;
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = 2;
  image.height = 1;
  image.format = PNG_FORMAT_RGBA;
  const uint8_t pixels[8] = {1, 2, 3, 255, 4, 5, 6, 128};
  ASSERT_TRUE(png_image_write_to_file(&image, dir.File("alpha.png").c_str(), 0, pixels, 0, nullptr));
  std::vector<uint8_t> block;
  int32_t w, h;
  std::string why;
  EXPECT_EQ(ReadPng(dir.File("alpha.png").c_str(), &block, &w, &h, &why), 0);
  EXPECT_NE(why.find("1 pixels are not fully opaque"), std::string::npos) << why;
  Write(dir.File("text.png"), {'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(ReadPng(dir.File("text.png").c_str(), &block, &w, &h, &why), 0);
  EXPECT_NE(why.find("cannot read as PNG"), std::string::npos) << why;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

TEST(Bmp, FileHeaderThenThePluginsBitmapHeaderThenTheBlock) {
  Canvas c;
  MakeCanvas(800, 600, &c);
  DrawScene(&c, kSceneNoise, 1);
  std::vector<uint8_t> bmp;
  EncodeBmp(c.block.data(), 800, 600, &bmp);
  ASSERT_EQ(bmp.size(), 14u + 40u + 1440000u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(Le32(&bmp[2]), bmp.size());
  EXPECT_EQ(Le32(&bmp[6]), 0u);
  EXPECT_EQ(Le32(&bmp[10]), 54u);
  const uint32_t expected[10] = {40, 800, 600, 0x180001 /* planes 1, 24 bits */, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 10; i++) EXPECT_EQ(Le32(&bmp[14 + 4 * i]), expected[i]) << "header word " << i;
  EXPECT_TRUE(std::equal(c.block.begin(), c.block.end(), bmp.begin() + 54));
}

// ---- writing ----

TEST(WriteWholeFile, KeepsExistingFilesUnlessForced) {
  TempDir dir;
  const std::string out = dir.File("out.png");
  Write(out, {'o', 'l', 'd'});
  std::string why;
  EXPECT_EQ(WriteWholeFile(out, {'n', 'e', 'w'}, false, 0, &why), 0);
  EXPECT_NE(why.find("exists"), std::string::npos) << why;
  EXPECT_EQ(Read(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(dir.Names().size(), 1u);  // no temporary left behind
  EXPECT_EQ(WriteWholeFile(out, {'n', 'e', 'w'}, true, 0, &why), 1) << why;
  EXPECT_EQ(Read(out), (std::vector<uint8_t>{'n', 'e', 'w'}));
  EXPECT_EQ(dir.Names().size(), 1u);
}

TEST(WriteWholeFile, WritesWholeFilesWithTheUsualMode) {
  TempDir dir;
  std::vector<uint8_t> bytes(3 << 20);
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (uint8_t)(i ^ (i >> 9));
  std::string why;
  ASSERT_EQ(WriteWholeFile(dir.File("big.bmp"), bytes, false, 3, &why), 1) << why;
  EXPECT_TRUE(Read(dir.File("big.bmp")) == bytes);
  struct stat st;
  ASSERT_EQ(stat(dir.File("big.bmp").c_str(), &st), 0);
  mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"big.bmp"});
}

TEST(WriteWholeFile, AFolderThatCannotBeWrittenLeavesNothing) {
  std::string why;
  EXPECT_EQ(WriteWholeFile("/nonexistent-folder/out.png", {1, 2, 3}, false, 0, &why), 0);
  EXPECT_NE(why.find("cannot write"), std::string::npos) << why;
  EXPECT_FALSE(PathTaken("/nonexistent-folder/out.png"));
}

// ---- colour reduction ----

TEST(ReduceColours, FewColoursStayExactlyAsTheyAre) {
  Canvas c;
  MakeCanvas(640, 400, &c);
  DrawShapes(&c);
  std::vector<uint8_t> before = c.block;
  ASSERT_LE(CountColours(c.block.data(), 640 * 400), 256u);
  ReduceColours(c.block.data(), 640 * 400, 256);
  EXPECT_TRUE(c.block == before);
}

TEST(ReduceColours, ManyColoursBecomeAtMostTheLimitAndStayClose) {
  struct Case {
    SceneKind scene;
    int limit;
    int worst_error;  // per channel
  };
  // A two-axis ramp of 65,536 and more colours falls into 256 boxes of about
  // 16 x 16 values: half a box is 8; noise spreads over the whole cube.
  const Case cases[] = {{kSceneGradient, 256, 24}, {kSceneNoise, 256, 64}, {kSceneGradient, 16, 80}};
  for (const Case& k : cases) {
    Canvas c;
    MakeCanvas(320, 240, &c);
    DrawScene(&c, k.scene, 2);
    std::vector<uint8_t> before = c.block;
    const uint64_t n = 320 * 240;
    ASSERT_GT(CountColours(c.block.data(), n), (uint64_t)k.limit);
    ReduceColours(c.block.data(), n, k.limit);
    EXPECT_LE(CountColours(c.block.data(), n), (uint64_t)k.limit);
    int worst = 0;
    for (size_t i = 0; i < before.size(); i++) worst = std::max(worst, abs((int)before[i] - (int)c.block[i]));
    EXPECT_LE(worst, k.worst_error) << "scene " << k.scene << " limit " << k.limit;
  }
}

}  // namespace
