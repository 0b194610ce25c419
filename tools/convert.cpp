// vldtool decode and encode: picture files to and from PNG.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "picture/decode.h"
#include "picture/encode.h"
#include "tools/commands.h"
#include "tools/tool_io.h"
#include "tools/image_io.h"
#include "tools/quantize.h"

namespace {

const char kDecodeUsage[] =
    "usage: vldtool decode FILE -o OUT.png [--transparent]\n"
    "       vldtool decode FILE... -d DIR [--transparent]\n"
    "Writes each picture as an 8-bit palette PNG with its four colours;\n"
    "--transparent makes colour index 0 see-through.\n"
    "  -o, --output=OUT     the PNG to write ('-' for standard output)\n"
    "  -d, --directory=DIR  write DIR/NAME.png for each FILE, going on past failures\n"
    "FILE '-' is standard input.\n";

const char kEncodeUsage[] =
    "usage: vldtool encode IN.png -o OUT.vld [--anchor X,Y] [--comment TEXT]\n"
    "                     [--palette W0,W1,W2,W3]\n"
    "       vldtool encode IN.png... -d DIR [options]\n"
    "A palette PNG whose pixels use only indices 0-3 keeps them; any other PNG\n"
    "is reduced to four colours (median cut). Transparent pixels become index 0\n"
    "with palette word 0 = 0, so see-through shows the desktop there. The\n"
    "comment is UTF-8 and is stored in code page 932 (at most 127 bytes).\n"
    "--palette sets the four GRBI words (e.g. 0,0xF800,0x07C0,0x003E).\n"
    "Numbers are decimal or 0x hex.\n"
    "  -o, --output=OUT     the picture file to write ('-' for standard output)\n"
    "  -d, --directory=DIR  write DIR/NAME.vld for each IN.png, going on past failures\n"
    "IN.png '-' is standard input.\n";

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int UsageError(const char* command, const std::string& message) {
  std::fprintf(stderr, "vldtool: %s: %s (see 'vldtool %s --help')\n", command, message.c_str(),
               command);
  return 2;
}

// One line for a file that could not be converted; returns 0 for the caller
// to pass on.
int Fail(const char* command, const char* name, const std::string& reason) {
  std::fprintf(stderr, "vldtool: %s: %s: %s\n", command, name, reason.c_str());
  return 0;
}

// Whether argv[*i] is the option `long_name` (or `short_name`, may be null)
// with a value, as "-o V", "--output V" or "--output=V". Sets *value and
// moves *i past it; *missing is set when the option is there without a value.
bool TakeValue(int argc, char** argv, int* i, const char* long_name, const char* short_name,
               const char** value, bool* missing) {
  const char* arg = argv[*i];
  const size_t length = std::strlen(long_name);
  if (std::strncmp(arg, long_name, length) == 0 && arg[length] == '=') {
    *value = arg + length + 1;
    return true;
  }
  if (std::strcmp(arg, long_name) != 0 && (short_name == nullptr || std::strcmp(arg, short_name) != 0))
    return false;
  if (*i + 1 >= argc) {
    *missing = true;
    return false;
  }
  *value = argv[++*i];
  return true;
}

// Exactly `count` comma-separated numbers, each at most 65535.
int ParseWordList(const char* text, int count, uint16_t* words) {
  const char* p = text;
  for (int i = 0; i < count; ++i) {
    uint64_t value = 0;
    if (!ParseNumber(p, 0xFFFF, &p, &value)) return 0;
    words[i] = static_cast<uint16_t>(value);
    if (i + 1 < count) {
      if (*p != ',') return 0;
      ++p;
    }
  }
  return *p == 0;
}

// The files a run converts and where the results go: one input to `output`,
// or any number into `directory`.
struct Targets {
  std::vector<const char*> inputs;
  const char* output = nullptr;
  const char* directory = nullptr;
};

// Takes the arguments every converter shares: -o, -d, "--" and the inputs.
// Returns 1 when argv[*i] was one of them, 0 when it is not, 2 on a usage
// error (already reported).
int TakeTarget(const char* command, int argc, char** argv, int* i, bool* options_done,
               Targets* targets) {
  const char* arg = argv[*i];
  bool missing = false;
  if (*options_done || arg[0] != '-' || arg[1] == 0) {
    targets->inputs.push_back(arg);
  } else if (std::strcmp(arg, "--") == 0) {
    *options_done = true;
  } else if (TakeValue(argc, argv, i, "--output", "-o", &targets->output, &missing) ||
             TakeValue(argc, argv, i, "--directory", "-d", &targets->directory, &missing)) {
  } else if (missing) {
    return UsageError(command, std::string(arg) + " needs a value");
  } else {
    return 0;
  }
  return 1;
}

// DIR/NAME.ext for the input DIR/.../NAME.old.
std::string OutputInDirectory(const char* directory, const char* input, const char* extension) {
  std::string name = input;
#ifdef _WIN32
  const size_t separator = name.find_last_of("/\\:");
#else
  const size_t separator = name.rfind('/');
#endif
  if (separator != std::string::npos) name.erase(0, separator + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  std::string path = directory;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name + extension;
}

bool IsDirectory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && (info.st_mode & S_IFMT) == S_IFDIR;
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

using ConvertOne = int (*)(const char* input, const char* output, const void* options);

// Converts every input to its output; one line per failure, and the run goes
// on past it. Returns the exit status.
int ConvertAll(const char* command, const Targets& targets, const char* extension,
               ConvertOne convert, const void* options) {
  if (targets.inputs.empty())
    return UsageError(command, "no input file given");
  if (targets.output != nullptr && targets.directory != nullptr)
    return UsageError(command, "give either -o or -d, not both");
  if (targets.directory == nullptr) {
    if (targets.output == nullptr) return UsageError(command, "-o OUT or -d DIR is missing");
    if (targets.inputs.size() > 1)
      return UsageError(command, "-o takes one input file; use -d DIR for more");
  } else if (!IsDirectory(targets.directory)) {
    Fail(command, targets.directory, "not a folder");
    return 1;
  }
  const bool progress = targets.inputs.size() > 1 && StderrIsTerminal();
  std::set<std::string> written;
  int failures = 0;
  for (size_t k = 0; k < targets.inputs.size(); ++k) {
    const char* input = targets.inputs[k];
    if (progress) std::fprintf(stderr, "[%zu/%zu] %s\n", k + 1, targets.inputs.size(), input);
    std::string output = targets.output != nullptr ? targets.output : "";
    int ok = 1;
    if (targets.directory != nullptr) {
      output = OutputInDirectory(targets.directory, input, extension);
      if (std::strcmp(input, "-") == 0)
        ok = Fail(command, input, "standard input has no name to make an output name from");
      else if (!written.insert(output).second)
        ok = Fail(command, input, "another input of this run already wrote " + output);
    }
    if (ok && SameFile(input, output.c_str()))
      ok = Fail(command, output.c_str(), "is the input file; choose another output");
    if (ok) ok = convert(input, output.c_str(), options);
    if (!ok) ++failures;
  }
  return failures != 0 ? 1 : 0;
}

struct DecodeOptions {
  bool transparent = false;
};

int DecodeOne(const char* input, const char* output, const void* opaque) {
  const DecodeOptions& options = *static_cast<const DecodeOptions*>(opaque);
  std::vector<uint8_t> data;
  std::string error;
  if (ReadInputFile(input, kMaxPictureFileBytes, true, &data, &error) != kReadOk)
    return Fail("decode", input, error);
  PictureHeader header;
  PictureRows rows;
  PictureStatus status = ParsePictureHeader(data.data(), data.size(), &header);
  if (status == kPictureOk) status = DecodePictureRows(data.data(), data.size(), header, &rows);
  if (status != kPictureOk) {
    char reason[128];
    return Fail("decode", input, PictureStatusText(status, &header, &rows, reason, sizeof reason));
  }
  uint8_t palette_rgb[4][3];
  for (int k = 0; k < 4; ++k) {
    const Rgb rgb = GrbiToRgb(header.palette[k]);
    palette_rgb[k][0] = rgb.r;
    palette_rgb[k][1] = rgb.g;
    palette_rgb[k][2] = rgb.b;
  }
  std::vector<uint8_t> png;
  const int encoded =
      WritePalettePng(header.width, header.height, ImageRow(rows.index_buffer, header.stride, 0),
                      header.stride, palette_rgb, options.transparent ? 1 : 0, &png, &error);
  std::free(rows.index_buffer);
  if (!encoded || !WriteOutputFile(output, png, &error)) return Fail("decode", output, error);
  return 1;
}

struct EncodeOptions {
  std::string comment;  // in code page 932
  uint16_t anchor[2] = {0, 0};
  uint16_t palette_words[4] = {0, 0, 0, 0};
  bool palette_given = false;
};

// "U+00A5" for the UTF-8 character `character`.
std::string CodePointName(const std::string& character) {
  const uint8_t lead = static_cast<uint8_t>(character[0]);
  uint32_t code = character.size() == 1 ? lead : lead & (0x7F >> character.size());
  for (size_t k = 1; k < character.size(); ++k)
    code = (code << 6) | (static_cast<uint8_t>(character[k]) & 0x3F);
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code));
  return name;
}

