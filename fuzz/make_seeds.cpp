// Writes the seeds of the fuzz corpus: small valid streams of every coding
// (tests/support/coded_pictures.h), the same cut short and with a byte
// damaged, edge streams (end codes at once, maximal runs, row jumps), names
// and headers for detection, and the sample pictures cut to at most 16 KiB
// of stream, whole and damaged. Usage: fuzz_seeds FOLDER [SAMPLES]; it
// writes FOLDER/<target>/<name>. The decoder targets' inputs begin with a shape
// byte (fuzz/decoder_target.h): 0 the coding's first real size, 1 its
// second, any other value a small block.
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include <string>
#include <vector>

#include "format/variant.h"
#include "tests/support/coded_pictures.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::string g_root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  std::string dir = g_root + "/" + target;
  mkdir(g_root.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  std::string path = dir + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str());
    return;
  }
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

Bytes Shaped(uint8_t shape, const Bytes& stream) {
  Bytes b(1 + stream.size(), shape);
  if (!stream.empty()) memcpy(b.data() + 1, stream.data(), stream.size());
  return b;
}

Bytes Cut(Bytes b, size_t n) {
  if (b.size() > n) b.resize(n);
  return b;
}

Bytes Damaged(Bytes b, size_t at) {
  if (at < b.size()) b[at] = (uint8_t)~b[at];
  return b;
}

// A stream, cut in half, and damaged in its middle, for one decoder target.
void Streams(const std::string& target, const std::string& name, const Bytes& stream) {
  for (uint8_t shape : {(uint8_t)0, (uint8_t)0xD3}) {
    std::string n = name + (shape ? "_small" : "");
    Write(target, n, Shaped(shape, stream));
    Write(target, n + "_cut", Shaped(shape, Cut(stream, stream.size() / 2)));
    Write(target, n + "_damaged", Shaped(shape, Damaged(stream, stream.size() / 3)));
  }
}

void LzSeeds() {
  Streams("lz", "mixed", coded::LzStream(1, 3000));
  Streams("lz", "mixed2", coded::LzStream(2, 400));
  Write("lz", "worked_example", Shaped(0xC9, {0xA0, 0xD0, 0x80, 0x00, 0x20, 0x00, 0x00}));
  Write("lz", "end_only", Shaped(0, {0, 0, 0}));
  // Copies of 18 bytes from 18 back, past the ring's first wrap.
  BitWriter w;
  uint32_t written = 0;
  for (int i = 0; i < 18; i++, written++) w.Put(0x100u | (uint32_t)(i * 13), 9);
  while (written < 70000) {
    uint32_t position = (written + 1 - 18) & 0xFFFFu;
    w.Put(0, 1);
    w.Put(position ? position : 1, 16);
    w.Put(15, 4);
    written += 18;
  }
  w.Put(0, 17);
  Write("lz", "long_copies", Shaped(0, w.bytes));
}

void ChainSeeds() {
  Streams("chain", "mixed", coded::ChainStream(1, 80));
  Streams("chain", "mixed2", coded::ChainStream(2, 20));
  Write("chain", "worked_example",
        Shaped(0x49, {0x44, 0x48, 0x8C, 0xF6, 0x04, 0x45, 0x56, 0x64, 0xBB, 0xCC, 0xD5, 0x3F, 0xFF,
                                     0xFF, 0x80}));
  Write("chain", "end_at_once", Shaped(0, {0xFF, 0xFF, 0xFE}));
  // The largest run, then a record with a chain of every move.
  BitWriter w;
  coded::PutChainRun(&w, 1000);
  w.Put(0x123456, 24);
  w.Put(1, 1);
  for (int i = 0; i < 300; i++) w.Put((uint32_t)(1 + i % 3), 2);
  w.Put(2, 4);
  w.Put(3, 4);
  w.Put(0, 3);
  w.PutOnes(22);
  w.Put(0, 1);
  w.PutOnes(23);
  Write("chain", "long_run_and_chain", Shaped(0, w.bytes));
}

void PaletteSeeds() {
  Streams("palette", "mixed", coded::PaletteStream(1, 80));
  Streams("palette", "mixed2", coded::PaletteStream(2, 10));
  Bytes only(769, 0);
  for (int i = 0; i < 768; i++) only[i] = (uint8_t)(i * 7);
  Write("palette", "palette_and_end", Shaped(0, only));
  // Row jumps of every selector, and a jump far past the block.
  BitWriter w;
  for (int i = 0; i < 768; i++) w.PutByte((uint8_t)i);
  w.Put(0, 2);
  w.Put(5, 4);
  w.PutByte(3);
  for (uint32_t s = 0; s < 4; s++) {
    w.Put(6, 3);
    w.Put(s, 2);
    w.Put(1, s == 0 ? 4 : s == 1 ? 6 : s == 2 ? 8 : 20);
  }
  w.Put(6, 3);
  w.Put(3, 2);
  w.Put(0xFFFFF, 20);
  w.Put(1, 3);
  w.Put(0, 3);
  w.Put(3, 2);
  w.Put(0, 20);
  Write("palette", "row_jumps", Shaped(0, w.bytes));
}

