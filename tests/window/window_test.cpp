// The viewer's window, created in this process: what its procedure does with
// each message, the timer, the menu, the commands and the painting.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/viewer_state.h"
#include "res/resource.h"
#include "window/window.h"

namespace {

constexpr int kPictureWidth = 12;
constexpr int kPictureHeight = 6;

struct Seen {
  HWND window;
  UINT message;
  WPARAM wparam;
};
std::vector<Seen> g_seen;

LRESULT CALLBACK RecordSent(int code, WPARAM wparam, LPARAM lparam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION) g_seen.push_back({sent->hwnd, sent->message, sent->wParam});
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Dispatches whatever arrives for `ms` milliseconds; returns 1 if the quit
// message came, with its code in *quit_code.
int PumpFor(DWORD ms, WPARAM* quit_code = nullptr) {
  DWORD start = GetTickCount();
  int quit = 0;
  while (GetTickCount() - start < ms) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = 1;
        if (quit_code != nullptr) *quit_code = message.wParam;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(5);
  }
  return quit;
}

// The window's outer corner, and a client area of exactly the picture.
void ExpectCornerAndPictureSize(HWND window, LONG left, LONG top) {
  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  EXPECT_EQ(left, outer.left);
  EXPECT_EQ(top, outer.top);
  EXPECT_EQ(kPictureWidth, client.right);
  EXPECT_EQ(kPictureHeight, client.bottom);
}

class ViewerWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(1, RegisterViewerClass(GetModuleHandleA(nullptr))); }

  void SetUp() override {
    g_viewer = ViewerState{};
    g_viewer.instance = GetModuleHandleA(nullptr);
    g_viewer.picture_width = kPictureWidth;
    g_viewer.picture_height = kPictureHeight;
    g_viewer.picture_bitmap = CreateBitmap(kPictureWidth, kPictureHeight, 1, 32, nullptr);
    g_viewer.mask_bitmap = CreateBitmap(32, kPictureHeight, 1, 1, nullptr);
    g_viewer.window_x = 40;
    g_viewer.window_y = 30;
    g_viewer.timeout_ms = 0;
    g_seen.clear();
  }

  void TearDown() override {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    if (g_viewer.main_window != nullptr && IsWindow(g_viewer.main_window)) {
      DestroyWindow(g_viewer.main_window);
    }
    PumpFor(10);
    DeleteObject(g_viewer.picture_bitmap);
    DeleteObject(g_viewer.mask_bitmap);
    if (g_viewer.palette != nullptr) DeleteObject(g_viewer.palette);
  }

  HWND Create() {
    EXPECT_EQ(1, CreateViewerWindow(3, 3));
    return g_viewer.main_window;
  }

  void Record() {
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, RecordSent, nullptr, GetCurrentThreadId());
  }

  HHOOK hook_ = nullptr;
};

HPALETTE MakePalette() {
  struct {
    WORD version;
    WORD count;
    PALETTEENTRY entries[4];
  } description = {0x300, 4, {{0, 0, 0, 0}, {0, 132, 0, 0}, {255, 0, 0, 0}, {0, 0, 255, 0}}};
  return CreatePalette(reinterpret_cast<LOGPALETTE*>(&description));
}

struct MessageCase {
  const char* name;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  uint32_t seethrough_item;
  int with_palette;
  int expected_pass_on;
  LRESULT expected_result;  // checked only when the message is not passed on
};

