// Arbitrary pictures through the encoder and back: the decoder must give
// back every visible index, and use exactly the bytes the encoder wrote.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/decode.h"
#include "picture/encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // Sizes up to 512 x 64 keep each run quick; the pixels repeat the input's
  // 2-bit pairs so that small inputs still make structured pictures.
  const uint16_t width = static_cast<uint16_t>(1 + ((data[0] | (data[1] << 8)) % 512));
  const uint16_t height = static_cast<uint16_t>(1 + data[2] % 64);
  const size_t comment_length = data[3] % 8;
  data += 4;
  size -= 4;
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
  source.palette[0] = 0x1234;
  source.comment = comment.data();
  source.comment_length = comment.size();
  std::vector<uint8_t> file;
  if (EncodePicture(source, &file) != 1) __builtin_trap();

  PictureHeader header;
  if (ParsePictureHeader(file.data(), file.size(), &header) != kPictureOk) __builtin_trap();
  if (header.comment_length != comment.size() || header.palette[0] != 0x1234) __builtin_trap();
  PictureRows rows;
  if (DecodePictureRows(file.data(), file.size(), header, &rows) != kPictureOk) __builtin_trap();
  if (rows.end_offset != file.size()) __builtin_trap();
  for (uint32_t r = 0; r < height; ++r)
    if (std::memcmp(ImageRow(rows.index_buffer, header.stride, r), &indices[size_t{r} * width],
                    width) != 0)
      __builtin_trap();
  std::free(rows.index_buffer);
  return 0;
}
