#include <windowsx.h>

#include <cstring>

#include "app/viewer_state.h"
#include "app/viewer_text.h"
#include "res/resource.h"
#include "window/window.h"

namespace {

constexpr int kMenuTextSize = 32;

int AppendTextItem(HMENU menu, UINT flags, UINT_PTR id, const char* text) {
  wchar_t wide[kMenuTextSize];
  if (ConvertCp932(text, static_cast<int>(std::strlen(text)), wide, kMenuTextSize)) {
    return AppendMenuW(menu, flags | MF_STRING, id, wide) ? 1 : 0;
  }
  return AppendMenuA(menu, flags | MF_STRING, id, text) ? 1 : 0;
}

void StopCloseTimer(HWND window) {
  if (g_viewer.timeout_ms != 0) KillTimer(window, IDT_CLOSE);
}

LRESULT OnCreate(HWND window) {
  if (g_viewer.recreating == 0 && g_viewer.timeout_ms != 0) {
    SetTimer(window, IDT_CLOSE, g_viewer.timeout_ms, nullptr);
  }
  return 0;
}

LRESULT OnDestroy(HWND window) {
  StopCloseTimer(window);
  PostQuitMessage(0);
  return 0;
}

// In see-through mode the wallpaper under the new place must be drawn anew.
LRESULT OnMove(HWND window, int* pass_on) {
  if (!ItemIsOn(g_viewer.seethrough_item)) {
    *pass_on = 1;
    return 0;
  }
  InvalidateRect(window, nullptr, TRUE);
  return 0;
}

LRESULT OnQueryNewPalette(HWND window) {
  if (g_viewer.palette == nullptr) return 0;
  HDC dc = GetDC(window);
  HPALETTE previous = SelectPalette(dc, g_viewer.palette, FALSE);
  RealizePalette(dc);
  InvalidateRect(window, nullptr, TRUE);
  UpdateWindow(window);
  if (previous != nullptr) SelectPalette(dc, previous, FALSE);
  ReleaseDC(window, dc);
  return 1;
}

LRESULT OnActivate(HWND window, WPARAM wparam, int* pass_on) {
  if (wparam == 0) {
    *pass_on = 1;
    return 0;
  }
  return OnQueryNewPalette(window);
}

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc != nullptr) {
    ComposePicture(dc);
    EndPaint(window, &paint);
  }
  return 0;
}

// See-through takes the desktop's own drawing of the wallpaper as background.
LRESULT OnEraseBkgnd(HWND window, WPARAM wparam, int* pass_on) {
  if (!ItemIsOn(g_viewer.seethrough_item)) {
    *pass_on = 1;
    return 0;
  }
  SendMessageA(window, WM_ICONERASEBKGND, wparam, 0);
  return -1;
}

// The whole window, frame included, is a drag handle.
LRESULT OnNcHitTest() {
  return HTCAPTION;
}

LRESULT OnNcRButtonDown(HWND window, LPARAM lparam, int* pass_on) {
  if (GetAsyncKeyState(VK_SHIFT) & 0x8000) {
    DestroyWindow(window);
    *pass_on = 1;
    return 0;
  }
  HMENU menu = BuildPopupMenu();
  if (menu == nullptr) return 0;
  // Once the menu has been opened, the window stays until the user closes it.
  StopCloseTimer(window);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), 0, window,
                 nullptr);
  DestroyMenu(menu);
  return 0;
}

LRESULT OnTimer(HWND window, int* pass_on) {
  DestroyWindow(window);
  *pass_on = 1;
  return 0;
}

void ShowComment(HWND window) {
  wchar_t text[kCommentSize];
  wchar_t caption[kMenuTextSize];
  int length = static_cast<int>(strnlen(g_viewer.comment, kCommentSize - 1));
  if (ConvertCp932(g_viewer.comment, length, text, kCommentSize) &&
      ConvertCp932(VLD_TITLE, static_cast<int>(std::strlen(VLD_TITLE)), caption, kMenuTextSize)) {
    MessageBoxW(window, text, caption, MB_OK);
    return;
  }
  // The comment may not be valid text; the ANSI call then shows what it can.
  char copy[kCommentSize];
  std::memcpy(copy, g_viewer.comment, length);
  copy[length] = '\0';
  MessageBoxA(window, copy, VLD_TITLE, MB_OK);
}

void SwitchTopmost(HWND window) {
  g_viewer.topmost_item ^= kItemChecked;
  RECT rect;
  GetWindowRect(window, &rect);
  SetWindowPos(window, ItemIsOn(g_viewer.topmost_item) ? HWND_TOPMOST : HWND_NOTOPMOST, rect.left,
               rect.top, rect.right - rect.left, rect.bottom - rect.top, SWP_SHOWWINDOW);
}

// The frame is a creation style, so the window is made anew at its outer corner.
void SwitchFrame(HWND window) {
  g_viewer.frameless_item ^= kItemChecked;
  g_viewer.recreating = 1;
  RECT rect;
  GetWindowRect(window, &rect);
  g_viewer.window_x = rect.left;
  g_viewer.window_y = rect.top;
  DestroyWindow(window);
}