const MessageCase kMessageCases[] = {
    {"move, opaque", WM_MOVE, 0, MAKELPARAM(5, 5), 0, 0, 1, 0},
    {"move, see-through", WM_MOVE, 0, MAKELPARAM(5, 5), kItemChecked, 0, 0, 0},
    {"move, see-through greyed", WM_MOVE, 0, 0, kItemGrayed, 0, 1, 0},
    {"deactivation", WM_ACTIVATE, WA_INACTIVE, 0, 0, 1, 1, 0},
    {"activation without palette", WM_ACTIVATE, WA_ACTIVE, 0, 0, 0, 0, 0},
    {"activation with palette", WM_ACTIVATE, WA_ACTIVE, 0, 0, 1, 0, 1},
    {"click activation with palette", WM_ACTIVATE, WA_CLICKACTIVE, 0, 0, 1, 0, 1},
    {"new palette without one", WM_QUERYNEWPALETTE, 0, 0, 0, 0, 0, 0},
    {"new palette with one", WM_QUERYNEWPALETTE, 0, 0, 0, 1, 0, 1},
    {"paint", WM_PAINT, 0, 0, 0, 0, 0, 0},
    {"paint see-through", WM_PAINT, 0, 0, kItemChecked, 1, 0, 0},
    {"erase, opaque", WM_ERASEBKGND, 0, 0, 0, 0, 1, 0},
    {"erase, see-through", WM_ERASEBKGND, 0, 0, kItemChecked, 0, 0, -1},
    {"hit test inside", WM_NCHITTEST, 0, MAKELPARAM(45, 35), 0, 0, 0, HTCAPTION},
    {"hit test on the frame", WM_NCHITTEST, 0, MAKELPARAM(40, 30), 0, 0, 0, HTCAPTION},
    {"hit test far outside", WM_NCHITTEST, 0, MAKELPARAM(-300, 2000), 0, 0, 0, HTCAPTION},
    {"unknown command", WM_COMMAND, 12345, 0, 0, 0, 1, 0},
    {"palette changed by another", WM_PALETTECHANGED, 0x1234, 0, 0, 1, 1, 0},
    {"palette changed without one", WM_PALETTECHANGED, 0x1234, 0, 0, 0, 1, 0},
    {"close", WM_CLOSE, 0, 0, 0, 0, 1, 0},
    {"set cursor", WM_SETCURSOR, 0, HTCAPTION, 0, 0, 1, 0},
    {"left button on the caption", WM_NCLBUTTONDOWN, HTCAPTION, 0, 0, 0, 1, 0},
    {"key", WM_KEYDOWN, VK_ESCAPE, 0, 0, 0, 1, 0},
};

TEST_F(ViewerWindowTest, EachMessageIsHandledOrPassedOnAsTheTableSays) {
  for (const MessageCase& c : kMessageCases) {
    SCOPED_TRACE(c.name);
    g_viewer.seethrough_item = c.seethrough_item;
    g_viewer.palette = c.with_palette ? MakePalette() : nullptr;
    HWND window = Create();
    ASSERT_NE(nullptr, window);
    int pass_on = -1;
    LRESULT result = HandleViewerMessage(window, c.message, c.wparam, c.lparam, &pass_on);
    EXPECT_EQ(c.expected_pass_on, pass_on);
    if (!c.expected_pass_on) {
      EXPECT_EQ(c.expected_result, result);
    }
    EXPECT_TRUE(IsWindow(window));
    DestroyWindow(window);
    PumpFor(5);
    if (g_viewer.palette != nullptr) DeleteObject(g_viewer.palette);
    g_viewer.palette = nullptr;
  }
}

TEST_F(ViewerWindowTest, SeethroughEraseAsksForTheWallpaperWithTheSameContext) {
  g_viewer.seethrough_item = kItemChecked;
  HWND window = Create();
  Record();
  HDC dc = GetDC(window);
  EXPECT_EQ(-1, SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0));
  ReleaseDC(window, dc);
  int asked = 0;
  for (const Seen& s : g_seen) {
    if (s.window == window && s.message == WM_ICONERASEBKGND) {
      EXPECT_EQ(reinterpret_cast<WPARAM>(dc), s.wparam);
      ++asked;
    }
  }
  EXPECT_EQ(1, asked);
}

TEST_F(ViewerWindowTest, SeethroughMoveInvalidatesTheWholeWindow) {
  for (uint32_t item : {kItemEnabled, kItemChecked}) {
    g_viewer.seethrough_item = item;
    HWND window = Create();
    ShowWindow(window, SW_SHOWNA);
    PumpFor(20);
    ValidateRect(window, nullptr);
    SendMessageA(window, WM_MOVE, 0, MAKELPARAM(50, 60));
    RECT update = {};
    int dirty = GetUpdateRect(window, &update, FALSE);
    EXPECT_EQ(ItemIsOn(item) ? 1 : 0, dirty);
    if (dirty) {
      EXPECT_EQ(kPictureWidth, update.right - update.left);
      EXPECT_EQ(kPictureHeight, update.bottom - update.top);
    }
    DestroyWindow(window);
    PumpFor(5);
  }
}

