#include "gdconv/gdfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decode/decode.h"
#include "decode/dispatch.h"
#include "decode/lz.h"
#include "decode/palette.h"

int ReadGdFile(const char* path, uint64_t offset, bool memory, uint64_t limit, GdFile* file, std::string* why) {
  file->path = path;
  file->offset = offset;
  file->memory = memory;
  file->bytes.clear();
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *why = std::string("cannot open: ") + strerror(errno);
    return 0;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = std::string("cannot read: ") + strerror(errno);
    close(fd);
    return 0;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
    close(fd);
    return 0;
  }
  file->file_size = (uint64_t)st.st_size;
  if (file->file_size > 0xFFFFFFFFu) {
    *why = "4 GiB or larger: beyond what the plug-in reads";
    close(fd);
    return 0;
  }
  if (offset > file->file_size) {
    *why = "offset " + std::to_string(offset) + " lies past the end of the file (" +
           std::to_string(file->file_size) + " bytes)";
    close(fd);
    return 0;
  }
  file->input_length = file->file_size - offset;
  uint64_t want = limit && limit < file->input_length ? limit : file->input_length;
  file->bytes.resize((size_t)want);
  uint64_t got = 0;
  while (got < want) {
    ssize_t n = pread(fd, file->bytes.data() + got, (size_t)(want - got), (off_t)(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *why = n < 0 ? std::string("cannot read: ") + strerror(errno) : "the file shrank while it was read";
      close(fd);
      return 0;
    }
    got += (uint64_t)n;
  }
  close(fd);
  return 1;
}

const char* CodingName(GdCoding coding) {
  switch (coding) {
    case kCodingRaw: return "raw";
    case kCodingLz: return "lz";
    case kCodingChain: return "chain";
    case kCodingPalette: return "palette";
  }
  return "?";
}

std::string DescribeForm(const GdIdentity& id) {
  std::string text;
  if (id.variant == 0) return ".HHP palette form";
  if (id.variant >= 6) {
    text = id.variant >= 11 ? "GD3 header" : "GD2 header";
  } else {
    text = "headerless";
  }
  if (id.letter) return text + ", letter \"" + id.letter + "\"";
  return text + ", no letter";
}

