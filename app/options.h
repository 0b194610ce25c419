// The command line: removing the program name, and reading the options.
#pragma once

// Returns the text after the program name (and the blanks and control
// characters after it) within `full_command_line`, as the viewer's own rule
// removes it. The result points into the given text; it is never copied.
const char* SkipProgramName(const char* full_command_line);

#include <cstdint>

#include "app/viewer_state.h"

// What the options set, with the defaults of a command line that has none.
// The switches are menu flag words, as the viewer keeps them.
struct ViewerOptions {
  int32_t activate_mode = 0;  // 0 automatic, 1 always, -1 never
  uint32_t timeout_ms = 10000;
  uint32_t seethrough_item = kItemEnabled;
  uint32_t topmost_item = kItemChecked;
  uint32_t frameless_item = kItemEnabled;
  int32_t position_given = 0;
  int32_t given_x = 0;
  int32_t given_y = 0;
};

// Reads every option of `command_line`. Words that cannot be used are
// ignored; the text is never changed.
ViewerOptions ParseOptions(const char* command_line);

// Copies the options into g_viewer's option fields, which both viewers read.
void ApplyOptions(const ViewerOptions& options);
