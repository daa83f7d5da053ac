// LZ pixel streams: literal bytes and copies out of a 64 KiB history ring
// addressed by absolute 16-bit positions, ended by a copy from position 0.
//
// No ring is kept. Decoded byte n sits at ring position (n + 1) mod 65536, so
// ring position P, seen when `written` bytes are decoded, holds the byte
// d = ((written + 1 - P - 1) mod 65536) + 1 bytes back in the block, and d
// stays the same through one copy. Positions that no byte has reached yet
// (d > written) read as 0.
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decode/lz.h"

#include "decode/bitword.h"
#include "decode/fast.h"

namespace {

// A bit reader private to this decoder, giving exactly ReadBits's fields.
// The `count` unread bits sit at the top of `bits`; the bits below them are
// either zero or copies of the input bytes that follow, so OR-ing those bytes
// in again changes nothing. With a 32-bit word, 24 bits after a refill still
// hold a whole code (at most 21 bits).
// Offsets are machine words: the input and the block lie in memory, and on
// a 32-bit machine every 64-bit count would take two registers and an add
// with carry.
struct LzReader {
  const uint8_t* source;
  size_t length;
  size_t next;  // next byte to load; next <= length
  BitWord bits;
  int count;  // 0 to kWordBits
};

// One load. Precondition: a word's bytes from `next` lie in the input, and
// count < kWordBits: only the byte-wise path below can fill the word, and
// once fewer than a word's bytes remain it is the only path taken.
inline void RefillWord(LzReader* r) {
  r->bits |= LoadWord(r->source + r->next) >> r->count;
  r->next += (kWordBits - 1 - r->count) >> 3;
  r->count |= kWordBits - 8;
}

// Afterwards count >= kWordBits - 8, or every byte of the input is loaded.
// While a word's bytes remain one load serves; near the end bytes are taken
// one at a time.
inline void Refill(LzReader* r) {
  if (r->length - r->next >= kWordBytes) {
    RefillWord(r);
    return;
  }
  while (r->count <= kWordBits - 8 && r->next < r->length) {
    r->bits |= (BitWord)r->source[r->next] << (kWordBits - 8 - r->count);
    r->next++;
    r->count += 8;
  }
}

// Precondition: 1 <= n <= count, n < kWordBits.
inline uint32_t Peek(const LzReader* r, unsigned n) { return (uint32_t)(r->bits >> (kWordBits - n)); }
inline void Skip(LzReader* r, unsigned n) {
  r->bits <<= n;
  r->count -= n;
}

// Takes a copy code whose first bit, 0, is still in the buffer: its
// distance back and its length. Returns 0 for the end code (ring position
// 0), having taken its 17 bits. Precondition: count >= 21.
inline int TakeCopy(LzReader* r, size_t written, size_t* back, size_t* length) {
  uint32_t ring_position = Peek(r, 17);  // the leading 0 bit adds nothing
  if (ring_position == 0) {
    Skip(r, 17);
    return 0;
  }
  *back = (((uint32_t)written - ring_position) & 0xFFFFu) + 1;
  *length = (Peek(r, 21) & 15u) + 3;
  Skip(r, 21);
  return 1;
}

// A copy of n bytes that starts at positions never written (back >
// written): those give 0 until the copy reaches ring position 1, the first
// byte decoded.
inline void CopyFromUnwritten(uint8_t* out, size_t written, size_t back, size_t n) {
  for (size_t i = 0; i < n; i++) out[written + i] = written + i >= back ? out[written + i - back] : 0;
}

// Copies n (1 to 18) bytes from d bytes back, where the two ranges do not
// overlap (d >= n), in a few fixed-size moves.
inline void CopyApart(uint8_t* dst, const uint8_t* src, uint64_t n) {
#if defined(__SSE2__)
  if (n > 16) {
    // Two 16-byte moves, overlapping, rather than three of 8 bytes.
    __m128i a = _mm_loadu_si128((const __m128i*)src);
    __m128i c = _mm_loadu_si128((const __m128i*)(src + n - 16));
    _mm_storeu_si128((__m128i*)dst, a);
    _mm_storeu_si128((__m128i*)(dst + n - 16), c);
    return;
  }
#endif
  if (n >= 8) {
    uint64_t a, b, c;
    memcpy(&a, src, 8);
    memcpy(&c, src + n - 8, 8);
    if (n > 16) {
      memcpy(&b, src + 8, 8);
      memcpy(dst + 8, &b, 8);
    }
    memcpy(dst, &a, 8);
    memcpy(dst + n - 8, &c, 8);
  } else if (n >= 4) {
    uint32_t a, c;
    memcpy(&a, src, 4);
    memcpy(&c, src + n - 4, 4);
    memcpy(dst, &a, 4);
    memcpy(dst + n - 4, &c, 4);
  } else {
    for (uint64_t i = 0; i < n; i++) dst[i] = src[i];
  }
}

// i mod back for back 1 to 7 and i 0 to 18, without a division.
struct Remainders {
  uint8_t of[8][19];
};
constexpr Remainders MakeRemainders() {
  Remainders r{};
  for (int back = 1; back < 8; back++)
    for (int i = 0; i < 19; i++) r.of[back][i] = (uint8_t)(i % back);
  return r;
}
constexpr Remainders kRemainders = MakeRemainders();

// The whole periods of back (1 to 7) bytes that fit in 8: back * (8 / back),
// without a division on every copy; and the same for 16 bytes.
const uint8_t kPeriodStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};
const uint8_t kPeriodStep16[8] = {0, 16, 16, 15, 16, 15, 12, 14};

