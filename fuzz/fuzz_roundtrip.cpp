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

#include "tools/text/png_text.h"
#include "vld.h"
#include "vld.hpp"

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

// The input's bytes as a small RGBA image, reduced to four colours and
// encoded through the C interface; the file must decode to what was reduced.
void CheckReduction(const uint8_t* data, size_t size, int dither) {
  const uint32_t width = 1 + data[0] % 48;
  const uint32_t height = 1 + data[1 % size] % 16;
  const size_t pixels = size_t{width} * height;
  std::vector<uint8_t> rgba(4 * pixels);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = data[(i + 2) % size];
  vld_reduce_options options;
  vld_reduce_options_init(&options);
  options.dither = dither % 3;
  vld_picture picture;
  if (vld_reduce(rgba.data(), width, height, &options, &picture) != VLD_OK) __builtin_trap();
  bool transparent = false;
  for (size_t i = 0; i < pixels; ++i) transparent = transparent || rgba[4 * i + 3] < 128;
  // See-through pixels alone take index 0 when there are any.
  for (size_t i = 0; i < pixels; ++i) {
    if (picture.indices[i] > 3) __builtin_trap();
    if (transparent && (rgba[4 * i + 3] < 128) != (picture.indices[i] == 0)) __builtin_trap();
  }
  if (transparent && picture.palette[0] != 0) __builtin_trap();
  void* file = nullptr;
  size_t file_size = 0;
  if (vld_encode(&picture, &file, &file_size) != VLD_OK) __builtin_trap();
  vld_picture back;
  if (vld_decode(file, file_size, &back) != VLD_OK ||
      std::memcmp(back.indices, picture.indices, pixels) != 0 ||
      std::memcmp(back.palette, picture.palette, sizeof back.palette) != 0)
    __builtin_trap();
  vld_free(file);
  vld_picture_free(&back);
  vld_picture_free(&picture);
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

  vld_picture source = {};
  source.indices = indices.data();
  source.width = width;
  source.height = height;
  source.anchor_x = width;
  source.anchor_y = height;
  std::memcpy(source.palette, palette, sizeof palette);
  source.comment = reinterpret_cast<uint8_t*>(comment.data());
  source.comment_size = comment.size();
  vld::Bytes file;
  if (vld_encode(&source, file.data_out(), file.size_out()) != VLD_OK) __builtin_trap();

  vld::Picture back;
  vld_details details = vld::Details();
  if (vld_decode_ex(file.data(), file.size(), back.get(), &details) != VLD_OK ||
      back->comment_size != comment.size() ||
      (!comment.empty() && std::memcmp(back->comment, comment.data(), comment.size()) != 0) ||
      back->anchor_x != width || back->anchor_y != height ||
      std::memcmp(back->palette, palette, sizeof palette) != 0 ||
      details.end_offset != file.size() ||
      std::memcmp(back->indices, indices.data(), indices.size()) != 0)
    __builtin_trap();

  // As a palette PNG (index 0 see-through on some inputs) with its words.
  uint8_t palette_rgba[16];
  for (int k = 0; k < 4; ++k) {
    vld_rgb(palette[k], &palette_rgba[4 * k]);
    palette_rgba[4 * k + 3] = k == 0 && see_through ? 0 : 255;
  }
  vld::Picture kept;
  if (vld_keep_palette(back->indices, width, height, palette_rgba, 4, palette, kept.get()) !=
          VLD_OK ||
      std::memcmp(kept->palette, palette, sizeof palette) != 0 ||
      std::memcmp(kept->indices, indices.data(), indices.size()) != 0)
    __builtin_trap();
  CheckText(std::string(comment.begin(), comment.end()), palette, palette);
  return 0;
}
