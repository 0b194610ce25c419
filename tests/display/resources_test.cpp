// The committed resource files, read back with a reader of their own and
// compared with what the artwork code draws.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "res/artwork.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadResource(const char* name) {
  const std::string path = std::string(VLD_RES_DIR) + "/" + name;
  Bytes content;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return content;
  int c;
  while ((c = std::fgetc(file)) != EOF) content.push_back(static_cast<uint8_t>(c));
  std::fclose(file);
  return content;
}

uint32_t Le16(const Bytes& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8;
}
uint32_t Le32(const Bytes& b, size_t at) {
  return Le16(b, at) | Le16(b, at + 2) << 16;
}

struct InfoHeader {
  int32_t width, height;
  uint32_t planes, bit_count, compression, image_size, colours_used;
};

InfoHeader ReadInfoHeader(const Bytes& b, size_t at) {
  EXPECT_EQ(Le32(b, at), 40u);
  return {static_cast<int32_t>(Le32(b, at + 4)),
          static_cast<int32_t>(Le32(b, at + 8)),
          Le16(b, at + 12),
          Le16(b, at + 14),
          Le32(b, at + 16),
          Le32(b, at + 20),
          Le32(b, at + 32)};
}

void ExpectStandardPalette(const Bytes& b, size_t at) {
  for (int k = 0; k < 16; ++k) {
    const size_t entry = at + 4 * k;
    EXPECT_EQ(b.at(entry + 2), kStandardPalette[k][0]) << "entry " << k;
    EXPECT_EQ(b.at(entry + 1), kStandardPalette[k][1]) << "entry " << k;
    EXPECT_EQ(b.at(entry + 0), kStandardPalette[k][2]) << "entry " << k;
    EXPECT_EQ(b.at(entry + 3), 0) << "entry " << k;
  }
}

// A strict RLE4 reader: bottom-up rows, every row closed by end-of-line,
// the data closed by end-of-bitmap; no deltas. Returns false on anything else.
bool DecodeRle4(const Bytes& data, int width, int height, Bytes* pixels) {
  pixels->assign(size_t(width) * height, 0xFF);
  size_t at = 0;
  int x = 0, y = height - 1;
  auto put = [&](uint8_t index) {
    if (x >= width || y < 0) return false;
    (*pixels)[size_t(y) * width + x++] = index;
    return true;
  };
  while (at + 1 < data.size()) {
    const uint8_t count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i) {
        if (!put(i % 2 == 0 ? value >> 4 : value & 15)) return false;
      }
    } else if (value == 0) {
      if (x != width) return false;
      x = 0;
      --y;
    } else if (value == 1) {
      return y == -1 && at == data.size();
    } else if (value == 2) {
      return false;
    } else {
      const size_t bytes = (value + 1) / 2;
      if (at + bytes > data.size()) return false;
      for (int i = 0; i < value; ++i) {
        const uint8_t packed = data[at + i / 2];
        if (!put(i % 2 == 0 ? packed >> 4 : packed & 15)) return false;
      }
      at += bytes + (bytes % 2);
    }
  }
  return false;
}

Bytes BuiltinPicture() {
  Bytes pixels(size_t(kBuiltinWidth) * kBuiltinHeight);
  DrawBuiltinPicture(pixels.data());
  return pixels;
}

TEST(BuiltinPictureFile, IsAnRle4BitmapOfTheDrawnPixels) {
  const Bytes file = ReadResource("builtin.bmp");
  ASSERT_GT(file.size(), 54u + 64u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Le32(file, 2), file.size());
  const InfoHeader info = ReadInfoHeader(file, 14);
  EXPECT_EQ(info.width, 204);
  EXPECT_EQ(info.height, 124);
  EXPECT_EQ(info.planes, 1u);
  EXPECT_EQ(info.bit_count, 4u);
  EXPECT_EQ(info.compression, 2u);  // RLE4
  EXPECT_EQ(info.colours_used, 16u);
  ExpectStandardPalette(file, 54);
  const uint32_t offset = Le32(file, 10);
  ASSERT_EQ(offset, 54u + 64u);
  EXPECT_EQ(info.image_size, file.size() - offset);
  // Compression is the point of RLE4; the picture is mostly flat grey.
  EXPECT_LT(file.size() - offset, size_t(kBuiltinWidth) * kBuiltinHeight / 2 / 3);

  Bytes decoded;
  ASSERT_TRUE(DecodeRle4(Bytes(file.begin() + offset, file.end()), 204, 124, &decoded));
  EXPECT_EQ(decoded, BuiltinPicture());
}

