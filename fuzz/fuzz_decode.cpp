// Arbitrary bytes into vld_decode. Beyond the sanitizers' own checks, a
// picture it accepts must survive vld_encode and a second decode unchanged,
// and it must have used exactly the bytes its details say.
#include <cstdint>
#include <cstring>
#include <utility>

#include "vld.h"
#include "vld.hpp"

namespace {

bool Same(const vld_picture& a, const vld_picture& b);

// Cut where the details say the rows end, the file is whole; a byte shorter, it is not.
void CheckEnd(const uint8_t* data, const vld_picture& picture, const vld_details& rows) {
  if (rows.literal_rows + rows.repeat_rows + rows.block_rows != picture.height) __builtin_trap();
  vld::Picture whole, cut;
  if (vld_decode(data, rows.end_offset, whole.get()) != VLD_OK || !Same(picture, *whole) ||
      vld_decode(data, rows.end_offset - 1, cut.get()) == VLD_OK)
    __builtin_trap();
}

// Row by row, the rows are those of the whole decode, as far as it got.
int CheckRow(void* user, uint32_t y, const uint8_t* indices) {
  auto* seen = static_cast<std::pair<const vld_picture*, uint32_t>*>(user);
  const vld_picture& whole = *seen->first;
  if (y != seen->second++ || (whole.indices != nullptr &&
                              std::memcmp(indices, whole.indices + y * whole.width, whole.width)))
    __builtin_trap();
  return 0;
}

bool Same(const vld_picture& a, const vld_picture& b) {
  return a.width == b.width && a.height == b.height && a.anchor_x == b.anchor_x &&
         a.anchor_y == b.anchor_y && std::memcmp(a.palette, b.palette, sizeof a.palette) == 0 &&
         a.comment_size == b.comment_size &&
         (a.comment_size == 0 || std::memcmp(a.comment, b.comment, a.comment_size) == 0) &&
         std::memcmp(a.indices, b.indices, size_t{a.width} * a.height) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vld_picture header;
  if (vld_info(data, size, &header) == VLD_OK &&
      uint64_t{header.height} * header.width > (uint64_t{1} << 20)) {
    // Mutated headers easily ask for hundreds of MiB of mostly repeated rows,
    // which would cut the run rate a hundredfold; the size limit itself is
    // the header parse's, which every input reaches.
    return 0;
  }
  vld_picture picture;
  const int result = vld_decode(data, size, &picture);
  vld::Picture core;
  vld_details details = vld::Details();
  if (vld_decode_ex(data, size, core.get(), &details) != result ||
      (result == VLD_OK && (details.end_offset > size || !Same(picture, *core))))
    __builtin_trap();
  vld_picture info, bare = picture;  // the header alone: good wherever only rows are missing
  bare.indices = bare.comment = nullptr;
  if (vld_info(data, size, &info) != (result == VLD_ERROR_SHORT_ROW ? VLD_OK : result) ||
      (result == VLD_OK && std::memcmp(&info, &bare, sizeof info) != 0))
    __builtin_trap();
  std::pair<const vld_picture*, uint32_t> seen(&picture, 0);
  if (vld_decode_rows(data, size, nullptr, CheckRow, &seen, nullptr) != result ||
      seen.second != (result == VLD_OK ? picture.height : details.rows_decoded))
    __builtin_trap();
  if (result != VLD_OK) {
    if (picture.indices != nullptr || picture.comment != nullptr || picture.width != 0)
      __builtin_trap();
    return 0;
  }
  CheckEnd(data, picture, details);
  for (size_t i = 0; i < size_t{picture.width} * picture.height; ++i)
    if (picture.indices[i] > 3) __builtin_trap();
  void* file = nullptr;
  size_t file_size = 0;
  if (vld_encode(&picture, &file, &file_size) != VLD_OK) __builtin_trap();
  vld_picture again;
  if (vld_decode(file, file_size, &again) != VLD_OK || !Same(picture, again)) __builtin_trap();
  vld_free(file);
  vld_picture_free(&again);
  vld_picture_free(&picture);
  return 0;
}
