// PNG reading and writing for vldtool (built only where libpng is present).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PngPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  int indexed = 0;                    // a palette PNG: `indices` and `palette_rgba` are set
  std::vector<uint8_t> indices;       // width * height, for palette PNGs
  std::vector<uint8_t> palette_rgba;  // 4 bytes per palette entry (alpha from tRNS)
  std::vector<uint8_t> rgba;          // width * height * 4, always set
};

// Decodes a PNG held in memory. Refuses more than 2^30 pixels before the
// pixels are read; the caller checks the sides against what it can store.
int ReadPng(const std::vector<uint8_t>& bytes, PngPicture* picture, std::string* error);

// Encodes an 8-bit palette PNG with four entries from rows of indices that
// lie `stride` bytes apart. With `transparent_zero`, index 0 is see-through.
int WriteIndexedPng(uint32_t width, uint32_t height, const uint8_t* rows, size_t stride,
                    const uint8_t palette_rgb[4][3], int transparent_zero,
                    std::vector<uint8_t>* out, std::string* error);
