// The GIF and JPEG readers on files made by the libraries' own encoders, and
// on damaged ones: every failure is a reason, never a crash or a huge buffer.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <string>
#include <vector>

#include "tools/image/image_io.h"
#include "tests/tools/jpeg_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

int WriteToBytes(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<Bytes*>(gif->UserData)
      ->insert(static_cast<Bytes*>(gif->UserData)->end(), data, data + length);
  return length;
}

// A width x height GIF with pixel (x, y) = (x + 2y) % colours, colour 0
// transparent, the colour table global or the image's own.
Bytes MakeGif(int width, int height, int colours, bool interlace, bool local_map) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToBytes, &error);
  GifColorType entries[4] = {{0, 0, 0}, {250, 10, 20}, {30, 240, 40}, {50, 60, 230}};
  ColorMapObject* map = GifMakeMapObject(colours, entries);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, width, height, 8, 0, local_map ? nullptr : map);
  GraphicsControlBlock control{};
  control.TransparentColor = 0;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
  EGifPutImageDesc(gif, 0, 0, width, height, interlace, local_map ? map : nullptr);
  static const int kFirst[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  std::vector<GifPixelType> row(width);
  for (int pass = 0; pass < (interlace ? 4 : 1); ++pass) {
    for (int y = interlace ? kFirst[pass] : 0; y < height; y += interlace ? kStep[pass] : 1) {
      for (int x = 0; x < width; ++x) row[x] = static_cast<GifPixelType>((x + 2 * y) % 4);
      EGifPutLine(gif, row.data(), width);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// Left half (200, 40, 40) or grey 200, right half (40, 40, 200) or grey 40.
Bytes MakeJpeg(int width, int height, bool grey) {
  const int components = grey ? 1 : 3;
  std::vector<uint8_t> pixels(size_t(width) * height * components);
  for (size_t i = 0; i < pixels.size(); ++i) {
    const int x = static_cast<int>(i / components % width), c = static_cast<int>(i % components);
    const bool left = x < width / 2;
    pixels[i] = (grey ? left : left ? c == 0 : c == 2) ? 200 : 40;
  }
  const std::string jpeg = EncodeJpeg(width, height, components, pixels.data(), 100);
  return Bytes(jpeg.begin(), jpeg.end());
}

TEST(ImageRead, GifGivesIndicesAndPaletteWithTransparency) {
  struct Case {
    bool interlace, local_map;
  } cases[] = {{false, false}, {true, false}, {true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "interlace " << c.interlace << " local " << c.local_map);
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(ReadImage(MakeGif(7, 13, 4, c.interlace, c.local_map), &image, &error)) << error;
    ASSERT_EQ(image.width, 7u);
    ASSERT_EQ(image.height, 13u);
    EXPECT_TRUE(image.indexed);
    ASSERT_EQ(image.indices.size(), 7u * 13u);
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(image.indices[y * 7 + x], (x + 2 * y) % 4);
    EXPECT_EQ(image.palette_rgba,
              Bytes({0, 0, 0, 0, 250, 10, 20, 255, 30, 240, 40, 255, 50, 60, 230, 255}));
  }
}

TEST(ImageRead, JpegGivesRgbaCloseToTheOriginal) {
  for (bool grey : {false, true}) {
    SCOPED_TRACE(grey ? "grey" : "colour");
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(ReadImage(MakeJpeg(32, 16, grey), &image, &error)) << error;
    ASSERT_EQ(image.width, 32u);
    ASSERT_EQ(image.height, 16u);
    EXPECT_FALSE(image.indexed);
    ASSERT_EQ(image.rgba.size(), 32u * 16u * 4u);
    // Away from the edge between the halves, where JPEG blurs.
    const uint8_t* left = &image.rgba[(8 * 32 + 4) * 4];
    const uint8_t* right = &image.rgba[(8 * 32 + 28) * 4];
    const int want_left[3] = {200, grey ? 200 : 40, grey ? 200 : 40};
    const int want_right[3] = {40, 40, grey ? 40 : 200};
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(left[c], want_left[c], 3);
      EXPECT_NEAR(right[c], want_right[c], 3);
    }
    EXPECT_EQ(left[3], 255);
  }
}

// Sets the size a baseline JPEG's frame header declares.
Bytes WithJpegSize(Bytes jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = height >> 8;
      jpeg[i + 6] = height & 0xFF;
      jpeg[i + 7] = width >> 8;
      jpeg[i + 8] = width & 0xFF;
      break;
    }
  }
  return jpeg;
}

TEST(ImageRead, DamagedFilesAreRefusedWithAReason) {
  const Bytes gif = MakeGif(7, 13, 4, true, false);
  const Bytes jpeg = MakeJpeg(32, 16, false);
  Bytes gif_huge = gif;
  gif_huge[6] = gif_huge[7] = gif_huge[8] = gif_huge[9] = 0xFF;  // the screen: 65535 x 65535
  for (size_t i = 10; i + 9 < gif_huge.size(); ++i) {
    if (gif_huge[i] == 0x2C) {  // the image descriptor
      gif_huge[i + 5] = gif_huge[i + 6] = gif_huge[i + 7] = gif_huge[i + 8] = 0xFF;
      break;
    }
  }
  // The header, the screen and the 4-entry colour table take 25 bytes.
  Bytes no_image(gif.begin(), gif.begin() + 25);
  no_image.push_back(0x3B);
  Bytes two_entries = gif;  // a 2-entry table, the pixels still 0 to 3
  two_entries[10] &= ~7;
  two_entries.erase(two_entries.begin() + 19, two_entries.begin() + 25);
  struct Case {
    const char* name;
    Bytes bytes;
    const char* reason;
  } cases[] = {
      {"GIF cut in its pixels", Bytes(gif.begin(), gif.end() - 12), "ends early"},
      {"GIF cut in its header", Bytes(gif.begin(), gif.begin() + 9), "cannot read the GIF"},
      {"GIF without an image", no_image, "holds no image"},
      {"GIF colour outside its table", two_entries, "palette has only 2"},
      {"GIF of 65535 x 65535", gif_huge, "too large"},
      {"JPEG cut in its data", Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2), "ends early"},
      {"JPEG of 60000 x 60000", WithJpegSize(jpeg, 60000, 60000), "too large"},
      {"JPEG of width 0", WithJpegSize(jpeg, 0, 16), "Empty JPEG image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedImage image;
    std::string error;
    EXPECT_FALSE(ReadImage(c.bytes, &image, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_TRUE(image.indices.empty() && image.rgba.empty());
  }
}

}  // namespace
