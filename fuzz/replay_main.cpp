// Turns a fuzz target into a plain program: every file of the folders (or
// the files) named on the command line is run through the target once, from
// a block of exactly its own size. A folder after --optional may be absent.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool RunFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  // A fresh block of the input's own size, so that a read past it is past
  // the allocation.
  uint8_t* data = (uint8_t*)malloc(bytes.size() ? bytes.size() : 1);
  std::copy(bytes.begin(), bytes.end(), data);
  LLVMFuzzerTestOneInput(data, bytes.size());
  free(data);
  return true;
}

int main(int argc, char** argv) {
  int total = 0;
  bool optional = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--optional") {
      optional = true;
      continue;
    }
    struct stat st;
    if (stat(arg.c_str(), &st) != 0) {
      if (optional) {
        optional = false;
        continue;
      }
      fprintf(stderr, "replay: no such folder or file: %s\n", arg.c_str());
      return 1;
    }
    std::vector<std::string> files;
    if (S_ISDIR(st.st_mode)) {
      DIR* dir = opendir(arg.c_str());
      while (dirent* e = dir ? readdir(dir) : nullptr)
        if (e->d_name[0] != '.') files.push_back(arg + "/" + e->d_name);
      if (dir) closedir(dir);
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(arg);
    }
    if (files.empty() && !optional) {
      fprintf(stderr, "replay: %s holds no inputs\n", arg.c_str());
      return 1;
    }
    for (const std::string& file : files) {
      if (!RunFile(file)) {
        fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return 1;
      }
      total++;
    }
    optional = false;
  }
  printf("replay: %d inputs, none failed\n", total);
  return 0;
}