// The 8 bytes that repeat the `back` (1 to 7) bytes before dst, as two
// words in memory order, built in registers: the bytes just written are not
// read back as words, which would wait for the stores to reach the cache.
struct Period {
  uint32_t low, high;
};
inline Period PeriodBefore(const uint8_t* dst, size_t back) {
  const uint8_t* from = dst - back;
  Period p;
  if (back == 1) {
    p.low = p.high = from[0] * 0x01010101u;
    return p;
  }
  const uint8_t* mod = kRemainders.of[back];
  p.low = from[mod[0]] | (uint32_t)from[mod[1]] << 8 | (uint32_t)from[mod[2]] << 16 | (uint32_t)from[mod[3]] << 24;
  p.high = from[mod[4]] | (uint32_t)from[mod[5]] << 8 | (uint32_t)from[mod[6]] << 16 | (uint32_t)from[mod[7]] << 24;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  p.low = __builtin_bswap32(p.low);
  p.high = __builtin_bswap32(p.high);
#endif
  return p;
}

inline void PutPeriod(uint8_t* at, const Period& p) {
  memcpy(at, &p.low, 4);
  memcpy(at + 4, &p.high, 4);
}

// Copies n bytes from back (1 to 7) bytes before dst, where the two overlap
// (back < n), in 8-byte stores of the period, one every whole number of
// periods, and may store up to 8 bytes past dst + n.
inline void CopyShortPeriod(uint8_t* dst, size_t back, size_t n) {
  const Period p = PeriodBefore(dst, back);
  const size_t step = kPeriodStep[back];
  for (size_t i = 0; i < n; i += step) PutPeriod(dst + i, p);
}

// Copies that repeat a copy of the longest length from the same distance
// back: the next ones of a long run of one colour, or of a row copied from
// the row above. Each is told by its 21 bits alone (0, the ring position 18
// on from the one before, 1111), without taking it apart.
const size_t kLongestCopy = 18;
struct Repeats {
  uint32_t code;   // the next repeat's 21 bits
  size_t last_at;  // no repeat starts beyond it, to keep the room asked for
};

