// Arbitrary pictures through the encoder and back: the decoder must give
// back every visible index, and use exactly the bytes the encoder wrote; the
// decoded picture, taken as a palette image with its words in PNG text, must
// keep its indices and words exactly, as vldtool's decode and encode do. The
// colour reduction runs on some inputs taken as RGBA, and the PNG text
// reader on the raw input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/decode.h"
#include "picture/encode.h"
#include "tools/png_text.h"
#include "tools/quantize.h"

namespace {

void CheckText(const std::string& comment, const uint16_t anchor[2], const uint16_t palette[4]) {
  static const uint8_t kMinimalPng[] = {
      0x89, 'P',  'N',  'G',  '\r', '\n', 0x1A, '\n', 0,    0,    0,    13,   'I',
      'H',  'D',  'R',  0,    0,    0,    1,    0,    0,    0,    1,    8,    3,
      0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    'I',  'E',
      'N',  'D',  0xAE, 0x42, 0x60, 0x82};
  std::vector<uint8_t> png(kMinimalPng, kMinimalPng + sizeof kMinimalPng);
  PngText text;
  text.has_comment = 1;
  text.comment = comment;
  text.has_anchor = text.has_palette = 1;
  std::memcpy(text.anchor, anchor, sizeof text.anchor);
  std::memcpy(text.palette, palette, sizeof text.palette);
  if (!AddPngText(&png, text)) __builtin_trap();
  PngText back;
  ReadPngText(png, &back);
  if (!back.has_comment || back.comment != comment || !back.has_anchor || !back.has_palette ||
      std::memcmp(back.anchor, anchor, sizeof back.anchor) != 0 ||
      std::memcmp(back.palette, palette, sizeof back.palette) != 0)
    __builtin_trap();
}

// The input's bytes as a small RGBA image, reduced to four colours.
void CheckReduction(const uint8_t* data, size_t size, int dither) {
  Image image;
  image.width = 1 + data[0] % 48;
  image.height = 1 + data[1 % size] % 16;
  const size_t pixels = size_t{image.width} * image.height;
  image.rgba.resize(4 * pixels);
  for (size_t i = 0; i < image.rgba.size(); ++i) image.rgba[i] = data[(i + 2) % size];
  std::vector<uint8_t> alpha(pixels);
  for (size_t i = 0; i < pixels; ++i) alpha[i] = image.rgba[4 * i + 3];
  ColourOptions options;
  options.dither = static_cast<Dither>(dither % 3);
  uint16_t palette[4];
  ReduceColours(&image, options, palette);
  if (image.indices.size() != pixels) __builtin_trap();
  bool transparent = false;
  for (uint8_t a : alpha) transparent = transparent || a < 128;
  // See-through pixels alone take index 0 when there are any.
  for (size_t i = 0; i < pixels; ++i) {
    if (image.indices[i] > 3) __builtin_trap();
    if (transparent && (alpha[i] < 128) != (image.indices[i] == 0)) __builtin_trap();
  }
  if (transparent && palette[0] != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.insert(png.end(), data, data + size);
    PngText text;
    ReadPngText(png, &text);
  }
  // Sizes up to 512 x 64 keep each run quick; the pixels repeat the input's
  // 2-bit pairs so that small inputs still make structured pictures.
  const uint16_t width = static_cast<uint16_t>(1 + ((data[0] | (data[1] << 8)) % 512));
  const uint16_t height = static_cast<uint16_t>(1 + data[2] % 64);
  const size_t comment_length = data[3] % 8;
  const bool reduce = (data[3] & 0x80) != 0;
  const bool see_through = (data[3] & 0x40) != 0;
  const uint16_t palette[4] = {static_cast<uint16_t>(data[4] << 8 | data[5]),
                               static_cast<uint16_t>(data[6] << 8 | data[7]),
                               static_cast<uint16_t>(data[8] << 8 | data[9]),
                               static_cast<uint16_t>(data[10] << 8 | data[11])};
  data += 12;
  size -= 12;
  if (reduce && size > 0) CheckReduction(data, size, data[0] >> 6);
  std::vector<char> comment;
  for (size_t i = 0; i < comment_length && i < size; ++i)
    comment.push_back(data[i] == 0x1A ? 'x' : static_cast<char>(data[i]));

  std::vector<uint8_t> indices(size_t{width} * height);
  if (size > 0) {
    for (size_t i = 0; i < indices.size(); ++i) {
      const size_t bit = 2 * (i % (4 * size));
      indices[i] = static_cast<uint8_t>((data[bit / 8] >> (bit % 8)) & 3);
    }
  }

  EncodeSource source;
  source.indices = indices.data();
  source.width = width;
  source.height = height;
  source.anchor_x = width;
  source.anchor_y = height;
  std::memcpy(source.palette, palette, sizeof palette);
  source.comment = comment.data();
  source.comment_length = comment.size();
  std::vector<uint8_t> file;
  if (EncodePicture(source, &file) != 1) __builtin_trap();

  PictureHeader header;
  if (ParsePictureHeader(file.data(), file.size(), &header) != kPictureOk) __builtin_trap();
  if (header.comment_length != comment.size() ||
      std::memcmp(header.palette, palette, sizeof palette) != 0)
    __builtin_trap();
  PictureRows rows;
  if (DecodePictureRows(file.data(), file.size(), header, &rows) != kPictureOk) __builtin_trap();
  if (rows.end_offset != file.size()) __builtin_trap();
  Image decoded;
  decoded.width = width;
  decoded.height = height;
  decoded.indexed = 1;
  for (uint32_t r = 0; r < height; ++r) {
    const uint8_t* row = ImageRow(rows.index_buffer, header.stride, r);
    if (std::memcmp(row, &indices[size_t{r} * width], width) != 0) __builtin_trap();
    decoded.indices.insert(decoded.indices.end(), row, row + width);
  }
  std::free(rows.index_buffer);

  // As a palette PNG (index 0 see-through on some inputs) with its words.
  for (int k = 0; k < 4; ++k) {
    const Rgb rgb = GrbiToRgb(palette[k]);
    const uint8_t alpha = k == 0 && see_through ? 0 : 255;
    decoded.palette_rgba.insert(decoded.palette_rgba.end(), {rgb.r, rgb.g, rgb.b, alpha});
  }
  uint16_t kept[4];
  if (!KeepPaletteIndices(decoded, palette, kept) ||
      std::memcmp(kept, palette, sizeof kept) != 0)
    __builtin_trap();
  CheckText(std::string(comment.begin(), comment.end()), palette, palette);
  return 0;
}
