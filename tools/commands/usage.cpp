#include "tools/commands/usage.h"

#include <cstdio>
#include <cstring>

bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int UsageError(const char* command, const std::string& message) {
  if (command == nullptr)
    std::fprintf(stderr, "vldtool: %s (see 'vldtool --help')\n", message.c_str());
  else
    std::fprintf(stderr, "vldtool: %s: %s (see 'vldtool %s --help')\n", command, message.c_str(),
                 command);
  return 2;
}

bool TakeValue(int argc, char** argv, int* i, const char* long_name, const char* short_name,
               const char** value, bool* missing) {
  const char* arg = argv[*i];
  const size_t length = std::strlen(long_name);
  if (std::strncmp(arg, long_name, length) == 0 && arg[length] == '=') {
    *value = arg + length + 1;
    return true;
  }
  if (std::strcmp(arg, long_name) != 0 && (short_name == nullptr || std::strcmp(arg, short_name) != 0))
    return false;
  if (*i + 1 >= argc) {
    *missing = true;
    return false;
  }
  *value = argv[++*i];
  return true;
}