// For a copy of the longest length from `back` bytes before that ended at
// `at`, where the block must keep `room` bytes free beyond each repeat.
inline Repeats StartRepeats(size_t at, size_t back, size_t total, size_t room) {
  Repeats s;
  s.code = ((uint32_t)(at + 1 - back) << 4 | 15u) & 0xFFFFFu;
  // `at` is at least 18, so 0 lets no repeat start.
  s.last_at = total - at >= room + kLongestCopy ? total - room - kLongestCopy : 0;
  return s;
}

// Whether the next code is the repeat due at `at`, refilling the buffer
// first where it holds less than a code. Precondition: count < kWordBits.
inline bool NextRepeats(LzReader* r, const Repeats& s, size_t at) {
  // A ring position of 0 makes the end code.
  if (at > s.last_at || s.code == 15u) return false;
  if (r->count < 21) {
    if (r->length - r->next < kWordBytes) return false;
    RefillWord(r);
  }
  return Peek(r, 21) == s.code;
}

inline void TakeRepeat(LzReader* r, Repeats* s) {
  Skip(r, 21);
  s->code = (s->code + (uint32_t)(kLongestCopy << 4)) & 0xFFFFFu;
}

// Two fast loops. On a little-endian 64-bit machine the loop below keeps
// the latest 8 bytes in a register; where the machine word is 32 bits (the
// i686 build) each 64-bit shift takes several instructions, so a loop that
// builds short periods from the bytes in the block (CopyNear) is used
// instead, as on any other machine.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && UINTPTR_MAX > 0xFFFFFFFFu
#define VESK_LZ_FAST_LOOP 1

// The bytes that the fast loop writes are also kept in `last`, the 8 bytes
// before the output point as a little-endian word (the latest byte in bits
// 56-63). A copy of a short repetition (distance below 8, the usual code of
// a run of one colour) needs the bytes just written, often by the copy
// before; read back from memory they would wait for the stores to reach the
// cache, one copy after another, so they come from this word instead.

// The word of 8 bytes that repeat the `back` bytes at the top of `last`: a
// product with ones every `back` bytes lays copies side by side, without
// carries.
inline uint64_t Repetition(uint64_t last, uint64_t back) {
  static const uint64_t kSpread[8] = {0, 0x0101010101010101u, 0x0001000100010001u, 0x0001000001000001u,
                                      0x0000000100000001u, 0x0000010000000001u, 0x0001000000000001u,
                                      0x0100000000000001u};
  return (last >> (64 - 8 * back)) * kSpread[back];
}

// Bytes s to s + 7 of a repetition with period `back` whose first word is
// p. Precondition: s < back < 8.
inline uint64_t RepetitionAt(uint64_t p, uint64_t back, uint64_t s) { return (p >> (8 * s)) | (p << (8 * (back - s))); }

// Copies n (3 to 18) bytes from `back` bytes before dst, where those bytes
// are already decoded (back <= bytes written), and returns the new `last`.
// It may store up to 24 bytes from dst on, past dst + n; those bytes are
// decoded again later or filled at the end.
inline uint64_t CopyWords(uint8_t* dst, uint64_t back, uint64_t n, uint64_t last) {
  if (back < 8) {
    // p again every whole number of periods, 5 to 8 bytes on: three stores
    // reach past the longest copy without shifting p.
    uint64_t p = Repetition(last, back);
    const size_t step = kPeriodStep[back];
    memcpy(dst, &p, 8);
    memcpy(dst + step, &p, 8);
    memcpy(dst + 2 * step, &p, 8);
    if (n < 8) return (last >> (8 * n)) | (p << (64 - 8 * n));
    return RepetitionAt(p, back, kRemainders.of[back][n - 8]);
  }
  // Each move reads only bytes written before it, so an overlapping copy
  // repeats them as the byte-wise copy would.
  uint64_t first;
  memcpy(&first, dst - back, 8);
  memcpy(dst, &first, 8);
  for (uint64_t i = 8; i < n; i += 8) memcpy(dst + i, dst + i - back, 8);
  if (n < 8) return (last >> (8 * n)) | (first << (64 - 8 * n));
  // The copy's last 8 bytes, from where they were copied when that lies
  // before the copy (older stores), else from the copy itself.
  uint64_t tail;
  memcpy(&tail, n <= back ? dst + n - 8 - back : dst + n - 8, 8);
  return tail;
}

