// gdconv: looks at GD pictures, converts them to PNG or BMP, and writes new
// ones from PNG files.
//
//   gdconv info FILE... [--json] [--offset N] [--memory]
//   gdconv convert FILE... [-o OUT | -d DIR] [--format png|bmp] [--offset N] [--memory] [-j N] [--force]
//   gdconv encode IN.png -o OUT --coding raw|lz|chain|palette [--form gd2|gd3|headerless|hhp] [--quantize] [--force]
//
// Exit status: 0 when every file went well, 1 when any failed, 2 for a
// command line that cannot be run.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encode/picture.h"
#include "gdconv/gdfile.h"
#include "gdconv/image.h"
#include "gdconv/output.h"
#include "gdconv/quantize.h"

static const char kUsage[] =
    "usage: gdconv info FILE... [--json] [--offset N] [--memory]\n"
    "       gdconv convert FILE... [-o OUT | -d DIR] [--format png|bmp] [--offset N] [--memory]\n"
    "                      [-j N] [--force]\n"
    "       gdconv encode IN.png -o OUT --coding raw|lz|chain|palette\n"
    "                     [--form gd2|gd3|headerless|hhp] [--quantize] [--force]\n";

static const char kHelp[] =
    "\n"
    "GD pictures (.GD, .DCL, .HHP) are read as the VESK.SPI plug-in reads them:\n"
    "the file from --offset to its end, recognised by its name and content; with\n"
    "--memory the name takes no part and the content alone decides.\n"
    "\n"
    "info      the variant, form, coding, size and stream offset of each file;\n"
    "          --json prints one JSON array.\n"
    "convert   decodes each file to PNG (default) or BMP (the plug-in's own bitmap\n"
    "          header and pixels behind a file header). Output goes next to each\n"
    "          input, into DIR with -d, or to OUT with -o (one input only). -j N\n"
    "          converts N files at once (default: one per core). Existing files\n"
    "          are kept unless --force is given.\n"
    "encode    writes a GD picture from a PNG. Forms and the sizes they hold:\n"
    "          gd2 640 x 480 (raw, lz, chain), gd3 800 x 600 (raw, lz, chain),\n"
    "          headerless 640 x 480 (lz, chain), hhp 640 x 400 (palette); the\n"
    "          default form follows the size and the coding. --quantize reduces\n"
    "          the picture to 256 colours first.\n"
    "\n"
    "Exit status: 0 all went well, 1 a file failed, 2 the command line is wrong.\n";

static int UsageError(const std::string& text) {
  fprintf(stderr, "gdconv: %s\n%s", text.c_str(), kUsage);
  return 2;
}

struct Options {
  std::vector<std::string> files;
  std::string output;
  std::string dir;
  std::string format;
  std::string coding;
  std::string form;
  uint64_t offset = 0;
  int jobs = 0;
  bool memory = false;
  bool json = false;
  bool force = false;
  bool quantize = false;
};

