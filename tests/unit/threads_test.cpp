// Several threads decoding at once through the entry points, over the
// system's platform: pictures of every coding, by file and by memory, each
// thread in its own order, must give exactly the pixels of a decoding on one
// thread. Sizing and IsSupported run among them. Built with ThreadSanitizer
// by tools/hardening.sh, this is also the race test.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "plugin/entry.h"
#include "tests/support/coded_pictures.h"
#include "tests/support/run_folder.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Job {
  coded::Picture picture;
  std::string path;  // the same picture as a file
  Bytes pixels;      // decoded on one thread
};

// Decodes by file (odd turns) or memory; the palette form only by file.
int32_t Decode(const Job& job, bool by_file, Bytes* out) {
  void* header = nullptr;
  void* pixels = nullptr;
  const Bytes& b = job.picture.bytes;
  int32_t rc = by_file || job.picture.by_name
                   ? PictureCall(&kSystemPlatform, job.path.c_str(), 0, 0, &header, &pixels, nullptr, 0)
                   : PictureCall(&kSystemPlatform, (const char*)b.data(), (intptr_t)b.size(), 1, &header, &pixels,
                                 nullptr, 0);
  if (rc != 0) return rc;
  const uint8_t* p = (const uint8_t*)kSystemPlatform.lock(nullptr, pixels);
  out->assign(p, p + PixelBlockSize(job.picture.width, job.picture.height));
  kSystemPlatform.unlock(nullptr, pixels);
  kSystemPlatform.free_moveable(nullptr, header);
  kSystemPlatform.free_moveable(nullptr, pixels);
  return rc;
}

struct Worker {
  int index;
  int mismatches = 0;
  int failures = 0;
  int decodes = 0;
};

void Work(const std::vector<Job>* jobs, Worker* w, int rounds) {
  Bytes pixels;
  size_t n = jobs->size();
  for (int round = 0; round < rounds; round++) {
    for (size_t k = 0; k < n; k++) {
      // Each thread starts at its own picture; half of them walk backwards.
      size_t start = 3 * (size_t)w->index;
      const Job& job = (*jobs)[(w->index % 2 ? start + n - 1 - k : start + k) % n];
      bool by_file = (k + (size_t)round + (size_t)w->index) % 2 == 1;
      if (Decode(job, by_file, &pixels) != 0) {
        w->failures++;
        continue;
      }
      w->decodes++;
      if (pixels != job.pixels) w->mismatches++;
      PictureInfo info;
      const char* input = job.picture.by_name ? job.path.c_str() : (const char*)job.picture.bytes.data();
      uint32_t flag = job.picture.by_name ? 0 : 1;
      intptr_t len = job.picture.by_name ? 0 : (intptr_t)job.picture.bytes.size();
      if (PictureInfoCall(&kSystemPlatform, input, len, flag, &info) != 0 || info.width != job.picture.width ||
          info.height != job.picture.height)
        w->failures++;
      if (QuickCheck(&kSystemPlatform, job.path.c_str(), job.picture.bytes.data()) != 1) w->failures++;
    }
  }
}

TEST(Threads, ConcurrentDecodingGivesTheSingleThreadedPixels) {
  std::vector<Job> jobs;
  for (uint32_t seed = 1; seed <= 3; seed++) {
    for (coded::Picture& p : coded::EveryCoding(seed * 11)) {
      Job job;
      job.path = RunFolder() + "/threads_" + std::to_string(seed) + "_" + p.name;
      job.picture = std::move(p);
      FILE* f = fopen(job.path.c_str(), "wb");
      ASSERT_TRUE(f);
      ASSERT_EQ(fwrite(job.picture.bytes.data(), 1, job.picture.bytes.size(), f), job.picture.bytes.size());
      fclose(f);
      jobs.push_back(std::move(job));
    }
  }
  for (Job& job : jobs) {
    ASSERT_EQ(Decode(job, false, &job.pixels), 0) << job.picture.label;
    Bytes by_file;
    ASSERT_EQ(Decode(job, true, &by_file), 0) << job.picture.label;
    ASSERT_EQ(by_file, job.pixels) << job.picture.label << ": file and memory input differ";
  }
  // Pictures of one coding and size differ, so a decode that took another
  // thread's state would show.
  for (size_t i = 0; i < jobs.size(); i++) {
    for (size_t k = i + 1; k < jobs.size(); k++) {
      if (jobs[i].pixels.size() != jobs[k].pixels.size()) continue;
      ASSERT_NE(jobs[i].pixels, jobs[k].pixels) << jobs[i].picture.label << " / " << jobs[k].picture.label;
    }
  }

  const int kThreads = 6;
  std::vector<Worker> workers(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; i++) {
    workers[i].index = i;
    threads.emplace_back(Work, &jobs, &workers[i], 2);
  }
  for (std::thread& t : threads) t.join();
  for (const Worker& w : workers) {
    EXPECT_EQ(w.failures, 0) << "thread " << w.index;
    EXPECT_EQ(w.mismatches, 0) << "thread " << w.index;
    EXPECT_EQ(w.decodes, 2 * (int)jobs.size()) << "thread " << w.index;
  }
}

}  // namespace
