// Output files that are never seen half-written: the bytes go to a
// temporary file beside the target, which is renamed into place only when
// complete. An interrupt removes the temporary files in progress.
#ifndef VESK_GDCONV_OUTPUT_H
#define VESK_GDCONV_OUTPUT_H

#include <stdint.h>

#include <string>
#include <vector>

// Up to this many files may be in progress at once (one per worker).
const int kMaxWriters = 256;

// Removes the temporary files of unfinished writes on SIGINT, SIGTERM and
// SIGHUP, then ends the program as the signal would have.
void RemoveTemporariesOnSignals();

// Writes `bytes` to `path`. Without `force` an existing `path` is left as it
// is and the write fails. `writer` (0 to kMaxWriters - 1) names the caller's
// slot for the temporary file; two callers at once need different slots.
// Returns 0 with *why on failure, and then no file of the write remains.
int WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, bool force, int writer,
                   std::string* why);

// True when something (a file, a folder, a dangling link) has this name.
bool PathTaken(const std::string& path);

#endif
