// The picture's background mask, built from its rows of colour indices.
#include "app/mask.h"

#include <cstring>


void BuildMaskBits(const uint8_t* first_row, uint32_t stride, uint32_t width, uint32_t height,
                   uint8_t* mask) {
  const size_t row_bytes = MaskRowBytes(width);
  for (uint32_t row = 0; row < height; ++row) {
    const uint8_t* indices = first_row + size_t{row} * stride;
    uint8_t* bits = mask + row * row_bytes;
    std::memset(bits, 0, row_bytes);
    for (uint32_t x = 0; x < width; ++x) {
      if (indices[x] == 0) bits[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
    }
  }
}
