// Every platform operation that an entry point makes, failed in turn: for
// GetPicture, GetPictureInfo and IsSupported, for file and memory input and
// a picture of every coding, each open, size, position, read, allocation and
// lock is made to fail once (reads also come back one byte short), and the
// result code, the out-parameters and the files and blocks still held are
// checked. A clean run first counts the calls, so no fault goes untried.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "plugin/entry.h"
#include "tests/support/coded_pictures.h"
#include "tests/support/run_folder.h"
#include "tests/support/fault_platform.h"

namespace {

typedef std::vector<uint8_t> Bytes;

enum Entry { kPictureFile, kPictureMemory, kInfoFile, kInfoMemory, kQuickHandle, kEntryCount };
const char* const kEntryNames[kEntryCount] = {"GetPicture file", "GetPicture memory", "GetPictureInfo file",
                                              "GetPictureInfo memory", "IsSupported handle"};
const char* const kOpNames[kOpCount] = {"open", "size", "position", "read", "input buffer", "block", "lock"};

const intptr_t kOffset = 33;  // the picture sits this far into its file

struct Subject {
  const coded::Picture* picture;
  std::string path;  // the picture at kOffset
};

struct Outcome {
  int32_t rc = -1;
  void* header = (void*)16;
  void* pixels = (void*)16;
  PictureInfo info;
};

Outcome Run(FaultPlatform* fp, Entry entry, const Subject& s, uint32_t memory_flag) {
  Outcome o;
  memset(&o.info, 0x3C, sizeof o.info);
  const Bytes& bytes = s.picture->bytes;
  switch (entry) {
    case kPictureFile:
      o.rc = PictureCall(&fp->table, s.path.c_str(), kOffset, 0, &o.header, &o.pixels, nullptr, 0);
      break;
    case kPictureMemory:
      o.rc = PictureCall(&fp->table, (const char*)bytes.data(), (intptr_t)bytes.size(), memory_flag, &o.header,
                         &o.pixels, nullptr, 0);
      break;
    case kInfoFile:
      o.rc = PictureInfoCall(&fp->table, s.path.c_str(), kOffset, 0, &o.info);
      break;
    case kInfoMemory:
      o.rc = PictureInfoCall(&fp->table, (const char*)bytes.data(), (intptr_t)bytes.size(), memory_flag, &o.info);
      break;
    case kQuickHandle: {
      int fd = open(s.path.c_str(), O_RDONLY);
      if (fd < 0 || fd > 0xFFFF) break;
      lseek(fd, kOffset, SEEK_SET);
      o.rc = QuickCheck(&fp->table, s.path.c_str(), (const void*)(uintptr_t)fd);
      close(fd);
      break;
    }
    case kEntryCount:
      break;
  }
  return o;
}

// The result that a failure of the nth call of `op` must give. GetPicture:
// every file operation 6, an allocation 4, a lock 5. GetPictureInfo: the
// open and the first positioning 6; the reads of detection, and its own
// positioning at the mode letter, leave the input unrecognised: 2.
// IsSupported: a failed read answers 0.
int32_t Expected(Entry entry, FaultOp op, int nth) {
  switch (entry) {
    case kPictureFile:
    case kPictureMemory:
      if (op == kOpAllocFixed || op == kOpAllocMoveable) return SPI_NO_MEMORY;
      if (op == kOpLock) return SPI_LOCK_FAILED;
      return SPI_FILE_ERROR;
    case kInfoFile:
    case kInfoMemory:
      if (op == kOpOpen || (op == kOpSeek && nth == 0)) return SPI_FILE_ERROR;
      return SPI_NOT_SUPPORTED;
    default:
      return 0;
  }
}

struct Tally {
  int faults = 0;
  std::vector<std::string> failures;
  void Fail(const std::string& what) {
    if (failures.size() < 16) failures.push_back(what);
  }
};

void CheckHeld(Tally* t, const FaultPlatform& fp, const std::string& what, size_t blocks) {
  if (fp.open_files) t->Fail(what + ": " + std::to_string(fp.open_files) + " file(s) left open");
  if (!fp.fixed_blocks.empty()) t->Fail(what + ": input buffer not freed");
  if (fp.locks_held) t->Fail(what + ": " + std::to_string(fp.locks_held) + " lock(s) held");
  if (fp.moveable_blocks.size() != blocks)
    t->Fail(what + ": " + std::to_string(fp.moveable_blocks.size()) + " block(s) held, " + std::to_string(blocks) +
            " expected");
}

void FreeHandedOver(FaultPlatform* fp, const Outcome& o) {
  fp->table.free_moveable(fp, o.header);
  fp->table.free_moveable(fp, o.pixels);
}

void SweepFaults(Tally* t, Entry entry, const Subject& s, uint32_t memory_flag) {
  std::string who = std::string(kEntryNames[entry]) + ", " + s.picture->label;
  FaultPlatform clean;
  InitFaultPlatform(&clean);
  Outcome base = Run(&clean, entry, s, memory_flag);
  int32_t ok = entry == kQuickHandle ? 1 : 0;
  if (base.rc != ok) {
    t->Fail(who + ": no fault gives " + std::to_string(base.rc));
    return;
  }
  bool gets_blocks = entry == kPictureFile || entry == kPictureMemory;
  CheckHeld(t, clean, who + ", no fault", gets_blocks ? 2 : 0);
  if (gets_blocks) FreeHandedOver(&clean, base);
  if (entry == kInfoMemory || (entry == kPictureMemory)) {
    // Memory input touches no file at all.
    for (FaultOp op : {kOpOpen, kOpSize, kOpSeek, kOpRead, kOpAllocFixed})
      if (clean.calls[op]) t->Fail(who + ": memory input made a " + kOpNames[op] + " call");
  }
  // The palette form is known by its name: sizing and IsSupported read nothing.
  if (s.picture->by_name && (entry == kInfoFile || entry == kQuickHandle) && clean.calls[kOpRead])
    t->Fail(who + ": the palette form was read");

  for (int op_index = 0; op_index < kOpCount; op_index++) {
    FaultOp op = (FaultOp)op_index;
    for (int nth = 0; nth < clean.calls[op]; nth++) {
      for (bool short_read : {false, true}) {
        if (short_read && op != kOpRead) continue;
        std::string what = who + ", " + kOpNames[op] + " #" + std::to_string(nth) + (short_read ? " short" : "");
        FaultPlatform fp;
        InitFaultPlatform(&fp);
        fp.fail_op = op;
        fp.fail_nth = nth;
        fp.short_read = short_read;
        Outcome o = Run(&fp, entry, s, memory_flag);
        t->faults++;
        int32_t want = Expected(entry, op, nth);
        if (o.rc != want) t->Fail(what + ": result " + std::to_string(o.rc) + ", expected " + std::to_string(want));
        CheckHeld(t, fp, what, 0);
        if (gets_blocks) {
          // After 4 and 5 both handles are null, whichever block failed;
          // after 6 nothing was allocated and they are as the host left them.
          bool nulled = o.header == nullptr && o.pixels == nullptr;
          bool untouched = o.header == (void*)16 && o.pixels == (void*)16;
          if ((want == SPI_NO_MEMORY || want == SPI_LOCK_FAILED) ? !nulled : !untouched)
            t->Fail(what + ": out-parameters wrong");
          if (o.rc == 0) FreeHandedOver(&fp, o);
        } else if (entry != kQuickHandle) {
          PictureInfo untouched;
          memset(&untouched, 0x3C, sizeof untouched);
          if (memcmp(&o.info, &untouched, sizeof untouched) != 0) t->Fail(what + ": the record was written");
        }
      }
    }
  }
}

class FaultSweep : public ::testing::TestWithParam<int> {};

TEST_P(FaultSweep, EveryFailureGivesItsCodeAndLeavesNothingHeld) {
  Entry entry = (Entry)GetParam();
  std::vector<coded::Picture> pictures = coded::EveryCoding(3);
  Tally t;
  for (const coded::Picture& p : pictures) {
    Subject s = {&p, RunFolder() + "/faults_" + p.name};
    Bytes file(kOffset, 0x47);
    file.insert(file.end(), p.bytes.begin(), p.bytes.end());
    FILE* f = fopen(s.path.c_str(), "wb");
    ASSERT_TRUE(f);
    ASSERT_EQ(fwrite(file.data(), 1, file.size(), f), file.size());
    fclose(f);
    // Memory input cannot name the palette form; every other picture is
    // read with each flag word that means memory input.
    if (entry == kPictureMemory || entry == kInfoMemory) {
      if (p.by_name) continue;
      for (uint32_t flag = 1; flag <= 7; flag++) SweepFaults(&t, entry, s, flag | 0x70);
    } else {
      SweepFaults(&t, entry, s, 1);
    }
  }
  std::string all;
  for (const std::string& f : t.failures) all += "\n  " + f;
  EXPECT_TRUE(t.failures.empty()) << t.faults << " faults injected:" << all;
  if (Entry(GetParam()) != kInfoMemory) {
    EXPECT_GT(t.faults, 0) << "no platform call to fail";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryEntry, FaultSweep, ::testing::Range(0, (int)kEntryCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                           std::string n = kEntryNames[info.param];
                           for (char& c : n)
                             if (c == ' ') c = '_';
                           return n;
                         });

}  // namespace
