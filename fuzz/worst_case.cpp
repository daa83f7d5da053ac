// A benchmark, not a test: the slowest inputs that can be built for each
// decoder, timed through GetPicture (memory input, the system's platform)
// beside an ordinary picture of the same coding. Every decoder stops at the
// end of its block or of its input, so the worst case grows with the input's
// length; each hostile stream is timed at 1 MiB and 16 MiB to show that the
// time per byte stays flat. (An LZ stream stops being read once the block is
// full, so its time per byte of a long input says little.)
//
// Usage: worst_case [REPEATS]   (best of REPEATS runs, 5 by default)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "plugin/entry.h"
#include "tests/support/coded_pictures.h"

namespace {

typedef std::vector<uint8_t> Bytes;

int g_repeats = 5;

// Best time of a GetPicture call, in milliseconds.
double TimePicture(const Bytes& picture) {
  double best = 1e30;
  for (int i = 0; i < g_repeats; i++) {
    void* header = nullptr;
    void* pixels = nullptr;
    auto start = std::chrono::steady_clock::now();
    int32_t rc = PictureCall(&kSystemPlatform, (const char*)picture.data(), (intptr_t)picture.size(), 1, &header,
                             &pixels, nullptr, 0);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (rc != 0) {
      fprintf(stderr, "worst_case: GetPicture gave %d\n", rc);
      exit(1);
    }
    kSystemPlatform.free_moveable(nullptr, header);
    kSystemPlatform.free_moveable(nullptr, pixels);
    if (ms < best) best = ms;
  }
  return best;
}

void Print(const char* coding, const char* what, size_t size, double ms, double normal_ms) {
  printf("%-8s %-52s %9.2f MiB %9.2f ms %7.1fx  %6.2f ns/byte\n", coding, what, size / 1048576.0, ms,
         normal_ms > 0 ? ms / normal_ms : 1.0, ms * 1e6 / (double)size);
}

void Report(const char* coding, const char* what, const Bytes& picture, double normal_ms) {
  Print(coding, what, picture.size(), TimePicture(picture), normal_ms);
}

// Repeats `unit` (a bit pattern of `bits` bits) until the stream has `bytes`.
void PutRepeated(BitWriter* w, uint32_t unit, int bits, size_t bytes) {
  while (w->bytes.size() < bytes) w->Put(unit, bits);
}

const size_t kMiB = 1 << 20;

// An ordinary picture: the sample of that name when the repository's
// samples are there, else the stand-in.
Bytes Ordinary(const char* sample, const Bytes& stand_in, std::string* what) {
  std::string here = __FILE__;
  size_t cut = here.rfind("fuzz/");
  std::string path = (cut == std::string::npos ? std::string() : here.substr(0, cut)) + "samples/" + sample;
  Bytes bytes;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
  }
  if (bytes.empty()) return stand_in;
  *what = std::string("ordinary picture: ") + sample;
  return bytes;
}

// LZ. Ordinary: the mixed stream of the tests, decoding the whole block.
// Hostile: overlapping 18-byte copies from 2 back (the byte-by-byte copy),
// copies from positions never written, 3-byte copies (most codes per
// output byte) and only literals; none can decode more than the block, and
// the rest of a long input is never read.
void Lz() {
  std::string what = "ordinary picture (mixed codes, whole block)";
  Bytes normal = Ordinary("testcard-gd2-lz.gd", coded::Headerless('L', coded::LzStream(3, 921600)), &what);
  double base = TimePicture(normal);
  Print("lz", what.c_str(), normal.size(), base, base);
  struct Case {
    const char* what;
    uint32_t back;  // 0: positions ahead of the writes
    uint32_t length_field;
  } cases[] = {{"18-byte copies from 2 back (overlapping)", 2, 15},
               {"18-byte copies from 17 back (overlapping)", 17, 15},
               {"3-byte copies from 1 back", 1, 0},
               {"18-byte copies of never-written positions", 0, 15}};
  for (const Case& c : cases) {
    BitWriter w;
    uint32_t written = 0;
    w.Put(0x1AA, 9);
    w.Put(0x155, 9);
    written = 2;
    while (w.bytes.size() < 16 * kMiB) {
      uint32_t position = c.back ? (written + 1 - c.back) & 0xFFFFu : (written + 40000) & 0xFFFFu;
      w.Put(0, 1);
      w.Put(position ? position : 1, 16);
      w.Put(c.length_field, 4);
      written += c.length_field + 3;
    }
    Report("lz", c.what, coded::Headerless('L', w.bytes), base);
  }
  BitWriter w;
  PutRepeated(&w, 0x1A5, 9, 16 * kMiB);
  Report("lz", "literals only, 16 MiB", coded::Headerless('L', w.bytes), base);
}

