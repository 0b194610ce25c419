// vldtool decode: picture files to palette PNGs that keep their text.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/viewer_rules.h"
#include "tools/commands/commands.h"
#include "tools/commands/convert.h"
#include "tools/commands/picture_file.h"
#include "tools/commands/usage.h"
#include "tools/image/image_io.h"
#include "tools/text/cp932.h"
#include "tools/text/png_text.h"
#include "vld.hpp"

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

// The comment, the anchor and the palette words go into the PNG as text.
int AddPictureText(const vld_picture& picture, std::vector<uint8_t>* png, const char* input) {
  PngText text;
  text.has_comment = picture.comment_size > 0;
  // The whole comment goes into the PNG: cutting it would lose text, and
  // could split a two-byte character.
  if (picture.comment_size > kCommentSize - 1)
    std::fprintf(stderr,
                 "vldtool: decode: %s: warning: the comment is %zu bytes; the viewer shows only "
                 "the first %d\n",
                 input, picture.comment_size, kCommentSize - 1);
  const char* comment = reinterpret_cast<const char*>(picture.comment);
  if (text.has_comment && !Cp932ToUtf8(comment, picture.comment_size, false, &text.comment))
    std::fprintf(stderr,
                 "vldtool: decode: %s: warning: the comment is not all code page 932 text; "
                 "the PNG has U+FFFD for the bytes that are not\n",
                 input);
  text.has_anchor = 1;
  text.anchor[0] = static_cast<uint16_t>(picture.anchor_x);
  text.anchor[1] = static_cast<uint16_t>(picture.anchor_y);
  text.has_palette = 1;
  std::memcpy(text.palette, picture.palette, sizeof text.palette);
  return AddPngText(png, text);
}

// One line after a successful encode, and a warning for a picture the

struct DecodeOptions {
  bool transparent = false;
};

int DecodeOne(const char* input, const char* output, const void* opaque) {
  const DecodeOptions& options = *static_cast<const DecodeOptions*>(opaque);
  std::vector<uint8_t> data;
  std::string error;
  if (ReadPictureFile(input, true, &data, &error) != kReadOk) return Fail("decode", input, error);
  vld::Picture picture;
  vld_details details = vld::Details();
  if (vld_decode_ex(data.data(), data.size(), picture.get(), &details) != VLD_OK)
    return Fail("decode", input, details.reason);
  std::vector<uint8_t>().swap(data);
  uint8_t palette_rgb[4][3];
  for (int k = 0; k < 4; ++k) vld_rgb(picture->palette[k], palette_rgb[k]);
  std::vector<uint8_t> png;
  const int encoded = WritePalettePng(picture->width, picture->height, picture->indices,
                                      picture->width, palette_rgb, options.transparent ? 1 : 0,
                                      &png, &error);
  if (encoded && !AddPictureText(*picture, &png, input)) error = "cannot add text to the PNG";
  if (!encoded || !WriteOutputFile(output, png, &error)) return Fail("decode", output, error);
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