// The word `last` for the output point `written`, read from the block.
inline uint64_t LastWritten(const uint8_t* out, uint64_t written) {
  uint64_t last = 0;
  if (written >= 8) {
    memcpy(&last, out + written - 8, 8);
  } else {
    for (uint64_t i = 0; i < written; i++) last = (last >> 8) | (uint64_t)out[i] << 56;
  }
  return last;
}

// (-8) mod back, for back 1 to 7: where the 8 bytes before a point begin in
// the period of the word at it.
const uint8_t kEightBack[8] = {0, 0, 0, 1, 0, 2, 4, 6};

// After a copy of the longest length from `back` bytes before, decoded up
// to *written: the copies that repeat it, done in a few stores each. Each
// leaves `room` bytes of the block free beyond it, so the caller's loop
// goes on as before. Returns the new `last`.
inline uint64_t CopyRepeats(LzReader* r, uint8_t* out, size_t total, size_t room, size_t* written, size_t back,
                            uint64_t last) {
  size_t at = *written;
  Repeats s = StartRepeats(at, back, total, room);
  if (back < 8) {
    // The period's word at `at`; a copy moves its phase on by 18 mod back,
    // which for the usual pixel sizes (1 to 3 bytes) is none.
    uint64_t p = Repetition(last, back);
    const size_t step = kPeriodStep[back];
    const unsigned turn = kRemainders.of[back][kLongestCopy];
    while (NextRepeats(r, s, at)) {
      TakeRepeat(r, &s);
      memcpy(out + at, &p, 8);
      memcpy(out + at + step, &p, 8);
      memcpy(out + at + 2 * step, &p, 8);
      at += kLongestCopy;
      if (turn) p = RepetitionAt(p, back, turn);
    }
    if (at != *written) last = RepetitionAt(p, back, kEightBack[back]);
  } else {
    while (NextRepeats(r, s, at)) {
      TakeRepeat(r, &s);
      // Each move reads only bytes written before it, as in CopyWords.
      uint8_t* dst = out + at;
      for (size_t i = 0; i < kLongestCopy; i += 8) memcpy(dst + i, dst + i - back, 8);
      at += kLongestCopy;
    }
    if (at != *written) memcpy(&last, out + at - 8, 8);
  }
  *written = at;
  return last;
}
#else

// Copies n (3 to 18) bytes from `back` bytes before dst, where those bytes
// are already decoded (back <= bytes written). It may store up to 24 bytes
// from dst on, past dst + n. Each 8-byte move reads only bytes written
// before it, so an overlapping copy repeats them as the byte-wise copy would.
inline void CopyNear(uint8_t* dst, size_t back, size_t n) {
  if (back >= n) {
    CopyApart(dst, dst - back, n);
    return;
  }
  if (back < 8) {
    // Three periods' stores, 5 to 8 bytes apart, cover the longest copy.
    const Period p = PeriodBefore(dst, back);
    const size_t step = kPeriodStep[back];
    PutPeriod(dst, p);
    PutPeriod(dst + step, p);
    PutPeriod(dst + 2 * step, p);
    return;
  }
  uint64_t a, b;
  memcpy(&a, dst - back, 8);
  memcpy(dst, &a, 8);
  memcpy(&b, dst - back + 8, 8);
  memcpy(dst + 8, &b, 8);
  if (n > 16) {
    memcpy(&a, dst - back + 16, 8);
    memcpy(dst + 16, &a, 8);
  }
}

