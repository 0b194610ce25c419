// Where the viewer's window goes on the screen. Portable, so that the
// arithmetic is tested on every build.
#pragma once

#include <cstdint>

// Scales the picture's anchor (g_viewer.anchor_x/y, given in the 768 x 512
// reference screen) to a screen of the given size, keeps a picture that fits
// on the screen inside it, and takes the position of option "l" when it
// leaves part of the picture on the screen. Writes g_viewer.window_x/y.
// Returns 1; 0 only for a screen of no size, which leaves them untouched.
int PlaceWindow(int32_t screen_width, int32_t screen_height);
