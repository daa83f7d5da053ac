// Small, valid pictures of every coding and form, made from a seed: streams
// that use every kind of code (literals and copies of every distance class,
// run codes of many lengths, chains with every move, row jumps, every count
// selector), as seeds for mutation sweeps, fuzzing and thread tests. Their
// pixels are whatever the decoder makes of them; only the streams are built
// here. Header-only, so the unit tests, the contract tests and the fuzz
// programs share it without a library of their own.
#ifndef VESK_TESTS_CODED_PICTURES_H
#define VESK_TESTS_CODED_PICTURES_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/support/bit_writer.h"

namespace coded {

typedef std::vector<uint8_t> Bytes;

struct Random {
  uint32_t s;
  explicit Random(uint32_t seed) : s(seed * 2654435761u + 0x9E3779B9u) {}
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

// LZ: literals, then copies of every kind: the byte just decoded, overlapping
// copies, far copies, copies that start at positions not yet written, at
// ring position 65535, and every length field; then the end code. Decodes
// to about `bytes` bytes.
inline Bytes LzStream(uint32_t seed, uint32_t bytes) {
  Random rng(seed);
  BitWriter w;
  uint32_t written = 0;
  while (written < bytes) {
    uint32_t kind = written < 8 ? 0 : rng.Below(10);
    if (kind < 4) {
      w.Put(0x100u | (rng.Next() >> 24), 9);
      written++;
      continue;
    }
    uint32_t back = kind == 4 ? 1 : kind < 7 ? 2 + rng.Below(16) : kind < 9 ? 1 + rng.Below(written) : 0;
    // Decoded byte n sits at ring position n + 1; `back` 0 picks a position
    // no byte has reached yet (or 65535).
    uint32_t position = back ? (written + 1 - back) & 0xFFFFu : (rng.Below(2) ? 65535u : written + 2 + rng.Below(50));
    if (position == 0) position = 1;
    uint32_t length = rng.Below(16);
    w.Put(0, 1);
    w.Put(position, 16);
    w.Put(length, 4);
    written += length + 3;
  }
  w.Put(0, 17);
  return w.bytes;
}

// n - 1 ones, a zero, then n bits: the run code of `run`.
inline void PutChainRun(BitWriter* w, uint32_t run) {
  int n = 1;
  while ((uint64_t)run + 2 >= ((uint64_t)1 << (n + 1))) n++;
  w->PutOnes(n - 1);
  w->Put(0, 1);
  w->Put(run + 2 - (1u << n), n);
}

// Chain colour: `records` records of run codes up to 9 bits of value, some
// white colours, chains of every move; then an end code of 23 or more ones.
inline Bytes ChainStream(uint32_t seed, int records) {
  static const uint32_t kMoves[5][2] = {{1, 2}, {2, 2}, {3, 2}, {2, 4}, {3, 4}};
  Random rng(seed);
  BitWriter w;
  for (int i = 0; i < records; i++) {
    uint32_t bits = 1 + rng.Below(9);
    PutChainRun(&w, rng.Below((1u << bits) - 1));
    bool white = rng.Below(16) == 0;
    for (int c = 0; c < 3; c++) w.PutByte(white ? 255 : (uint8_t)(rng.Next() >> 24));
    bool chain = rng.Below(3) != 0;
    w.Put(chain ? 1 : 0, 1);
    if (chain) {
      int steps = (int)rng.Below(24);
      for (int s = 0; s < steps; s++) {
        const uint32_t* m = kMoves[rng.Below(5)];
        w.Put(m[0], (int)m[1]);
      }
      w.Put(0, 3);
    }
  }
  w.PutOnes(23 + (int)rng.Below(3));
  w.Put(0, 1);
  return w.bytes;
}

// Palette chain: a palette, `runs` runs with chains of every code (row jumps
// of every selector among them), counts written with wider selectors than
// needed now and then; then an end marker of any selector.
inline Bytes PaletteStream(uint32_t seed, int runs) {
  static const int kWidth[4] = {4, 6, 8, 20};
  Random rng(seed);
  BitWriter w;
  for (int k = 0; k < 768; k++) w.PutByte((uint8_t)(rng.Next() >> 24));
  auto count = [&](uint32_t n) {
    int selector = n < 16 ? 0 : n < 64 ? 1 : n < 256 ? 2 : 3;
    if (selector < 3 && rng.Below(6) == 0) selector++;
    w.Put((uint32_t)selector, 2);
    w.Put(n, kWidth[selector]);
  };
  for (int i = 0; i < runs; i++) {
    count(1 + rng.Below(i % 7 == 0 ? 900 : 60));
    w.PutByte((uint8_t)(rng.Below(12) == 0 ? 0 : 1 + rng.Below(12)));
    int steps = (int)rng.Below(20);
    for (int s = 0; s < steps; s++) {
      uint32_t code = 1 + rng.Below(7);
      w.Put(code, 3);
      if (code == 6) count(rng.Below(4));
    }
    w.Put(0, 3);
  }
  uint32_t selector = rng.Below(4);
  w.Put(selector, 2);
  w.Put(0, kWidth[selector]);
  return w.bytes;
}

// The forms around a stream.
inline Bytes Headerless(char letter, const Bytes& stream) {
  Bytes b(2 + stream.size(), 0);
  b[0] = (uint8_t)letter;
  b[1] = 0x5C;  // not read
  memcpy(b.data() + 2, stream.data(), stream.size());
  return b;
}
inline Bytes Headered(char digit, char mode, const Bytes& stream) {
  size_t mode_at = digit == '3' ? 14164 : 9028;
  Bytes b(mode_at + 2 + stream.size(), 0x20);
  b[0] = 'G';
  b[1] = 'D';
  b[2] = (uint8_t)digit;
  b[mode_at] = (uint8_t)mode;
  if (!stream.empty()) memcpy(b.data() + mode_at + 2, stream.data(), stream.size());
  return b;
}

// A whole picture with what the tests need to know about it.
struct Picture {
  std::string label;
  std::string name;  // a file name whose extension selects the form
  Bytes bytes;
  int32_t width, height;
  uint32_t stream_offset;
  bool by_name;  // ".HHP": only file input with this name reads it as palette
};

inline uint32_t ModeOffset(char digit) { return digit == '3' ? 14164u : 9028u; }

// One picture of each coding and form, small enough to sweep byte by byte.
inline std::vector<Picture> EveryCoding(uint32_t seed) {
  std::vector<Picture> v;
  Bytes chain = ChainStream(seed, 60);
  // A headerless stream without a letter must not begin like a letter or "GD".
  while (chain[0] == 'L' || chain[0] == 'l' || chain[0] == 'P' || chain[0] == 'p' || chain[0] == 'G')
    chain = ChainStream(++seed, 60);
  v.push_back({"lz headerless L", "lz.gd", Headerless('L', LzStream(seed, 1800)), 640, 480, 2, false});
  v.push_back({"lz GD3 l", "lz3.dcl", Headered('3', 'l', LzStream(seed + 1, 1500)), 800, 600, 14166, false});
  v.push_back({"chain headerless", "chain.gd", chain, 640, 480, 0, false});
  v.push_back({"chain headerless p", "chainp.gd", Headerless('p', ChainStream(seed + 2, 50)), 640, 480, 2, false});
  v.push_back({"chain GD2 P", "chain2.gd", Headered('2', 'P', ChainStream(seed + 3, 50)), 640, 480, 9030, false});
  v.push_back({"palette", "pal.hhp", PaletteStream(seed, 50), 640, 400, 0, true});
  Bytes raw(640 * 480 * 3);
  Random rng(seed);
  for (uint8_t& b : raw) b = (uint8_t)(rng.Next() >> 24);
  v.push_back({"raw GD2 b", "raw.gd", Headered('2', 'b', raw), 640, 480, 9030, false});
  return v;
}

}  // namespace coded

#endif
