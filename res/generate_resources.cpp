// Draws the built-in picture, its mask and the icon, and writes the files
// that velinde.rc links into the viewer:
//
//   vld_resgen DIR           write builtin.bmp, builtin_mask.bmp, velinde.ico into DIR
//   vld_resgen --check DIR   exit 1 unless the files in DIR are exactly what it draws
//
// The picture is stored RLE4-compressed by the encoder below, the mask as an
// uncompressed one-bit bitmap, the icon as one 32 x 32 16-colour image.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "res/artwork.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(Bytes& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle4 = 2;

void PutInfoHeader(Bytes& out, int32_t width, int32_t height, uint16_t bit_count,
                   uint32_t compression, uint32_t image_size, uint32_t colours_used) {
  Put32(out, kInfoHeaderSize);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));
  Put16(out, 1);
  Put16(out, bit_count);
  Put32(out, compression);
  Put32(out, image_size);
  Put32(out, 0);  // pixels per metre: unknown
  Put32(out, 0);
  Put32(out, colours_used);
  Put32(out, 0);
}

void PutStandardPalette(Bytes& out) {
  for (const auto& colour : kStandardPalette) {
    out.push_back(colour[2]);
    out.push_back(colour[1]);
    out.push_back(colour[0]);
    out.push_back(0);
  }
}

Bytes BitmapFile(const Bytes& info_and_colours, const Bytes& bits) {
  Bytes out;
  const uint32_t offset = kFileHeaderSize + static_cast<uint32_t>(info_and_colours.size());
  out.push_back('B');
  out.push_back('M');
  Put32(out, offset + static_cast<uint32_t>(bits.size()));
  Put32(out, 0);
  Put32(out, offset);
  out.insert(out.end(), info_and_colours.begin(), info_and_colours.end());
  out.insert(out.end(), bits.begin(), bits.end());
  return out;
}

// Number of equal pixels from `x` on, at most `limit`.
int RunLength(const uint8_t* row, int x, int width, int limit) {
  int n = 1;
  while (x + n < width && n < limit && row[x + n] == row[x]) ++n;
  return n;
}

// RLE4: runs of three or more equal pixels become (count, colour colour);
// everything between them goes out in absolute mode (0, count, packed
// pixels, padded to a 16-bit boundary), or as encoded pairs when it is
// shorter than the three pixels absolute mode needs. Rows are written bottom
// row first, each closed by an end-of-line; an end-of-bitmap closes the data.
Bytes EncodeRle4(const uint8_t* pixels, int width, int height) {
  Bytes out;
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* row = pixels + y * width;
    int x = 0;
    while (x < width) {
      const int run = RunLength(row, x, width, 255);
      if (run >= 3) {
        out.push_back(static_cast<uint8_t>(run));
        out.push_back(static_cast<uint8_t>(row[x] << 4 | row[x]));
        x += run;
        continue;
      }
      // A literal stretch ends where the next run worth encoding begins.
      int end = x;
      while (end < width && end - x < 255 && RunLength(row, end, width, 4) < 4) ++end;
      const int count = end - x;
      if (count >= 3) {
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(count));
        for (int i = 0; i < count; i += 2) {
          const uint8_t low = i + 1 < count ? row[x + i + 1] : 0;
          out.push_back(static_cast<uint8_t>(row[x + i] << 4 | low));
        }
        if (((count + 1) / 2) % 2 != 0) out.push_back(0);
      } else {
        for (int i = 0; i < count; i += 2) {
          const int n = count - i >= 2 ? 2 : 1;
          const uint8_t second = n == 2 ? row[x + i + 1] : row[x + i];
          out.push_back(static_cast<uint8_t>(n));
          out.push_back(static_cast<uint8_t>(row[x + i] << 4 | second));
        }
      }
      x = end;
    }
    out.push_back(0);
    out.push_back(0);
  }
  out.push_back(0);
  out.push_back(1);
  return out;
}

Bytes PictureBitmap(const uint8_t* pixels) {
  const Bytes bits = EncodeRle4(pixels, kBuiltinWidth, kBuiltinHeight);
  Bytes info;
  PutInfoHeader(info, kBuiltinWidth, kBuiltinHeight, 4, kBiRle4, static_cast<uint32_t>(bits.size()),
                16);
  PutStandardPalette(info);
  return BitmapFile(info, bits);
}

