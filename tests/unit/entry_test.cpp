// The entry points' contract over the counting, failing platform layer:
// result codes, out-parameters, progress calls and that nothing leaks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "plugin/entry.h"
#include "tests/support/fault_platform.h"
#include "tests/support/run_folder.h"

namespace {

const size_t kGd2Block = 640 * 480 * 3;

std::vector<uint8_t> RawGd2(uint8_t seed) {
  std::vector<uint8_t> b(9030 + kGd2Block, 0);
  b[0] = 'G';
  b[1] = 'D';
  b[2] = '2';
  b[9028] = 'b';
  for (size_t i = 0; i < kGd2Block; i++) b[9030 + i] = (uint8_t)(i * 31 + seed + (i >> 11));
  return b;
}

std::string WriteTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = RunFolder() + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  EXPECT_TRUE(f);
  if (f) {
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  return path;
}

struct Calls {
  std::vector<std::pair<int, int>> seen;
  int stop_at = -1;  // index of the call that asks to stop
};
int32_t RecordProgress(int32_t num, int32_t denom, intptr_t data) {
  Calls* c = (Calls*)data;
  c->seen.push_back({num, denom});
  return (int)c->seen.size() - 1 == c->stop_at ? 1 : 0;
}

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override { InitFaultPlatform(&fp); }
  void ExpectNothingHeld() {
    EXPECT_EQ(fp.open_files, 0);
    EXPECT_TRUE(fp.fixed_blocks.empty());
    EXPECT_EQ(fp.locks_held, 0);
  }
  void FreeOutputs(void* h, void* p) {
    fp.table.free_moveable(&fp, h);
    fp.table.free_moveable(&fp, p);
  }
  FaultPlatform fp;
};

struct FaultCase {
  const char* what;
  FaultOp op;
  int nth;
  bool short_read;
  bool file_input;
  int32_t expected;
};