LRESULT OnCommand(HWND window, WPARAM wparam, int* pass_on) {
  switch (LOWORD(wparam)) {
    case IDM_EXIT:
      DestroyWindow(window);
      break;
    case IDM_COMMENT:
      ShowComment(window);
      break;
    case IDM_SEETHROUGH:
      g_viewer.seethrough_item ^= kItemChecked;
      InvalidateRect(window, nullptr, TRUE);
      PostMessageA(window, WM_QUERYNEWPALETTE, 0, 0);
      break;
    case IDM_TOPMOST:
      SwitchTopmost(window);
      break;
    case IDM_FRAMELESS:
      SwitchFrame(window);
      break;
    default:
      break;
  }
  *pass_on = 1;
  return 0;
}

// The programs are per-monitor DPI aware, so on a screen of another scale
// Windows draws the frame at that scale and suggests a rectangle scaled to
// it. The picture is never scaled: the window takes the suggested corner and
// whatever outer size leaves its client area exactly the picture.
LRESULT OnDpiChanged(HWND window, LPARAM lparam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
  RECT outer, client;
  GetWindowRect(window, &outer);
  const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  // Recomputing the frame first makes its thickness at the new scale known.
  SetWindowPos(window, nullptr, suggested->left, suggested->top, outer.right - outer.left,
               outer.bottom - outer.top, flags | SWP_FRAMECHANGED);
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  SetWindowPos(window, nullptr, 0, 0,
               g_viewer.picture_width + (outer.right - outer.left) - client.right,
               g_viewer.picture_height + (outer.bottom - outer.top) - client.bottom,
               flags | SWP_NOMOVE);
  return 0;
}

LRESULT OnPaletteChanged(HWND window, WPARAM wparam, int* pass_on) {
  *pass_on = 1;
  if (g_viewer.palette == nullptr || reinterpret_cast<HWND>(wparam) == window) return 0;
  HDC dc = GetDC(window);
  HPALETTE previous = SelectPalette(dc, g_viewer.palette, FALSE);
  RealizePalette(dc);
  UpdateColors(dc);
  InvalidateRect(window, nullptr, TRUE);
  if (previous != nullptr) SelectPalette(dc, previous, FALSE);
  ReleaseDC(window, dc);
  return 0;
}

}  // namespace

int ConvertCp932(const char* text, int length, wchar_t* wide, int wide_size) {
  if (length < 0 || wide_size < 1) return 0;
  if (length == 0) {
    wide[0] = L'\0';
    return 1;
  }
  int count = MultiByteToWideChar(932, 0, text, length, wide, wide_size - 1);
  if (count <= 0) return 0;
  wide[count] = L'\0';
  return 1;
}

HMENU BuildPopupMenu() {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return nullptr;
  int ok = AppendTextItem(menu, g_viewer.comment_item, IDM_COMMENT, kTextComment);
  ok &= AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) ? 1 : 0;
  ok &= AppendTextItem(menu, g_viewer.seethrough_item, IDM_SEETHROUGH, kTextSeethrough);
  ok &= AppendTextItem(menu, g_viewer.topmost_item, IDM_TOPMOST, kTextTopmost);
  ok &= AppendTextItem(menu, g_viewer.frameless_item, IDM_FRAMELESS, kTextFrameless);
  ok &= AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) ? 1 : 0;
  ok &= AppendTextItem(menu, MF_ENABLED, IDM_EXIT, kTextExit);
  // A menu short of an item would offer the wrong commands at its places.
  if (!ok) {
    DestroyMenu(menu);
    return nullptr;
  }
  return menu;
}

LRESULT HandleViewerMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, int* pass_on) {
  *pass_on = 0;
  switch (message) {
    case WM_CREATE:
      return OnCreate(window);
    case WM_DESTROY:
      return OnDestroy(window);
    case WM_MOVE:
      return OnMove(window, pass_on);
    case WM_ACTIVATE:
      return OnActivate(window, wparam, pass_on);
    case WM_QUERYNEWPALETTE:
      return OnQueryNewPalette(window);
    case WM_PAINT:
      return OnPaint(window);
    case WM_ERASEBKGND:
      return OnEraseBkgnd(window, wparam, pass_on);
    case WM_NCHITTEST:
      return OnNcHitTest();
    case WM_NCRBUTTONDOWN:
      return OnNcRButtonDown(window, lparam, pass_on);
    case WM_TIMER:
      return OnTimer(window, pass_on);
    case WM_COMMAND:
      return OnCommand(window, wparam, pass_on);
    case WM_PALETTECHANGED:
      return OnPaletteChanged(window, wparam, pass_on);
    case WM_DPICHANGED:
      return OnDpiChanged(window, lparam);
    default:
      *pass_on = 1;
      return 0;
  }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  int pass_on = 0;
  LRESULT result = HandleViewerMessage(window, message, wparam, lparam, &pass_on);
  if (pass_on) return DefWindowProcA(window, message, wparam, lparam);
  return result;
}
