// vldtool encode: picture files from PNG and the other images the build reads.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/viewer_rules.h"
#include "tools/commands/commands.h"
#include "tools/commands/convert.h"
#include "tools/text/cp932.h"
#include "tools/system/files.h"
#include "tools/image/image_io.h"
#include "tools/text/parse.h"
#include "tools/text/png_text.h"
#include "tools/system/terminal.h"
#include "tools/commands/usage.h"
#include "vld/decode.h"
#include "vld/encode.h"
#include "vld/reduce.h"

namespace {

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
  const size_t limit = kCommentSize - 1;
  // Converted only as far as the limit: a comment of millions of characters
  // is refused as soon as it is known to be too long.
  const int converted = comment_utf8.find('\x1A') != std::string::npos
                            ? 1
                            : Utf8ToCp932(comment_utf8, limit, comment, &bad);
  if (comment_utf8.find('\x1A') != std::string::npos) {
    reason = "holds the byte 0x1A, which ends a comment in the file";
  } else if (converted < 0) {
    reason = "is over " + std::to_string(limit) +
             " bytes in code page 932; the viewer keeps at most " + std::to_string(limit);
  } else if (converted == 0) {
    reason = bad.empty() ? "is not UTF-8 text"
                         : "the character \"" + bad + "\" (" + CodePointName(bad) +
                               ") cannot be stored exactly in code page 932";
  } else if (comment->find('\x1A') != std::string::npos) {
    reason = "holds the byte 0x1A, which ends a comment in the file";
  } else if (comment->size() > limit) {
    reason = "is " + std::to_string(comment->size()) +
             " bytes in code page 932; the viewer keeps at most " + std::to_string(limit);
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
