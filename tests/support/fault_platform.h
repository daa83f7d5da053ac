// A platform layer for tests: the system's own underneath, with every file
// and block counted, fresh blocks filled with a poison byte, and any one
// operation made to fail on request.
#ifndef VESK_TESTS_FAULT_PLATFORM_H
#define VESK_TESTS_FAULT_PLATFORM_H

#include <set>

#include "platform/platform.h"

enum FaultOp { kOpOpen, kOpSize, kOpSeek, kOpRead, kOpAllocFixed, kOpAllocMoveable, kOpLock, kOpCount };

struct FaultPlatform {
  Platform table;
  FaultOp fail_op = kOpCount;  // kOpCount: nothing fails
  int fail_nth = 0;            // which call of fail_op fails, from 0
  bool short_read = false;     // the failing read reports success with one byte fewer
  int calls[kOpCount] = {};
  int open_files = 0;
  std::set<void*> fixed_blocks;
  std::set<void*> moveable_blocks;
  int locks_held = 0;
  static const uint8_t kPoison = 0xA5;
  uint8_t poison = kPoison;  // what fresh blocks are filled with
};

// Points fp->table at fp's own wrappers of the system platform.
void InitFaultPlatform(FaultPlatform* fp);

#endif
