// vldtool: inspect, convert and make picture files, and explain what the
// viewer makes of a command line.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

static const char kUsage[] =
    "usage: vldtool COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  explain [--seed N] [--full] [--] TEXT   what the viewer makes of a command line\n"
    "  info [--json] FILE...                  describe picture files\n"
    "  decode FILE -o OUT.png [--transparent]  convert a picture file to PNG\n"
    "  encode IN.png -o OUT.vld [--anchor X,Y] [--comment TEXT] [--palette W0,W1,W2,W3]\n"
    "                                         make a picture file from a PNG\n"
    "\n"
    "Run 'vldtool COMMAND --help' for a command's details.\n";

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(command, "explain") == 0) return RunExplain(argc - 2, argv + 2);
  if (std::strcmp(command, "info") == 0) return RunInfo(argc - 2, argv + 2);
  if (std::strcmp(command, "decode") == 0) return RunDecode(argc - 2, argv + 2);
  if (std::strcmp(command, "encode") == 0) return RunEncode(argc - 2, argv + 2);
  std::fprintf(stderr, "vldtool: unknown command '%s' (try 'vldtool --help')\n", command);
  return 2;
}
