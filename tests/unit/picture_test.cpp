// Whole pictures: the forms around a coded stream, the variant that a form
// and a coding give, and round trips through every coding and form over
// pictures of many kinds.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "encode/picture.h"
#include "format/variant.h"
#include "gdconv/draw.h"
#include "gdconv/gdfile.h"
#include "gdconv/quantize.h"

namespace {

const GdForm kForms[] = {kFormGd2, kFormGd3, kFormHeaderless, kFormHhp};
const GdCoding kCodings[] = {kCodingRaw, kCodingLz, kCodingChain, kCodingPalette};

// A name that readers take for the form: the palette form by ".hhp" alone.
std::string NameFor(GdVariant variant) { return variant == 0 ? "picture.hhp" : "picture.gd"; }

GdFile InMemory(const std::string& name, const std::vector<uint8_t>& bytes) {
  GdFile file;
  file.path = name;
  file.bytes = bytes;
  file.file_size = file.input_length = bytes.size();
  return file;
}

// Readies pixels for a coding as gdconv encode does: at most 256 colours for
// the palette, no pure white for the chain coding.
void PrepareFor(GdCoding coding, Canvas* c) {
  const uint64_t n = (uint64_t)c->width * (uint64_t)c->height;
  if (coding == kCodingPalette) ReduceColours(c->block.data(), n, 256);
  if (coding == kCodingChain) MapPureWhite(c->block.data(), n);
}

// -1 stands for "the form cannot hold the coding". Rows: gd2, gd3,
// headerless, hhp; columns: raw, lz, chain, palette.
const int kExpectedVariant[4][4] = {
    {8, 6, 9, -1},
    {13, 11, 14, -1},
    {-1, 1, 3, -1},
    {-1, -1, -1, 0},
};

TEST(PictureForm, EachFormAndCodingGivesItsVariant) {
  for (int f = 0; f < 4; f++) {
    for (int k = 0; k < 4; k++) {
      SCOPED_TRACE("form " + std::to_string(f) + ", coding " + std::to_string(k));
      GdVariant variant = -7;
      const char* why = nullptr;
      int ok = ChooseVariant(kForms[f], kCodings[k], &variant, &why);
      if (kExpectedVariant[f][k] < 0) {
        EXPECT_EQ(ok, 0);
        ASSERT_NE(why, nullptr);
        EXPECT_GT(strlen(why), 10u);
        continue;
      }
      ASSERT_EQ(ok, 1);
      EXPECT_EQ(variant, kExpectedVariant[f][k]);
      // The variant really is one of this coding and this form's size.
      int32_t w = 0, h = 0;
      FormSize(kForms[f], &w, &h);
      EXPECT_EQ(GdVariantTable[variant].decoder, kCodings[k]);
      EXPECT_EQ(GdVariantTable[variant].width, w);
      EXPECT_EQ(GdVariantTable[variant].height, h);
    }
  }
}

TEST(PictureForm, WrappedStreamsAreFoundWhereTheirVariantSays) {
  // A first byte that is no letter and no "G", so that the bare form (5)
  // holds it too.
  const std::vector<uint8_t> stream = {0x01, 0x80, 0x47, 0x44, 0x32, 0x00, 0xFF};
  for (GdVariant v = 0; v < 16; v++) {
    SCOPED_TRACE("variant " + std::to_string(v));
    std::vector<uint8_t> picture;
    WrapStream(v, stream, &picture);
    const GdVariantRow& row = GdVariantTable[v];
    ASSERT_EQ(picture.size(), (size_t)row.stream_offset + stream.size());
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), picture.begin() + row.stream_offset));
    GdVariant found = -1;
    ASSERT_EQ(DetectVariantInMemory(&kPortableTextOps, NameFor(v).c_str(), picture.data(), picture.size(), &found),
              1);
    EXPECT_EQ(found, v);
  }
}

TEST(PictureForm, HeadersHoldNothingButSignatureAndLetter) {
  std::vector<uint8_t> picture;
  WrapStream(14, {0xAB}, &picture);  // "GD3", "P"
  ASSERT_EQ(picture.size(), 14167u);
  EXPECT_EQ(memcmp(picture.data(), "GD3", 3), 0);
  EXPECT_EQ(picture[14164], 'P');
  for (size_t i = 3; i < 14166; i++)
    if (i != 14164) {
      ASSERT_EQ(picture[i], 0) << "byte " << i;
    }
  EXPECT_EQ(picture[14166], 0xAB);
}

TEST(PictureForm, WrongSizeOrUnfitColoursAreRefused) {
  struct Case {
    GdForm form;
    GdCoding coding;
    int32_t width, height;
    SceneKind scene;
  };
  const Case cases[] = {
      {kFormGd2, kCodingRaw, 800, 600, kSceneFlat},         // size of gd3
      {kFormGd3, kCodingLz, 640, 480, kSceneFlat},          // size of gd2
      {kFormHhp, kCodingPalette, 640, 480, kSceneFlat},     // hhp is 640 x 400
      {kFormHeaderless, kCodingRaw, 640, 480, kSceneFlat},  // no letter for raw
      {kFormGd2, kCodingPalette, 640, 480, kSceneFlat},     // palette only in hhp
      {kFormHhp, kCodingPalette, 640, 400, kSceneNoise},    // far over 256 colours
      {kFormGd2, kCodingChain, 640, 480, kSceneWhiteHeavy}, // pure white
  };
  for (const Case& c : cases) {
    Canvas canvas;
    MakeCanvas(c.width, c.height, &canvas);
    DrawScene(&canvas, c.scene, 3);
    std::vector<uint8_t> picture;
    GdVariant variant = -1;
    const char* why = nullptr;
    EXPECT_EQ(EncodePicture(c.form, c.coding, canvas.block.data(), c.width, c.height, &picture, &variant, &why), 0)
        << "form " << c.form << " coding " << c.coding;
    EXPECT_NE(why, nullptr);
    EXPECT_EQ(variant, -1);
  }
}

