// The one-bit mask of a picture's background and the see-through decision.
// No platform calls: the display code hands these bits to the GDI as they are.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes in one mask row: one bit per pixel, padded to whole 32-bit units as
// monochrome device bitmaps want them.
inline uint32_t MaskRowBytes(uint32_t width) {
  return (width + 31) / 32 * 4;
}

// Width of the mask bitmap in pixels: the picture width rounded up to 32.
inline uint32_t MaskBitmapWidth(uint32_t width) {
  return (width + 31) / 32 * 32;
}

// Writes MaskRowBytes(width) * height bytes into `mask`, rows top-down. Column
// x is bit 7 - (x mod 8) of byte x / 8, set where the pixel's colour index is
// 0 (the background). Columns at or past the width are left clear: they are
// never shown, and only the first `width` bytes of an index row are read.
// `first_row` is the picture's top row of indices; the next row starts
// `stride` bytes after it (the width itself when rows are packed).
void BuildMaskBits(const uint8_t* first_row, uint32_t stride, uint32_t width, uint32_t height,
                   uint8_t* mask);