// The comment as the file stores it; 0 (reported) when it cannot be stored.
int StoreComment(const std::string& comment_utf8, std::string* comment) {
  std::string bad;
  std::string reason;
  if (comment_utf8.find('\x1A') != std::string::npos) {
    reason = "holds the byte 0x1A, which ends a comment in the file";
  } else if (!Utf8ToCp932(comment_utf8, comment, &bad)) {
    reason = bad.empty() ? "is not UTF-8 text"
                         : "the character \"" + bad + "\" (" + CodePointName(bad) +
                               ") cannot be stored exactly in code page 932";
  } else if (comment->find('\x1A') != std::string::npos) {
    reason = "holds the byte 0x1A, which ends a comment in the file";
  } else if (comment->size() > kCommentSize - 1) {
    reason = "is " + std::to_string(comment->size()) +
             " bytes in code page 932; the viewer keeps at most " +
             std::to_string(kCommentSize - 1);
  }
  return reason.empty() ? 1 : Fail("encode", "--comment", reason);
}

int EncodeOne(const char* input, const char* output, const void* opaque) {
  const EncodeOptions& options = *static_cast<const EncodeOptions*>(opaque);
  std::vector<uint8_t> data;
  std::string error;
  if (ReadInputFile(input, kMaxImageFileBytes, true, &data, &error) != kReadOk)
    return Fail("encode", input, error);
  Image png;
  if (!ReadImage(data, &png, &error)) return Fail("encode", input, error);
  std::vector<uint8_t>().swap(data);
  std::vector<uint8_t> indices;
  EncodeSource source;
  if (!KeepPaletteIndices(png, &indices, source.palette))
    ReduceColours(png, &indices, source.palette);
  if (options.palette_given)
    std::memcpy(source.palette, options.palette_words, sizeof options.palette_words);
  source.indices = indices.data();
  source.width = static_cast<uint16_t>(png.width);
  source.height = static_cast<uint16_t>(png.height);
  source.anchor_x = options.anchor[0];
  source.anchor_y = options.anchor[1];
  source.comment = options.comment.data();
  source.comment_length = options.comment.size();
  std::vector<uint8_t> file;
  if (!EncodePicture(source, &file))
    return Fail("encode", input, "cannot be written as a picture file");
  if (!WriteOutputFile(output, file, &error)) return Fail("encode", output, error);
  return 1;
}

}  // namespace

