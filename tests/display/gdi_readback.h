// Reading display objects back from the GDI for the tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <vector>

// Colours compare as 0xRRGGBB, the way a 32-bit DIB row holds them.
inline uint32_t Rgb32(uint32_t r, uint32_t g, uint32_t b) {
  return r << 16 | g << 8 | b;
}

struct Size {
  Size(long w, long h) : width(w), height(h) {}
  long width, height;
  bool operator==(const Size& other) const {
    return width == other.width && height == other.height;
  }
};

inline std::ostream& operator<<(std::ostream& out, const Size& size) {
  return out << size.width << " x " << size.height;
}

inline Size BitmapSize(HBITMAP bitmap) {
  BITMAP info = {};
  if (GetObjectA(bitmap, sizeof info, &info) != sizeof info) return {-1, -1};
  return {info.bmWidth, info.bmHeight};
}

// The bitmap's pixels as 0xRRGGBB, rows top-down; empty on failure. With a
// palette, it is selected and realized first, as the window does to paint.
inline std::vector<uint32_t> ReadPixels(HBITMAP bitmap, uint32_t width, uint32_t height,
                                        HPALETTE palette) {
  HDC screen = GetDC(nullptr);
  HPALETTE replaced = nullptr;
  if (palette != nullptr) {
    replaced = SelectPalette(screen, palette, FALSE);
    RealizePalette(screen);
  }
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(size_t(width) * height);
  const int lines = GetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  if (replaced != nullptr) SelectPalette(screen, replaced, FALSE);
  ReleaseDC(nullptr, screen);
  if (lines != static_cast<int>(height)) return {};
  for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

// The raw bits of a monochrome bitmap, as handed to CreateBitmap.
inline std::vector<uint8_t> ReadMonochromeBits(HBITMAP bitmap, uint32_t height) {
  BITMAP info = {};
  if (GetObjectA(bitmap, sizeof info, &info) != sizeof info) return {};
  std::vector<uint8_t> bits(size_t(info.bmWidthBytes) * height);
  if (GetBitmapBits(bitmap, static_cast<LONG>(bits.size()), bits.data()) !=
      static_cast<LONG>(bits.size())) {
    return {};
  }
  return bits;
}
