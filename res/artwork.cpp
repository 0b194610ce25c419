// The viewer's face when no picture is found: a framed little landscape and
// the viewer's name on the light grey of a dialog face. Integer arithmetic
// only, so every compiler draws exactly the same pixels.
#include "res/artwork.h"

#include <cstdlib>
#include <cstring>

const uint8_t kStandardPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

namespace {

constexpr uint8_t kMaroon = 1;
constexpr uint8_t kGreen = 2;
constexpr uint8_t kNavy = 4;
constexpr uint8_t kTeal = 6;
constexpr uint8_t kGrey = 8;
constexpr uint8_t kRed = 9;
constexpr uint8_t kLime = 10;
constexpr uint8_t kYellow = 11;
constexpr uint8_t kBlue = 12;
constexpr uint8_t kAqua = 14;

struct Canvas {
  uint8_t* pixels;
  int width;
  int height;
};

void Plot(const Canvas& canvas, int x, int y, uint8_t colour) {
  if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return;
  canvas.pixels[y * canvas.width + x] = colour;
}

void FillRect(const Canvas& canvas, int x, int y, int w, int h, uint8_t colour) {
  for (int row = y; row < y + h; ++row) {
    for (int col = x; col < x + w; ++col) Plot(canvas, col, row, colour);
  }
}

// A square landscape: sky, a cloud, the sun, two peaks and two hills. Each
// pixel's centre is mapped to 0..1023 in both directions, so the same scene
// draws at any size.
uint8_t SceneColour(int px, int py, int size) {
  const int u = (2 * px + 1) * 512 / size;
  const int v = (2 * py + 1) * 512 / size;
  const int front_hill = 740 + (u - 850) * (u - 850) / 1800;
  if (v > front_hill) return v < front_hill + 1024 / size + 8 ? kGreen : kLime;
  const int back_hill = 650 + (u - 280) * (u - 280) / 2400;
  if (v > back_hill) return kGreen;
  const int near_peak = 250 + std::abs(u - 400) * 5 / 4;
  if (v > near_peak) return v < 370 ? kColourWhite : kGrey;
  if (v > 380 + std::abs(u - 700)) return kTeal;
  const int sun_u = u - 790, sun_v = v - 190;
  if (sun_u * sun_u + sun_v * sun_v < 100 * 100) return kYellow;
  struct Puff {
    int u, v, r;
  };
  const Puff cloud[] = {{150, 240, 60}, {220, 200, 80}, {300, 235, 55}};
  for (const Puff& puff : cloud) {
    const int du = u - puff.u, dv = v - puff.v;
    if (v < 270 && du * du + dv * dv < puff.r * puff.r) return kColourWhite;
  }
  if (v < 300) return kBlue;
  // A dithered haze towards the horizon; too busy at icon size.
  if (v < 420 && size >= 48) return ((px + py) & 1) ? kBlue : kAqua;
  return v < 380 ? kBlue : kAqua;
}

// The emblem: the scene behind a white mat and a black outline, with a soft
// grey shadow below and to the right.
void DrawEmblem(const Canvas& canvas, int x, int y, int size, int mat, int shadow) {
  FillRect(canvas, x + shadow, y + shadow, size, size, kGrey);
  FillRect(canvas, x, y, size, size, kColourBlack);
  FillRect(canvas, x + 1, y + 1, size - 2, size - 2, kColourWhite);
  const int inner = size - 2 - 2 * mat;
  const int left = x + 1 + mat, top = y + 1 + mat;
  for (int py = 0; py < inner; ++py) {
    for (int px = 0; px < inner; ++px)
      Plot(canvas, left + px, top + py, SceneColour(px, py, inner));
  }
}

// A 5 x 7 pixel font for the letters of the viewer's name; each row is five
// bits, leftmost pixel in the highest bit.
struct Glyph {
  char letter;
  uint8_t rows[7];
};

const Glyph kFont[] = {
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'d', {0x01, 0x01, 0x0F, 0x11, 0x11, 0x11, 0x0F}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'f', {0x06, 0x08, 0x1E, 0x08, 0x08, 0x08, 0x08}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'n', {0x00, 0x00, 0x1E, 0x11, 0x11, 0x11, 0x11}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
};

const Glyph* FindGlyph(char letter) {
  for (const Glyph& glyph : kFont) {
    if (glyph.letter == letter) return &glyph;
  }
  return nullptr;  // a blank
}

constexpr int kGlyphAdvance = 6;  // five columns and one of space

void DrawLetters(const Canvas& canvas, int x, int y, int scale, const char* text, uint8_t colour) {
  for (int i = 0; text[i] != '\0'; ++i) {
    const Glyph* glyph = FindGlyph(text[i]);
    if (glyph == nullptr) continue;
    const int left = x + i * kGlyphAdvance * scale;
    for (int row = 0; row < 7; ++row) {
      for (int col = 0; col < 5; ++col) {
        if (glyph->rows[row] & (0x10 >> col)) {
          FillRect(canvas, left + col * scale, y + row * scale, scale, scale, colour);
        }
      }
    }
  }
}

int TextWidth(const char* text, int scale) {
  return (static_cast<int>(std::strlen(text)) * kGlyphAdvance - 1) * scale;
}

// Bold lettering (each stroke doubled one pixel to the right) over a grey
// shadow; one pixel wider than TextWidth says.
void DrawBoldText(const Canvas& canvas, int x, int y, int scale, const char* text, uint8_t colour) {
  DrawLetters(canvas, x + 1, y + 2, scale, text, kGrey);
  DrawLetters(canvas, x + 2, y + 2, scale, text, kGrey);
  DrawLetters(canvas, x, y, scale, text, colour);
  DrawLetters(canvas, x + 1, y, scale, text, colour);
}

}  // namespace