// Chain colour. Ordinary: records with chains down the picture. Hostile:
// one record whose chain of straight-down moves runs on past the block to
// the end of the input (2 bits a move), chains that stay inside writing a
// pixel every 2 bits, and records of run length 0 (27 bits a pixel).
void Chain() {
  std::string what = "ordinary picture (12000 records with chains)";
  Bytes normal = Ordinary("testcard-gd2-chain.gd", coded::Headerless('P', coded::ChainStream(4, 12000)), &what);
  double base = TimePicture(normal);
  Print("chain", what.c_str(), normal.size(), base, base);
  for (size_t size : {kMiB, 16 * kMiB}) {
    BitWriter w;
    w.Put(0, 2);
    w.Put(0x102030, 24);
    w.Put(1, 1);
    PutRepeated(&w, 2, 2, size);
    std::string what = "one endless chain past the block, " + std::to_string(size / kMiB) + " MiB";
    Report("chain", what.c_str(), coded::Headerless('P', w.bytes), base);
  }
  for (size_t size : {kMiB, 16 * kMiB}) {
    // A record on every pixel in turn, each with a chain of 479 moves that
    // alternate left and right: every move inside the block writes.
    BitWriter w;
    while (w.bytes.size() < size) {
      w.Put(0, 2);
      w.Put(0x405060, 24);
      w.Put(1, 1);
      for (int m = 0; m < 479; m++) w.Put(m % 2 ? 3 : 1, 2);
      w.Put(0, 3);
    }
    w.PutOnes(23);
    w.Put(0, 1);
    std::string what = "chains writing every move, " + std::to_string(w.bytes.size() / 1024) + " KiB";
    Report("chain", what.c_str(), coded::Headerless('P', w.bytes), base);
  }
  BitWriter w;
  for (int i = 0; i < 640 * 480; i++) {
    w.Put(0, 2);
    w.Put(0x010203u + (uint32_t)i, 24);
    w.Put(0, 1);
  }
  w.PutOnes(23);
  w.Put(0, 1);
  Report("chain", "a record of run 0 on every pixel", coded::Headerless('P', w.bytes), base);
}

// Palette chain. The form is known by its name alone, so these go through
// GetPicture with file input of a ".hhp" file (the file's read included).
double TimePalette(const Bytes& stream) {
  std::string name = "/tmp/vesk_worst_case_" + std::to_string((long)getpid()) + ".hhp";
  const char* path = name.c_str();
  FILE* f = fopen(path, "wb");
  if (!f || fwrite(stream.data(), 1, stream.size(), f) != stream.size() || fclose(f) != 0) {
    fprintf(stderr, "worst_case: cannot write %s\n", path);
    exit(1);
  }
  double best = 1e30;
  for (int i = 0; i < g_repeats; i++) {
    void* header = nullptr;
    void* pixels = nullptr;
    auto start = std::chrono::steady_clock::now();
    int32_t rc = PictureCall(&kSystemPlatform, path, 0, 0, &header, &pixels, nullptr, 0);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (rc != 0) {
      fprintf(stderr, "worst_case: GetPicture gave %d\n", rc);
      exit(1);
    }
    kSystemPlatform.free_moveable(nullptr, header);
    kSystemPlatform.free_moveable(nullptr, pixels);
    if (ms < best) best = ms;
  }
  remove(path);
  return best;
}

void ReportPalette(const char* what, const Bytes& stream, double normal_ms) {
  Print("palette", what, stream.size(), TimePalette(stream), normal_ms);
}

// Hostile: row jumps of 0 rows (9 bits each, no move), code 1 moves past the
// block (3 bits each), and skips of 1 marking every pixel.
void Palette() {
  std::string what = "ordinary picture (6000 runs with chains)";
  Bytes normal = Ordinary("testcard.hhp", coded::PaletteStream(5, 6000), &what);
  double base = TimePalette(normal);
  Print("palette", what.c_str(), normal.size(), base, base);
  auto start = [](BitWriter* w) {
    for (int i = 0; i < 768; i++) w->PutByte((uint8_t)i);
    w->Put(0, 2);
    w->Put(1, 4);
    w->PutByte(9);
  };
  for (size_t size : {kMiB, 16 * kMiB}) {
    BitWriter w;
    start(&w);
    PutRepeated(&w, (6u << 6) | 0u, 9, size);  // code 6, selector 0, count 0
    std::string what = "endless row jumps of 0 rows, " + std::to_string(size / kMiB) + " MiB";
    ReportPalette(what.c_str(), w.bytes, base);
  }
  for (size_t size : {kMiB, 16 * kMiB}) {
    BitWriter w;
    start(&w);
    PutRepeated(&w, (6u << 22) | (3u << 20) | 0xFFFFFu, 25, size);  // jumps of 2^20 - 1 rows
    std::string what = "endless jumps of 1048575 rows, " + std::to_string(size / kMiB) + " MiB";
    ReportPalette(what.c_str(), w.bytes, base);
  }
  for (size_t size : {kMiB, 16 * kMiB}) {
    BitWriter w;
    start(&w);
    PutRepeated(&w, 1, 3, size);
    std::string what = "endless code 1 moves past the block, " + std::to_string(size / kMiB) + " MiB";
    ReportPalette(what.c_str(), w.bytes, base);
  }
  BitWriter w;
  for (int i = 0; i < 768; i++) w.PutByte((uint8_t)i);
  for (int i = 0; i < 640 * 400; i++) {
    w.Put(0, 2);
    w.Put(1, 4);
    w.PutByte((uint8_t)(1 + i % 255));
    w.Put(0, 3);
  }
  w.Put(0, 6);
  ReportPalette("a run of skip 1 on every pixel", w.bytes, base);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_repeats = atoi(argv[1]) > 0 ? atoi(argv[1]) : 1;
  printf("%-8s %-52s %13s %12s %8s %14s\n", "coding", "input", "size", "best", "ordinary", "per byte");
  Lz();
  Chain();
  Palette();
  return 0;
}
