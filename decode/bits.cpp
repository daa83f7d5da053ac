#include "decode/decode.h"

uint32_t ReadBits(const uint8_t* source, uint64_t source_length, BitCursor* cursor, int32_t bits_wanted) {
  if (bits_wanted < 1) return 0;
  int want = bits_wanted > 32 ? 32 : bits_wanted;
  unsigned mask = cursor->bit_mask ? cursor->bit_mask : 128u;
  int left = 1;  // bits not yet taken from the current byte
  while ((1u << (left - 1)) != mask) left++;
  uint64_t position = cursor->position;
  uint64_t result = 0;
  while (want > 0) {
    unsigned byte = position < source_length ? source[position] : 0u;
    byte &= (1u << left) - 1u;
    if (want < left) {
      result = (result << want) | (byte >> (left - want));
      left -= want;
      want = 0;
    } else {
      result = (result << left) | byte;
      want -= left;
      left = 8;
      position++;
    }
  }
  cursor->position = position;
  cursor->bit_mask = (uint8_t)(1u << (left - 1));
  return (uint32_t)result;
}
