// Words handed to a POSIX program, made into the viewer's command line: each
// case's line is also read back by the option and name scanners, so a name
// that starts with '/' or '-' must come out as a name and never as an option.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/choose.h"
#include "app/command_line.h"
#include "app/options.h"

namespace {

bool Exists(const char* name) {
  for (const char* known : {"/tmp/pictures", "-reverse", "/w50", "a b.vld"}) {
    if (std::strcmp(name, known) == 0) return true;
  }
  return false;
}

std::vector<std::string> Names(const std::string& line) {
  std::vector<std::string> names;
  char word[kPathSize];
  const char* position = line.c_str();
  while ((position = NextArgument(position, word)) != nullptr) names.push_back(word);
  return names;
}

TEST(CommandLineFromWords, Table) {
  struct Case {
    std::vector<const char*> words;
    const char* line;
    std::vector<std::string> names;
    uint32_t timeout_ms;
  };
  const Case cases[] = {
      {{}, "", {}, 10000},
      {{"/w50", "/tmp/pictures"}, "\"/w50\" \"/tmp/pictures\"", {"/w50", "/tmp/pictures"}, 10000},
      {{"-w20", "-reverse"}, "-w20 \"-reverse\"", {"-reverse"}, 2000},
      {{"/w20", "missing.vld", "a b.vld"}, "/w20 \"missing.vld\" \"a b.vld\"",
       {"missing.vld", "a b.vld"}, 2000},
      {{"/nof", "", "say\"what.vld", "/NOTR"}, "/nof /NOTR", {}, 10000},
  };
  for (const Case& c : cases) {
    const std::string line =
        CommandLineFromWords(static_cast<int>(c.words.size()), c.words.data(), Exists);
    SCOPED_TRACE(line);
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(Names(line), c.names);
    EXPECT_EQ(ParseOptions(line.c_str()).timeout_ms, c.timeout_ms);
  }
}

}  // namespace