static std::string ByteText(uint8_t b) {
  char text[16];
  if (b >= 0x20 && b < 0x7F)
    snprintf(text, sizeof text, "\"%c\"", b);
  else
    snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

// Why detection said no: the same tests again, this time naming the one
// that failed.
static std::string RefusalReason(const GdFile& file) {
  const char* name = file.memory ? nullptr : file.path.c_str();
  if (name && ClassifyName(&kPortableTextOps, name) == kNameRefused) {
    const char* ext = PortableFindExtension(name);
    std::string shown = ext && *ext ? std::string("\"") + ext + "\"" : std::string("no extension");
    return "not a GD picture by its name (" + shown + "; GD pictures end in .GD, .DCL or .HHP; "
           "--memory lets the content decide)";
  }
  const std::vector<uint8_t>& b = file.bytes;
  if (b.size() < 3) return "not a GD picture: only " + std::to_string(b.size()) + " bytes";
  if (b[0] == 'G' && b[1] == 'D') {
    if (b[2] != '2' && b[2] != '3')
      return "not a GD picture: begins with \"GD\" but the format digit is " + ByteText(b[2]) +
             ", not \"2\" or \"3\"";
    uint32_t at = b[2] == '2' ? kGd2ModeOffset : kGd3ModeOffset;
    std::string head = std::string("GD") + (char)b[2];
    if (file.input_length <= at)
      return "truncated: a " + head + " header, but the input ends before its mode letter at byte " +
             std::to_string(at) + " (" + std::to_string(file.input_length) + " bytes)";
    return "not a GD picture: a " + head + " header with the mode letter " + ByteText(b[at]) +
           " at byte " + std::to_string(at) + "; known letters are L, l, b, P, p";
  }
  return "not a GD picture";
}

int IdentifyGd(const GdFile& file, GdIdentity* id, std::string* why) {
  GdVariant variant = 0;
  const char* name = file.memory ? nullptr : file.path.c_str();
  // A limited read holds every byte that detection looks at.
  if (!DetectVariantInMemory(&kPortableTextOps, name, file.bytes.data(), file.bytes.size(), &variant)) {
    *why = RefusalReason(file);
    return 0;
  }
  const GdVariantRow& row = GdVariantTable[variant];
  if ((uint64_t)row.stream_offset >= file.input_length) {
    *why = file.input_length == 0 ? std::string("empty")
                                  : "truncated: no pixel stream (the input ends at byte " +
                                        std::to_string(file.input_length) + ", the stream would begin at " +
                                        std::to_string(row.stream_offset) + ")";
    return 0;
  }
  id->variant = variant;
  id->row = &row;
  if (variant == 0) {
    id->form = "hhp";
    id->letter = 0;
  } else if (variant >= 6) {
    id->form = variant >= 11 ? "gd3" : "gd2";
    id->letter = (char)file.bytes[variant >= 11 ? kGd3ModeOffset : kGd2ModeOffset];
  } else {
    id->form = "headerless";
    id->letter = variant == 5 ? 0 : (char)file.bytes[0];
  }
  return 1;
}

static DecodeJob JobFor(const GdIdentity& id, const uint8_t* source, uint64_t length, uint8_t* pixels) {
  DecodeJob job = {};
  job.source = source;
  job.source_length = length;
  job.pixels = pixels;
  job.stream_offset = id.row->stream_offset;
  job.width = id.row->width;
  job.height = id.row->height;
  job.bit_count = 24;
  job.bytes_per_pixel = 3;
  return job;
}

// True when reading took a bit of byte `length` or later.
static bool ReadPast(const BitCursor& end, uint64_t length) {
  return end.position > length || (end.position == length && end.bit_mask != 128 && end.bit_mask != 0);
}

// Whether a coded stream ends before its end code. The decoders stop quietly
// at the end of their input, so the input is handed over again with filler
// behind it, inside its length: a whole stream never reads the filler, one
// cut short reads on into it. LZ and palette decoding say where reading
// stopped, and zeros end either stream within a few bytes. The chain
// decoder does not, so there the filler has to show in the pixels: zeros
// end a chain and then write black records; zeros then 0x55 write grey
// ones after the black, for a picture that ends in black anyway.
static bool StreamCutShort(const GdFile& file, const GdIdentity& id, const std::vector<uint8_t>& decoded) {
  const uint64_t n = file.bytes.size();
  std::vector<uint8_t> padded(file.bytes);
  std::vector<uint8_t> probe(decoded.size());
  BitCursor end = {0, 128};
  switch (id.row->decoder) {
    case kCodingLz: {
      padded.resize(n + 64, 0);
      DecodeJob job = JobFor(id, padded.data(), padded.size(), probe.data());
      DecodeLzStream(&job, &end);
      return ReadPast(end, n);
    }
    case kCodingPalette: {
      padded.resize(n + 64, 0);
      DecodeJob job = JobFor(id, padded.data(), padded.size(), probe.data());
      DecodePaletteChainTo(&job, &end);
      return ReadPast(end, n);
    }
    case kCodingChain:
      for (int filler = 0; filler < 2; filler++) {
        padded.resize(n);
        padded.resize(n + 8, 0);
        padded.resize(n + 4096, filler ? 0x55 : 0);
        DecodeJob job = JobFor(id, padded.data(), padded.size(), probe.data());
        DecodeChain(&job);
        if (probe != decoded) return true;
      }
      return false;
    case kCodingRaw:
      break;
  }
  return false;
}

int DecodeGd(const GdFile& file, const GdIdentity& id, std::vector<uint8_t>* block, std::string* why) {
  const uint64_t size = (uint64_t)id.row->width * (uint64_t)id.row->height * 3;
  const uint64_t stream_bytes = file.input_length - (uint64_t)id.row->stream_offset;
  if (file.bytes.size() != file.input_length) {
    *why = "internal: the input was not read in full";
    return 0;
  }
  if (id.row->decoder == kCodingRaw && stream_bytes < size) {
    *why = "truncated: " + std::to_string(stream_bytes) + " of the " + std::to_string(size) + " pixel bytes";
    return 0;
  }
  block->assign((size_t)size, 0);
  DecodeJob job = JobFor(id, file.bytes.data(), file.bytes.size(), block->data());
  RunDecoder(id.row->decoder, &job);
  if (StreamCutShort(file, id, *block)) {
    *why = std::string("truncated: the ") + CodingName(id.row->decoder) + " stream ends before its end code";
    return 0;
  }
  return 1;
}
