#include "app/viewer_state.h"
#include "window/window.h"

// The whole picture is drawn on every paint: one or two block transfers from
// bitmaps made once at start-up, never any pixel work here.
void ComposePicture(HDC dc) {
  HDC memory = CreateCompatibleDC(dc);
  if (memory == nullptr) return;
  int width = g_viewer.picture_width;
  int height = g_viewer.picture_height;
  int seethrough = ItemIsOn(g_viewer.seethrough_item);
  if (seethrough) {
    // Black mask pixels clear what lies below; white ones keep it, so the
    // picture ORed next shows that background wherever the picture is black.
    HGDIOBJ previous = SelectObject(memory, g_viewer.mask_bitmap);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCAND);
    SelectObject(memory, previous);
  }
  HPALETTE previous_palette = nullptr;
  if (g_viewer.palette != nullptr) {
    previous_palette = SelectPalette(dc, g_viewer.palette, TRUE);
    RealizePalette(dc);
  }
  HGDIOBJ previous = SelectObject(memory, g_viewer.picture_bitmap);
  BitBlt(dc, 0, 0, width, height, memory, 0, 0, seethrough ? SRCPAINT : SRCCOPY);
  if (previous_palette != nullptr) SelectPalette(dc, previous_palette, FALSE);
  SelectObject(memory, previous);
  DeleteDC(memory);
}