static bool ParseCount(const char* text, uint64_t limit, uint64_t* value) {
  if (!*text || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(text, &end, 0);
  if (errno || *end || v > limit) return false;
  *value = v;
  return true;
}

// Parses the options that `allowed` lists (their long names, space
// separated) into *o. Returns 0, or 2 after a message.
static int ParseOptions(int argc, char** argv, const char* allowed, Options* o) {
  std::string allow = std::string(" ") + allowed + " ";
  bool options_done = false;
  for (int i = 0; i < argc; i++) {
    std::string arg = argv[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      o->files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg, value;
    bool has_value = false;
    if (arg.compare(0, 2, "--") == 0) {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        has_value = true;
      }
    } else if (arg.size() > 2) {  // -j4, -oOUT
      name = arg.substr(0, 2);
      value = arg.substr(2);
      has_value = true;
    }
    static const std::map<std::string, std::string> kShort = {{"-o", "--output"}, {"-d", "--dir"}, {"-j", "--jobs"}};
    auto shorter = kShort.find(name);
    if (shorter != kShort.end()) name = shorter->second;
    if (allow.find(" " + name + " ") == std::string::npos) return UsageError("unknown option " + arg);
    const bool flag = name == "--json" || name == "--memory" || name == "--force" || name == "--quantize";
    if (flag) {
      if (has_value) return UsageError(name + " takes no value");
    } else if (!has_value) {
      if (i + 1 >= argc) return UsageError(name + " needs a value");
      value = argv[++i];
    }
    if (name == "--json") o->json = true;
    else if (name == "--memory") o->memory = true;
    else if (name == "--force") o->force = true;
    else if (name == "--quantize") o->quantize = true;
    else if (name == "--output") o->output = value;
    else if (name == "--dir") o->dir = value;
    else if (name == "--format") o->format = value;
    else if (name == "--coding") o->coding = value;
    else if (name == "--form") o->form = value;
    else if (name == "--offset") {
      if (!ParseCount(value.c_str(), 0xFFFFFFFFu, &o->offset))
        return UsageError("--offset wants a byte count from 0 to 4294967295, not \"" + value + "\"");
    } else if (name == "--jobs") {
      uint64_t jobs = 0;
      if (!ParseCount(value.c_str(), kMaxWriters, &jobs) || jobs == 0)
        return UsageError("-j wants a number of jobs from 1 to " + std::to_string(kMaxWriters));
      o->jobs = (int)jobs;
    }
  }
  return 0;
}

// ---- info ----

static std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

static int RunInfo(const Options& o) {
  if (o.files.empty()) return UsageError("info needs at least one file");
  // Detection looks no further than the "GD3" mode letter.
  const uint64_t kHeadBytes = kGd3ModeOffset + 1;
  int failed = 0;
  if (o.json) printf("[");
  for (size_t i = 0; i < o.files.size(); i++) {
    const std::string& path = o.files[i];
    GdFile file;
    GdIdentity id;
    std::string why;
    bool ok = ReadGdFile(path.c_str(), o.offset, o.memory, kHeadBytes, &file, &why) && IdentifyGd(file, &id, &why);
    if (!ok) failed++;
    if (o.json) {
      printf("%s\n  {\"file\": %s, ", i ? "," : "", JsonString(path).c_str());
      if (!ok) {
        printf("\"ok\": false, \"error\": %s}", JsonString(why).c_str());
        continue;
      }
      std::string letter = id.letter ? JsonString(std::string(1, id.letter)) : "null";
      printf("\"ok\": true, \"variant\": %d, \"form\": \"%s\", \"letter\": %s, \"coding\": \"%s\", "
             "\"width\": %d, \"height\": %d, \"offset\": %llu, \"stream_offset\": %d, \"stream_bytes\": %llu}",
             (int)id.variant, id.form, letter.c_str(), CodingName(id.row->decoder), (int)id.row->width,
             (int)id.row->height, (unsigned long long)o.offset, (int)id.row->stream_offset,
             (unsigned long long)(file.input_length - (uint64_t)id.row->stream_offset));
      continue;
    }
    if (!ok) {
      fprintf(stderr, "gdconv: %s: %s\n", path.c_str(), why.c_str());
      continue;
    }
    std::string at = o.offset ? " from byte " + std::to_string(o.offset) : std::string();
    printf("%s: variant %d, %s, %s coding, %d x %d, stream at byte %d%s, %llu stream bytes\n", path.c_str(),
           (int)id.variant, DescribeForm(id).c_str(), CodingName(id.row->decoder), (int)id.row->width,
           (int)id.row->height, (int)id.row->stream_offset, at.c_str(),
           (unsigned long long)(file.input_length - (uint64_t)id.row->stream_offset));
  }
  if (o.json) printf("\n]\n");
  return failed ? 1 : 0;
}

// ---- convert ----

// One line on a terminal that the workers redraw, and that error lines
// interrupt cleanly; nothing at all when standard error is not a terminal.
class ProgressLine {
 public:
  ProgressLine(size_t total, bool shown) : total_(total), shown_(shown) {}
  void Fail(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    if (shown_) fputs("\r\033[K", stderr);
    fprintf(stderr, "%s\n", line.c_str());
    Draw();
  }
  void Step() {
    std::lock_guard<std::mutex> hold(lock_);
    done_++;
    Draw();
  }
  void Finish() {
    std::lock_guard<std::mutex> hold(lock_);
    if (shown_) fputs("\r\033[K", stderr);
    fflush(stderr);
  }

 private:
  void Draw() {
    if (!shown_) return;
    const int kBar = 30;
    int filled = total_ ? (int)(done_ * kBar / total_) : kBar;
    std::string bar(filled, '#');
    bar.resize(kBar, '.');
    fprintf(stderr, "\r\033[Kconverting [%s] %zu/%zu", bar.c_str(), done_, total_);
    fflush(stderr);
  }
  std::mutex lock_;
  size_t done_ = 0;
  size_t total_;
  bool shown_;
};

struct Task {
  std::string input;
  std::string output;
  std::string early_error;  // set when the task is refused before it runs
};

static bool EndsWithNoCase(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

static std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The input's name with its last extension replaced.
static std::string OutputName(const std::string& input, const std::string& dir, const std::string& ext) {
  std::string base = BaseName(input);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  std::string folder = dir;
  if (folder.empty()) {
    size_t slash = input.rfind('/');
    folder = slash == std::string::npos ? std::string() : input.substr(0, slash);
    if (slash == 0) folder = "/";
  }
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + base + "." + ext;
}

static bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

static int ConvertOne(const Task& task, const Options& o, bool bmp, int writer, std::string* why) {
  if (!task.early_error.empty()) {
    *why = task.early_error;
    return 0;
  }
  // Refused before the work, and again at the rename for a file that
  // appears meanwhile.
  if (!o.force && PathTaken(task.output)) {
    *why = task.output + " exists (--force replaces it)";
    return 0;
  }
  GdFile file;
  GdIdentity id;
  std::vector<uint8_t> block;
  if (!ReadGdFile(task.input.c_str(), o.offset, o.memory, 0, &file, why) || !IdentifyGd(file, &id, why) ||
      !DecodeGd(file, id, &block, why))
    return 0;
  std::vector<uint8_t> bytes;
  if (bmp)
    EncodeBmp(block.data(), id.row->width, id.row->height, &bytes);
  else if (!EncodePng(block.data(), id.row->width, id.row->height, &bytes, why))
    return 0;
  std::string write_why;
  if (!WriteWholeFile(task.output, bytes, o.force, writer, &write_why)) {
    *why = task.output + " " + write_why;
    return 0;
  }
  return 1;
}

static int RunConvert(Options o) {
  if (o.files.empty()) return UsageError("convert needs at least one file");
  if (!o.output.empty() && !o.dir.empty()) return UsageError("-o and -d exclude each other");
  if (!o.output.empty() && o.files.size() > 1) return UsageError("-o names one output; use -d for several files");
  if (o.format.empty()) {
    if (o.output.empty() || EndsWithNoCase(o.output, ".png"))
      o.format = "png";
    else if (EndsWithNoCase(o.output, ".bmp"))
      o.format = "bmp";
    else
      return UsageError("cannot tell the format from \"" + o.output + "\"; give --format png or bmp");
  }
  if (o.format != "png" && o.format != "bmp") return UsageError("--format is png or bmp, not \"" + o.format + "\"");
  const bool bmp = o.format == "bmp";
  if (!o.dir.empty()) {
    struct stat st;
    if (stat(o.dir.c_str(), &st) != 0 && mkdir(o.dir.c_str(), 0777) != 0) {
      fprintf(stderr, "gdconv: cannot make the folder %s: %s\n", o.dir.c_str(), strerror(errno));
      return 1;
    }
  }

  std::vector<Task> tasks(o.files.size());
  std::map<std::string, size_t> claimed;
  for (size_t i = 0; i < o.files.size(); i++) {
    Task& t = tasks[i];
    t.input = o.files[i];
    t.output = !o.output.empty() ? o.output : OutputName(t.input, o.dir, o.format);
    auto first = claimed.emplace(t.output, i);
    if (!first.second)
      t.early_error = t.output + " is already the output of " + o.files[first.first->second] +
                      " (give the files separately, or -d)";
    else if (SameFile(t.input, t.output))
      t.early_error = "the output " + t.output + " would replace the input itself";
  }

  RemoveTemporariesOnSignals();
  int jobs = o.jobs ? o.jobs : (int)std::max(1u, std::thread::hardware_concurrency());
  jobs = (int)std::min<size_t>((size_t)jobs, tasks.size());
  ProgressLine progress(tasks.size(), tasks.size() > 1 && isatty(STDERR_FILENO));
  std::atomic<size_t> next(0);
  std::atomic<size_t> failures(0);
  auto work = [&](int writer) {
    for (size_t i; (i = next.fetch_add(1)) < tasks.size();) {
      std::string why;
      if (!ConvertOne(tasks[i], o, bmp, writer, &why)) {
        failures++;
        progress.Fail("gdconv: " + tasks[i].input + ": " + why);
      }
      progress.Step();
    }
  };
  std::vector<std::thread> workers;
  for (int w = 1; w < jobs; w++) workers.emplace_back(work, w);
  work(0);
  for (std::thread& t : workers) t.join();
  progress.Finish();
  if (failures && tasks.size() > 1)
    fprintf(stderr, "gdconv: %zu of %zu files failed\n", failures.load(), tasks.size());
  return failures ? 1 : 0;
}

// ---- encode ----

static int ParseCoding(const std::string& s, GdCoding* coding) {
  static const char* const kNames[] = {"raw", "lz", "chain", "palette"};
  for (int i = 0; i < 4; i++)
    if (s == kNames[i]) {
      *coding = (GdCoding)i;
      return 1;
    }
  return 0;
}

static const char* FormName(GdForm form) {
  static const char* const kNames[] = {"gd2", "gd3", "headerless", "hhp"};
  return kNames[form];
}

static int ParseForm(const std::string& s, GdForm* form) {
  for (int i = 0; i < 4; i++)
    if (s == FormName((GdForm)i)) {
      *form = (GdForm)i;
      return 1;
    }
  return 0;
}

static int EncodeFailure(const std::string& input, const std::string& why) {
  fprintf(stderr, "gdconv: %s: %s\n", input.c_str(), why.c_str());
  return 1;
}

static int RunEncode(const Options& o) {
  if (o.files.size() != 1) return UsageError("encode takes one PNG file");
  if (o.output.empty()) return UsageError("encode needs -o OUT");
  if (o.coding.empty()) return UsageError("encode needs --coding raw, lz, chain or palette");
  GdCoding coding;
  if (!ParseCoding(o.coding, &coding))
    return UsageError("--coding is raw, lz, chain or palette, not \"" + o.coding + "\"");
  const std::string& input = o.files[0];
  const std::string& out = o.output;
  const NameClass out_class = ClassifyName(&kPortableTextOps, out.c_str());

  std::string why;
  if (!o.force && PathTaken(out)) return EncodeFailure(input, out + " exists (--force replaces it)");
  std::vector<uint8_t> block;
  int32_t width = 0, height = 0;
  if (!ReadPng(input.c_str(), &block, &width, &height, &why)) return EncodeFailure(input, why);

  GdForm form;
  if (!o.form.empty()) {
    if (!ParseForm(o.form, &form))
      return UsageError("--form is gd2, gd3, headerless or hhp, not \"" + o.form + "\"");
  } else {
    form = coding == kCodingPalette ? kFormHhp : (width == 800 && height == 600) ? kFormGd3 : kFormGd2;
  }
  int32_t form_width = 0, form_height = 0;
  FormSize(form, &form_width, &form_height);
  GdVariant variant = 0;
  const char* refusal = "";
  if (!ChooseVariant(form, coding, &variant, &refusal))
    return EncodeFailure(input, std::string("cannot write the ") + o.coding + " coding in the " + FormName(form) +
                                    " form: " + refusal);
  if (width != form_width || height != form_height)
    return EncodeFailure(input, std::to_string(width) + " x " + std::to_string(height) + " pixels, but the " + FormName(form) +
                                    " form holds " + std::to_string(form_width) + " x " +
                                    std::to_string(form_height) + " pictures");
  // Readers tell the palette form by its name alone, both ways round.
  if (form == kFormHhp && out_class != kNamePalette)
    return EncodeFailure(input, "a palette picture is recognised by its name alone: " + out + " must end in .HHP");
  if (form != kFormHhp && out_class == kNamePalette)
    return EncodeFailure(input, out + " ends in .HHP, so readers would take it for a palette picture; name it .GD");
  if (out_class == kNameRefused)
    fprintf(stderr, "gdconv: note: readers recognise GD pictures by the extensions .GD, .DCL and .HHP; %s has none of them\n",
            out.c_str());

  const uint64_t pixel_count = (uint64_t)width * (uint64_t)height;
  if (o.quantize) {
    uint64_t before = CountColours(block.data(), pixel_count);
    if (before > 256) {
      ReduceColours(block.data(), pixel_count, 256);
      fprintf(stderr, "gdconv: note: %s: %llu colours reduced to %llu\n", input.c_str(), (unsigned long long)before,
              (unsigned long long)CountColours(block.data(), pixel_count));
    }
  } else if (coding == kCodingPalette) {
    uint64_t colours = CountColours(block.data(), pixel_count);
    if (colours > 256)
      return EncodeFailure(input, std::to_string(colours) +
                                      " colours, and a palette picture holds at most 256 (--quantize reduces them)");
  }
  if (coding == kCodingChain) {
    uint64_t changed = MapPureWhite(block.data(), pixel_count);
    if (changed)
      fprintf(stderr,
              "gdconv: note: %s: %llu pure white pixels (255, 255, 255) stored as (255, 255, 254), "
              "since the chain coding cannot hold pure white\n",
              input.c_str(), (unsigned long long)changed);
  }

  std::vector<uint8_t> picture;
  const char* encode_why = "";
  if (!EncodePicture(form, coding, block.data(), width, height, &picture, &variant, &encode_why))
    return EncodeFailure(input, encode_why);

  // Read back exactly as a reader will, by OUT's name, before anything is
  // written.
  GdFile check;
  check.path = out;
  check.memory = out_class == kNameRefused;
  check.file_size = check.input_length = picture.size();
  check.bytes = picture;
  GdIdentity id;
  std::vector<uint8_t> decoded;
  if (!IdentifyGd(check, &id, &why) || id.variant != variant || !DecodeGd(check, id, &decoded, &why) ||
      decoded != block)
    return EncodeFailure(input, "internal error: the written picture would not decode to the same pixels" +
                                    (why.empty() ? std::string() : " (" + why + ")"));
  if (!WriteWholeFile(out, picture, o.force, 0, &why)) return EncodeFailure(input, out + " " + why);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[1];
  if (command == "help" || command == "--help" || command == "-h") {
    printf("%s%s", kUsage, kHelp);
    return 0;
  }
  for (int i = 2; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      printf("%s%s", kUsage, kHelp);
      return 0;
    }
  }
  Options o;
  if (command == "info") {
    if (ParseOptions(argc - 2, argv + 2, "--json --offset --memory", &o)) return 2;
    return RunInfo(o);
  }
  if (command == "convert") {
    if (ParseOptions(argc - 2, argv + 2, "--output --dir --format --offset --memory --jobs --force", &o)) return 2;
    return RunConvert(o);
  }
  if (command == "encode") {
    if (ParseOptions(argc - 2, argv + 2, "--output --coding --form --quantize --force", &o)) return 2;
    return RunEncode(o);
  }
  return UsageError("unknown command \"" + command + "\"");
}
