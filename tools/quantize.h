// Choosing a picture file's four colours for an image.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/image_io.h"

// 8-bit channels to the nearest GRBI word (intensity bit 0).
uint16_t RgbToGrbi(uint8_t r, uint8_t g, uint8_t b);

// Reduces an RGBA picture to indices and palette words. Transparent pixels
// (alpha below 128) take index 0 with word 0 = 0; the rest share the other
// indices, the most frequent colour first.
void ReduceColours(const Image& image, std::vector<uint8_t>* indices, uint16_t palette[4]);

// A palette image keeps its indices when every pixel uses 0-3 and no entry
// but index 0 is transparent. Returns 0 when it cannot.
int KeepPaletteIndices(const Image& image, std::vector<uint8_t>* indices, uint16_t palette[4]);
