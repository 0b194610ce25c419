// The built-in picture and the icon, drawn in colour indices of the standard
// 16-colour palette. Shared by the resource generator and the tests that
// check what Windows makes of the generated files.
#pragma once

#include <cstdint>

constexpr int kBuiltinWidth = 204;
constexpr int kBuiltinHeight = 124;
constexpr int kIconSize = 32;

constexpr uint8_t kColourBlack = 0;
constexpr uint8_t kColourLightGrey = 7;  // the built-in picture's background
constexpr uint8_t kColourWhite = 15;

// Red, green, blue of the sixteen colours, in the order of the standard
// 16-colour palette (and of the generated files' colour tables).
extern const uint8_t kStandardPalette[16][3];

// 204 x 124 colour indices, rows top-down.
void DrawBuiltinPicture(uint8_t* pixels);

// 32 x 32 colour indices and, for each pixel, 1 where the icon is transparent
// (its colour index is then black). Rows top-down.
void DrawViewerIcon(uint8_t* pixels, uint8_t* transparent);
