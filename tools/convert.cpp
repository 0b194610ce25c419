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
#ifdef VLDTOOL_WITH_PNG
#include "tools/png_io.h"
#endif

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

#ifdef VLDTOOL_WITH_PNG

uint16_t RgbToGrbi(uint8_t r, uint8_t g, uint8_t b) {
  auto narrow = [](unsigned v) { return (v * 31 + 127) / 255; };
  return static_cast<uint16_t>((narrow(g) << 11) | (narrow(r) << 6) | (narrow(b) << 1));
}

uint32_t PackRgb(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
int Channel(uint32_t rgb, int c) {
  return static_cast<int>((rgb >> (16 - 8 * c)) & 0xFF);
}

struct ColourCount {
  uint32_t rgb;
  uint64_t count;
};

// Median cut: the box whose widest channel spans most is split at the
// weighted median of that channel until there are `wanted` boxes or none
// can be split; each box's colour is its weighted mean.
std::vector<uint32_t> MedianCut(std::vector<ColourCount> colours, size_t wanted) {
  struct Box {
    size_t begin, end;
  };
  auto widest = [&](const Box& box, int* channel) {
    int best_span = -1;
    for (int c = 0; c < 3; ++c) {
      int lo = 255, hi = 0;
      for (size_t i = box.begin; i < box.end; ++i) {
        lo = std::min(lo, Channel(colours[i].rgb, c));
        hi = std::max(hi, Channel(colours[i].rgb, c));
      }
      if (hi - lo > best_span) {
        best_span = hi - lo;
        *channel = c;
      }
    }
    return best_span;
  };
  std::vector<Box> boxes = {{0, colours.size()}};
  while (boxes.size() < wanted) {
    size_t chosen = boxes.size();
    int chosen_channel = 0, chosen_span = 0;
    for (size_t b = 0; b < boxes.size(); ++b) {
      if (boxes[b].end - boxes[b].begin < 2) continue;
      int channel = 0;
      const int span = widest(boxes[b], &channel);
      if (span > chosen_span) {
        chosen = b;
        chosen_span = span;
        chosen_channel = channel;
      }
    }
    if (chosen == boxes.size()) break;
    Box box = boxes[chosen];
    std::sort(colours.begin() + box.begin, colours.begin() + box.end,
              [&](const ColourCount& a, const ColourCount& b) {
                const int ca = Channel(a.rgb, chosen_channel), cb = Channel(b.rgb, chosen_channel);
                return ca != cb ? ca < cb : a.rgb < b.rgb;
              });
    uint64_t total = 0;
    for (size_t i = box.begin; i < box.end; ++i) total += colours[i].count;
    uint64_t running = 0;
    size_t split = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
      running += colours[i].count;
      split = i + 1;
      if (2 * running >= total) break;
    }
    boxes[chosen] = {box.begin, split};
    boxes.push_back({split, box.end});
  }
  std::vector<uint32_t> result;
  for (const Box& box : boxes) {
    uint64_t sum[3] = {0, 0, 0}, total = 0;
    for (size_t i = box.begin; i < box.end; ++i) {
      for (int c = 0; c < 3; ++c) sum[c] += uint64_t(Channel(colours[i].rgb, c)) * colours[i].count;
      total += colours[i].count;
    }
    uint32_t rgb = 0;
    for (int c = 0; c < 3; ++c)
      rgb |= static_cast<uint32_t>((sum[c] + total / 2) / total) << (16 - 8 * c);
    result.push_back(rgb);
  }
  return result;
}

