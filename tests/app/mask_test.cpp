// The background mask and the see-through decision, on buffers laid out as
// the display lays them out (rows padded to 32-bit units).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/viewer_rules.h"
#include "app/mask.h"

namespace {

uint32_t Stride(uint32_t width) { return (width + 3) / 4 * 4; }

// An index buffer in that layout with the spare columns zero.
std::vector<uint8_t> IndexBuffer(const std::vector<std::vector<uint8_t>>& rows, uint32_t width) {
  const uint32_t stride = Stride(width);
  std::vector<uint8_t> buffer(rows.size() * stride, 0);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t x = 0; x < rows[r].size(); ++x) buffer[r * stride + x] = rows[r][x];
  }
  return buffer;
}

std::vector<uint8_t> Mask(const std::vector<std::vector<uint8_t>>& rows, uint32_t width) {
  const std::vector<uint8_t> buffer = IndexBuffer(rows, width);
  const uint32_t height = static_cast<uint32_t>(rows.size());
  std::vector<uint8_t> mask(size_t{MaskRowBytes(width)} * height, 0xEE);
  BuildMaskBits(buffer.data(), Stride(width), width, height, mask.data());
  return mask;
}

TEST(MaskGeometry, RowsArePaddedToWhole32BitUnits) {
  struct Case {
    uint32_t width, row_bytes, bitmap_width;
  };
  const Case cases[] = {{1, 4, 32},  {8, 4, 32},   {10, 4, 32},    {32, 4, 32},         {33, 8, 64},
                        {64, 8, 64}, {65, 12, 96}, {204, 28, 224}, {65535, 8192, 65536}};
  for (const Case& c : cases) {
    EXPECT_EQ(MaskRowBytes(c.width), c.row_bytes) << "width " << c.width;
    EXPECT_EQ(MaskBitmapWidth(c.width), c.bitmap_width) << "width " << c.width;
  }
}

TEST(MaskBits, BitIsSetExactlyWhereTheIndexIsZero) {
  struct Case {
    const char* name;
    uint32_t width;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t> expected;  // whole mask, rows of MaskRowBytes(width)
  };
  const Case cases[] = {
      {"first eight 0 1 2 3 0 0 0 0", 8, {{0, 1, 2, 3, 0, 0, 0, 0}}, {0x8F, 0, 0, 0}},
      // The example picture's rows: 3 3 1 1 2 2 0 0, twice.
      {"example rows",
       8,
       {{3, 3, 1, 1, 2, 2, 0, 0}, {3, 3, 1, 1, 2, 2, 0, 0}},
       {0x03, 0, 0, 0, 0x03, 0, 0, 0}},
      // The buffer's spare columns are zero, yet they are no background.
      {"width 10 all background", 10, {std::vector<uint8_t>(10, 0)}, {0xFF, 0xC0, 0, 0}},
      {"width 10 no background", 10, {std::vector<uint8_t>(10, 2)}, {0, 0, 0, 0}},
      {"width 33 background at 0, 9 and 32",
       33,
       {{0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1,
         1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
       {0x80, 0x40, 0, 0, 0x80, 0, 0, 0}},
      {"rows are kept apart", 1, {{0}, {3}, {0}}, {0x80, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Mask(c.rows, c.width), c.expected) << c.name;
  }
}

TEST(MaskBits, MatchesTheIndicesOfAWidePicture) {
  const uint32_t width = 77, height = 5;
  std::vector<std::vector<uint8_t>> rows(height, std::vector<uint8_t>(width));
  uint32_t state = 12345;
  for (auto& row : rows) {
    for (uint8_t& index : row) {
      state = state * 1103515245u + 12345u;
      index = static_cast<uint8_t>((state >> 16) & 3);
    }
  }
  const std::vector<uint8_t> mask = Mask(rows, width);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < MaskRowBytes(width) * 8; ++x) {
      const bool bit = (mask[y * MaskRowBytes(width) + x / 8] >> (7 - x % 8)) & 1;
      const bool background = x < width && rows[y][x] == 0;
      EXPECT_EQ(bit, background) << "row " << y << " column " << x;
    }
  }
}

TEST(SeethroughDenied, OnlyAnAllZeroBackgroundWordAllowsIt) {
  const struct {
    uint16_t word;
    int32_t denied;
  } cases[] = {{0x0000, 0}, {0x0001, -1}, {0x8000, -1}, {0xFFFE, -1}, {0xFFFF, -1}};
  for (const auto& c : cases) EXPECT_EQ(SeethroughDenied(c.word), c.denied) << c.word;
}

}  // namespace
