// The viewer's one process-wide record: options, picture resources and window
// state. Everything the viewer remembers during a run lives here, and nothing
// of it outlives the process.
#pragma once

#include <cstdint>

#include "app/viewer_rules.h"

#ifdef _WIN32
#include <windows.h>
using InstanceHandle = HINSTANCE;
using WindowHandle = HWND;
using PaletteHandle = HPALETTE;
using BitmapHandle = HBITMAP;
#else
// The portable core never touches these; they only keep the record's shape.
using InstanceHandle = void*;
using WindowHandle = void*;
using PaletteHandle = void*;
using BitmapHandle = void*;
#endif

// Menu-item state words. The three switchable modes are stored in the very
// flag words handed to the popup menu, so these must equal the platform's
// MF_ENABLED, MF_GRAYED and MF_CHECKED (checked where windows.h is seen).
constexpr uint32_t kItemEnabled = 0;
constexpr uint32_t kItemGrayed = 1;
constexpr uint32_t kItemChecked = 8;

constexpr int kPathSize = 260;     // MAX_PATH

struct ViewerState {
  InstanceHandle instance = nullptr;
  WindowHandle main_window = nullptr;
  PaletteHandle palette = nullptr;
  int32_t activate_mode = 0;  // 0 automatic, 1 always, -1 never
  uint32_t timeout_ms = 10000;
  uint32_t comment_item = kItemGrayed;
  uint32_t seethrough_item = kItemEnabled;
  uint32_t topmost_item = kItemChecked;
  uint32_t frameless_item = kItemEnabled;
  int32_t recreating = 0;
  int32_t position_given = 0;
  int32_t given_x = 0;
  int32_t given_y = 0;
  int32_t anchor_x = 0;
  int32_t anchor_y = 0;
  int32_t picture_width = 0;
  int32_t picture_height = 0;
  BitmapHandle picture_bitmap = nullptr;
  BitmapHandle mask_bitmap = nullptr;
  char comment[kCommentSize] = {};
  int32_t window_x = 0;
  int32_t window_y = 0;
  int32_t seethrough_denied = 0;
};

extern ViewerState g_viewer;

// A mode carried by a flag word is on exactly when its check bit is set.
inline bool ItemIsOn(uint32_t item) { return (item & kItemChecked) != 0; }
