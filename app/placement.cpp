#include "app/placement.h"

#include "app/viewer_state.h"

namespace {

constexpr int64_t kReferenceWidth = 768;
constexpr int64_t kReferenceHeight = 512;

// Products are formed in 64 bits so that no screen and anchor can overflow
// them; a result that still does not fit an int32 is held at its limit rather
// than wrapped around to the other side of the screen.
int32_t Saturate(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// One axis: the picture's centre is scaled, then a picture that fits is kept
// on the screen. A picture as large as the screen or larger keeps its scaled,
// possibly negative, coordinate.
int64_t PlaceAxis(int64_t screen, int64_t anchor, int64_t size, int64_t reference) {
  int64_t half = size / 2;
  int64_t position = screen * (anchor + half) / reference - half;
  if (size < screen) {
    if (position < 0) {
      position = 0;
    } else if (position + size > screen) {
      position = screen - size;
    }
  }
  return position;
}

}  // namespace

int PlaceWindow(int32_t screen_width, int32_t screen_height) {
  if (screen_width <= 0 || screen_height <= 0) return 0;
  int64_t width = g_viewer.picture_width;
  int64_t height = g_viewer.picture_height;
  int64_t x = PlaceAxis(screen_width, g_viewer.anchor_x, width, kReferenceWidth);
  int64_t y = PlaceAxis(screen_height, g_viewer.anchor_y, height, kReferenceHeight);
  if (g_viewer.position_given) {
    int64_t given_x = g_viewer.given_x;
    int64_t given_y = g_viewer.given_y;
    // The given corner is taken only when some of the picture is on the screen.
    if (given_x + width >= 0 && given_y + height >= 0 && given_x < screen_width &&
        given_y < screen_height) {
      x = given_x;
      y = given_y;
    }
  }
  g_viewer.window_x = Saturate(x);
  g_viewer.window_y = Saturate(y);
  return 1;
}
