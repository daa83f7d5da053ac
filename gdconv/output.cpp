#include "gdconv/output.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

// The signal handler may only look at plain memory: one fixed name per
// writer slot, published by a flag that is set after the name is complete
// and cleared before the name changes.
namespace {
struct TemporarySlot {
  char name[PATH_MAX];
  std::atomic<bool> live;
};
TemporarySlot g_temporaries[kMaxWriters];
}  // namespace

static void RemoveTemporaries(int signal_number) {
  for (TemporarySlot& slot : g_temporaries)
    if (slot.live.load()) unlink(slot.name);
  // Die of the same signal, so that the caller sees why.
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigaction(signal_number, &action, nullptr);
  raise(signal_number);
}

void RemoveTemporariesOnSignals() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = RemoveTemporaries;
  sigemptyset(&action.sa_mask);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int s : signals) sigaddset(&action.sa_mask, s);
  for (int s : signals) sigaction(s, &action, nullptr);
}

bool PathTaken(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

static mode_t CreationMode() {
  // umask can only be read by setting it; this runs before any worker does.
  static const mode_t mask = [] {
    mode_t m = umask(0);
    umask(m);
    return m;
  }();
  return 0666 & ~mask;
}

// Moves tmp to path, refusing to replace an existing path unless force.
static int PlaceFile(const char* tmp, const char* path, bool force) {
  if (force) return rename(tmp, path);
  if (renameat2(AT_FDCWD, tmp, AT_FDCWD, path, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without RENAME_NOREPLACE: a hard link fails on an
  // existing name just as well.
  if (link(tmp, path) != 0) return -1;
  unlink(tmp);
  return 0;
}

int WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, bool force, int writer,
                   std::string* why) {
  if (!force && PathTaken(path)) {
    *why = "exists (--force replaces it)";
    return 0;
  }
  mode_t mode = CreationMode();
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = dir + "." + base + ".tmp-XXXXXX";
  if (pattern.size() >= PATH_MAX || writer < 0 || writer >= kMaxWriters) {
    *why = "cannot write: name too long";
    return 0;
  }
  TemporarySlot& slot = g_temporaries[writer];
  memcpy(slot.name, pattern.c_str(), pattern.size() + 1);
  int fd = mkostemp(slot.name, O_CLOEXEC);
  if (fd < 0) {
    *why = std::string("cannot write: ") + strerror(errno);
    return 0;
  }
  slot.live.store(true);
  bool ok = fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += (size_t)n;
  }
  // Flushed before the rename, so that a crash cannot leave the new name
  // on an empty file.
  ok = ok && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && PlaceFile(slot.name, path.c_str(), force) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(slot.name);
    *why = saved == EEXIST ? std::string("exists (--force replaces it)")
                           : std::string("cannot write: ") + strerror(saved);
  }
  slot.live.store(false);
  return ok ? 1 : 0;
}