void PictureSeeds() {
  for (const coded::Picture& p : coded::EveryCoding(5)) {
    std::string name = p.name;
    for (char& c : name)
      if (c == '.') c = '_';
    // The raw picture is large; its header and a little of its stream do.
    Bytes bytes = p.bytes.size() > 100000 ? Cut(p.bytes, p.stream_offset + 2000) : p.bytes;
    Write("picture", name, bytes);
    Write("picture", name + "_cut", Cut(bytes, p.stream_offset + (bytes.size() - p.stream_offset) / 2));
  }
  Write("picture", "gd2_no_mode", Cut(coded::Headered('2', 'L', {0, 0, 0}), 9028));
  Write("picture", "gd3_stream_of_nothing", Cut(coded::Headered('3', 'P', {0}), 14166));
}

void DetectSeeds() {
  struct Named {
    const char* file;
    const char* name;  // nullptr: no name
    Bytes content;
  };
  Bytes gd2 = coded::Headered('2', 'b', {1, 2, 3});
  Bytes gd3 = coded::Headered('3', 'p', {1, 2, 3});
  const Named cases[] = {
      {"no_name_L", nullptr, {'L', 0, 1, 2}},  {"gd_P", "pic.gd", {'P', 0, 1}},  {"hhp", "x.HHP", {'G', 'D', '2'}},
      {"dcl5", "a.dcl5", {'l', 1}},            {"dotted", "a.b.Gd", {'G', 'D'}}, {"folder", "a.gd/b", {'L'}},
      {"short_ext", "a.G", {'L', 0, 0}},       {"gd2", "p.gd", gd2},             {"gd3", nullptr, gd3},
      {"gd4", "p.GDX", {'G', 'D', '4', 0}},
  };
  for (const Named& c : cases) {
    Bytes b;
    if (c.name) {
      std::string n = c.name;
      b.push_back((uint8_t)n.size());
      b.insert(b.end(), n.begin(), n.end());
    } else {
      b.push_back(0xF0);
    }
    b.insert(b.end(), c.content.begin(), c.content.end());
    Write("detect", c.file, b);
  }
}

Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  return bytes;
}

// Each sample for the picture target and for its decoder's target.
void SampleSeeds(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  const char* const kTargets[4] = {nullptr, "lz", "chain", "palette"};
  for (const std::string& name : names) {
    NameClass kind = ClassifyName(&kPortableTextOps, name.c_str());
    if (kind == kNameRefused) continue;
    Bytes bytes = ReadFile(folder + "/" + name);
    GdVariant variant = 0;
    if (!DetectVariantInMemory(&kPortableTextOps, name.c_str(), bytes.data(), bytes.size(), &variant)) continue;
    const GdVariantRow& row = GdVariantTable[variant];
    size_t offset = (size_t)row.stream_offset;
    if (bytes.size() <= offset) continue;
    std::string base = "sample_" + name;
    for (char& c : base)
      if (c == '.' || c == '-') c = '_';
    Bytes cut = Cut(bytes, offset + 16384);
    coded::Random rng((uint32_t)bytes.size());
    Bytes damaged = cut;
    for (int i = 0; i < 3; i++) damaged[offset + rng.Below((uint32_t)(cut.size() - offset))] ^= 0xFF;
    // The palette form needs its name, which memory input has not.
    if (kind != kNamePalette) {
      Write("picture", base, cut);
      Write("picture", base + "_damaged", damaged);
    }
    if (!kTargets[row.decoder]) continue;
    uint8_t shape = row.width == 800 ? 1 : 0;
    Write(kTargets[row.decoder], base, Shaped(shape, Bytes(cut.begin() + (long)offset, cut.end())));
    Write(kTargets[row.decoder], base + "_damaged", Shaped(shape, Bytes(damaged.begin() + (long)offset, damaged.end())));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "usage: fuzz_seeds FOLDER [SAMPLES]\n");
    return 2;
  }
  g_root = argv[1];
  if (argc == 3) SampleSeeds(argv[2]);
  LzSeeds();
  ChainSeeds();
  PaletteSeeds();
  PictureSeeds();
  DetectSeeds();
  return 0;
}
