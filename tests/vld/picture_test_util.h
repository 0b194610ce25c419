// Small helpers shared by the picture tests: building files by hand,
// decoding them in one call, and holding the row-by-row decoder to the
// whole decoder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "vld.hpp"
#include "vld/decode.h"

using Bytes = std::vector<uint8_t>;

// "HK03", comment, 0x1A, format 2, anchor, size, palette, then `rows`.
inline Bytes MakeFile(uint16_t width, uint16_t height, const Bytes& rows,
                      const std::string& comment = "", const uint16_t palette[4] = nullptr,
                      uint16_t anchor_x = 0, uint16_t anchor_y = 0) {
  Bytes file;
  file.reserve(22 + comment.size() + rows.size());
  for (char c : std::string("HK03") + comment) file.push_back(static_cast<uint8_t>(c));
  file.push_back(0x1A);
  file.push_back(2);
  const uint16_t default_palette[4] = {0, 0xF800, 0x07C0, 0x003E};
  if (palette == nullptr) palette = default_palette;
  const uint16_t words[8] = {anchor_x,   anchor_y,   width,      height,
                             palette[0], palette[1], palette[2], palette[3]};
  for (uint16_t w : words) {
    file.push_back(static_cast<uint8_t>(w >> 8));
    file.push_back(static_cast<uint8_t>(w));
  }
  file.insert(file.end(), rows.begin(), rows.end());
  return file;
}

struct Decoded {
  int status = VLD_OK;
  PictureHeader header;
  PictureRows rows;
  Bytes buffer;  // the whole index buffer, lead-in rows included

  uint8_t At(uint32_t row, uint32_t column) const {
    return buffer[(size_t{4} + row) * header.stride + column];
  }
  Bytes Row(uint32_t row) const {
    const size_t start = (size_t{4} + row) * header.stride;
    return Bytes(buffer.begin() + start, buffer.begin() + start + header.stride);
  }
};

inline Decoded DecodeAll(const Bytes& file) {
  Decoded d;
  d.status = ParsePictureHeader(file.data(), file.size(), &d.header);
  if (d.status != VLD_OK) return d;
  d.status = DecodePictureRows(file.data(), file.size(), d.header, &d.rows);
  if (d.status == VLD_OK) {
    const size_t size = (size_t{d.header.height} + 4) * d.header.stride;
    d.buffer.assign(d.rows.index_buffer, d.rows.index_buffer + size);
    std::free(d.rows.index_buffer);
    d.rows.index_buffer = nullptr;
  }
  return d;
}

// The comment's bytes as the header places them in the file.
inline std::string CommentOf(const std::vector<uint8_t>& file, const PictureHeader& header) {
  return std::string(file.begin() + kCommentOffset,
                     file.begin() + kCommentOffset + header.comment_length);
}

// vld_decode_rows on the first `cut` bytes of `file` gives vld_decode_ex's
// code and details there, and the rows vld_decode makes of the whole file.
inline void ExpectRowsAsDecode(const Bytes& file, size_t cut) {
  vld::Picture whole, part, header;
  vld_decode(file.data(), file.size(), whole.get());
  vld_details expected = vld::Details(), got = vld::Details();
  const int code = vld_decode_ex(file.data(), cut, part.get(), &expected);
  std::pair<const vld_picture*, Bytes> seen(&*whole, {});
  auto row = [](void* user, uint32_t y, const uint8_t* indices) {
    auto* s = static_cast<std::pair<const vld_picture*, Bytes>*>(user);
    const size_t width = s->first->width;
    s->second.insert(s->second.end(), indices, indices + width);
    return width != 0 && s->second.size() == (y + 1) * width ? 0 : 1;  // rows in order
  };
  EXPECT_EQ(vld_decode_rows(file.data(), cut, header.get(), row, &seen, &got), code);
  EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << got.reason << " / " << expected.reason;
  EXPECT_EQ(seen.second.size(), size_t{whole->width} * expected.rows_decoded);
  EXPECT_TRUE(std::equal(seen.second.begin(), seen.second.end(), whole->indices));
  vld::Picture info;  // vld_info gives the header vld_decode_rows gave
  EXPECT_EQ(vld_info(file.data(), cut, info.get()) == VLD_OK, header->width != 0);
  EXPECT_EQ(std::memcmp(&*info, &*header, sizeof *info), 0);
}