// After a copy of the longest length from `back` bytes before, decoded up
// to `at`: the copies that repeat it, done in a few stores each, while
// `room` bytes of the block stay free beyond them. Returns where they end.
inline size_t CopyRepeats(LzReader* r, uint8_t* out, size_t total, size_t room, size_t at, size_t back) {
  Repeats s = StartRepeats(at, back, total, room);
  if (back < 8) {
    // A copy moves the period's phase on by 18 mod back, which for the
    // usual pixel sizes (1 to 3 bytes) is none.
    const bool turns = kRemainders.of[back][kLongestCopy] != 0;
#if defined(__SSE2__)
    if (!turns) {
      // Often no repeat follows: the vector is built only for a first one.
      if (!NextRepeats(r, s, at)) return at;
      // The period over 16 bytes, two stores a copy rather than six of 4
      // bytes: on a 32-bit machine a run of one colour is 1.3 to 2 times
      // quicker so. Bytes 8 to 15 are the first 8 moved on by 8 mod back.
      const Period p = PeriodBefore(out + at, back);
      const __m128i low = _mm_set_epi32(0, 0, (int)p.high, (int)p.low);
      const unsigned from = kRemainders.of[back][8];
      const __m128i high = _mm_or_si128(_mm_srl_epi64(low, _mm_cvtsi32_si128((int)(8 * from))),
                                        _mm_sll_epi64(low, _mm_cvtsi32_si128((int)(8 * (back - from)))));
      const __m128i v = _mm_unpacklo_epi64(low, high);
      const size_t step16 = kPeriodStep16[back];
      do {
        TakeRepeat(r, &s);
        _mm_storeu_si128((__m128i*)(out + at), v);
        _mm_storeu_si128((__m128i*)(out + at + step16), v);
        at += kLongestCopy;
      } while (NextRepeats(r, s, at));
      return at;
    }
#endif
    Period p = PeriodBefore(out + at, back);
    const size_t step = kPeriodStep[back];
    while (NextRepeats(r, s, at)) {
      TakeRepeat(r, &s);
      PutPeriod(out + at, p);
      PutPeriod(out + at + step, p);
      PutPeriod(out + at + 2 * step, p);
      at += kLongestCopy;
      if (turns) p = PeriodBefore(out + at, back);
    }
    return at;
  }
  while (NextRepeats(r, s, at)) {
    TakeRepeat(r, &s);
    CopyNear(out + at, back, kLongestCopy);
    at += kLongestCopy;
  }
  return at;
}
#endif

}  // namespace

