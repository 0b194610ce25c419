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

#include "app/viewer_rules.h"
#include "vld/decode.h"
#include "vld/encode.h"
#include "tools/commands.h"
#include "tools/tool_io.h"
#include "tools/image_io.h"
#include "tools/png_text.h"
#include "tools/parse.h"

namespace {

const char kDecodeUsage[] =
    "usage: vldtool decode FILE -o OUT.png [--transparent]\n"
    "       vldtool decode FILE... -d DIR [--transparent]\n"
    "Writes each picture as an 8-bit palette PNG with its four colours, and its\n"
    "comment, anchor and palette words as text, so encode gives it back;\n"
    "--transparent makes colour index 0 see-through.\n"
    "  -o, --output=OUT     the PNG to write ('-' for standard output)\n"
    "  -d, --directory=DIR  write DIR/NAME.png for each FILE, going on past failures\n"
    "FILE '-' is standard input.\n";

const char kEncodeUsage[] =
    "usage: vldtool encode IN.png -o OUT.vld [--anchor X,Y] [--comment TEXT]\n"
    "                     [--palette C0,C1,C2,C3] [--dither none|floyd-steinberg|ordered]\n"
    "       vldtool encode IN.png... -d DIR [options]\n"
    "A palette PNG whose pixels use only indices 0-3 keeps them; any other PNG\n"
    "is reduced to the four colours that suit it best. Transparent pixels become\n"
    "index 0 with palette word 0 = 0, so see-through shows the desktop there.\n"
    "The comment and anchor default to the PNG's own (as decode writes them).\n"
    "The comment is UTF-8 and is stored in code page 932 (at most 127 bytes).\n"
    "--palette maps the picture to four given colours, each a GRBI word\n"
    "(e.g. 0,0xF800,0x07C0,0x003E) or #rrggbb. --dither spreads the error\n"
    "(default none, which suits pixel art). Numbers are decimal or 0x hex.\n"
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
    struct stat info;
    Fail(command, targets.directory,
         stat(targets.directory, &info) == 0 ? "not a folder" : "no such folder (make it first)");
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

// The comment, the anchor and the palette words go into the PNG as text.
int AddPictureText(const uint8_t* data, const PictureHeader& header, std::vector<uint8_t>* png,
                   const char* input) {
  PngText text;
  text.has_comment = header.comment_length > 0;
  if (header.comment_length > kCommentSize - 1)
    std::fprintf(stderr, "vldtool: decode: %s: warning: only the comment's first %d bytes are kept\n",
                 input, kCommentSize - 1);
  const size_t kept = header.comment_length < kCommentSize - 1 ? header.comment_length
                                                                : size_t{kCommentSize - 1};
  const char* comment = reinterpret_cast<const char*>(data) + kCommentOffset;
  if (text.has_comment && !Cp932ToUtf8(comment, kept, false, &text.comment))
    std::fprintf(stderr,
                 "vldtool: decode: %s: warning: the comment is not all code page 932 text; "
                 "the PNG has U+FFFD for the bytes that are not\n",
                 input);
  text.has_anchor = 1;
  text.anchor[0] = header.anchor_x;
  text.anchor[1] = header.anchor_y;
  text.has_palette = 1;
  std::memcpy(text.palette, header.palette, sizeof text.palette);
  return AddPngText(png, text);
}

// One line after a successful encode, and a warning for a picture the
// viewer cannot keep whole on a screen smaller than the reference one.
void ReportEncoded(const EncodeSource& source, const EncodeCounts& counts, size_t bytes,
                   const char* output) {
  if (source.width > 768 || source.height > 512)
    std::fprintf(stderr,
                 "vldtool: encode: %s: warning: %ux%u is larger than the 768x512 reference "
                 "screen; the viewer may not show it whole on smaller screens\n",
                 output, unsigned{source.width}, unsigned{source.height});
  std::string colours;
  for (int k = 0; k < 4; ++k) {
    const Rgb rgb = GrbiToRgb(source.palette[k]);
    char part[40];
    std::snprintf(part, sizeof part, "%s0x%04X #%02x%02x%02x", k > 0 ? ", " : "",
                  unsigned{source.palette[k]}, unsigned{rgb.r}, unsigned{rgb.g}, unsigned{rgb.b});
    colours += part;
  }
  std::fprintf(stderr,
               "vldtool: encode: %s: %ux%u, colours %s, rows %u literal %u repeat %u block, "
               "%zu bytes\n",
               output, unsigned{source.width}, unsigned{source.height}, colours.c_str(),
               static_cast<unsigned>(counts.literal_rows), static_cast<unsigned>(counts.repeat_rows),
               static_cast<unsigned>(counts.block_rows), bytes);
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
  DecodedPicture picture;
  const PictureStatus status = DecodePictureFile(data.data(), data.size(), &picture);
  const PictureHeader& header = picture.header;
  if (status != kPictureOk) {
    char reason[128];
    return Fail("decode", input,
                PictureStatusText(status, &header, &picture.rows, reason, sizeof reason));
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
      WritePalettePng(header.width, header.height,
                      ImageRow(picture.rows.index_buffer, header.stride, 0), header.stride,
                      palette_rgb, options.transparent ? 1 : 0, &png, &error);
  if (encoded && !AddPictureText(data.data(), header, &png, input)) error = "cannot add text to the PNG";
  if (!encoded || !WriteOutputFile(output, png, &error)) return Fail("decode", output, error);
  return 1;
}

struct EncodeOptions {
  bool comment_given = false;  // else the PNG's own, if it has one
  std::string comment;         // in code page 932
  bool anchor_given = false;
  uint16_t anchor[2] = {0, 0};
  ColourOptions colours;
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

// The comment as the file stores it; 0 (reported against `name`, the reason
// after `subject`) when it cannot be stored.
int StoreComment(const std::string& comment_utf8, std::string* comment, const char* name,
                 const char* subject) {
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
  return reason.empty() ? 1 : Fail("encode", name, subject + reason);
}

int EncodeOne(const char* input, const char* output, const void* opaque) {
  const EncodeOptions& options = *static_cast<const EncodeOptions*>(opaque);
  std::vector<uint8_t> data;
  std::string error;
  if (ReadInputFile(input, kMaxImageFileBytes, true, &data, &error) != kReadOk)
    return Fail("encode", input, error);
  Image png;
  if (!ReadImage(data, &png, &error)) return Fail("encode", input, error);
  PngText text;
  const char* kind = ImageKind(data);
  if (kind != nullptr && std::strcmp(kind, "PNG") == 0) ReadPngText(data, &text);
  std::vector<uint8_t>().swap(data);  // the pixels may need all the memory there is
  std::string comment = options.comment;
  if (!options.comment_given && text.has_comment &&
      !StoreComment(text.comment, &comment, input, "the PNG's comment "))
    return 0;
  const uint16_t* anchor = options.anchor_given || !text.has_anchor ? options.anchor : text.anchor;
  EncodeSource source;
  if (options.colours.palette_given ||
      !KeepPaletteIndices(png, text.has_palette ? text.palette : nullptr, source.palette))
    ReduceColours(&png, options.colours, source.palette);
  source.indices = png.indices.data();
  source.width = static_cast<uint16_t>(png.width);
  source.height = static_cast<uint16_t>(png.height);
  source.anchor_x = anchor[0];
  source.anchor_y = anchor[1];
  source.comment = comment.data();
  source.comment_length = comment.size();
  std::vector<uint8_t> file;
  EncodeCounts counts;
  if (!EncodePicture(source, &file, &counts))
    return Fail("encode", input, "cannot be written as a picture file");
  if (!WriteOutputFile(output, file, &error)) return Fail("encode", output, error);
  ReportEncoded(source, counts, file.size(), output);
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
  const char* comment_utf8 = nullptr;
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
      options.anchor_given = true;
    } else if (TakeValue(argc, argv, &i, "--palette", nullptr, &value, &missing)) {
      if (!ParsePaletteList(value, options.colours.palette))
        return UsageError("encode",
                          std::string("--palette wants four colours C0,C1,C2,C3, each a GRBI word "
                                      "(0 to 0xFFFF) or #rrggbb, not '") +
                              value + "'");
      options.colours.palette_given = 1;
    } else if (TakeValue(argc, argv, &i, "--dither", nullptr, &value, &missing)) {
      if (!ParseDither(value, &options.colours.dither))
        return UsageError("encode", std::string("--dither wants none, floyd-steinberg or "
                                                "ordered, not '") +
                                        value + "'");
    } else if (missing) {
      return UsageError("encode", std::string(argv[i]) + " needs a value");
    } else {
      return UsageError("encode", std::string("unknown option '") + argv[i] + "'");
    }
  }
  options.comment_given = comment_utf8 != nullptr;
  if (options.comment_given &&
      !StoreComment(ArgumentText(comment_utf8), &options.comment, "--comment", ""))
    return 1;
  return ConvertAll("encode", targets, ".vld", EncodeOne, &options);
}
