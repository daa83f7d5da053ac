// Damaged pictures through the entry points: every byte of a small picture
// of each coding inverted, zeroed and set to 0xFF, and the picture cut at
// many lengths. Whatever the damage, GetPicture gives 0 or 2, writes every
// byte of the pixel block (two runs over blocks poisoned differently agree),
// gives the same pixels twice, holds nothing afterwards, and agrees with
// GetPictureInfo and IsSupported. The sample pictures, when present, get a
// seeded subset of the same.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "plugin/entry.h"
#include "tests/support/coded_pictures.h"
#include "tests/support/run_folder.h"
#include "tests/support/fault_platform.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// One input to run: memory input, or (for names that decide the form) a file.
struct Input {
  const coded::Picture* picture;
  std::string path;  // file input when not empty
};

struct Sweep {
  std::string label;
  int runs = 0;
  int decoded = 0;  // runs that ended in 0
  std::vector<std::string> failures;
  void Fail(const std::string& what) {
    if (failures.size() < 12) failures.push_back(label + ": " + what);
  }
};

struct Call {
  int32_t rc = -1;
  void* header = (void*)16;  // stays unless GetPicture writes it
  void* pixels = (void*)16;
};

Call RunPicture(FaultPlatform* fp, const Input& in, const Bytes& bytes) {
  Call c;
  if (in.path.empty())
    c.rc = PictureCall(&fp->table, (const char*)bytes.data(), (intptr_t)bytes.size(), 1, &c.header, &c.pixels,
                       nullptr, 0);
  else
    c.rc = PictureCall(&fp->table, in.path.c_str(), 0, 0, &c.header, &c.pixels, nullptr, 0);
  return c;
}

