// Arbitrary bytes into vld_decode. Beyond the sanitizers' own checks, every
// way of reading a file (whole, with details, header alone, row by row)
// must tell the same story; a picture it accepts must survive vld_encode and
// a second decode unchanged, and must have used exactly the bytes it says.
#include <cstdint>
#include <cstring>
#include <utility>

#include "vld.h"
#include "vld.hpp"

namespace {

// Row by row, the rows are those of the whole decode, as far as it got.
int CheckRow(void* user, uint32_t y, const uint8_t* indices) {
  auto* seen = static_cast<std::pair<const vld_picture*, uint32_t>*>(user);
  const vld_picture& whole = *seen->first;
  if (y != seen->second++ || (whole.indices != nullptr &&
                              std::memcmp(indices, whole.indices + y * whole.width, whole.width)))
    __builtin_trap();
  return 0;
}

bool SameHeader(const vld_picture& a, const vld_picture& b) {
  return a.width == b.width && a.height == b.height && a.anchor_x == b.anchor_x &&
         a.anchor_y == b.anchor_y && std::memcmp(a.palette, b.palette, sizeof a.palette) == 0 &&
         a.comment_size == b.comment_size;
}

bool Same(const vld_picture& a, const vld_picture& b) {
  return SameHeader(a, b) &&
         (a.comment_size == 0 || std::memcmp(a.comment, b.comment, a.comment_size) == 0) &&
         std::memcmp(a.indices, b.indices, size_t{a.width} * a.height) == 0;
}

bool SameDetails(const vld_details& a, const vld_details& b) {
  return a.code == b.code && std::strcmp(a.reason, b.reason) == 0 &&
         a.comment_size == b.comment_size && a.format_byte == b.format_byte &&
         a.rows_decoded == b.rows_decoded && a.literal_rows == b.literal_rows &&
         a.repeat_rows == b.repeat_rows && a.block_rows == b.block_rows &&
         a.end_offset == b.end_offset;
}

bool Empty(const vld_picture& p) {
  return p.indices == nullptr && p.comment == nullptr && p.width == 0 && p.height == 0 &&
         p.comment_size == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vld_picture info;
  const int info_result = vld_info(data, size, &info);
  if (info_result == VLD_OK && uint64_t{info.width} * info.height > (uint64_t{1} << 20)) {
    // Mutated headers easily ask for hundreds of MiB of mostly repeated rows,
    // which would cut the run rate a hundredfold; the size limit itself is
    // the header's, which vld_info has just checked.
    return 0;
  }
  vld::Picture picture;
  const int result = vld_decode(data, size, picture.get());
  vld::Picture detailed;
  vld_details details = vld::Details();
  if (vld_decode_ex(data, size, detailed.get(), &details) != result || details.code != result)
    __builtin_trap();
  if (result == VLD_OK ? !Same(*picture, *detailed) : !Empty(*picture) || !Empty(*detailed))
    __builtin_trap();

  // The header alone: good wherever only rows are missing, and allocating nothing.
  if (info_result != (result == VLD_ERROR_SHORT_ROW ? VLD_OK : result) ||
      info.indices != nullptr || info.comment != nullptr ||
      (result == VLD_OK && !SameHeader(info, *picture)) || (info_result != VLD_OK && !Empty(info)))
    __builtin_trap();

  std::pair<const vld_picture*, uint32_t> seen(&*picture, 0);
  vld_picture header;
  vld_details row_details = vld::Details();
  if (vld_decode_rows(data, size, &header, CheckRow, &seen, &row_details) != result ||
      seen.second != details.rows_decoded || !SameDetails(details, row_details) ||
      (info_result == VLD_OK && !SameHeader(header, info)) || header.indices != nullptr)
    __builtin_trap();
  if (result != VLD_OK) return 0;

  // The row kinds account for every row, and the picture ends where the
  // details say: cut there it is whole, one byte shorter it is not.
  if (details.rows_decoded != picture->height || details.end_offset > size ||
      details.literal_rows + details.repeat_rows + details.block_rows != picture->height)
    __builtin_trap();
  vld::Picture prefix;
  if (vld_decode(data, details.end_offset, prefix.get()) != VLD_OK || !Same(*picture, *prefix))
    __builtin_trap();
  vld::Picture cut;
  if (vld_decode(data, details.end_offset - 1, cut.get()) == VLD_OK) __builtin_trap();

  for (size_t i = 0; i < size_t{picture->width} * picture->height; ++i)
    if (picture->indices[i] > 3) __builtin_trap();
  vld::Bytes file;
  if (vld_encode(&*picture, file.data_out(), file.size_out()) != VLD_OK) __builtin_trap();
  vld::Picture again;
  if (vld_decode(file.data(), file.size(), again.get()) != VLD_OK || !Same(*picture, *again))
    __builtin_trap();
  return 0;
}
