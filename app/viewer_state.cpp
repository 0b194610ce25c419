#include "app/viewer_state.h"

#ifdef _WIN32
static_assert(kItemEnabled == MF_ENABLED && kItemGrayed == MF_GRAYED && kItemChecked == MF_CHECKED,
              "menu flag words are handed to the menu unchanged");
#endif

ViewerState g_viewer;
