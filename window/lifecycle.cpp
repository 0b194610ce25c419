#include "app/options.h"
#include "app/viewer_state.h"
#include "window/display.h"
#include "res/resource.h"
#include "app/picture_file.h"
#include "app/placement.h"
#include "window/window.h"

namespace {

// Runs the window's messages until its destruction posts the quit message.
// Returns the quit code.
int RunMessageLoop() {
  MSG message = {};
  // GetMessageA answers -1 on an error; looping on it would never end.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int RegisterViewerClass(HINSTANCE instance) {
  WNDCLASSA window_class = {};
  window_class.style = 0;
  window_class.lpfnWndProc = MainWndProc;
  window_class.cbClsExtra = 0;
  window_class.cbWndExtra = 0;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VIEWER));
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = VLD_CLASS_NAME;
  return RegisterClassA(&window_class) != 0 ? 1 : 0;
}

void TakeBuiltinPicture() {
  g_viewer.picture_bitmap = LoadBitmapA(g_viewer.instance, MAKEINTRESOURCEA(IDB_BUILTIN_PICTURE));
  g_viewer.mask_bitmap = LoadBitmapA(g_viewer.instance, MAKEINTRESOURCEA(IDB_BUILTIN_MASK));
  TakeBuiltinRecord();
}

int CreateViewerWindow(int frame_x, int frame_y) {
  int framed = !ItemIsOn(g_viewer.frameless_item);
  // The client area is exactly the picture, with or without the frame.
  int width = g_viewer.picture_width + (framed ? 2 * frame_x : 0);
  int height = g_viewer.picture_height + (framed ? 2 * frame_y : 0);
  DWORD style = WS_POPUP | (framed ? WS_DLGFRAME : 0);
  DWORD ex_style = WS_EX_TOOLWINDOW | (ItemIsOn(g_viewer.topmost_item) ? WS_EX_TOPMOST : 0);
  g_viewer.main_window = CreateWindowExA(ex_style, VLD_CLASS_NAME, VLD_TITLE, style,
                                         g_viewer.window_x, g_viewer.window_y, width, height,
                                         nullptr, nullptr, g_viewer.instance, nullptr);
  if (g_viewer.main_window == nullptr) return 0;
  g_viewer.recreating = 0;
  return 1;
}

int ViewerShowCommand() {
  if (g_viewer.activate_mode == 1 || (g_viewer.activate_mode == 0 && g_viewer.palette != nullptr)) {
    return SW_SHOWNORMAL;
  }
  return SW_SHOWNA;
}

int RunViewer(HINSTANCE instance, HINSTANCE previous, const char* command_line) {
  g_viewer.instance = instance;
  if (previous == nullptr && !RegisterViewerClass(instance)) return 0;
  ApplyOptions(ParseOptions(command_line));
  if (!LoadPictureFile(command_line)) TakeBuiltinPicture();
  GreySeethroughIfDenied();

  int screen_width = GetSystemMetrics(SM_CXSCREEN);
  int screen_height = GetSystemMetrics(SM_CYSCREEN);
  int frame_x = GetSystemMetrics(SM_CXDLGFRAME);
  int frame_y = GetSystemMetrics(SM_CYDLGFRAME);
  PlaceWindow(screen_width, screen_height);

  // Nothing has been shown if the very first window cannot be made.
  int exit_code = 1;
  while (CreateViewerWindow(frame_x, frame_y)) {
    ShowWindow(g_viewer.main_window, ViewerShowCommand());
    UpdateWindow(g_viewer.main_window);
    exit_code = RunMessageLoop();
    if (g_viewer.recreating != 1) break;
  }

  DeleteObject(g_viewer.picture_bitmap);
  DeleteObject(g_viewer.mask_bitmap);
  if (g_viewer.palette != nullptr) DeleteObject(g_viewer.palette);
  return exit_code;
}
