// Reading the chosen picture file and turning it into the display objects:
// the picture bitmap, its background mask and, on palette screens, a logical
// palette of the four picture colours.
//
// Nothing in g_viewer is touched until every check and every allocation has
// succeeded, so a failed load leaves the record as it was and the built-in
// picture takes over cleanly. The one exception is a file rejected at its
// format byte: its comment was read and stays offered in the menu.
#include "window/display.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "app/mask.h"
#include "app/picture_file.h"
#include "app/viewer_state.h"
#include "vld.h"
#include "vld.hpp"

namespace {

constexpr int kColourTableEntries = 256;

// The decoded rows laid out as an 8-bit DIB wants them, each padded to whole
// 32-bit units; the mask is built from the same memory. Decoding row by row
// into it keeps a single copy of the picture in memory.
struct DibRows {
  const vld_picture* header = nullptr;
  size_t stride = 0;
  uint8_t* bits = nullptr;  // height * stride bytes, std::calloc'd
  ~DibRows() { std::free(bits); }
};

int TakeRow(void* user, uint32_t y, const uint8_t* indices) {
  DibRows* rows = static_cast<DibRows*>(user);
  if (rows->bits == nullptr) {
    // The header is complete before the first row arrives.
    rows->stride = (size_t{rows->header->width} + 3) & ~size_t{3};
    rows->bits = static_cast<uint8_t*>(std::calloc(rows->header->height, rows->stride));
    if (rows->bits == nullptr) return 1;
  }
  std::memcpy(rows->bits + size_t{y} * rows->stride, indices, rows->header->width);
  return 0;
}

// A zero-filled header and colour table with room for 256 entries, of which
// only the four picture colours are ever referenced by the pixels.
BITMAPINFO* MakeBitmapInfo(const vld_picture& header) {
  const size_t size = sizeof(BITMAPINFOHEADER) + kColourTableEntries * sizeof(RGBQUAD);
  BITMAPINFO* info = static_cast<BITMAPINFO*>(std::calloc(1, size));
  if (info == nullptr) return nullptr;
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = static_cast<LONG>(header.width);
  info->bmiHeader.biHeight = -static_cast<LONG>(header.height);
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 8;
  info->bmiHeader.biCompression = BI_RGB;
  for (int k = 0; k < 4; ++k) {
    uint8_t rgb[3];
    vld_rgb(header.palette[k], rgb);
    info->bmiColors[k].rgbRed = rgb[0];
    info->bmiColors[k].rgbGreen = rgb[1];
    info->bmiColors[k].rgbBlue = rgb[2];
    info->bmiColors[k].rgbReserved = 0;
  }
  return info;
}

LOGPALETTE* MakePaletteDescription(const vld_picture& header) {
  const size_t size = sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY);
  LOGPALETTE* description = static_cast<LOGPALETTE*>(LocalAlloc(LMEM_FIXED, size));
  if (description == nullptr) return nullptr;
  description->palVersion = 0x300;
  description->palNumEntries = 4;
  for (int k = 0; k < 4; ++k) {
    uint8_t rgb[3];
    vld_rgb(header.palette[k], rgb);
    description->palPalEntry[k].peRed = rgb[0];
    description->palPalEntry[k].peGreen = rgb[1];
    description->palPalEntry[k].peBlue = rgb[2];
    description->palPalEntry[k].peFlags = 0;
  }
  return description;
}

}  // namespace

int DecodePicture(const uint8_t* data, size_t size) {
  vld_picture header;
  DibRows rows;
  rows.header = &header;
  vld_details details = vld::Details();
  const int status = vld_decode_rows(data, size, &header, TakeRow, &rows, &details);
  if (status != VLD_OK) {
    KeepRefusedComment(data, status, details);
    return 0;
  }

  const size_t mask_size = size_t{MaskRowBytes(header.width)} * header.height;
  uint8_t* mask_bits = static_cast<uint8_t*>(std::malloc(mask_size));
  BITMAPINFO* info = MakeBitmapInfo(header);
  HDC screen = nullptr;
  LOGPALETTE* palette_description = nullptr;
  int palette_screen = 0;
  if (mask_bits != nullptr && info != nullptr) {
    BuildMaskBits(rows.bits, static_cast<uint32_t>(rows.stride), header.width, header.height,
                  mask_bits);
    // main_window does not exist yet, so this is the screen's context.
    screen = GetDC(g_viewer.main_window);
  }
  if (screen != nullptr) {
    palette_screen = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    if (palette_screen) palette_description = MakePaletteDescription(header);
  }
  if (screen == nullptr || (palette_screen && palette_description == nullptr)) {
    if (screen != nullptr) ReleaseDC(g_viewer.main_window, screen);
    std::free(info);
    std::free(mask_bits);
    return 0;
  }

  TakePictureRecord(header, data);

  HPALETTE replaced = nullptr;
  if (palette_screen) {
    g_viewer.palette = CreatePalette(palette_description);
    if (g_viewer.palette != nullptr) {
      // In force while the bitmap is made, so its colours are matched to it.
      replaced = SelectPalette(screen, g_viewer.palette, FALSE);
      RealizePalette(screen);
    }
  }
  g_viewer.picture_bitmap =
      CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, rows.bits, info, DIB_RGB_COLORS);
  g_viewer.mask_bitmap =
      CreateBitmap(static_cast<int>(MaskBitmapWidth(header.width)),
                   static_cast<int>(header.height), 1, 1, mask_bits);
  if (replaced != nullptr) SelectPalette(screen, replaced, FALSE);
  ReleaseDC(g_viewer.main_window, screen);

  std::free(info);
  std::free(mask_bits);
  if (palette_description != nullptr) LocalFree(palette_description);
  return 1;
}

int LoadPictureFile(const char* command_line) {
  uint8_t* data = nullptr;
  size_t size = 0;
  if (!ReadChosenPicture(command_line, &data, &size)) return 0;
  const int result = DecodePicture(data, size);
  std::free(data);
  return result;
}