struct TimerCase {
  const char* name;
  int32_t recreating;
  uint32_t timeout_ms;
  int expect_closed;
};

TEST_F(ViewerWindowTest, CloseTimerStartsOnlyForTheFirstWindowWithATimeout) {
  const TimerCase cases[] = {
      {"first window", 0, 60, 1},
      {"re-created window", 1, 60, 0},
      {"no timeout", 0, 0, 0},
  };
  for (const TimerCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_viewer.recreating = c.recreating;
    g_viewer.timeout_ms = c.timeout_ms;
    HWND window = Create();
    EXPECT_EQ(0, g_viewer.recreating);
    WPARAM quit_code = 99;
    int quit = PumpFor(400, &quit_code);
    EXPECT_EQ(c.expect_closed, quit);
    EXPECT_EQ(c.expect_closed, IsWindow(window) ? 0 : 1);
    if (quit) {
      EXPECT_EQ(0u, quit_code);
    }
    if (IsWindow(window)) {
      // No timer was left behind to kill.
      EXPECT_FALSE(KillTimer(window, IDT_CLOSE));
      DestroyWindow(window);
      PumpFor(5);
    }
  }
}

TEST_F(ViewerWindowTest, AnyTimerMessageClosesTheWindow) {
  for (WPARAM id : {static_cast<WPARAM>(IDT_CLOSE), static_cast<WPARAM>(1)}) {
    HWND window = Create();
    int pass_on = 0;
    HandleViewerMessage(window, WM_TIMER, id, 0, &pass_on);
    EXPECT_EQ(1, pass_on);
    EXPECT_FALSE(IsWindow(window));
    WPARAM quit_code = 99;
    EXPECT_EQ(1, PumpFor(5, &quit_code));
    EXPECT_EQ(0u, quit_code);
  }
}

struct StyleCase {
  uint32_t frameless_item;
  uint32_t topmost_item;
  DWORD style;
  DWORD ex_style;
};

TEST_F(ViewerWindowTest, CreationStylesAndSizeFollowTheSwitches) {
  const StyleCase cases[] = {
      {kItemEnabled, kItemChecked, WS_POPUP | WS_DLGFRAME, WS_EX_TOOLWINDOW | WS_EX_TOPMOST},
      {kItemChecked, kItemChecked, WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_TOPMOST},
      {kItemEnabled, kItemEnabled, WS_POPUP | WS_DLGFRAME, WS_EX_TOOLWINDOW},
      {kItemChecked, kItemEnabled, WS_POPUP, WS_EX_TOOLWINDOW},
  };
  const int frame_x = GetSystemMetrics(SM_CXDLGFRAME);
  const int frame_y = GetSystemMetrics(SM_CYDLGFRAME);
  for (const StyleCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "frameless " << c.frameless_item << " topmost " << c.topmost_item);
    g_viewer.frameless_item = c.frameless_item;
    g_viewer.topmost_item = c.topmost_item;
    g_viewer.recreating = 1;
    ASSERT_EQ(1, CreateViewerWindow(frame_x, frame_y));
    HWND window = g_viewer.main_window;
    EXPECT_EQ(0, g_viewer.recreating);
    DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    DWORD ex_style = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
    EXPECT_EQ(c.style, style & (WS_POPUP | WS_DLGFRAME | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME));
    EXPECT_FALSE(style & WS_VISIBLE);
    EXPECT_EQ(c.ex_style, ex_style & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_APPWINDOW));
    ExpectCornerAndPictureSize(window, 40, 30);
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ("Velinde for Win", title);
    DestroyWindow(window);
    PumpFor(5);
  }
}

// On a screen of another scale Windows redraws the frame at that scale; the
// window takes the suggested corner but keeps the picture's exact size as its
// client area. A window made with too thick a frame stands in for the frame
// that changed.
TEST_F(ViewerWindowTest, ScaleChangeKeepsTheClientAreaThePicture) {
  for (int frameless = 0; frameless < 2; ++frameless) {
    SCOPED_TRACE(frameless);
    g_viewer.frameless_item = frameless ? kItemChecked : kItemEnabled;
    ASSERT_EQ(1, CreateViewerWindow(GetSystemMetrics(SM_CXDLGFRAME) + 5, 1));
    HWND window = g_viewer.main_window;
    RECT suggested = {200, 150, 200 + 3 * kPictureWidth, 150 + 3 * kPictureHeight};
    EXPECT_EQ(0, SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(288, 288),
                              reinterpret_cast<LPARAM>(&suggested)));
    ExpectCornerAndPictureSize(window, 200, 150);
    DestroyWindow(window);
    PumpFor(5);
  }
}

