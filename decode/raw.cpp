#include <string.h>

#include "decode/decode.h"

// Stored pixels are copied unchanged; a picture cut short leaves the rest of
// the block black rather than undefined.
void CopyRaw(const DecodeJob* job) {
  uint64_t total = PixelBlockBytes(job);
  uint64_t start = job->stream_offset > 0 ? (uint64_t)job->stream_offset : 0;
  uint64_t have = job->source_length > start ? job->source_length - start : 0;
  uint64_t copy = have < total ? have : total;
  if (copy) memcpy(job->pixels, job->source + start, (size_t)copy);
  if (copy < total) memset(job->pixels + copy, 0, (size_t)(total - copy));
}
