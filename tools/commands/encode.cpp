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
#include "tools/image/resize.h"
#include "tools/text/parse.h"
#include "tools/text/png_text.h"
#include "tools/system/terminal.h"
#include "tools/commands/usage.h"
#include "vld.hpp"

namespace {

const char kEncodeUsage[] =
    "usage: vldtool encode IN.png -o OUT.vld [--anchor X,Y] [--comment TEXT]\n"
    "                     [--palette C0,C1,C2,C3] [--dither none|floyd-steinberg|ordered]\n"
    "                     [--resize GEOMETRY | --fit]\n"
    "       vldtool encode IN.png... -d DIR [options]\n"
    "A palette PNG whose pixels use only indices 0-3 keeps them; any other PNG\n"
    "is reduced to the four colours that suit it best. Transparent pixels become\n"
    "index 0 with palette word 0 = 0, so see-through shows the desktop there.\n"
    "The comment and anchor default to the PNG's own (as decode writes them).\n"
    "The comment is UTF-8 and is stored in code page 932 (at most 127 bytes).\n"
    "--palette maps the picture to four given colours, each a GRBI word\n"
    "(e.g. 0,0xF800,0x07C0,0x003E) or #rrggbb. --dither spreads the error\n"
    "(default none, which suits pixel art). Numbers are decimal or 0x hex.\n"
    "--resize scales the image first, as ImageMagick's -resize does: 768x512\n"
    "fits it within that box keeping its aspect, 768x512! makes it exactly that,\n"
    "768x512> only shrinks, 768x512< only enlarges, 768 or x512 sets one side,\n"
    "50% scales. --fit shrinks it to the 768x512 reference screen (768x512>).\n"
    "  -o, --output=OUT     the picture file to write ('-' for standard output)\n"
    "  -d, --directory=DIR  write DIR/NAME.vld for each IN.png, going on past failures\n"
    "IN.png '-' is standard input.\n";

// One line after a successful encode, and a warning for a picture the
// viewer cannot keep whole on a screen smaller than the reference one.
void ReportEncoded(const vld_picture& source, const vld::Bytes& file, const char* output) {
  // The row kinds the encoder chose, as the file itself tells them.
  vld_details counts = vld::Details();
  vld_decode_rows(file.data(), file.size(), nullptr,
                  [](void*, uint32_t, const uint8_t*) { return 0; }, nullptr, &counts);
  if (source.width > 768 || source.height > 512)
    std::fprintf(stderr,
                 "vldtool: encode: %s: warning: %ux%u is larger than the 768x512 reference "
                 "screen; the viewer may not show it whole on smaller screens (--fit shrinks it)\n",
                 output, unsigned{source.width}, unsigned{source.height});
  std::string colours;
  for (int k = 0; k < 4; ++k) {
    uint8_t rgb[3];
    vld_rgb(source.palette[k], rgb);
    char part[40];
    std::snprintf(part, sizeof part, "%s0x%04X #%02x%02x%02x", k > 0 ? ", " : "",
                  unsigned{source.palette[k]}, unsigned{rgb[0]}, unsigned{rgb[1]},
                  unsigned{rgb[2]});
    colours += part;
  }
  std::fprintf(stderr,
               "vldtool: encode: %s: %ux%u, colours %s, rows %u literal %u repeat %u block, "
               "%zu bytes\n",
               output, unsigned{source.width}, unsigned{source.height}, colours.c_str(),
               static_cast<unsigned>(counts.literal_rows), static_cast<unsigned>(counts.repeat_rows),
               static_cast<unsigned>(counts.block_rows), file.size());
}

struct EncodeOptions {
  bool comment_given = false;  // else the PNG's own, if it has one
  std::string comment;         // in code page 932
  bool anchor_given = false;
  uint16_t anchor[2] = {0, 0};
  vld_reduce_options colours = {sizeof(vld_reduce_options), VLD_DITHER_NONE, 0, {0, 0, 0, 0}};
  bool resize = false;
  Geometry geometry;
};

// A palette image as RGBA, its indices given up; any other is left as it is.
void ExpandPalette(DecodedImage* image) {
  if (!image->indexed) return;
  const size_t pixels = size_t{image->width} * image->height;
  const size_t entries = image->palette_rgba.size() / 4;
  image->rgba.resize(4 * pixels);
  for (size_t i = 0; i < pixels; ++i)
    for (int c = 0; c < 4; ++c)
      image->rgba[4 * i + c] = image->indices[i] < entries
                                   ? image->palette_rgba[4 * size_t{image->indices[i]} + c]
                                   : (c == 3 ? 255 : 0);  // an index past the palette shows black
  image->indexed = 0;
  std::vector<uint8_t>().swap(image->indices);
}

// The image scaled by `geometry`, as RGBA (a palette image is expanded
// first); an image that keeps its size is left as it is.
int ResizeImage(const Geometry& geometry, DecodedImage* image, std::string* error) {
  uint64_t width = 0, height = 0;
  ResizedSize(geometry, image->width, image->height, &width, &height);
  if (width == image->width && height == image->height) return 1;
  if (!CheckImageSize(width, height, error)) {
    *error = "resized, " + *error;
    return 0;
  }
  ExpandPalette(image);
  std::vector<uint8_t> resized(4 * width * height);
  if (!ResizeRgba(image->rgba.data(), image->width, image->height, resized.data(),
                  static_cast<uint32_t>(width), static_cast<uint32_t>(height))) {
    *error = "out of memory while resizing";
    return 0;
  }
  *image = DecodedImage{};
  image->width = static_cast<uint32_t>(width);
  image->height = static_cast<uint32_t>(height);
  image->rgba.swap(resized);
  return 1;
}

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
  std::vector<std::string> bad;
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
    reason = bad.empty() ? "is not UTF-8 text" : "has characters code page 932 cannot hold:";
    for (size_t k = 0; k < bad.size(); ++k) {
      reason += (k > 0 ? ", \"" : " \"") + bad[k] + "\" (" + CodePointName(bad[k]);
      if (const char* substitute = Cp932Substitute(bad[k]))
        reason += std::string("; use \"") + substitute + "\" " + CodePointName(substitute);
      reason += ")";
    }
  } else if (comment->find('\x1A') != std::string::npos) {
    reason = "holds the byte 0x1A, which ends a comment in the file";
  } else if (comment->size() > limit) {
    reason = "is " + std::to_string(comment->size()) +
             " bytes in code page 932; the viewer keeps at most " + std::to_string(limit);
  }
  return reason.empty() ? 1 : Fail("encode", name, subject + reason);
}