TEST_F(ViewerWindowTest, ShowCommandActivatesOnlyWhenAskedOrForAPalette) {
  struct {
    int32_t activate_mode;
    int with_palette;
    int expected;
  } cases[] = {
      {0, 0, SW_SHOWNA},     {0, 1, SW_SHOWNORMAL}, {1, 0, SW_SHOWNORMAL},
      {1, 1, SW_SHOWNORMAL}, {-1, 0, SW_SHOWNA},    {-1, 1, SW_SHOWNA},
  };
  for (const auto& c : cases) {
    g_viewer.activate_mode = c.activate_mode;
    g_viewer.palette =
        c.with_palette ? reinterpret_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)) : nullptr;
    EXPECT_EQ(c.expected, ViewerShowCommand()) << c.activate_mode << " " << c.with_palette;
  }
  g_viewer.palette = nullptr;
}

TEST_F(ViewerWindowTest, BuiltinPictureComesFromTheProgramsResources) {
  DeleteObject(g_viewer.picture_bitmap);
  DeleteObject(g_viewer.mask_bitmap);
  TakeBuiltinPicture();
  EXPECT_EQ(204, g_viewer.picture_width);
  EXPECT_EQ(124, g_viewer.picture_height);
  EXPECT_EQ(282, g_viewer.anchor_x);
  EXPECT_EQ(194, g_viewer.anchor_y);
  EXPECT_EQ(-1, g_viewer.seethrough_denied);
  EXPECT_EQ(nullptr, g_viewer.palette);
  BITMAP picture = {}, mask = {};
  ASSERT_NE(0, GetObjectA(g_viewer.picture_bitmap, sizeof picture, &picture));
  ASSERT_NE(0, GetObjectA(g_viewer.mask_bitmap, sizeof mask, &mask));
  EXPECT_EQ(204, picture.bmWidth);
  EXPECT_EQ(124, picture.bmHeight);
  EXPECT_EQ(204, mask.bmWidth);
  EXPECT_EQ(1, mask.bmBitsPixel);
}

// The menu as the user sees it, read back through the wide calls.
const wchar_t* const kExpectedTexts[] = {
    L"\u30b3\u30e1\u30f3\u30c8\u8868\u793a",        // show comment
    nullptr,                                        // separator
    L"\u58c1\u7d19\u900f\u904e",                    // see-through wallpaper
    L"\u5e38\u306b\u624b\u524d\u306b\u8868\u793a",  // always on top
    L"\u67a0\u306a\u3057",                          // no frame
    nullptr,                                        // separator
    L"\u7d42\u4e86",                                // exit
};
const UINT kExpectedIds[] = {IDM_COMMENT,   0, IDM_SEETHROUGH, IDM_TOPMOST,
                             IDM_FRAMELESS, 0, IDM_EXIT};

TEST_F(ViewerWindowTest, PopupMenuHoldsSevenItemsWithTheFlagWordsUnchanged) {
  struct {
    uint32_t comment, seethrough, topmost, frameless;
  } cases[] = {
      {kItemGrayed, kItemEnabled, kItemChecked, kItemEnabled},
      {kItemEnabled, kItemChecked, kItemEnabled, kItemChecked},
      {kItemGrayed, kItemGrayed, kItemChecked, kItemChecked},
  };
  for (const auto& c : cases) {
    g_viewer.comment_item = c.comment;
    g_viewer.seethrough_item = c.seethrough;
    g_viewer.topmost_item = c.topmost;
    g_viewer.frameless_item = c.frameless;
    const uint32_t flags[] = {
        c.comment, MF_SEPARATOR, c.seethrough, c.topmost, c.frameless, MF_SEPARATOR, 0};
    HMENU menu = BuildPopupMenu();
    ASSERT_NE(nullptr, menu);
    ASSERT_EQ(7, GetMenuItemCount(menu));
    for (int i = 0; i < 7; ++i) {
      SCOPED_TRACE(i);
      MENUITEMINFOW info = {};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID;
      ASSERT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &info));
      EXPECT_EQ(kExpectedIds[i], info.wID);
      UINT state = GetMenuState(menu, i, MF_BYPOSITION);
      if (kExpectedTexts[i] == nullptr) {
        EXPECT_TRUE(info.fType & MFT_SEPARATOR);
        continue;
      }
      EXPECT_EQ(flags[i], state & (MF_CHECKED | MF_GRAYED | MF_SEPARATOR));
      wchar_t text[32] = {};
      GetMenuStringW(menu, i, text, 32, MF_BYPOSITION);
      EXPECT_EQ(std::wstring(kExpectedTexts[i]), std::wstring(text));
    }
    DestroyMenu(menu);
  }
}

