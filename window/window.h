// The viewer's display window: its class, its creation, its procedure and
// its painting (Windows only).
#pragma once

#include <windows.h>

#include "app/viewer_text.h"

#define VLD_CLASS_NAME "VLDW"

// Registers the window class "VLDW" for MainWndProc. Returns 1 or 0.
int RegisterViewerClass(HINSTANCE instance);

// Makes g_viewer hold the picture compiled into the program (bitmaps 101 and
// 102) and marks see-through as unavailable for it.
void TakeBuiltinPicture();

// Creates one window at g_viewer.window_x/y with the frame and always-on-top
// settings of g_viewer, into g_viewer.main_window, and ends a re-creation.
// `frame_x`, `frame_y` are the dialog frame's thickness. Returns 1 or 0.
int CreateViewerWindow(int frame_x, int frame_y);

// The show command for a new window: activate only when asked to, or, left
// to the viewer, when the picture brings a palette of its own.
int ViewerShowCommand();

// Everything WinMain does after it has the command line less the program
// name. Returns the process's exit code.
int RunViewer(HINSTANCE instance, HINSTANCE previous, const char* command_line);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// MainWndProc's own part: handles `message` and returns the result, or sets
// *pass_on to 1 when the message must then go on to DefWindowProcA, whose
// result is the procedure's.
LRESULT HandleViewerMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, int* pass_on);

// The popup menu with the current state of every item. The caller destroys it.
HMENU BuildPopupMenu();

// Converts code page 932 text (at most `length` bytes, ending earlier at a
// zero byte) into `wide`, which holds `wide_size` characters. Returns 1, or 0
// when the text cannot be converted.
int ConvertCp932(const char* text, int length, wchar_t* wide, int wide_size);

// Draws the picture into `dc` at (0, 0): opaque, or in see-through mode the
// mask ANDed onto what `dc` holds and the picture ORed over it.
void ComposePicture(HDC dc);