// White (1) exactly where the picture shows its light grey background.
Bytes MaskBitmap(const uint8_t* pixels) {
  const int row_bytes = (kBuiltinWidth + 31) / 32 * 4;
  Bytes bits(size_t{static_cast<size_t>(row_bytes)} * kBuiltinHeight, 0);
  for (int y = 0; y < kBuiltinHeight; ++y) {
    uint8_t* out = &bits[static_cast<size_t>(kBuiltinHeight - 1 - y) * row_bytes];
    for (int x = 0; x < kBuiltinWidth; ++x) {
      if (pixels[y * kBuiltinWidth + x] == kColourLightGrey) out[x / 8] |= 0x80 >> (x % 8);
    }
  }
  Bytes info;
  PutInfoHeader(info, kBuiltinWidth, kBuiltinHeight, 1, kBiRgb, static_cast<uint32_t>(bits.size()),
                2);
  Put32(info, 0x00000000);  // black
  Put32(info, 0x00FFFFFF);  // white
  return BitmapFile(info, bits);
}

// An icon file holding one image: its header doubles the height for the
// colour bits followed by the transparency (AND) bits, both bottom-up.
Bytes IconFile(const uint8_t* pixels, const uint8_t* transparent) {
  const int colour_row = kIconSize / 2;
  const int and_row = (kIconSize + 31) / 32 * 4;
  Bytes image;
  PutInfoHeader(image, kIconSize, 2 * kIconSize, 4, kBiRgb,
                static_cast<uint32_t>((colour_row + and_row) * kIconSize), 0);
  PutStandardPalette(image);
  for (int y = kIconSize - 1; y >= 0; --y) {
    for (int x = 0; x < kIconSize; x += 2) {
      const uint8_t* p = pixels + y * kIconSize + x;
      image.push_back(static_cast<uint8_t>(p[0] << 4 | p[1]));
    }
  }
  for (int y = kIconSize - 1; y >= 0; --y) {
    uint8_t row[and_row];
    std::memset(row, 0, sizeof row);
    for (int x = 0; x < kIconSize; ++x) {
      if (transparent[y * kIconSize + x]) row[x / 8] |= 0x80 >> (x % 8);
    }
    image.insert(image.end(), row, row + and_row);
  }

  Bytes out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // an icon, not a cursor
  Put16(out, 1);  // one image
  out.push_back(kIconSize);
  out.push_back(kIconSize);
  out.push_back(16);  // colours
  out.push_back(0);
  Put16(out, 1);  // planes
  Put16(out, 4);  // bits per pixel
  Put32(out, static_cast<uint32_t>(image.size()));
  Put32(out, 6 + 16);  // the image follows this one directory entry
  out.insert(out.end(), image.begin(), image.end());
  return out;
}

struct OutputFile {
  const char* name;
  Bytes content;
};

int ReadWholeFile(const std::string& path, Bytes* content) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  content->clear();
  uint8_t buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    content->insert(content->end(), buffer, buffer + got);
  }
  const int ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

int WriteWholeFile(const std::string& path, const Bytes& content) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return (std::fclose(file) == 0 && written) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (!check && argc != 2) {
    std::fprintf(stderr, "usage: vld_resgen [--check] DIRECTORY\n");
    return 2;
  }
  const std::string directory = argv[argc - 1];

  std::vector<uint8_t> picture(size_t{kBuiltinWidth} * kBuiltinHeight);
  DrawBuiltinPicture(picture.data());
  std::vector<uint8_t> icon(size_t{kIconSize} * kIconSize);
  std::vector<uint8_t> icon_transparent(icon.size());
  DrawViewerIcon(icon.data(), icon_transparent.data());

  const OutputFile outputs[] = {
      {"builtin.bmp", PictureBitmap(picture.data())},
      {"builtin_mask.bmp", MaskBitmap(picture.data())},
      {"velinde.ico", IconFile(icon.data(), icon_transparent.data())},
  };
  for (const OutputFile& output : outputs) {
    const std::string path = directory + "/" + output.name;
    if (check) {
      Bytes existing;
      if (!ReadWholeFile(path, &existing)) {
        std::fprintf(stderr, "vld_resgen: cannot read %s\n", path.c_str());
        return 1;
      }
      if (existing != output.content) {
        std::fprintf(stderr, "vld_resgen: %s differs from what the generator draws\n",
                     path.c_str());
        return 1;
      }
    } else if (!WriteWholeFile(path, output.content)) {
      std::fprintf(stderr, "vld_resgen: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
