// LZ coding: literals (9 bits) and copies of 3 to 18 bytes (21 bits) from
// absolute 16-bit ring positions, found by hash chains over the last 65,536
// bytes, with one step of lazy matching.
//
// Decoded byte n sits at ring position (n + 1) mod 65536. A copy may start at
// any byte 1 to 65,536 bytes back, except one at ring position 0, since a
// copy from position 0 is the end code.
#include <limits.h>
#include <stddef.h>

#include "encode/encode.h"

namespace {

const int64_t kWindow = 65536;
const int kMinMatch = 3;
const int kMaxMatch = 18;
const int kHashBits = 16;
const int kMaxCandidates = 128;  // chain links tried per position

struct BitSink {
  std::vector<uint8_t>* out;
  uint64_t pending;  // low `count` bits not yet stored
  int count;
};

// Precondition: bits <= 32 and value < 2^bits.
void Put(BitSink* s, uint32_t value, int bits) {
  s->pending = (s->pending << bits) | value;
  s->count += bits;
  while (s->count >= 8) {
    s->count -= 8;
    s->out->push_back((uint8_t)(s->pending >> s->count));
  }
}

void Flush(BitSink* s) {
  if (s->count) s->out->push_back((uint8_t)(s->pending << (8 - s->count)));
  s->count = 0;
}

struct Match {
  int length;  // 0 when none
  int64_t from;
};

// Chains of earlier positions with the same hash of their first 3 bytes:
// head[hash] is the latest, link[p mod 65536] the one before p. A link is
// overwritten only by a position 65,536 later, which is never inserted
// before every search that could still reach p is done.
struct MatchFinder {
  const uint8_t* data;
  int64_t size;
  int64_t inserted;  // positions below this are in the chains
  std::vector<int32_t> head;
  std::vector<int32_t> link;
};

uint32_t Hash3(const uint8_t* p) {
  uint32_t v = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

void InsertUpTo(MatchFinder* f, int64_t end) {
  for (; f->inserted < end; f->inserted++) {
    int64_t p = f->inserted;
    if (p + kMinMatch > f->size) continue;
    uint32_t h = Hash3(f->data + p);
    f->link[p & (kWindow - 1)] = f->head[h];
    f->head[h] = (int32_t)p;
  }
}

// The longest match for the bytes at `at`, the nearest of equal ones.
Match FindMatch(MatchFinder* f, int64_t at) {
  Match best = {0, 0};
  int64_t room = f->size - at;
  int limit = room < kMaxMatch ? (int)room : kMaxMatch;
  if (limit < kMinMatch) return best;
  InsertUpTo(f, at);
  const uint8_t* here = f->data + at;
  int64_t from = f->head[Hash3(here)];
  for (int tries = kMaxCandidates; from >= 0 && at - from <= kWindow && tries > 0; tries--) {
    const uint8_t* there = f->data + from;
    // Byte `best.length` first: a candidate that cannot beat the best fails there.
    if (((from + 1) & (kWindow - 1)) != 0 && there[best.length] == here[best.length]) {
      int n = 0;
      while (n < limit && there[n] == here[n]) n++;
      if (n > best.length && n >= kMinMatch) {
        best.length = n;
        best.from = from;
        if (n == limit) break;
      }
    }
    from = f->link[from & (kWindow - 1)];
  }
  return best;
}

void PutLiteral(BitSink* s, uint8_t b) { Put(s, 0x100u | b, 9); }

// A leading 0 bit, the ring position of the first byte copied, length - 3.
void PutCopy(BitSink* s, const Match& m) {
  uint32_t ring_position = (uint32_t)((m.from + 1) & (kWindow - 1));
  Put(s, ring_position << 4 | (uint32_t)(m.length - kMinMatch), 21);
}

}  // namespace

int EncodeLz(const uint8_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out) {
  if (!pixels || !out || width <= 0 || height <= 0) return 0;
  int64_t size = (int64_t)width * height * 3;
  if (size > INT32_MAX) return 0;  // chain links are 32-bit positions

  MatchFinder f = {pixels, size, 0, std::vector<int32_t>((size_t)1 << kHashBits, -1),
                   std::vector<int32_t>((size_t)kWindow, -1)};
  BitSink sink = {out, 0, 0};
  int64_t at = 0;
  Match match = FindMatch(&f, 0);
  while (at < size) {
    if (match.length == 0) {
      PutLiteral(&sink, pixels[at]);
      match = FindMatch(&f, ++at);
      continue;
    }
    // One byte later a longer match may start: then this byte goes as a
    // literal (9 bits for it, and the longer copy saves at least one more).
    if (match.length < kMaxMatch) {
      Match later = FindMatch(&f, at + 1);
      if (later.length > match.length) {
        PutLiteral(&sink, pixels[at]);
        at++;
        match = later;
        continue;
      }
    }
    PutCopy(&sink, match);
    at += match.length;
    match = FindMatch(&f, at);
  }
  Put(&sink, 0, 17);  // the end code: a copy from ring position 0
  Flush(&sink);
  return 1;
}
