#include <gtest/gtest.h>
#include "app/viewer_state.h"
TEST(Sanity, Defaults) { EXPECT_EQ(g_viewer.timeout_ms, 10000u); }