// Closes whatever modal loop is running once it has shown its window.
int g_menu_seen = 0;
std::wstring g_box_caption, g_box_text;

void CALLBACK EndPopupMenu(HWND, UINT, UINT_PTR id, DWORD) {
  if (FindWindowA("#32768", nullptr) != nullptr) g_menu_seen = 1;
  EndMenu();
  KillTimer(nullptr, id);
}

void CALLBACK CloseMessageBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowA("#32770", nullptr);
  if (box == nullptr) return;
  wchar_t text[256] = {};
  GetWindowTextW(box, text, 256);
  g_box_caption = text;
  GetDlgItemTextW(box, 0xFFFF, text, 256);
  g_box_text = text;
  KillTimer(nullptr, id);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(ViewerWindowTest, OpeningTheMenuStopsTheCloseTimerForGood) {
  g_viewer.timeout_ms = 300;
  HWND window = Create();
  ShowWindow(window, SW_SHOWNORMAL);
  g_menu_seen = 0;
  SetTimer(nullptr, 0, 100, EndPopupMenu);
  int pass_on = 1;
  EXPECT_EQ(0,
            HandleViewerMessage(window, WM_NCRBUTTONDOWN, HTCAPTION, MAKELPARAM(45, 35), &pass_on));
  EXPECT_EQ(0, pass_on);
  EXPECT_EQ(1, g_menu_seen);
  EXPECT_EQ(0, PumpFor(500));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(KillTimer(window, IDT_CLOSE));
}

TEST_F(ViewerWindowTest, CommentIsShownAsJapaneseTextWithTheTitleAsCaption) {
  struct {
    const char* comment;
    const wchar_t* shown;
  } cases[] = {
      {"\x83\x65\x83\x58\x83\x67 abc", L"\u30c6\u30b9\u30c8 abc"},
      {"", L""},
  };
  for (const auto& c : cases) {
    std::memset(g_viewer.comment, 0, sizeof g_viewer.comment);
    std::strcpy(g_viewer.comment, c.comment);
    HWND window = Create();
    g_box_caption.clear();
    g_box_text = L"unread";
    SetTimer(nullptr, 0, 100, CloseMessageBox);
    int pass_on = 0;
    HandleViewerMessage(window, WM_COMMAND, IDM_COMMENT, 0, &pass_on);
    EXPECT_EQ(1, pass_on);
    EXPECT_EQ(L"Velinde for Win", g_box_caption);
    EXPECT_EQ(std::wstring(c.shown), g_box_text);
    DestroyWindow(window);
    PumpFor(5);
  }
}

TEST_F(ViewerWindowTest, CommentFillingTheWholeBufferIsCutAtItsEnd) {
  std::memset(g_viewer.comment, 'a', sizeof g_viewer.comment);
  HWND window = Create();
  g_box_text.clear();
  SetTimer(nullptr, 0, 100, CloseMessageBox);
  int pass_on = 0;
  HandleViewerMessage(window, WM_COMMAND, IDM_COMMENT, 0, &pass_on);
  EXPECT_EQ(std::wstring(kCommentSize - 1, L'a'), g_box_text);
}

