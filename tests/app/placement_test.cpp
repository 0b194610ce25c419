#include <gtest/gtest.h>

#include <cstdint>

#include "app/viewer_state.h"
#include "app/placement.h"

namespace {

struct PlacementCase {
  const char* name;
  int32_t screen_width, screen_height;
  int32_t picture_width, picture_height;
  int32_t anchor_x, anchor_y;
  int32_t position_given, given_x, given_y;
  int32_t expected_x, expected_y;
};

const PlacementCase kCases[] = {
    // The built-in picture is centred on every screen.
    {"builtin 640x480", 640, 480, 204, 124, 282, 194, 0, 0, 0, 218, 178},
    {"builtin 800x600", 800, 600, 204, 124, 282, 194, 0, 0, 0, 298, 238},
    {"builtin 1024x768", 1024, 768, 204, 124, 282, 194, 0, 0, 0, 410, 322},
    {"builtin on the reference screen", 768, 512, 204, 124, 282, 194, 0, 0, 0, 282, 194},
    // The product is divided after it is formed, and every division truncates.
    {"truncation", 800, 600, 101, 2, 0, 0, 0, 0, 0, 2, 0},
    {"odd height truncates", 768, 512, 10, 7, 0, 100, 0, 0, 0, 0, 100},
    // A picture that fits is kept on the screen.
    {"clamped at the right", 640, 480, 300, 10, 600, 0, 0, 0, 0, 340, 0},
    {"clamped at the left", 640, 480, 100, 10, 0, 0, 0, 0, 0, 0, 0},
    {"clamped at the bottom", 1024, 768, 20, 200, 0, 500, 0, 0, 0, 3, 568},
    {"exactly at the right edge stays", 768, 512, 68, 12, 700, 0, 0, 0, 0, 700, 0},
    // A picture as large as the screen or larger keeps its scaled coordinate.
    {"wider than the screen", 640, 480, 700, 10, 0, 0, 0, 0, 0, -59, 0},
    {"as wide as the screen", 640, 480, 640, 10, 400, 0, 0, 0, 0, 280, 0},
    {"taller than the screen", 640, 480, 10, 600, 0, 0, 0, 0, 0, 0, -19},
    // Option "l" wins while some of the picture is on the screen, unclamped.
    {"given corner used", 1024, 768, 204, 124, 282, 194, 1, 5, 7, 5, 7},
    {"given at the last column", 640, 480, 204, 124, 282, 194, 1, 639, 0, 639, 0},
    {"given at the screen width ignored", 640, 480, 204, 124, 282, 194, 1, 640, 0, 218, 178},
    {"given at the screen height ignored", 640, 480, 204, 124, 282, 194, 1, 0, 480, 218, 178},
    {"given with the right edge at 0", 640, 480, 204, 124, 282, 194, 1, -204, -124, -204, -124},
    {"given wholly left of the screen", 640, 480, 204, 124, 282, 194, 1, -205, 0, 218, 178},
    {"given wholly above the screen", 640, 480, 204, 124, 282, 194, 1, 0, -125, 218, 178},
    {"given without the flag", 640, 480, 204, 124, 282, 194, 0, 5, 7, 218, 178},
    // Header values reach 65535; the 64-bit product must not overflow.
    {"largest anchor and size", 50000, 40000, 65535, 65535, 65535, 65535, 0, 0, 0, 6367102,
     7647076},
    {"huge given corner", 1024, 768, 204, 124, 282, 194, 1, INT32_MAX, INT32_MAX, 410, 322},
};

TEST(PlaceWindow, WorkedPositions) {
  for (const PlacementCase& c : kCases) {
    SCOPED_TRACE(c.name);
    g_viewer = ViewerState{};
    g_viewer.picture_width = c.picture_width;
    g_viewer.picture_height = c.picture_height;
    g_viewer.anchor_x = c.anchor_x;
    g_viewer.anchor_y = c.anchor_y;
    g_viewer.position_given = c.position_given;
    g_viewer.given_x = c.given_x;
    g_viewer.given_y = c.given_y;
    ASSERT_EQ(1, PlaceWindow(c.screen_width, c.screen_height));
    EXPECT_EQ(c.expected_x, g_viewer.window_x);
    EXPECT_EQ(c.expected_y, g_viewer.window_y);
  }
}

TEST(PlaceWindow, ScreenWithoutSizeLeavesThePositionAlone) {
  g_viewer = ViewerState{};
  g_viewer.window_x = 11;
  g_viewer.window_y = 22;
  EXPECT_EQ(0, PlaceWindow(0, 480));
  EXPECT_EQ(0, PlaceWindow(640, -1));
  EXPECT_EQ(11, g_viewer.window_x);
  EXPECT_EQ(22, g_viewer.window_y);
}

}  // namespace