// The picture an image makes: a palette image keeps its indices where the
// library can keep them (vld_keep_palette), anything else is reduced to four
// colours, or mapped to the given ones (vld_reduce). The image's pixels are
// given up as they are used.
int MakePicture(DecodedImage* image, const uint16_t* known_words, const vld_reduce_options& colours,
                vld_picture* out) {
  const uint32_t width = image->width, height = image->height;
  if (image->indexed && !colours.palette_given &&
      vld_keep_palette(image->indices.data(), width, height, image->palette_rgba.data(),
                       image->palette_rgba.size() / 4, known_words, out) == VLD_OK)
    return VLD_OK;
  ExpandPalette(image);
  return vld_reduce(image->rgba.data(), width, height, &colours, out);
}

int EncodeOne(const char* input, const char* output, const void* opaque) {
  const EncodeOptions& options = *static_cast<const EncodeOptions*>(opaque);
  std::vector<uint8_t> data;
  std::string error;
  const ReadResult read = ReadInputFile(input, kMaxImageFileBytes, true, &data, &error);
  if (read == kReadTooLarge)
    error = "too large (image files of " + std::to_string(kMaxImageFileBytes >> 30) +
            " GiB or more are not read)";
  if (read != kReadOk) return Fail("encode", input, error);
  DecodedImage png;
  if (!ReadImage(data, &png, &error)) return Fail("encode", input, error);
  PngText text;
  const char* kind = ImageKind(data);
  if (kind != nullptr && std::strcmp(kind, "PNG") == 0) ReadPngText(data, &text);
  std::vector<uint8_t>().swap(data);  // the pixels may need all the memory there is
  if (options.resize && !ResizeImage(options.geometry, &png, &error))
    return Fail("encode", input, error);
  std::string comment = options.comment;
  if (!options.comment_given && text.has_comment &&
      !StoreComment(text.comment, &comment, input, "the PNG's comment "))
    return 0;
  const uint16_t* anchor = options.anchor_given || !text.has_anchor ? options.anchor : text.anchor;
  vld::Picture picture;
  const int made = MakePicture(&png, text.has_palette ? text.palette : nullptr, options.colours,
                               picture.get());
  if (made == VLD_ERROR_OUT_OF_MEMORY) return Fail("encode", input, "out of memory");
  if (made != VLD_OK) return Fail("encode", input, vld_error_text(made));
  // The picture's own indices and palette, with the text given here; the
  // comment stays this function's.
  vld_picture source = *picture;
  source.anchor_x = anchor[0];
  source.anchor_y = anchor[1];
  source.comment = reinterpret_cast<uint8_t*>(&comment[0]);
  source.comment_size = comment.size();
  vld::Bytes file;
  if (vld_encode(&source, file.data_out(), file.size_out()) != VLD_OK)
    return Fail("encode", input, "cannot be written as a picture file");
  if (!WriteOutputFile(output, std::vector<uint8_t>(file.data(), file.data() + file.size()),
                       &error))
    return Fail("encode", output, error);
  ReportEncoded(source, file, output);
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
    } else if (TakeValue(argc, argv, &i, "--resize", nullptr, &value, &missing) ||
               (std::strcmp(argv[i], "--fit") == 0 && (value = kFitGeometry))) {
      std::string reason;
      if (!ParseGeometry(value, &options.geometry, &reason))
        return UsageError("encode", "--resize " + reason);
      options.resize = true;
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
