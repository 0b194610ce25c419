// Reading the values vldtool's options take.
#pragma once

#include <cstdint>

#include "vld/reduce.h"

// "none", "floyd-steinberg" or "ordered".
int ParseDither(const char* text, Dither* dither);

// Parses four comma-separated colours, each a GRBI word (decimal or 0x hex)
// or #rrggbb (rounded to the nearest word).
int ParsePaletteList(const char* text, uint16_t words[4]);
