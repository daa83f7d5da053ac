// GetPicture and GetPictureInfo on memory input of any content, through the
// entry points over the system's platform (its fresh blocks poisoned, the
// first run with one byte and the second with another): the result is 0 or
// 2, the block is written in full and twice the same, its pixels are those
// of the reference decoders, and sizing agrees.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <vector>

#include "fuzz/reference.h"
#include "plugin/entry.h"

namespace {

void Fail(const char* what) {
  fprintf(stderr, "fuzz: %s\n", what);
  abort();
}

// Movable blocks of the system's platform, poisoned when handed out, and
// kept when freed to be handed out again for the same size: fresh pages for
// every run would spend most of the fuzzer's time in page faults. Blocks
// out and not yet freed are counted, as the leak check of this target.
struct KeptBlocks {
  uint8_t poison;
  int out = 0;
  std::map<size_t, std::vector<void*>> spare;
  std::map<void*, size_t> size_of;
  // Freed at exit, before the leak check looks.
  ~KeptBlocks() {
    for (auto& sized : spare)
      for (void* block : sized.second) kSystemPlatform.free_moveable(nullptr, block);
  }
};

void* KeptAlloc(void* context, size_t size) {
  KeptBlocks* k = (KeptBlocks*)context;
  std::vector<void*>& spare = k->spare[size];
  void* block;
  if (!spare.empty()) {
    block = spare.back();
    spare.pop_back();
  } else {
    block = kSystemPlatform.alloc_moveable(nullptr, size);
    if (!block) return nullptr;
    k->size_of[block] = size;
  }
  k->out++;
  void* at = kSystemPlatform.lock(nullptr, block);
  if (at) memset(at, k->poison, size);
  kSystemPlatform.unlock(nullptr, block);
  return block;
}

void KeptFree(void* context, void* block) {
  KeptBlocks* k = (KeptBlocks*)context;
  k->spare[k->size_of[block]].push_back(block);
  k->out--;
}

KeptBlocks& Kept() {
  static KeptBlocks kept;
  return kept;
}

// The bytes of a handed-over block (a handle on Windows).
const uint8_t* Bytes(void* block) { return (const uint8_t*)kSystemPlatform.lock(nullptr, block); }
void Release(void* block) {
  kSystemPlatform.unlock(nullptr, block);
  KeptFree(&Kept(), block);
}

struct Run {
  int32_t rc;
  void* header = nullptr;
  void* pixels = nullptr;
};

Run Picture(const uint8_t* data, size_t size, uint8_t poison) {
  Platform platform = kSystemPlatform;
  Kept().poison = poison;
  platform.context = &Kept();
  platform.alloc_moveable = KeptAlloc;
  platform.free_moveable = KeptFree;
  Run r;
  r.rc = PictureCall(&platform, (const char*)data, (intptr_t)size, 1, &r.header, &r.pixels, nullptr, 0);
  return r;
}

uint32_t Le32(const uint8_t* p) { return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

void ReferenceRaw(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  uint64_t start = (uint64_t)job->stream_offset;
  for (uint64_t i = 0; i < total; i++)
    job->pixels[i] = start + i < job->source_length ? job->source[start + i] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run a = Picture(data, size, 0xA5);
  Run b = Picture(data, size, 0x5A);
  if (a.rc != 0 && a.rc != 2) Fail("GetPicture gave neither 0 nor 2");
  if (a.rc != b.rc) Fail("GetPicture gave two results");

  PictureInfo info;
  memset(&info, 0x3C, sizeof info);
  int32_t info_rc = PictureInfoCall(&kSystemPlatform, (const char*)data, (intptr_t)size, 1, &info);
  GdVariant variant = -1;
  int found = DetectVariantInMemory(&kPortableTextOps, nullptr, data, size, &variant);
  if (info_rc != (found ? 0 : 2)) Fail("GetPictureInfo differs from detection");
  // GetPicture refuses only what detection refuses, and a stream without a byte.
  bool decodable = found && (uint64_t)GdVariantTable[variant].stream_offset < size;
  if ((a.rc == 0) != decodable) Fail("GetPicture's result does not follow detection");

  if (a.rc == 0) {
    const GdVariantRow& row = GdVariantTable[variant];
    const uint8_t* h = Bytes(a.header);
    if (Le32(h) != 40 || (int32_t)Le32(h + 4) != row.width || (int32_t)Le32(h + 8) != row.height ||
        memcmp(h, Bytes(b.header), 40) != 0 || info.width != row.width || info.height != row.height)
      Fail("bitmap header or size wrong");
    size_t bytes = PixelBlockSize(row.width, row.height);
    const uint8_t* pixels = Bytes(a.pixels);
    if (memcmp(pixels, Bytes(b.pixels), bytes) != 0) Fail("two runs differ: pixels unwritten or unstable");
    static std::map<size_t, std::vector<uint8_t>> kept_expected;
    std::vector<uint8_t>& expected = kept_expected[bytes];
    expected.assign(bytes, 0x3C);
    DecodeJob job = {data, expected.data(), row.stream_offset, row.width, row.height, 24, 3, size};
    switch (row.decoder) {
      case kCodingRaw: ReferenceRaw(&job); break;
      case kCodingLz: ReferenceLz(&job); break;
      case kCodingChain: ReferenceChain(&job); break;
      case kCodingPalette: ReferencePalette(&job); break;
    }
    if (memcmp(pixels, expected.data(), bytes) != 0) Fail("pixels differ from the reference decoder's");
    for (Run* r : {&a, &b}) {
      Release(r->header);
      Release(r->pixels);
    }
  } else if (a.header || a.pixels) {
    Fail("out-parameters written after 2");
  }
  if (Kept().out != 0) Fail("a block is still held after the blocks handed over were freed");
  return 0;
}