TEST(MapPureWhite, ChangesPureWhiteOnlyAndToTheNearestKeptColour) {
  const std::vector<uint8_t> before = {255, 255, 255, 254, 255, 255, 255, 255, 254, 0, 0, 0, 255, 255, 255};
  std::vector<uint8_t> after = before;
  EXPECT_EQ(MapPureWhite(after.data(), 5), 2u);
  const std::vector<uint8_t> expected = {254, 255, 255, 254, 255, 255, 255, 255, 254, 0, 0, 0, 254, 255, 255};
  EXPECT_EQ(after, expected);
}

// Every coding in every form that holds it, over scenes of every kind.
TEST(PictureRoundTrip, EveryFormAndCodingGivesBackThePixels) {
  for (GdForm form : kForms) {
    for (GdCoding coding : kCodings) {
      GdVariant variant = 0;
      const char* why = nullptr;
      if (!ChooseVariant(form, coding, &variant, &why)) continue;
      int32_t w = 0, h = 0;
      FormSize(form, &w, &h);
      for (int kind = 0; kind < kSceneKinds; kind++) {
        // Pure noise is the LZ coder's worst case and the slowest to encode;
        // one size of it is enough.
        if (kind == kSceneNoise && form == kFormGd3) continue;
        SCOPED_TRACE("form " + std::to_string(form) + ", coding " + std::string(CodingName(coding)) +
                     ", scene " + std::to_string(kind));
        Canvas canvas;
        MakeCanvas(w, h, &canvas);
        DrawScene(&canvas, (SceneKind)kind, (uint32_t)(kind * 31 + form * 7 + coding));
        PrepareFor(coding, &canvas);
        std::vector<uint8_t> picture;
        GdVariant written = -1;
        ASSERT_EQ(EncodePicture(form, coding, canvas.block.data(), w, h, &picture, &written, &why), 1) << why;
        EXPECT_EQ(written, variant);

        GdFile file = InMemory(NameFor(written), picture);
        GdIdentity id;
        std::string reason;
        ASSERT_EQ(IdentifyGd(file, &id, &reason), 1) << reason;
        EXPECT_EQ(id.variant, written);
        std::vector<uint8_t> decoded;
        ASSERT_EQ(DecodeGd(file, id, &decoded, &reason), 1) << reason;
        EXPECT_TRUE(decoded == canvas.block);
      }
    }
  }
}

// Small random sizes stress row ends and short streams in the codings that
// work at any size; the form is not involved.
TEST(PictureRoundTrip, StreamsOfRandomSmallPictures) {
  uint32_t s = 12345;
  auto next = [&s] {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  };
  for (int round = 0; round < 60; round++) {
    const int32_t w = 3 + (int32_t)(next() % 40), h = 1 + (int32_t)(next() % 30);
    const GdCoding coding = kCodings[round % 4];
    Canvas canvas;
    MakeCanvas(w, h, &canvas);
    DrawScene(&canvas, (SceneKind)(next() % kSceneKinds), next());
    PrepareFor(coding, &canvas);
    std::vector<uint8_t> stream;
    const char* why = nullptr;
    ASSERT_EQ(EncodeStream(coding, canvas.block.data(), w, h, &stream, &why), 1) << why;
    GdIdentity id;
    GdVariantRow row = {w, h, 0, coding};
    id.row = &row;
    GdFile file = InMemory("small.gd", stream);
    std::vector<uint8_t> decoded;
    std::string reason;
    ASSERT_EQ(DecodeGd(file, id, &decoded, &reason), 1) << CodingName(coding) << " " << w << "x" << h << ": " << reason;
    EXPECT_TRUE(decoded == canvas.block) << CodingName(coding) << " " << w << "x" << h;
  }
}

#ifdef VESK_SAMPLES_DIR
TEST(PictureRoundTrip, SamplesDecodeAndEncodeAgainToTheSamePixels) {
  const char* const kNames[] = {"testcard-gd2-raw.gd", "testcard-gd3-lz.gd", "gradients-headerless-lz-lower.dcl",
                                "testcard-gd2-chain.gd", "gradients-headerless-chain-bare.dcl", "shapes.hhp",
                                "testcard.hhp"};
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    GdFile file;
    std::string why;
    ASSERT_EQ(ReadGdFile((std::string(VESK_SAMPLES_DIR) + "/" + name).c_str(), 0, false, 0, &file, &why), 1) << why;
    GdIdentity id;
    std::vector<uint8_t> pixels;
    ASSERT_EQ(IdentifyGd(file, &id, &why), 1) << why;
    ASSERT_EQ(DecodeGd(file, id, &pixels, &why), 1) << why;
    std::vector<uint8_t> stream, picture, again;
    const char* refusal = nullptr;
    ASSERT_EQ(EncodeStream(id.row->decoder, pixels.data(), id.row->width, id.row->height, &stream, &refusal), 1);
    WrapStream(id.variant, stream, &picture);
    GdFile copy = InMemory(name, picture);
    ASSERT_EQ(DecodeGd(copy, id, &again, &why), 1) << why;
    EXPECT_TRUE(again == pixels);
  }
}
#endif

}  // namespace