TEST_F(ViewerWindowTest, SwitchCommandsFlipTheirWordsAndTakeEffect) {
  HWND window = Create();
  ShowWindow(window, SW_SHOWNA);
  RECT before;
  GetWindowRect(window, &before);
  int pass_on = 0;
  for (uint32_t expected : {kItemChecked, kItemEnabled}) {
    HandleViewerMessage(window, WM_COMMAND, IDM_SEETHROUGH, 0, &pass_on);
    EXPECT_EQ(1, pass_on);
    EXPECT_EQ(expected, g_viewer.seethrough_item);
    MSG posted;
    EXPECT_TRUE(PeekMessageA(&posted, window, WM_QUERYNEWPALETTE, WM_QUERYNEWPALETTE, PM_REMOVE));
    EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
    ValidateRect(window, nullptr);
  }
  for (uint32_t expected : {kItemEnabled, kItemChecked}) {
    // The high word of wParam carries nothing.
    HandleViewerMessage(window, WM_COMMAND, MAKEWPARAM(IDM_TOPMOST, 1), 0, &pass_on);
    EXPECT_EQ(expected, g_viewer.topmost_item);
    LONG ex_style = GetWindowLongA(window, GWL_EXSTYLE);
    EXPECT_EQ(ItemIsOn(expected), (ex_style & WS_EX_TOPMOST) != 0);
    RECT after;
    GetWindowRect(window, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
  }
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(ViewerWindowTest, FrameCommandDestroysTheWindowForACreationAtItsCorner) {
  HWND window = Create();
  SetWindowPos(window, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  int pass_on = 0;
  HandleViewerMessage(window, WM_COMMAND, IDM_FRAMELESS, 0, &pass_on);
  EXPECT_EQ(1, pass_on);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(kItemChecked, g_viewer.frameless_item);
  EXPECT_EQ(1, g_viewer.recreating);
  EXPECT_EQ(123, g_viewer.window_x);
  EXPECT_EQ(77, g_viewer.window_y);
  WPARAM quit_code = 99;
  EXPECT_EQ(1, PumpFor(5, &quit_code));
  EXPECT_EQ(0u, quit_code);
  // The new window has no frame and the same outer corner.
  ASSERT_EQ(1, CreateViewerWindow(3, 3));
  RECT outer;
  GetWindowRect(g_viewer.main_window, &outer);
  EXPECT_EQ(123, outer.left);
  EXPECT_EQ(77, outer.top);
  EXPECT_EQ(kPictureWidth, outer.right - outer.left);
}

TEST_F(ViewerWindowTest, ExitCommandClosesWithQuitCodeZero) {
  HWND window = Create();
  int pass_on = 0;
  HandleViewerMessage(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0x55), 0, &pass_on);
  EXPECT_EQ(1, pass_on);
  EXPECT_FALSE(IsWindow(window));
  WPARAM quit_code = 99;
  EXPECT_EQ(1, PumpFor(5, &quit_code));
  EXPECT_EQ(0u, quit_code);
}

// The whole life of the viewer in this process, with the built-in picture
// (no picture file lies in the test's directory).
TEST_F(ViewerWindowTest, WholeRunShowsTheBuiltinPictureAndEndsWithZero) {
  g_viewer = ViewerState{};
  // The class is registered already, as by an earlier instance.
  HINSTANCE instance = GetModuleHandleA(nullptr);
  EXPECT_EQ(0, RunViewer(instance, instance, "/w2 /tr"));
  EXPECT_EQ(200u, g_viewer.timeout_ms);
  EXPECT_EQ(kItemGrayed, g_viewer.seethrough_item);
  EXPECT_EQ(204, g_viewer.picture_width);
  EXPECT_FALSE(IsWindow(g_viewer.main_window));
  g_viewer.picture_bitmap = nullptr;
  g_viewer.mask_bitmap = nullptr;
}

TEST_F(ViewerWindowTest, FailedRegistrationEndsBeforeTheOptionsAreRead) {
  g_viewer = ViewerState{};
  // Registering "VLDW" a second time fails.
  EXPECT_EQ(0, RunViewer(GetModuleHandleA(nullptr), nullptr, "/w50"));
  EXPECT_EQ(10000u, g_viewer.timeout_ms);
  EXPECT_EQ(nullptr, g_viewer.picture_bitmap);
}

TEST_F(ViewerWindowTest, FirstWindowThatCannotBeCreatedGivesExitCodeOne) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  ASSERT_TRUE(UnregisterClassA(VLD_CLASS_NAME, instance));
  g_viewer = ViewerState{};
  EXPECT_EQ(1, RunViewer(instance, instance, "/w50"));
  EXPECT_EQ(nullptr, g_viewer.main_window);
  g_viewer.picture_bitmap = nullptr;
  g_viewer.mask_bitmap = nullptr;
  ASSERT_EQ(1, RegisterViewerClass(instance));
}

// Painting on a memory surface that already holds a known pattern.
class CompositionTest : public ::testing::Test {
 protected:
  static constexpr int kSurfaceWidth = 16;
  static constexpr int kSurfaceHeight = 8;

  void SetUp() override {
    g_viewer = ViewerState{};
    g_viewer.picture_width = kPictureWidth;
    g_viewer.picture_height = kPictureHeight;
    surface_dc_ = CreateCompatibleDC(nullptr);
    surface_ = MakeDib(kSurfaceWidth, kSurfaceHeight, &surface_bits_);
    old_ = SelectObject(surface_dc_, surface_);
    for (int y = 0; y < kSurfaceHeight; ++y) {
      for (int x = 0; x < kSurfaceWidth; ++x) surface_bits_[y * kSurfaceWidth + x] = Pattern(x, y);
    }
    // The picture: black where it is background, colours elsewhere.
    uint32_t* picture_bits = nullptr;
    g_viewer.picture_bitmap = MakeDib(kPictureWidth, kPictureHeight, &picture_bits);
    // The mask: white exactly over the picture's black background.
    uint8_t mask_rows[kPictureHeight][4] = {};
    for (int y = 0; y < kPictureHeight; ++y) {
      for (int x = 0; x < kPictureWidth; ++x) {
        int background = IsBackground(x, y);
        picture_bits[y * kPictureWidth + x] = background ? 0 : PictureColour(x, y);
        if (background) mask_rows[y][x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
    GdiFlush();
    g_viewer.mask_bitmap = CreateBitmap(32, kPictureHeight, 1, 1, mask_rows);
  }

  void TearDown() override {
    SelectObject(surface_dc_, old_);
    DeleteDC(surface_dc_);
    DeleteObject(surface_);
    DeleteObject(g_viewer.picture_bitmap);
    DeleteObject(g_viewer.mask_bitmap);
  }

  static HBITMAP MakeDib(int width, int height, uint32_t** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pointer = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pointer, nullptr, 0);
    *bits = static_cast<uint32_t*>(pointer);
    return bitmap;
  }

  static uint32_t Pattern(int x, int y) { return (x * 16u) << 16 | (y * 30u) << 8 | 0x5A; }
  static int IsBackground(int x, int y) { return (x + 2 * y) % 3 == 0; }
  static uint32_t PictureColour(int x, int y) { return 0x102030u + x * 0x010000u + y * 0x000100u; }

  uint32_t At(int x, int y) {
    GdiFlush();
    return surface_bits_[y * kSurfaceWidth + x] & 0xFFFFFF;
  }

  HDC surface_dc_ = nullptr;
  HBITMAP surface_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint32_t* surface_bits_ = nullptr;
};

TEST_F(CompositionTest, BackgroundSurvivesWhereTheMaskIsWhiteAndThePictureBlack) {
  for (uint32_t item : {kItemEnabled, kItemChecked, kItemGrayed}) {
    SCOPED_TRACE(item);
    for (int y = 0; y < kSurfaceHeight; ++y) {
      for (int x = 0; x < kSurfaceWidth; ++x) surface_bits_[y * kSurfaceWidth + x] = Pattern(x, y);
    }
    g_viewer.seethrough_item = item;
    ComposePicture(surface_dc_);
    for (int y = 0; y < kSurfaceHeight; ++y) {
      for (int x = 0; x < kSurfaceWidth; ++x) {
        SCOPED_TRACE(testing::Message() << x << "," << y);
        uint32_t expected;
        if (x >= kPictureWidth || y >= kPictureHeight) {
          expected = Pattern(x, y);  // nothing is drawn beyond the picture
        } else if (!IsBackground(x, y)) {
          expected = PictureColour(x, y);
        } else {
          expected = ItemIsOn(item) ? Pattern(x, y) : 0;
        }
        EXPECT_EQ(expected, At(x, y));
      }
    }
  }
}

}  // namespace
