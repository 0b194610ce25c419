// vldtool: inspect, convert and make picture files, and explain what the
// viewer makes of a command line.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "tools/commands/commands.h"
#include "tools/system/files.h"
#include "tools/system/terminal.h"
#include "tools/commands/usage.h"

namespace {

const char kUsage[] =
    "usage: vldtool COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  explain [--seed N] [--full] [--] TEXT   what the viewer makes of a command line\n"
    "  info [--json] FILE...                  describe picture files\n"
    "  decode FILE -o OUT.png [--transparent]  convert a picture file to PNG\n"
    "  decode FILE... -d DIR [--transparent]   convert many, into DIR\n"
    "  encode IN.png -o OUT.vld [--anchor X,Y] [--comment TEXT] [--palette W0,W1,W2,W3]\n"
    "                                         make a picture file from a PNG\n"
    "  encode IN.png... -d DIR [options]       make many, into DIR\n"
    "\n"
    "Run 'vldtool help COMMAND' or 'vldtool COMMAND --help' for a command's details,\n"
    "'vldtool --version' for the version.\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"explain", RunExplain},
    {"info", RunInfo},
    {"decode", RunDecode},
    {"encode", RunEncode},
};

const Command* FindCommand(const char* name) {
  for (const Command& command : kCommands)
    if (std::strcmp(command.name, name) == 0) return &command;
  UsageError(nullptr, std::string("unknown command '") + name + "'");
  return nullptr;
}

// Runs a command; running out of memory and failing to write the output are
// failures of the command, said in one line.
int RunCommand(const Command& command, int argc, char** argv) {
  int status;
  try {
    status = command.run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "vldtool: %s: out of memory\n", command.name);
    status = 1;
  }
  std::string error;
  if (!FlushStandardOutput(&error)) {
    std::fprintf(stderr, "vldtool: %s: cannot write the output: %s\n", command.name,
                 error.c_str());
    if (status == 0) status = 1;
  }
  return status;
}

// For the texts vldtool prints on its own: the version and the usage.
int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::string error;
  if (FlushStandardOutput(&error)) return 0;
  std::fprintf(stderr, "vldtool: cannot write the output: %s\n", error.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  RememberArguments(argc, argv);
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "--version") == 0) {
    return Print(std::string("vldtool ") + VLD_VERSION + "\n");
  }
  if (std::strcmp(name, "help") == 0 && argc >= 3) {
    const Command* command = FindCommand(argv[2]);
    if (command == nullptr) return 2;
    char help[] = "--help";
    char* help_argv[] = {help, nullptr};
    return RunCommand(*command, 1, help_argv);
  }
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 ||
      std::strcmp(name, "help") == 0) {
    return Print(kUsage);
  }
  const Command* command = FindCommand(name);
  if (command == nullptr) return 2;
  return RunCommand(*command, argc - 2, argv + 2);
}
