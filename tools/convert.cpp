// vldtool decode and encode: picture files to and from PNG.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/decode.h"
#include "picture/encode.h"
#include "tools/commands.h"
#include "tools/tool_io.h"
#include "tools/image_io.h"
#include "tools/quantize.h"

namespace {

const char kDecodeUsage[] =
    "usage: vldtool decode FILE -o OUT.png [--transparent]\n"
    "Writes the picture as an 8-bit palette PNG with its four colours;\n"
    "--transparent makes colour index 0 see-through.\n";

const char kEncodeUsage[] =
    "usage: vldtool encode IN.png -o OUT.vld [--anchor X,Y] [--comment TEXT]\n"
    "                     [--palette W0,W1,W2,W3]\n"
    "A palette PNG whose pixels use only indices 0-3 keeps them; any other PNG\n"
    "is reduced to four colours (median cut). Transparent pixels become index 0\n"
    "with palette word 0 = 0, so see-through shows the desktop there. The\n"
    "comment is UTF-8 and is stored in code page 932 (at most 127 bytes).\n"
    "--palette sets the four GRBI words (e.g. 0,0xF800,0x07C0,0x003E).\n";

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// Parses exactly `count` comma-separated numbers (decimal or 0x hex), each
// at most 65535.
int ParseWordList(const char* text, int count, uint16_t* words) {
  const char* p = text;
  for (int i = 0; i < count; ++i) {
    if (*p < '0' || *p > '9') return 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(p, &end, 0);
    if (end == p || value > 0xFFFF) return 0;
    words[i] = static_cast<uint16_t>(value);
    p = end;
    if (i + 1 < count) {
      if (*p != ',') return 0;
      ++p;
    }
  }
  return *p == 0;
}


}  // namespace

int RunDecode(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  bool transparent = false;
  for (int i = 0; i < argc; ++i) {
    if (IsHelp(argv[i])) {
      std::fputs(kDecodeUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      output = argv[++i];
    } else if (std::strcmp(argv[i], "--transparent") == 0) {
      transparent = true;
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      std::fprintf(stderr, "vldtool: decode: unknown option '%s'\n", argv[i]);
      return 2;
    } else if (input == nullptr) {
      input = argv[i];
    } else {
      std::fprintf(stderr, "vldtool: decode: more than one input file ('%s')\n", argv[i]);
      return 2;
    }
  }
  if (input == nullptr || output == nullptr) {
    std::fputs("vldtool: decode: need FILE and -o OUT.png (see 'vldtool decode --help')\n", stderr);
    return 2;
  }
  std::vector<uint8_t> data;
  std::string error;
  if (!ReadWholeFile(input, &data, &error)) {
    std::fprintf(stderr, "vldtool: decode: %s: %s\n", input, error.c_str());
    return 1;
  }
  PictureHeader header;
  PictureRows rows;
  PictureStatus status = ParsePictureHeader(data.data(), data.size(), &header);
  if (status == kPictureOk) status = DecodePictureRows(data.data(), data.size(), header, &rows);
  if (status != kPictureOk) {
    char reason[128];
    std::fprintf(stderr, "vldtool: decode: %s: %s\n", input,
                 PictureStatusText(status, &header, &rows, reason, sizeof reason));
    return 1;
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
                      header.stride, palette_rgb, transparent ? 1 : 0, &png, &error);
  std::free(rows.index_buffer);
  if (!encoded || !WriteFileReplacing(output, png, &error)) {
    std::fprintf(stderr, "vldtool: decode: %s: %s\n", output, error.c_str());
    return 1;
  }
  return 0;
}

int RunEncode(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  const char* comment_utf8 = "";
  uint16_t anchor[2] = {0, 0};
  uint16_t palette_words[4] = {0, 0, 0, 0};
  bool palette_given = false;
  for (int i = 0; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (IsHelp(argv[i])) {
      std::fputs(kEncodeUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "-o") == 0 && has_value) {
      output = argv[++i];
    } else if (std::strcmp(argv[i], "--comment") == 0 && has_value) {
      comment_utf8 = argv[++i];
    } else if (std::strcmp(argv[i], "--anchor") == 0 && has_value) {
      if (!ParseWordList(argv[++i], 2, anchor)) {
        std::fprintf(stderr, "vldtool: encode: --anchor wants X,Y (0 to 65535), not '%s'\n",
                     argv[i]);
        return 2;
      }
    } else if (std::strcmp(argv[i], "--palette") == 0 && has_value) {
      if (!ParseWordList(argv[++i], 4, palette_words)) {
        std::fprintf(
            stderr,
            "vldtool: encode: --palette wants four words W0,W1,W2,W3 (0 to 0xFFFF), not '%s'\n",
            argv[i]);
        return 2;
      }
      palette_given = true;
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      std::fprintf(stderr, "vldtool: encode: unknown option '%s' or missing value\n", argv[i]);
      return 2;
    } else if (input == nullptr) {
      input = argv[i];
    } else {
      std::fprintf(stderr, "vldtool: encode: more than one input file ('%s')\n", argv[i]);
      return 2;
    }
  }
  if (input == nullptr || output == nullptr) {
    std::fputs("vldtool: encode: need IN.png and -o OUT.vld (see 'vldtool encode --help')\n",
               stderr);
    return 2;
  }
  std::string comment;
  if (std::strchr(comment_utf8, 0x1A) != nullptr) {
    std::fputs(
        "vldtool: encode: the comment holds the byte 0x1A, which ends a comment in the file\n",
        stderr);
    return 1;
  }
  if (!Utf8ToCp932(comment_utf8, &comment)) {
    std::fputs("vldtool: encode: the comment is not UTF-8 text that code page 932 can express\n",
               stderr);
    return 1;
  }
  if (comment.find('\x1A') != std::string::npos) {
    std::fputs(
        "vldtool: encode: the comment holds the byte 0x1A, which ends a comment in the file\n",
        stderr);
    return 1;
  }
  if (comment.size() > kCommentSize - 1) {
    std::fprintf(
        stderr,
        "vldtool: encode: the comment is %zu bytes in code page 932; the viewer keeps at most %d\n",
        comment.size(), kCommentSize - 1);
    return 1;
  }

  std::vector<uint8_t> data;
  std::string error;
  if (!ReadWholeFile(input, &data, &error)) {
    std::fprintf(stderr, "vldtool: encode: %s: %s\n", input, error.c_str());
    return 1;
  }
  Image png;
  if (!ReadImage(data, &png, &error)) {
    std::fprintf(stderr, "vldtool: encode: %s: %s\n", input, error.c_str());
    return 1;
  }
  std::vector<uint8_t> indices;
  EncodeSource source;
  if (!KeepPaletteIndices(png, &indices, source.palette))
    ReduceColours(png, &indices, source.palette);
  if (palette_given) std::memcpy(source.palette, palette_words, sizeof palette_words);
  source.indices = indices.data();
  source.width = static_cast<uint16_t>(png.width);
  source.height = static_cast<uint16_t>(png.height);
  source.anchor_x = anchor[0];
  source.anchor_y = anchor[1];
  source.comment = comment.data();
  source.comment_length = comment.size();
  std::vector<uint8_t> file;
  if (!EncodePicture(source, &file)) {
    std::fprintf(stderr, "vldtool: encode: %s: cannot be written as a picture file\n", input);
    return 1;
  }
  if (!WriteFileReplacing(output, file, &error)) {
    std::fprintf(stderr, "vldtool: encode: %s: %s\n", output, error.c_str());
    return 1;
  }
  return 0;
}
