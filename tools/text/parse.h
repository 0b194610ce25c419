// Reading the values vldtool's options and its PNG text take. Every number
// is decimal or 0x hex, never octal, so "010" is ten wherever it is given.
#pragma once

#include <cstdint>

#include "vld.h"

// A whole number at most `max`, starting at `text`; *end is set past it.
// Returns 0 when there is none (a sign or a space is not one) or it is too big.
int ParseNumber(const char* text, uint64_t max, const char** end, uint64_t* value);

// The whole of `text` as one number at most `max`.
int ParseWholeNumber(const char* text, uint64_t max, uint64_t* value);

// The whole of `text` as exactly `count` comma-separated numbers, each at
// most 65535.
int ParseWordList(const char* text, int count, uint16_t* words);

// "none", "floyd-steinberg" or "ordered".
int ParseDither(const char* text, int* dither);  // VLD_DITHER_*

// Parses four comma-separated colours, each a GRBI word (a number, as above)
// or #rrggbb (rounded to the nearest word).
int ParsePaletteList(const char* text, uint16_t words[4]);
