// The word that the coded decoders' bit readers buffer their input in.
//
// It is a machine word: on a 32-bit machine every 64-bit shift takes several
// instructions, and the readers shift once per field. A reader keeps its
// unread bits at the top of the word, most significant first.
#ifndef VESK_DECODE_BITWORD_H
#define VESK_DECODE_BITWORD_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t BitWord;
#else
typedef uint32_t BitWord;
#endif
const int kWordBits = 8 * (int)sizeof(BitWord);
const size_t kWordBytes = sizeof(BitWord);

// kWordBytes bytes from p as a big-endian word: the first byte on top.
inline BitWord LoadWord(const uint8_t* p) {
  BitWord word;
  memcpy(&word, p, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#if UINTPTR_MAX > 0xFFFFFFFFu
  word = __builtin_bswap64(word);
#else
  word = __builtin_bswap32(word);
#endif
#endif
  return word;
}

// Leading zero bits of w, at most kWordBits - 1 (the |1 keeps clz defined).
#if UINTPTR_MAX > 0xFFFFFFFFu
inline int LeadingZeros(BitWord w) { return __builtin_clzll(w | 1u); }
#else
inline int LeadingZeros(BitWord w) { return __builtin_clz(w | 1u); }
#endif

#endif