uint64_t DecodeLzStream(const DecodeJob* job, BitCursor* end, int fast) {
  // Both fit a machine word, being in memory; the clamps only keep the
  // casts exact.
  const uint64_t block_bytes = PixelBlockBytes(job);
  const size_t total = block_bytes > SIZE_MAX ? SIZE_MAX : (size_t)block_bytes;
  const size_t input_length = job->source_length > SIZE_MAX ? SIZE_MAX : (size_t)job->source_length;
  uint8_t* out = job->pixels;
  size_t start = job->stream_offset > 0 ? (size_t)job->stream_offset : 0;
  end->position = start;
  end->bit_mask = 128;
  if (start >= input_length) {
    if (total) memset(out, 0xFF, (size_t)total);
    return 0;
  }

  LzReader r = {job->source, input_length, start, 0, 0};
  size_t written = 0;
  // The block is written from its start without gaps, so the 0xFF fill is
  // needed only after the last byte decoded, and is done at the end.
  //
  // A fast loop: a word's bytes of input beyond the buffer, so one load
  // refills it, and room in the block for every code the word can hold,
  // with the word moves' overrun. Near either end the careful loop below
  // takes over from the same state.
  int ended = 0;
#ifndef VESK_LZ_FAST_LOOP
  // A 32-bit word holds one code or two literals after a refill, so the
  // loop refills before each code.
  const size_t room = 64;
  while (fast && total - written >= room && r.length - r.next >= kWordBytes) {
    RefillWord(&r);
    if (r.bits >> (kWordBits - 1)) {
      // Literals come in long stretches where the picture does not repeat:
      // two at a time from the 24 bits.
      out[written++] = (uint8_t)(r.bits >> (kWordBits - 9));
      if ((r.bits >> (kWordBits - 10)) & 1) {
        out[written++] = (uint8_t)(r.bits >> (kWordBits - 18));
        Skip(&r, 18);
      } else {
        Skip(&r, 9);
      }
      continue;
    }
    size_t back, length;
    if (!TakeCopy(&r, written, &back, &length)) {
      ended = 1;
      break;
    }
    if (back <= written) {
      CopyNear(out + written, back, length);
      written += length;
      if (length == kLongestCopy) written = CopyRepeats(&r, out, total, room, written, back);
    } else {
      CopyFromUnwritten(out, written, back, length);
      written += length;
    }
  }
#else
  uint64_t last = 0;
  const size_t room = 160;
  while (fast && total - written >= room && r.length - r.next >= kWordBytes) {
    RefillWord(&r);
    // The 56 or more bits hold 2 to 6 whole codes; each writes at most 24
    // bytes of the block. A run of repeats refills on its own, and leaves
    // the same room for what is left in the word after it.
    do {
      if (r.bits >> (kWordBits - 1)) {
        uint8_t v = (uint8_t)(r.bits >> (kWordBits - 9));
        out[written++] = v;
        // Two at a time where the picture does not repeat.
        if ((r.bits >> (kWordBits - 10)) & 1) {
          uint8_t w = (uint8_t)(r.bits >> (kWordBits - 18));
          out[written++] = w;
          last = (last >> 16) | (uint64_t)v << 48 | (uint64_t)w << 56;
          Skip(&r, 18);
        } else {
          last = (last >> 8) | (uint64_t)v << 56;
          Skip(&r, 9);
        }
        continue;
      }
      size_t back, length;
      if (!TakeCopy(&r, written, &back, &length)) {
        ended = 1;
        break;
      }
      if (back <= written) {
        last = CopyWords(out + written, back, length, last);
        written += length;
        if (length == kLongestCopy) last = CopyRepeats(&r, out, total, room, &written, back, last);
      } else {
        CopyFromUnwritten(out, written, back, length);
        written += length;
        last = LastWritten(out, written);
      }
    } while (r.count >= 21);
    if (ended) break;
  }
#endif

  // Each code is taken only when the input holds all of it; the loop stops
  // before reading anything once the block is full.
  while (!ended && written < total) {
    Refill(&r);
    if (r.count >= 9 && Peek(&r, 1)) {
      out[written++] = (uint8_t)Peek(&r, 9);
      Skip(&r, 9);
      continue;
    }
    if (r.count < 17) break;  // also a literal cut short: its first bit is 1
    uint32_t ring_position = Peek(&r, 17);  // the leading 0 bit adds nothing
    if (ring_position == 0) {
      Skip(&r, 17);
      break;
    }
    if (r.count < 21) break;
    uint32_t length = (Peek(&r, 21) & 15u) + 3;
    Skip(&r, 21);

    size_t back = (((uint32_t)written - ring_position) & 0xFFFFu) + 1;
    size_t n = total - written < length ? total - written : length;
    uint8_t* dst = out + written;
    if (back > written) {
      CopyFromUnwritten(out, written, back, n);
    } else if (back >= n) {
      CopyApart(dst, dst - back, n);
    } else if (back == 1) {
      memset(dst, dst[-1], (size_t)n);
    } else if (back < 8 && n >= 8 && total - written >= n + 8) {
      CopyShortPeriod(dst, back, n);
    } else {
      // Overlapping: each byte may be one this copy has just written. Indexed
      // from the block's start: dst[i - back] would wrap the unsigned index.
      for (size_t i = 0; i < n; i++) dst[i] = out[written + i - back];
    }
    written += n;
  }

  if (written < total) memset(out + written, 0xFF, (size_t)(total - written));
  uint64_t bit = (uint64_t)r.next * 8 - r.count;
  end->position = bit >> 3;
  end->bit_mask = (uint8_t)(128u >> (bit & 7));
  return written;
}

void DecodeLz(const DecodeJob* job) {
  BitCursor end;
  DecodeLzStream(job, &end, kFastLoops);
}
