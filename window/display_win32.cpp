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

#include "app/choose.h"
#include "app/viewer_rules.h"
#include "app/mask.h"
#include "app/viewer_state.h"
#include "vld.h"
#include "vld.hpp"

namespace {

constexpr int kColourTableEntries = 256;

// The viewer keeps the comment's first 127 bytes; the menu goes by its whole
// length, and once enabled it stays so. Its bytes follow the four-byte magic.
void StoreComment(const uint8_t* data, size_t comment_size) {
  const size_t kept = comment_size < kCommentSize - 1 ? comment_size : size_t{kCommentSize - 1};
  std::memset(g_viewer.comment, 0, sizeof g_viewer.comment);
  std::memcpy(g_viewer.comment, data + 4, kept);
  if (CommentMenuEnabled(comment_size)) g_viewer.comment_item = kItemEnabled;
}

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
    // A file that ends right after its comment has no format byte to reject
    // it by; it is merely cut short and leaves nothing behind.
    if (status == VLD_ERROR_BAD_FORMAT && details.comment_size >= 0 && details.format_byte >= 0) {
      StoreComment(data, static_cast<size_t>(details.comment_size));
    }
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

  StoreComment(data, header.comment_size);
  g_viewer.anchor_x = static_cast<int32_t>(header.anchor_x);
  g_viewer.anchor_y = static_cast<int32_t>(header.anchor_y);
  g_viewer.picture_width = static_cast<int32_t>(header.width);
  g_viewer.picture_height = static_cast<int32_t>(header.height);

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

  g_viewer.seethrough_denied = SeethroughDenied(header.palette[0]);
  return 1;
}

int LoadPictureFile(const char* command_line) {
  char name[kPathSize];
  if (!ChoosePicture(command_line, name)) return 0;

  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = TRUE;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, &security, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;

  // The high part is asked for only to refuse files of 4 GiB and more, whose
  // low part alone would pass for a small size.
  DWORD size_high = 0;
  const DWORD size = GetFileSize(file, &size_high);
  if (size == INVALID_FILE_SIZE || size_high != 0 || size >= VLD_MAX_FILE_BYTES) {
    CloseHandle(file);
    return 0;
  }

  uint8_t* content = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (content == nullptr) {
    CloseHandle(file);
    return 0;
  }
  // A short count means the file changed under us; decoding a part of it
  // would show a picture that is not the one on disk.
  DWORD read = 0;
  const BOOL read_ok = ReadFile(file, content, size, &read, nullptr);
  CloseHandle(file);
  if (!read_ok || read != size) {
    std::free(content);
    return 0;
  }

  const int result = DecodePicture(content, size);
  std::free(content);
  return result;
}