int RunDecode(int argc, char** argv) {
  Targets targets;
  DecodeOptions options;
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    const int taken = TakeTarget("decode", argc, argv, &i, &options_done, &targets);
    if (taken == 2) return 2;
    if (taken) continue;
    if (IsHelp(argv[i])) {
      std::fputs(kDecodeUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--transparent") == 0) {
      options.transparent = true;
    } else {
      return UsageError("decode", std::string("unknown option '") + argv[i] + "'");
    }
  }
  return ConvertAll("decode", targets, ".png", DecodeOne, &options);
}

int RunEncode(int argc, char** argv) {
  Targets targets;
  EncodeOptions options;
  const char* comment_utf8 = "";
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    const int taken = TakeTarget("encode", argc, argv, &i, &options_done, &targets);
    if (taken == 2) return 2;
    if (taken) continue;
    const char* value = nullptr;
    bool missing = false;
    if (IsHelp(argv[i])) {
      std::fputs(kEncodeUsage, stdout);
      return 0;
    } else if (TakeValue(argc, argv, &i, "--comment", nullptr, &comment_utf8, &missing)) {
    } else if (TakeValue(argc, argv, &i, "--anchor", nullptr, &value, &missing)) {
      if (!ParseWordList(value, 2, options.anchor))
        return UsageError("encode",
                          std::string("--anchor wants X,Y (0 to 65535), not '") + value + "'");
    } else if (TakeValue(argc, argv, &i, "--palette", nullptr, &value, &missing)) {
      if (!ParseWordList(value, 4, options.palette_words))
        return UsageError(
            "encode",
            std::string("--palette wants four words W0,W1,W2,W3 (0 to 0xFFFF), not '") + value +
                "'");
      options.palette_given = true;
    } else if (missing) {
      return UsageError("encode", std::string(argv[i]) + " needs a value");
    } else {
      return UsageError("encode", std::string("unknown option '") + argv[i] + "'");
    }
  }
  if (!StoreComment(ArgumentText(comment_utf8), &options.comment)) return 1;
  return ConvertAll("encode", targets, ".vld", EncodeOne, &options);
}
