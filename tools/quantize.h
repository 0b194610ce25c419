// Choosing a picture file's four colours for an image, and mapping the
// image to them.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/image_io.h"

enum Dither { kDitherNone, kDitherFloydSteinberg, kDitherOrdered };

struct ColourOptions {
  Dither dither = kDitherNone;
  int palette_given = 0;  // map to `palette` rather than choose colours
  uint16_t palette[4] = {0, 0, 0, 0};
};

// 8-bit channels to the nearest GRBI word (intensity bit 0).
uint16_t RgbToGrbi(uint8_t r, uint8_t g, uint8_t b);

// "none", "floyd-steinberg" or "ordered".
int ParseDither(const char* text, Dither* dither);

// Parses four comma-separated colours, each a GRBI word (decimal or 0x hex)
// or #rrggbb (rounded to the nearest word).
int ParsePaletteList(const char* text, uint16_t words[4]);

// Reduces the image to four colours, or maps it to the given ones, leaving
// width * height indices in image->indices; the pixels it came with are
// given up to save memory. Transparent pixels (alpha below 128) take index
// 0 with word 0x0000, so see-through shows the desktop there; the opaque
// pixels then share indices 1-3, and a black among them is 0x0001. The most
// used colour comes first. The result depends only on the image.
void ReduceColours(Image* image, const ColourOptions& options, uint16_t palette[4]);

// A palette image whose pixels all use indices 0-3 keeps them, and its
// colours, when only index 0 is see-through (it becomes word 0x0000).
// `known_words`, when given, are the words the image was decoded from: each
// is taken as it is where it still has its entry's colour, so the intensity
// bits survive. Returns 0 (touching nothing) when the indices cannot be kept.
int KeepPaletteIndices(const Image& image, const uint16_t* known_words, uint16_t palette[4]);
