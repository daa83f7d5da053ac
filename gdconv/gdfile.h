// Reading GD pictures the way the plug-in does: the file from an offset to
// its end, recognised by name and content (file input) or by content alone
// (memory input), decoded by the core into a pixel block.
#ifndef VESK_GDCONV_GDFILE_H
#define VESK_GDCONV_GDFILE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "format/variant.h"

struct GdFile {
  std::string path;
  uint64_t offset = 0;          // the picture's first byte in the file
  uint64_t file_size = 0;
  uint64_t input_length = 0;    // file_size - offset: what the plug-in reads
  std::vector<uint8_t> bytes;   // the input, or its first bytes (see ReadGdFile)
  bool memory = false;          // memory input: the name does not take part
};

// Reads `path` from `offset` to its end, or only its first `limit` bytes
// there (0: no limit). Returns 0 with *why on failure. Files of 4 GiB or more
// are refused, as the plug-in's 32-bit file input cannot reach them.
int ReadGdFile(const char* path, uint64_t offset, bool memory, uint64_t limit, GdFile* file, std::string* why);

struct GdIdentity {
  GdVariant variant = 0;
  const GdVariantRow* row = nullptr;
  const char* form = "";    // "gd2", "gd3", "headerless" or "hhp"
  char letter = 0;          // the mode letter, 0 when there is none
};

const char* CodingName(GdCoding coding);
// "GD2 header, letter \"P\"" and the like, for people.
std::string DescribeForm(const GdIdentity& id);

// Recognises the picture as the plug-in does; on refusal *why says what in
// the name or the bytes decided it. A picture without a single byte of
// stream is refused too, as GetPicture refuses it.
int IdentifyGd(const GdFile& file, GdIdentity* id, std::string* why);

// Decodes a whole input (read with no limit) into *block, width * height * 3
// bytes in block order. Returns 0 with *why when the input is damaged: raw
// pixels cut short, or a coded stream that ends before its end code.
int DecodeGd(const GdFile& file, const GdIdentity& id, std::vector<uint8_t>* block, std::string* why);

#endif