// Reduces an RGBA picture to indices and palette words. Transparent pixels
// (alpha below 128) take index 0 with word 0 = 0; the rest share the other
// indices, the most frequent colour first.
void ReduceColours(const PngPicture& png, std::vector<uint8_t>* indices, uint16_t palette[4]) {
  const size_t pixels = size_t{png.width} * png.height;
  std::vector<uint32_t> opaque;
  opaque.reserve(pixels);
  bool any_transparent = false;
  for (size_t i = 0; i < pixels; ++i) {
    if (png.rgba[4 * i + 3] < 128)
      any_transparent = true;
    else
      opaque.push_back(PackRgb(&png.rgba[4 * i]));
  }
  std::sort(opaque.begin(), opaque.end());
  std::vector<ColourCount> distinct;
  for (uint32_t rgb : opaque) {
    if (!distinct.empty() && distinct.back().rgb == rgb)
      ++distinct.back().count;
    else
      distinct.push_back({rgb, 1});
  }
  const size_t first = any_transparent ? 1 : 0;
  std::vector<uint32_t> colours;
  if (!distinct.empty()) colours = MedianCut(distinct, 4 - first);

  // Nearest colour for each distinct colour, then pixel counts per colour.
  std::vector<uint8_t> nearest(distinct.size());
  std::vector<uint64_t> used(colours.size(), 0);
  for (size_t d = 0; d < distinct.size(); ++d) {
    int best = 0;
    long best_distance = -1;
    for (size_t k = 0; k < colours.size(); ++k) {
      long distance = 0;
      for (int c = 0; c < 3; ++c) {
        const long delta = Channel(distinct[d].rgb, c) - Channel(colours[k], c);
        distance += delta * delta;
      }
      if (best_distance < 0 || distance < best_distance) {
        best_distance = distance;
        best = static_cast<int>(k);
      }
    }
    nearest[d] = static_cast<uint8_t>(best);
    used[best] += distinct[d].count;
  }
  std::vector<size_t> order(colours.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return used[a] != used[b] ? used[a] > used[b] : colours[a] < colours[b];
  });
  std::vector<uint8_t> slot(colours.size());
  for (int k = 0; k < 4; ++k) palette[k] = 0;
  for (size_t rank = 0; rank < order.size(); ++rank) {
    slot[order[rank]] = static_cast<uint8_t>(first + rank);
    const uint32_t rgb = colours[order[rank]];
    palette[first + rank] = RgbToGrbi(static_cast<uint8_t>(rgb >> 16),
                                      static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb));
  }
  indices->assign(pixels, 0);
  for (size_t i = 0; i < pixels; ++i) {
    if (png.rgba[4 * i + 3] < 128) continue;
    const uint32_t rgb = PackRgb(&png.rgba[4 * i]);
    const size_t d = static_cast<size_t>(
        std::lower_bound(distinct.begin(), distinct.end(), rgb,
                         [](const ColourCount& c, uint32_t value) { return c.rgb < value; }) -
        distinct.begin());
    (*indices)[i] = slot[nearest[d]];
  }
}

// A palette PNG keeps its indices when every pixel uses 0-3 and no entry
// but index 0 is transparent.
int KeepPaletteIndices(const PngPicture& png, std::vector<uint8_t>* indices, uint16_t palette[4]) {
  if (!png.indexed) return 0;
  bool used[4] = {false, false, false, false};
  for (uint8_t index : png.indices) {
    if (index > 3) return 0;
    used[index] = true;
  }
  const size_t entries = png.palette_rgba.size() / 4;
  for (int k = 0; k < 4; ++k) {
    palette[k] = 0;
    if (static_cast<size_t>(k) >= entries) continue;
    const uint8_t* e = &png.palette_rgba[4 * k];
    if (e[3] < 128) {
      if (k != 0 && used[k]) return 0;
      continue;  // a see-through index 0 is black
    }
    palette[k] = RgbToGrbi(e[0], e[1], e[2]);
  }
  *indices = png.indices;
  return 1;
}

#endif  // VLDTOOL_WITH_PNG

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
#ifndef VLDTOOL_WITH_PNG
  (void)transparent;
  std::fputs("vldtool: decode: PNG support is not available in this build\n", stderr);
  return 1;
#else
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
      WriteIndexedPng(header.width, header.height, ImageRow(rows.index_buffer, header.stride, 0),
                      header.stride, palette_rgb, transparent ? 1 : 0, &png, &error);
  std::free(rows.index_buffer);
  if (!encoded || !WriteFileReplacing(output, png, &error)) {
    std::fprintf(stderr, "vldtool: decode: %s: %s\n", output, error.c_str());
    return 1;
  }
  return 0;
#endif
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
#ifndef VLDTOOL_WITH_PNG
  (void)comment_utf8;
  (void)palette_given;
  std::fputs("vldtool: encode: PNG support is not available in this build\n", stderr);
  return 1;
#else
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
  PngPicture png;
  if (!ReadPng(data, &png, &error)) {
    std::fprintf(stderr, "vldtool: encode: %s: %s\n", input, error.c_str());
    return 1;
  }
  if (png.width > 65535 || png.height > 65535) {
    std::fprintf(
        stderr,
        "vldtool: encode: %s: the picture is %ux%u; a picture file holds at most 65535x65535\n",
        input, static_cast<unsigned>(png.width), static_cast<unsigned>(png.height));
    return 1;
  }
  const uint64_t buffer_bytes = (uint64_t{png.height} + 4) * ((png.width + 11) & ~uint32_t{3});
  if (buffer_bytes > kMaxIndexBufferBytes) {
    std::fprintf(stderr,
                 "vldtool: encode: %s: the picture is %ux%u, too large for the viewer (over %u MiB "
                 "decoded)\n",
                 input, static_cast<unsigned>(png.width), static_cast<unsigned>(png.height),
                 static_cast<unsigned>(kMaxIndexBufferBytes >> 20));
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
#endif
}
