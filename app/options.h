// The command line: removing the program name, and reading the options.
#pragma once

// Returns the text after the program name (and the blanks and control
// characters after it) within `full_command_line`, as the viewer's own rule
// removes it. The result points into the given text; it is never copied.
const char* SkipProgramName(const char* full_command_line);

// Reads every option of `command_line` into g_viewer's option fields. Words
// that cannot be used are ignored; the text is never changed.
void ParseOptions(const char* command_line);