uint32_t Le32(const uint8_t* p) { return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

bool WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// Runs GetPicture twice over differently poisoned blocks, then GetPictureInfo
// and IsSupported, and checks everything that must hold for any input.
void RunOne(Sweep* s, const Input& in, const Bytes& bytes, const std::string& what) {
  if (!in.path.empty() && !WriteFile(in.path, bytes)) {
    s->Fail(what + ": cannot write " + in.path);
    return;
  }
  s->runs++;
  FaultPlatform a, b;
  InitFaultPlatform(&a);
  InitFaultPlatform(&b);
  a.poison = 0xA5;
  b.poison = 0x5A;
  Call first = RunPicture(&a, in, bytes);
  Call second = RunPicture(&b, in, bytes);
  if (first.rc != 0 && first.rc != 2) s->Fail(what + ": result " + std::to_string(first.rc));
  if (second.rc != first.rc) s->Fail(what + ": a second run gave another result");
  for (FaultPlatform* fp : {&a, &b})
    if (fp->open_files || !fp->fixed_blocks.empty() || fp->locks_held) s->Fail(what + ": a file, buffer or lock held");
  int32_t width = 0, height = 0;
  if (first.rc == 0 && second.rc == 0) {
    s->decoded++;
    if (a.moveable_blocks.size() != 2 || b.moveable_blocks.size() != 2) s->Fail(what + ": not two blocks handed over");
    const uint8_t* h = (const uint8_t*)first.header;
    width = (int32_t)Le32(h + 4);
    height = (int32_t)Le32(h + 8);
    bool header_ok = Le32(h) == 40 && h[12] == 1 && h[13] == 0 && h[14] == 24 && h[15] == 0 &&
                     memcmp(h, second.header, 40) == 0;
    for (int i = 16; i < 40; i++) header_ok = header_ok && h[i] == 0;
    bool size_ok = (width == 640 && (height == 400 || height == 480)) || (width == 800 && height == 600);
    if (!header_ok || !size_ok) s->Fail(what + ": bad bitmap header");
    // Unwritten bytes would differ between the two poisons.
    else if (memcmp(first.pixels, second.pixels, PixelBlockSize(width, height)) != 0)
      s->Fail(what + ": pixels differ between two runs (unwritten or unstable bytes)");
  } else {
    if (first.header != (void*)16 || first.pixels != (void*)16) s->Fail(what + ": out-parameters written after 2");
    if (!a.moveable_blocks.empty() || !b.moveable_blocks.empty()) s->Fail(what + ": a block leaked after 2");
  }
  if (first.rc == 0) {
    a.table.free_moveable(&a, first.header);
    a.table.free_moveable(&a, first.pixels);
  }
  if (second.rc == 0) {
    b.table.free_moveable(&b, second.header);
    b.table.free_moveable(&b, second.pixels);
  }

  // Sizing runs the same detection; it cannot refuse what GetPicture read.
  PictureInfo info;
  memset(&info, 0x3C, sizeof info);
  int32_t info_rc = in.path.empty()
                        ? PictureInfoCall(&a.table, (const char*)bytes.data(), (intptr_t)bytes.size(), 1, &info)
                        : PictureInfoCall(&a.table, in.path.c_str(), 0, 0, &info);
  if (info_rc != 0 && info_rc != 2) s->Fail(what + ": GetPictureInfo result " + std::to_string(info_rc));
  if (first.rc == 0 && (info_rc != 0 || info.width != width || info.height != height))
    s->Fail(what + ": GetPictureInfo disagrees with GetPicture");
  if (bytes.size() >= 3 && first.rc == 0) {
    const char* name = in.path.empty() ? nullptr : in.path.c_str();
    if (QuickCheck(&a.table, name, bytes.data()) != 1) s->Fail(what + ": IsSupported refuses a decoded picture");
  }
  if (a.open_files || !a.fixed_blocks.empty()) s->Fail(what + ": GetPictureInfo held a file or buffer");
}

// Bytes whose damage matters: the header's signature, digit and mode letter,
// and the stream (all of it, or `limit` positions picked by a seed).
std::vector<size_t> PositionsToDamage(const coded::Picture& p, size_t limit, uint32_t seed) {
  std::vector<size_t> v;
  size_t size = p.bytes.size();
  if (p.stream_offset >= 9030) {
    size_t mode_at = p.stream_offset - 2;
    for (size_t i : {(size_t)0, (size_t)1, (size_t)2, (size_t)3, mode_at, mode_at + 1}) v.push_back(i);
  } else {
    for (size_t i = 0; i < p.stream_offset && i < size; i++) v.push_back(i);
  }
  size_t stream = size > p.stream_offset ? size - p.stream_offset : 0;
  if (stream <= limit) {
    for (size_t i = 0; i < stream; i++) v.push_back(p.stream_offset + i);
  } else {
    coded::Random rng(seed);
    for (size_t i = 0; i < 32 && i < stream; i++) v.push_back(p.stream_offset + i);  // the first fields
    for (size_t i = 0; i < limit; i++) v.push_back(p.stream_offset + rng.Below((uint32_t)stream));
    for (size_t i = 1; i <= 8 && i <= stream; i++) v.push_back(size - i);  // the end code
  }
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

// Every short length, the lengths around the mode letter and the stream's
// start, and `spread` lengths across the rest.
std::vector<size_t> LengthsToCut(const coded::Picture& p, size_t spread) {
  std::vector<size_t> v;
  size_t size = p.bytes.size();
  for (size_t n = 0; n < 24 && n < size; n++) v.push_back(n);
  for (size_t n = p.stream_offset >= 4 ? p.stream_offset - 4 : 0; n < p.stream_offset + 40 && n < size; n++)
    v.push_back(n);
  for (size_t i = 1; i <= spread; i++) v.push_back(size * i / (spread + 1));
  for (size_t n = size >= 4 ? size - 4 : 0; n < size; n++) v.push_back(n);
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

void SweepPicture(Sweep* s, const coded::Picture& p, size_t position_limit, size_t spread) {
  Input in = {&p, ""};
  if (p.by_name) in.path = RunFolder() + "/sweep_" + p.name;
  RunOne(s, in, p.bytes, "undamaged");
  if (s->decoded != 1) s->Fail("the undamaged picture is not decoded");
  Bytes bytes = p.bytes;
  for (size_t at : PositionsToDamage(p, position_limit, (uint32_t)p.bytes.size())) {
    uint8_t original = bytes[at];
    for (uint8_t value : {(uint8_t)~original, (uint8_t)0, (uint8_t)0xFF}) {
      if (value == original) continue;
      bytes[at] = value;
      RunOne(s, in, bytes, "byte " + std::to_string(at) + " := " + std::to_string(value));
    }
    bytes[at] = original;
  }
  for (size_t n : LengthsToCut(p, spread)) {
    Bytes cut(p.bytes.begin(), p.bytes.begin() + (long)n);
    RunOne(s, in, cut, "cut to " + std::to_string(n));
  }
}

void Report(const Sweep& s) {
  std::string all;
  for (const std::string& f : s.failures) all += "\n  " + f;
  ::testing::Test::RecordProperty(s.label + " runs", s.runs);
  EXPECT_TRUE(s.failures.empty()) << s.runs << " runs:" << all;
  // Most single-byte damage still leaves a picture; a sweep that decodes
  // nothing has tested nothing.
  EXPECT_GT(s.decoded * 2, s.runs) << s.label << ": only " << s.decoded << " of " << s.runs << " decoded";
}

class MutationSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(MutationSweep, DamageGivesZeroOrTwoAndAWholeStableBlock) {
  std::vector<coded::Picture> pictures = coded::EveryCoding(7);
  ASSERT_LT(GetParam(), pictures.size());
  const coded::Picture& p = pictures[GetParam()];
  Sweep s;
  s.label = p.label;
  // The raw picture's stream is plain pixels: damage there changes nothing
  // but pixels, so it gets a sample of positions only.
  SweepPicture(&s, p, p.stream_offset == 9030 && p.bytes.size() > 900000 ? 64 : 4096, 100);
  Report(s);
}

INSTANTIATE_TEST_SUITE_P(EveryCoding, MutationSweep, ::testing::Range((size_t)0, coded::EveryCoding(7).size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string n = coded::EveryCoding(7)[info.param].label;
                           for (char& c : n)
                             if (!isalnum((unsigned char)c)) c = '_';
                           return n;
                         });

// The sample pictures of the repository, if there are any: a seeded subset
// of positions each, within a fixed total.
std::string SamplesFolder() {
  const char* env = getenv("VESK_SAMPLES");
  if (env && *env) return env;
  std::string here = __FILE__;
  size_t cut = here.rfind("tests/unit/");
  return cut == std::string::npos ? "samples" : here.substr(0, cut) + "samples";
}

std::vector<coded::Picture> LoadSamples() {
  std::vector<coded::Picture> v;
  std::string folder = SamplesFolder();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return v;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    NameClass kind = ClassifyName(&kPortableTextOps, name.c_str());
    if (kind == kNameRefused) continue;
    FILE* f = fopen((folder + "/" + name).c_str(), "rb");
    if (!f) continue;
    Bytes bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    GdVariant variant = 0;
    bool by_name = kind == kNamePalette;
    if (!DetectVariantInMemory(&kPortableTextOps, by_name ? name.c_str() : nullptr, bytes.data(), bytes.size(),
                               &variant))
      continue;
    const GdVariantRow& row = GdVariantTable[variant];
    v.push_back({name, name, bytes, row.width, row.height, (uint32_t)row.stream_offset, by_name});
  }
  return v;
}

TEST(MutationSweepSamples, DamageGivesZeroOrTwoAndAWholeStableBlock) {
  std::vector<coded::Picture> samples = LoadSamples();
  if (samples.empty()) GTEST_SKIP() << "no sample pictures in " << SamplesFolder();
  // About 2400 damaged pictures over all samples, at least 24 positions each.
  size_t per = std::max<size_t>(24, 800 / samples.size());
  for (const coded::Picture& p : samples) {
    Sweep s;
    s.label = p.label;
    SweepPicture(&s, p, per, std::max<size_t>(8, per / 4));
    Report(s);
  }
}

}  // namespace
