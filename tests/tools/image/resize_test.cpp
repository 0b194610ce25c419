// Resizing: the geometry rules (sizes as ImageMagick's -resize gives them)
// and the resampler's colour handling.
#include <gtest/gtest.h>

#include <string>

#include "tools/image/resize.h"

namespace {

TEST(Resize, GeometryGivesImageMagicksSizes) {
  const struct {
    const char* geometry;
    uint32_t width, height;      // the image
    const char* size_or_reason;  // "WxH" or words of the one-line reason
  } cases[] = {
      {"768x512", 512, 600, "437x512"},
      {"768x512", 2048, 1536, "683x512"},
      {"768x512", 100, 50, "768x384"},
      {"768x512!", 512, 600, "768x512"},
      {"768x512>", 512, 600, "437x512"},
      {"768x512>", 100, 50, "100x50"},
      {"100x100<", 512, 600, "512x600"},
      {"2000x2000<", 512, 600, "1707x2000"},
      {"50%", 512, 600, "256x300"},
      {"33.3%", 512, 600, "170x200"},
      {"50x25%", 512, 600, "256x150"},
      {"300", 512, 600, "300x352"},
      {"x100", 512, 600, "85x100"},
      {"10x10>", 512, 600, "9x10"},
      {"1%", 10, 10, "1x1"},
      {"768x512>", 4096, 4096, "512x512"},
      {"abc", 1, 1, "\"abc\" is not a size"},
      {"", 1, 1, "is not a size"},
      {"768x512!<>", 1, 1, "is not a size"},
      {"768x512>>", 1, 1, "is not a size"},
      {"50%x", 1, 1, "is not a size"},
      {"0x5", 1, 1, "each side must be 1 to 65535"},
      {"70000x5", 1, 1, "1 to 65535"},
      {"99999999999999999999", 1, 1, "is not a size"},
      {"768!", 1, 1, "needs both sides"},
      {"0%", 1, 1, "more than 0%"},
      {"20000%", 1, 1, "is not a size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.geometry);
    Geometry geometry;
    std::string error;
    if (!ParseGeometry(c.geometry, &geometry, &error)) {
      EXPECT_NE(error.find(c.size_or_reason), std::string::npos) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos);
      continue;
    }
    uint64_t width = 0, height = 0;
    ResizedSize(geometry, c.width, c.height, &width, &height);
    EXPECT_EQ(std::to_string(width) + "x" + std::to_string(height), c.size_or_reason);
  }
}

TEST(Resize, FiltersInLinearLightWithAlphaPremultiplied) {
  const struct {
    const char* name;
    uint8_t left[4], right[4];
    uint8_t mean[4];  // the two pixels halved into one
    int tolerance;
  } cases[] = {
      // Black and white average to the grey of half the light, not to 128.
      {"linear light", {0, 0, 0, 255}, {255, 255, 255, 255}, {188, 188, 188, 255}, 1},
      // A see-through pixel's colour lends nothing.
      {"premultiplied", {255, 0, 0, 0}, {0, 0, 255, 255}, {0, 0, 255, 128}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t in[8], out[4] = {};
    std::copy(c.left, c.left + 4, in);
    std::copy(c.right, c.right + 4, in + 4);
    ASSERT_TRUE(ResizeRgba(in, 2, 1, out, 1, 1));
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(out[k], c.mean[k], c.tolerance) << "channel " << k;
  }
}

}  // namespace
