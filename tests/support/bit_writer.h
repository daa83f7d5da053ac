// Builds bit streams for tests: fields written most significant bit first
// with no alignment, the way every coded GD stream is read.
#ifndef VESK_TESTS_BIT_WRITER_H
#define VESK_TESTS_BIT_WRITER_H

#include <stdint.h>

#include <vector>

struct BitWriter {
  std::vector<uint8_t> bytes;
  int used = 8;  // bits taken in the last byte

  // Appends the low `count` bits of value (count 0 to 32), high bit first.
  void Put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; i--) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      if ((value >> i) & 1u) bytes.back() |= (uint8_t)(0x80u >> used);
      used++;
    }
  }
  void PutOnes(int count) {
    for (int i = 0; i < count; i++) Put(1, 1);
  }
  void PutByte(uint8_t b) { Put(b, 8); }
  uint64_t BitCount() const { return bytes.empty() ? 0 : (bytes.size() - 1) * 8 + (uint64_t)used; }
};

#endif
