// Choosing a picture file's four colours for an image, and mapping the
// image to them.
#pragma once

// Private to the library and its own tests, and never installed: every other
// program reads and writes pictures through vld.h (and vld.hpp), as any
// outside program would, so nothing of ours comes to lean on the core.
#ifndef VLD_INTERNAL
#error "vld/reduce.h is private to the library: include vld.h"
#endif

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vld/vld.h"

// A palette image: `indexed` 1, `indices` and `palette_rgba` set.
struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  int indexed = 0;                    // a palette image: `indices` and `palette_rgba` are set
  std::vector<uint8_t> indices;       // width * height, for palette images
  std::vector<uint8_t> palette_rgba;  // 4 bytes per palette entry (alpha from tRNS, else 255)
};

// A source of RGBA rows: `read` fills `rgba` with row y, 4 bytes a pixel.
struct RgbaRows {
  const void* user;
  void (*read)(const void* user, uint32_t y, uint8_t* rgba);
};

// 8-bit channels to the nearest GRBI word (intensity bit 0).
uint16_t RgbToGrbi(uint8_t r, uint8_t g, uint8_t b);

// Reduces width * height RGBA pixels to four colours, or maps them to the
// given ones, writing width * height indices. Row y's indices are written
// only after row y has been read, so `indices` may overlay the pixels'
// own memory. Transparent pixels (alpha below 128) take index 0 with word
// 0x0000, so see-through shows the desktop there; the opaque pixels then
// share indices 1-3, and a black among them is 0x0001. The most used colour
// comes first. Each pixel is mapped from its full 8-bit value; the result
// depends only on the pixels.
void ReduceRgba(const RgbaRows& rows, uint32_t width, uint32_t height,
                const vld_reduce_options& options, uint8_t* indices, uint16_t palette[4]);

// A palette image whose pixels all use indices 0-3 keeps them, and its
// colours, when only index 0 is see-through (it becomes word 0x0000).
// `known_words`, when given, are the words the image was decoded from: each
// is taken as it is where it still has its entry's colour, so the intensity
// bits survive. Returns 0 (touching nothing) when the indices cannot be kept.
int KeepPaletteIndices(const Image& image, const uint16_t* known_words, uint16_t palette[4]);