TEST(BuiltinPictureFile, IsMostlyLightGreyAndUsesSeveralColours) {
  const Bytes pixels = BuiltinPicture();
  size_t grey = 0;
  bool used[16] = {};
  for (uint8_t index : pixels) {
    ASSERT_LT(index, 16);
    used[index] = true;
    grey += index == kColourLightGrey;
  }
  EXPECT_GT(grey, pixels.size() / 2);
  int colours = 0;
  for (bool u : used) colours += u;
  EXPECT_GE(colours, 8);
}

TEST(BuiltinMaskFile, IsWhiteExactlyOverTheLightGrey) {
  const Bytes file = ReadResource("builtin_mask.bmp");
  ASSERT_EQ(file.size(), 62u + 28u * 124u);
  const InfoHeader info = ReadInfoHeader(file, 14);
  EXPECT_EQ(info.width, 204);
  EXPECT_EQ(info.height, 124);
  EXPECT_EQ(info.bit_count, 1u);
  EXPECT_EQ(info.compression, 0u);
  EXPECT_EQ(Le32(file, 54), 0x000000u);  // entry 0 black
  EXPECT_EQ(Le32(file, 58), 0xFFFFFFu);  // entry 1 white
  ASSERT_EQ(Le32(file, 10), 62u);
  const Bytes pixels = BuiltinPicture();
  for (int y = 0; y < 124; ++y) {
    const size_t row = 62 + size_t(123 - y) * 28;
    for (int x = 0; x < 204; ++x) {
      const bool white = (file[row + x / 8] >> (7 - x % 8)) & 1;
      ASSERT_EQ(white, pixels[y * 204 + x] == kColourLightGrey) << x << "," << y;
    }
  }
}

TEST(IconFile, HoldsOne32By32SixteenColourImage) {
  const Bytes file = ReadResource("velinde.ico");
  ASSERT_EQ(file.size(), 6u + 16u + 40u + 64u + 512u + 128u);
  EXPECT_EQ(Le16(file, 0), 0u);
  EXPECT_EQ(Le16(file, 2), 1u);  // icon
  EXPECT_EQ(Le16(file, 4), 1u);  // one image
  EXPECT_EQ(file[6], 32);
  EXPECT_EQ(file[7], 32);
  EXPECT_EQ(file[8], 16);
  EXPECT_EQ(Le16(file, 12), 4u);
  EXPECT_EQ(Le32(file, 14), file.size() - 22);
  EXPECT_EQ(Le32(file, 18), 22u);
  const InfoHeader info = ReadInfoHeader(file, 22);
  EXPECT_EQ(info.width, 32);
  EXPECT_EQ(info.height, 64);
  EXPECT_EQ(info.bit_count, 4u);
  ExpectStandardPalette(file, 62);

  Bytes pixels(32 * 32), transparent(32 * 32);
  DrawViewerIcon(pixels.data(), transparent.data());
  size_t opaque = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const uint8_t packed = file[126 + (31 - y) * 16 + x / 2];
      const bool clear = (file[126 + 512 + (31 - y) * 4 + x / 8] >> (7 - x % 8)) & 1;
      ASSERT_EQ((x % 2 == 0 ? packed >> 4 : packed & 15), pixels[y * 32 + x]) << x << "," << y;
      ASSERT_EQ(clear, transparent[y * 32 + x] != 0) << x << "," << y;
      if (clear) {
        ASSERT_EQ(pixels[y * 32 + x], kColourBlack) << x << "," << y;
      }
      opaque += !clear;
    }
  }
  EXPECT_GT(opaque, 32u * 32u * 3 / 4);
}

}  // namespace