void DrawBuiltinPicture(uint8_t* pixels) {
  const Canvas canvas = {pixels, kBuiltinWidth, kBuiltinHeight};
  std::memset(pixels, kColourLightGrey, size_t{kBuiltinWidth} * kBuiltinHeight);

  // A raised dialog face: light edge top and left, dark edge bottom and right.
  FillRect(canvas, 0, 0, kBuiltinWidth, 1, kColourWhite);
  FillRect(canvas, 0, 0, 1, kBuiltinHeight, kColourWhite);
  FillRect(canvas, 0, kBuiltinHeight - 1, kBuiltinWidth, 1, kColourBlack);
  FillRect(canvas, kBuiltinWidth - 1, 0, 1, kBuiltinHeight, kColourBlack);
  FillRect(canvas, 1, kBuiltinHeight - 2, kBuiltinWidth - 2, 1, kGrey);
  FillRect(canvas, kBuiltinWidth - 2, 1, 1, kBuiltinHeight - 2, kGrey);

  const int emblem = 62;
  const int gap = 16;
  const char* title = "Velinde";
  const char* subtitle = "for Win";
  const int text_width = TextWidth(title, 2);
  const int left = (kBuiltinWidth - (emblem + gap + text_width)) / 2;
  const int top = (kBuiltinHeight - emblem) / 2 - 1;
  DrawEmblem(canvas, left, top, emblem, 3, 3);

  const int text_left = left + emblem + gap;
  DrawBoldText(canvas, text_left, top + 4, 2, title, kNavy);
  DrawBoldText(canvas, text_left + text_width - TextWidth(subtitle, 2), top + 26, 2, subtitle,
               kMaroon);

  // Four swatches: the pictures this viewer shows have four colours.
  const uint8_t swatches[4] = {kRed, kYellow, kLime, kBlue};
  const int swatch_width = (text_width - 3 * 3) / 4;
  for (int k = 0; k < 4; ++k) {
    const int x = text_left + k * (swatch_width + 3);
    FillRect(canvas, x, top + 50, swatch_width, 8, kColourBlack);
    FillRect(canvas, x + 1, top + 51, swatch_width - 2, 6, swatches[k]);
  }
}

void DrawViewerIcon(uint8_t* pixels, uint8_t* transparent) {
  const Canvas canvas = {pixels, kIconSize, kIconSize};
  std::memset(pixels, kColourBlack, size_t{kIconSize} * kIconSize);
  DrawEmblem(canvas, 1, 1, 29, 1, 2);
  // Everything outside the emblem and its shadow is left see-through; the
  // shadow's corners stay open as a real shadow's would.
  for (int y = 0; y < kIconSize; ++y) {
    for (int x = 0; x < kIconSize; ++x) {
      const bool in_emblem = x >= 1 && y >= 1 && x < 30 && y < 30;
      const bool in_shadow = x >= 3 && y >= 3 && x < 32 && y < 32;
      transparent[y * kIconSize + x] = (in_emblem || in_shadow) ? 0 : 1;
    }
  }
}
