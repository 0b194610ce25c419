// What the system hands vldtool as text (its arguments, file names) and the
// console it prints to. terminal_posix.cpp and terminal_win32.cpp hold each
// system's own.
#pragma once

#include <string>

// Windows hands main its arguments in the ANSI code page, already mapped to
// look-alikes where that code page lacks a character ("¥" becomes "\\").
// RememberArguments keeps main's arguments as they were typed, so that
// ArgumentText gives an argument's UTF-8 text; elsewhere arguments are used
// as they come.
void RememberArguments(int argc, char** argv);
std::string ArgumentText(const char* argument);

// A file name as UTF-8: on Windows from the ANSI code page, elsewhere as
// ValidUtf8 makes it; returns 0 when bytes had to be replaced.
int NameToUtf8(const std::string& name, std::string* out);

// Whether standard error is a terminal a person watches.
bool StderrIsTerminal();

// Has the console show UTF-8 while vldtool prints (on Windows, where it has
// a code page of its own), and gives it back its own afterwards.
struct ConsoleState {
  unsigned code_page = 0;
};
void BeginUtf8Console(ConsoleState* state);
void EndUtf8Console(const ConsoleState& state);
