// vldtool explain: shows what the viewer makes of a command line, the options
// it reads and the pictures it would choose among, in a stable key=value form.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/choose.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/viewer_state.h"
#include "tools/commands/commands.h"
#include "tools/text/parse.h"
#include "tools/commands/usage.h"

static const size_t kLineBlock = size_t{1} << 16;

static const char kExplainUsage[] =
    "usage: vldtool explain [--seed N] [--full] [--] TEXT\n"
    "\n"
    "Prints what the viewer makes of the command line TEXT (one argument, the\n"
    "line without the program name), as key=value lines: the options read, the\n"
    "candidate pictures from the head of the list, and the one chosen.\n"
    "\n"
    "  --seed N  use N (0 to 4294967295) instead of the clock to choose\n"
    "  --full    TEXT is the whole command line; the program name is removed first\n"
    "  --        ends the options, so TEXT may begin with '-' or '/'\n"
    "  --help    show this text\n";

// The viewer takes a word beginning with '-' or '/' for an option even when
// a file or folder of that name exists (an absolute Linux path, typically),
// which leaves users wondering where their pictures went. Warns on stderr,
// walking the words as the viewer's scanner does; stdout is left as it is.
static void WarnAboutOptionsNamingFiles(const char* command_line) {
  const char* p = command_line;
  while (*p != 0) {
    while (*p == ' ') ++p;
    if (*p == '"') {
      const char* close = std::strchr(p + 1, '"');
      p = close != nullptr ? close + 1 : p + std::strlen(p);
      continue;
    }
    const char* start = p;
    while (*p != 0 && *p != ' ') ++p;
    if (start == p || (*start != '-' && *start != '/')) continue;
    const std::string word(start, p);
    uint32_t attributes = 0;
    if (word.size() >= static_cast<size_t>(kPathSize) || !PlatformLookUp(word.c_str(), &attributes))
      continue;
    std::fprintf(stderr,
                 "vldtool: explain: warning: '%s' is read as an option, though it names an "
                 "existing %s; to name it, write it in double quotes: \"%s\"\n",
                 word.c_str(), (attributes & kAttrDirectory) != 0 ? "folder" : "file",
                 word.c_str());
  }
}

int RunExplain(int argc, char** argv) {
  int full = 0;
  int seed_given = 0;
  uint32_t seed = 0;
  int options_ended = 0;
  const char* text = nullptr;
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    if (options_ended || argument[0] != '-') {
      if (text != nullptr)
        return UsageError("explain", std::string("more than one TEXT given: ") + argument);
      text = argument;
    } else if (std::strcmp(argument, "--") == 0) {
      options_ended = 1;
    } else if (IsHelp(argument)) {
      std::fputs(kExplainUsage, stdout);
      return 0;
    } else if (std::strcmp(argument, "--full") == 0) {
      full = 1;
    } else if (std::strcmp(argument, "--seed") == 0) {
      uint64_t value = 0;
      if (i + 1 >= argc) return UsageError("explain", "--seed needs a number");
      if (!ParseWholeNumber(argv[++i], UINT32_MAX, &value))
        return UsageError("explain",
                          std::string("--seed takes a number from 0 to 4294967295, not ") + argv[i]);
      seed = static_cast<uint32_t>(value);
      seed_given = 1;
    } else {
      return UsageError("explain", std::string("unknown option ") + argument);
    }
  }
  if (text == nullptr) return UsageError("explain", "TEXT is missing");

  const char* command_line = full ? SkipProgramName(text) : text;
  g_viewer = ViewerState{};
  ApplyOptions(ParseOptions(command_line));
  WarnAboutOptionsNamingFiles(command_line);

  CandidateList end = {nullptr, nullptr};
  CandidateList* head = &end;
  uint32_t count = 0;
  if (!GatherCandidates(command_line, &end, &head, &count)) {
    std::fputs("vldtool: explain: out of memory while listing the candidates\n", stderr);
    return 1;
  }
  std::printf("activate_mode=%d\n", static_cast<int>(g_viewer.activate_mode));
  std::printf("timeout_ms=%u\n", static_cast<unsigned>(g_viewer.timeout_ms));
  std::printf("seethrough_item=%u\n", static_cast<unsigned>(g_viewer.seethrough_item));
  std::printf("topmost_item=%u\n", static_cast<unsigned>(g_viewer.topmost_item));
  std::printf("frameless_item=%u\n", static_cast<unsigned>(g_viewer.frameless_item));
  std::printf("position_given=%d\n", static_cast<int>(g_viewer.position_given));
  std::printf("given_x=%d\n", static_cast<int>(g_viewer.given_x));
  std::printf("given_y=%d\n", static_cast<int>(g_viewer.given_y));
  std::printf("candidates=%u\n", static_cast<unsigned>(count));
  // A folder may hold a great many candidates: their lines are gathered in
  // large blocks rather than formatted one by one.
  std::string lines;
  lines.reserve(kLineBlock + kPathSize + 16);
  for (const CandidateList* node = head; node != &end; node = node->next) {
    lines.append("candidate=", 10).append(node->name).push_back('\n');
    if (lines.size() >= kLineBlock) {
      std::fwrite(lines.data(), 1, lines.size(), stdout);
      lines.clear();
    }
  }
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  if (count != 0) {
    // Drawn after the listing, as the viewer does, so a clock seed matches.
    uint32_t index = DrawIndex(seed_given ? seed : ClockSeed(), count);
    const CandidateList* chosen = head;
    for (uint32_t i = 0; i < index; ++i) chosen = chosen->next;
    std::printf("chosen_index=%u\n", static_cast<unsigned>(index));
    std::printf("chosen=%s\n", chosen->name);
  }
  FreeCandidates(head);
  return 0;
}