class EntryFaultTest : public EntryTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EntryFaultTest, ResultAndNothingLeaked) {
  const FaultCase& c = GetParam();
  std::vector<uint8_t> picture = RawGd2(3);
  std::vector<uint8_t> file(100 + picture.size(), 0x11);
  memcpy(file.data() + 100, picture.data(), picture.size());
  std::string path = WriteTemp("fault.gd", file);
  fp.fail_op = c.op;
  fp.fail_nth = c.nth;
  fp.short_read = c.short_read;
  void* h = (void*)1;
  void* p = (void*)1;
  int32_t rc = c.file_input ? PictureCall(&fp.table, path.c_str(), 100, 0, &h, &p, nullptr, 0)
                            : PictureCall(&fp.table, (const char*)picture.data(), (intptr_t)picture.size(), 1, &h,
                                          &p, nullptr, 0);
  EXPECT_EQ(rc, c.expected) << c.what;
  if (c.op != kOpCount) {
    EXPECT_GT(fp.calls[c.op], c.nth) << c.what << ": the fault was never reached";
  }
  ExpectNothingHeld();
  if (rc == SPI_NO_MEMORY || rc == SPI_LOCK_FAILED) {
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(fp.moveable_blocks.empty()) << c.what;
  } else if (rc == SPI_FILE_ERROR) {
    EXPECT_EQ(h, (void*)1);
    EXPECT_EQ(p, (void*)1);
    EXPECT_TRUE(fp.moveable_blocks.empty()) << c.what;
  }
  if (c.op == kOpCount) {
    ASSERT_EQ(fp.moveable_blocks.size(), 2u);
    EXPECT_EQ(memcmp(p, picture.data() + 9030, kGd2Block), 0);
    FreeOutputs(h, p);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EntryFaultTest,
    ::testing::Values(FaultCase{"no fault, file", kOpCount, 0, false, true, 0},
                      FaultCase{"no fault, memory", kOpCount, 0, false, false, 0},
                      FaultCase{"open", kOpOpen, 0, false, true, 6}, FaultCase{"size", kOpSize, 0, false, true, 6},
                      FaultCase{"seek", kOpSeek, 0, false, true, 6}, FaultCase{"read", kOpRead, 0, false, true, 6},
                      FaultCase{"short read", kOpRead, 0, true, true, 6},
                      FaultCase{"input buffer", kOpAllocFixed, 0, false, true, 4},
                      FaultCase{"header block", kOpAllocMoveable, 0, false, true, 4},
                      FaultCase{"pixel block", kOpAllocMoveable, 1, false, true, 4},
                      FaultCase{"pixel block, memory", kOpAllocMoveable, 1, false, false, 4},
                      FaultCase{"header lock", kOpLock, 0, false, true, 5},
                      FaultCase{"pixel lock", kOpLock, 1, false, true, 5},
                      FaultCase{"header lock, memory", kOpLock, 0, false, false, 5},
                      FaultCase{"pixel lock, memory", kOpLock, 1, false, false, 5}));

struct InfoFaultCase {
  const char* what;
  FaultOp op;
  int nth;
  const char* name;
  int32_t expected;
};
class InfoFaultTest : public EntryTest, public ::testing::WithParamInterface<InfoFaultCase> {};

TEST_P(InfoFaultTest, ResultAndFileClosed) {
  const InfoFaultCase& c = GetParam();
  std::vector<uint8_t> picture = RawGd2(1);
  std::string path = WriteTemp(c.name, picture);
  fp.fail_op = c.op;
  fp.fail_nth = c.nth;
  PictureInfo info;
  memset(&info, 0x77, sizeof info);
  EXPECT_EQ(PictureInfoCall(&fp.table, path.c_str(), 0, 0, &info), c.expected) << c.what;
  ExpectNothingHeld();
  EXPECT_TRUE(fp.moveable_blocks.empty());
  if (c.expected != 0) {
    EXPECT_EQ(info.width, 0x77777777) << c.what << ": the record is left alone";
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, InfoFaultTest,
                         ::testing::Values(InfoFaultCase{"none", kOpCount, 0, "i.gd", 0},
                                           InfoFaultCase{"open", kOpOpen, 0, "i.gd", 6},
                                           InfoFaultCase{"seek", kOpSeek, 0, "i.gd", 6},
                                           InfoFaultCase{"first read", kOpRead, 0, "i.gd", 2},
                                           InfoFaultCase{"mode seek", kOpSeek, 1, "i.gd", 2},
                                           InfoFaultCase{"mode read", kOpRead, 1, "i.gd", 2},
                                           InfoFaultCase{"hhp open", kOpOpen, 0, "i.hhp", 6}));

TEST_F(EntryTest, ProgressIsReportedTwiceAndCanStopEitherTime) {
  std::vector<uint8_t> picture = RawGd2(5);
  for (int stop_at : {-1, 0, 1}) {
    FaultPlatform local;
    InitFaultPlatform(&local);
    Calls calls;
    calls.stop_at = stop_at;
    void* h = (void*)7;
    void* p = (void*)7;
    int32_t rc = PictureCall(&local.table, (const char*)picture.data(), (intptr_t)picture.size(), 2, &h, &p,
                             RecordProgress, (intptr_t)&calls);
    EXPECT_EQ(rc, stop_at < 0 ? 0 : 1);
    if (stop_at == 0) {
      ASSERT_EQ(calls.seen.size(), 1u);
      EXPECT_EQ(local.calls[kOpAllocMoveable], 0) << "nothing allocated before the first call";
      EXPECT_EQ(h, (void*)7);
      EXPECT_EQ(p, (void*)7);
    } else {
      ASSERT_EQ(calls.seen.size(), 2u);
      EXPECT_EQ(calls.seen[1], std::make_pair(1, 1));
      // The host owns two complete blocks, whatever the second call said.
      ASSERT_EQ(local.moveable_blocks.size(), 2u);
      EXPECT_EQ(memcmp(p, picture.data() + 9030, kGd2Block), 0);
      local.table.free_moveable(&local, h);
      local.table.free_moveable(&local, p);
    }
    EXPECT_EQ(calls.seen[0], std::make_pair(0, 1));
    EXPECT_EQ(local.locks_held, 0);
  }
}

TEST_F(EntryTest, StopAtFirstCallFreesTheInputBuffer) {
  std::string path = WriteTemp("stop.gd", RawGd2(2));
  Calls calls;
  calls.stop_at = 0;
  void* h = nullptr;
  void* p = nullptr;
  EXPECT_EQ(PictureCall(&fp.table, path.c_str(), 0, 0, &h, &p, RecordProgress, (intptr_t)&calls), 1);
  EXPECT_EQ(fp.calls[kOpAllocFixed], 1);
  ExpectNothingHeld();
  EXPECT_TRUE(fp.moveable_blocks.empty());
}

TEST_F(EntryTest, OffsetsThatLeaveNoInput) {
  std::vector<uint8_t> picture = RawGd2(4);
  std::string path = WriteTemp("offsets.gd", picture);
  struct {
    intptr_t offset;
    int32_t expected;
  } cases[] = {{-1, 6}, {(intptr_t)picture.size() + 1, 6}, {(intptr_t)picture.size(), 2}, {0, 0}};
  for (auto& c : cases) {
    void* h = nullptr;
    void* p = nullptr;
    EXPECT_EQ(PictureCall(&fp.table, path.c_str(), c.offset, 0, &h, &p, nullptr, 0), c.expected)
        << "offset " << c.offset;
    if (c.expected == 0) FreeOutputs(h, p);
    ExpectNothingHeld();
  }
  PictureInfo info;
  EXPECT_EQ(PictureInfoCall(&fp.table, path.c_str(), -1, 0, &info), 6);
  EXPECT_EQ(PictureInfoCall(&fp.table, (path + ".missing").c_str(), 0, 0, &info), 6);
}

TEST_F(EntryTest, ShortRawPictureIsPaddedWithBlack) {
  std::vector<uint8_t> picture = RawGd2(9);
  picture.resize(9030 + 1000);
  void* h = nullptr;
  void* p = nullptr;
  ASSERT_EQ(PictureCall(&fp.table, (const char*)picture.data(), (intptr_t)picture.size(), 1, &h, &p, nullptr, 0), 0);
  const uint8_t* px = (const uint8_t*)p;
  EXPECT_EQ(memcmp(px, picture.data() + 9030, 1000), 0);
  size_t nonzero = 0;
  for (size_t i = 1000; i < kGd2Block; i++) nonzero += px[i] != 0;
  EXPECT_EQ(nonzero, 0u) << "no poison byte survives";
  FreeOutputs(h, p);
}

TEST_F(EntryTest, StreamWithoutAByteIsRefused) {
  std::vector<uint8_t> picture = RawGd2(9);
  picture.resize(9030);  // the mode letter is there, the stream is not
  void* h = nullptr;
  void* p = nullptr;
  EXPECT_EQ(PictureCall(&fp.table, (const char*)picture.data(), (intptr_t)picture.size(), 1, &h, &p, nullptr, 0), 2);
  PictureInfo info;
  EXPECT_EQ(PictureInfoCall(&fp.table, (const char*)picture.data(), (intptr_t)picture.size(), 1, &info), 0)
      << "sizing never reads the stream";
  EXPECT_TRUE(fp.moveable_blocks.empty());
}

TEST_F(EntryTest, IsSupportedMovesADescriptorByThreeBytesOrNotAtAll) {
  std::vector<uint8_t> bytes = {'x', 'y', 'G', 'D', '2', 'L', 'L', 'L'};
  std::string path = WriteTemp("quick.gd", bytes);
  struct {
    const char* name;
    off_t start;
    int32_t expected;
    off_t end;
  } cases[] = {{"a.GD", 2, 1, 5}, {"a.dcl", 0, 1, 3}, {"a.hhp", 2, 1, 2}, {"a.bmp", 2, 0, 2},
               {"a.gd", 6, 0, 8},  // fewer than three bytes left
               {nullptr, 2, 1, 5}};
  for (auto& c : cases) {
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_LE(fd, 0xFFFF);
    lseek(fd, c.start, SEEK_SET);
    EXPECT_EQ(QuickCheck(&fp.table, c.name, (const void*)(uintptr_t)fd), c.expected) << (c.name ? c.name : "-");
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), c.end) << (c.name ? c.name : "-");
    close(fd);
  }
}

TEST_F(EntryTest, NullArgumentsAreRefusedWithoutTouchingAnything) {
  void* h = nullptr;
  std::vector<uint8_t> picture = RawGd2(1);
  EXPECT_EQ(PictureCall(&fp.table, (const char*)picture.data(), (intptr_t)picture.size(), 1, &h, nullptr, nullptr, 0),
            2);
  EXPECT_EQ(PictureCall(&fp.table, nullptr, 0, 1, &h, &h, nullptr, 0), 2);
  EXPECT_EQ(PictureInfoCall(&fp.table, (const char*)picture.data(), (intptr_t)picture.size(), 1, nullptr), 2);
  EXPECT_EQ(PluginInfoCall(&fp.table, 0, nullptr, 10), 0);
  char buf[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(PluginInfoCall(&fp.table, 0, buf, 0), 0);
  EXPECT_EQ(buf[0], 'z');
  EXPECT_EQ(fp.calls[kOpAllocMoveable], 0);
}

}  // namespace
