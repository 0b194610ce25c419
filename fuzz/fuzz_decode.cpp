// Arbitrary bytes into the header parse and the row decoder. Beyond the
// sanitizers' own checks, the decoded buffer must keep the shape the display
// code relies on.
#include <cstdint>
#include <cstdlib>

#include "picture/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PictureHeader header;
  if (ParsePictureHeader(data, size, &header) != kPictureOk) return 0;
  // Mutated headers easily ask for hundreds of MiB of mostly repeated rows,
  // which would cut the run rate a hundredfold; the arithmetic of large
  // buffers is the same size_t arithmetic exercised here, and the size
  // limit itself is the header parse's, which every input reaches.
  if ((uint64_t{header.height} + 4) * header.stride > (uint64_t{1} << 20)) return 0;
  PictureRows rows;
  if (DecodePictureRows(data, size, header, &rows) != kPictureOk) {
    if (rows.index_buffer != nullptr) __builtin_trap();
    return 0;
  }
  if (rows.end_offset > size) __builtin_trap();
  if (rows.literal_rows + rows.repeat_rows + rows.block_rows != header.height) __builtin_trap();
  const size_t stride = header.stride;
  for (size_t i = 0; i < 4 * stride; ++i)
    if (rows.index_buffer[i] != 0) __builtin_trap();
  for (uint32_t r = 0; r < header.height; ++r) {
    const uint8_t* row = ImageRow(rows.index_buffer, header.stride, r);
    for (size_t x = 0; x < stride; ++x) {
      if (row[x] > 3) __builtin_trap();
      if (x >= 8 * size_t{header.groups} && row[x] != 0) __builtin_trap();
    }
  }
  std::free(rows.index_buffer);
  return 0;
}
