// Arguments and names on POSIX systems come as the bytes they are.
#include <unistd.h>

#include "tools/text/cp932.h"
#include "tools/system/terminal.h"

void RememberArguments(int, char**) {}

std::string ArgumentText(const char* argument) {
  return argument;
}

int NameToUtf8(const std::string& name, std::string* out) {
  return ValidUtf8(name, out);
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) != 0;
}

void BeginUtf8Console(ConsoleState*) {}
void EndUtf8Console(const ConsoleState&) {}
