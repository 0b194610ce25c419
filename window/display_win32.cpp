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
#include "app/viewer_state.h"
#include "vld/decode.h"
#include "app/viewer_rules.h"
#include "app/mask.h"

namespace {

constexpr int kColourTableEntries = 256;

// The viewer keeps the comment's first 127 bytes; the menu goes by its whole
// length, and once enabled it stays so.
void StoreComment(const uint8_t* data, const PictureHeader& header) {
  const size_t kept = header.comment_length < kCommentSize - 1 ? header.comment_length
                                                                : size_t{kCommentSize - 1};
  std::memset(g_viewer.comment, 0, sizeof g_viewer.comment);
  std::memcpy(g_viewer.comment, data + kCommentOffset, kept);
  if (CommentMenuEnabled(header.comment_length)) g_viewer.comment_item = kItemEnabled;
}

// A zero-filled header and colour table with room for 256 entries, of which
// only the four picture colours are ever referenced by the pixels.
BITMAPINFO* MakeBitmapInfo(const PictureHeader& header) {
  const size_t size = sizeof(BITMAPINFOHEADER) + kColourTableEntries * sizeof(RGBQUAD);
  BITMAPINFO* info = static_cast<BITMAPINFO*>(std::calloc(1, size));
  if (info == nullptr) return nullptr;
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  // The index buffer's rows are the stride long; the spare columns are never shown.
  info->bmiHeader.biWidth = static_cast<LONG>(header.stride);
  info->bmiHeader.biHeight = -static_cast<LONG>(header.height);
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 8;
  info->bmiHeader.biCompression = BI_RGB;
  for (int k = 0; k < 4; ++k) {
    const Rgb colour = GrbiToRgb(header.palette[k]);
    info->bmiColors[k].rgbRed = colour.r;
    info->bmiColors[k].rgbGreen = colour.g;
    info->bmiColors[k].rgbBlue = colour.b;
    info->bmiColors[k].rgbReserved = 0;
  }
  return info;
}

LOGPALETTE* MakePaletteDescription(const PictureHeader& header) {
  const size_t size = sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY);
  LOGPALETTE* description = static_cast<LOGPALETTE*>(LocalAlloc(LMEM_FIXED, size));
  if (description == nullptr) return nullptr;
  description->palVersion = 0x300;
  description->palNumEntries = 4;
  for (int k = 0; k < 4; ++k) {
    const Rgb colour = GrbiToRgb(header.palette[k]);
    description->palPalEntry[k].peRed = colour.r;
    description->palPalEntry[k].peGreen = colour.g;
    description->palPalEntry[k].peBlue = colour.b;
    description->palPalEntry[k].peFlags = 0;
  }
  return description;
}

}  // namespace

int DecodePicture(const uint8_t* data, size_t size) {
  DecodedPicture picture;
  const int status = DecodePictureFile(data, size, &picture);
  const PictureHeader& header = picture.header;
  const PictureRows& rows = picture.rows;
  if (status != VLD_OK) {
    // A file that ends right after its comment has no format byte to reject
    // it by; it is merely cut short and leaves nothing behind.
    if (status == VLD_ERROR_BAD_FORMAT && header.comment_found && header.format_byte >= 0) {
      StoreComment(data, header);
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
    BuildMaskBits(ImageRow(rows.index_buffer, header.stride, 0), header.stride, header.width, header.height, mask_bits);
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

  StoreComment(data, header);
  g_viewer.anchor_x = header.anchor_x;
  g_viewer.anchor_y = header.anchor_y;
  g_viewer.picture_width = header.width;
  g_viewer.picture_height = header.height;

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
      CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT,
                     ImageRow(rows.index_buffer, header.stride, 0), info, DIB_RGB_COLORS);
  g_viewer.mask_bitmap =
      CreateBitmap(static_cast<int>(MaskBitmapWidth(header.width)), header.height, 1, 1, mask_bits);
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
  if (size == INVALID_FILE_SIZE || size_high != 0 || size >= kMaxPictureFileBytes) {
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
