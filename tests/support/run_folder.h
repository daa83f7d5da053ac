// A folder of this test run's own for the files that tests write, made once
// per process and emptied and removed at its end: fixed names in the shared
// temporary folder would let two runs at once (two developers, or CI beside
// a local run) read each other's files.
#ifndef VESK_TESTS_RUN_FOLDER_H
#define VESK_TESTS_RUN_FOLDER_H

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

struct RunFolderHolder {
  std::string path;
  RunFolderHolder() {
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/vesk_unit_XXXXXX";
    const char* made = mkdtemp(&templ[0]);
    path = made ? made : "";
  }
  ~RunFolderHolder() {
    if (path.empty()) return;
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') unlink((path + "/" + e->d_name).c_str());
      closedir(dir);
    }
    rmdir(path.c_str());
  }
};

inline const std::string& RunFolder() {
  static RunFolderHolder holder;
  return holder.path;
}

#endif
