#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/options.h"
#include "app/viewer_state.h"

namespace {

using OptionFields = ViewerOptions;

OptionFields Parsed(const std::string& text) {
  return ParseOptions(text.c_str());
}

OptionFields Defaults() {
  return {};
}
OptionFields Timeout(uint32_t ms) {
  OptionFields f;
  f.timeout_ms = ms;
  return f;
}
OptionFields Position(int32_t x, int32_t y) {
  OptionFields f;
  f.position_given = 1;
  f.given_x = x;
  f.given_y = y;
  return f;
}
OptionFields Seethrough(uint32_t item) {
  OptionFields f;
  f.seethrough_item = item;
  return f;
}
OptionFields Topmost(uint32_t item) {
  OptionFields f;
  f.topmost_item = item;
  return f;
}
OptionFields Frameless(uint32_t item) {
  OptionFields f;
  f.frameless_item = item;
  return f;
}
OptionFields Activate(int32_t mode) {
  OptionFields f;
  f.activate_mode = mode;
  return f;
}

struct OptionCase {
  const char* text;
  OptionFields expected;
};

TEST(ParseOptions, Table) {
  OptionFields all;
  all.activate_mode = -1;
  all.timeout_ms = 3000;
  all.seethrough_item = 8;
  all.frameless_item = 8;
  all.position_given = 1;
  all.given_x = 10;
  all.given_y = 20;
  OptionFields topmost_only_off = Topmost(0);
  topmost_only_off.seethrough_item = 8;

  const OptionCase cases[] = {
      {"", Defaults()},
      {"-TR", Seethrough(8)},
      {"/tr /notr", Seethrough(0)},
      {"/NOA", Activate(-1)},
      {"/Activate", Activate(1)},
      {"/a /noa /a", Activate(1)},
      {"/f", Frameless(0)},
      {"/nof /frame", Frameless(0)},
      {"/nof", Frameless(8)},
      {"/noframe", Frameless(8)},
      {"/noto", Topmost(0)},
      {"/noto /TopMost", Topmost(8)},
      {"/to /noto", Topmost(0)},
      // timeout: tenths of a second
      {"/w50", Timeout(5000)},
      {"/W50", Timeout(5000)},
      {"/wait30", Timeout(3000)},
      {"/now50", Timeout(5000)},
      {"/w", Defaults()},
      {"/w 50", Defaults()},
      {"/w0", Timeout(0)},
      {"/w50 /w7", Timeout(700)},
      {"/w5s", Timeout(500)},
      {"/w5s0", Timeout(500)},
      {"/w-5", Timeout(0)},
      {"/w,", Timeout(0)},
      {"/w42949672", Timeout(4294967200u)},
      {"/w42949673", Timeout(4294967295u)},
      {"/w99999999999999999999999999999", Timeout(4294967295u)},
      // position
      {"/l100,200", Position(100, 200)},
      {"/l100x200", Position(100, 200)},
      {"/l100 200", Position(100, 200)},
      {"/loc100,200", Position(100, 200)},
      {"/l100\t200", Position(100, 200)},
      {"/l,7", Position(0, 7)},
      {"/l-5,10", Position(0, 5)},
      {"/l12a,5", Position(12, 0)},
      {"/l,", Position(0, 0)},
      {"/l1,2 /l3,4", Position(3, 4)},
      {"/l100", Position(100, 0)},
      {"/l100 ", Position(100, 0)},
      {"/l", Defaults()},
      {"/lx", Defaults()},
      {"/l 5,5", Defaults()},
      {"/nol100,200", Defaults()},
      {"/l2147483647,2147483647", Position(2147483647, 2147483647)},
      {"/l2147483648,99999999999999999999", Position(2147483647, 2147483647)},
      // the position's separator may swallow the next word
      {"/l100 /tr", Position(100, 0)},
      // one option per word; only a word's first character decides
      {"/tr/to", Seethrough(8)},
      {"/noto -to-tr", Topmost(8)},
      {"/t", Defaults()},
      {"/te", Defaults()},
      {"/nox", Defaults()},
      {"/n", Defaults()},
      {"/no", Defaults()},
      {"--tr", Defaults()},
      {"/-tr", Defaults()},
      {"/ tr", Defaults()},
      {"-", Defaults()},
      {"x/tr", Defaults()},
      {"/x /tr", Seethrough(8)},
      {"/tr\t/noa", Seethrough(8)},
      {"\x82\xa0/tr", Defaults()},
      // names and quotes
      {"file.vld /tr", Seethrough(8)},
      {"\"my pictures\" /tr", Seethrough(8)},
      {"\"a /tr\"", Defaults()},
      {"\"a\"/tr", Seethrough(8)},
      {"\"\"/tr", Seethrough(8)},
      {"\"unterminated /tr", Defaults()},
      {"a\"b /tr", Seethrough(8)},
      {"/tr /to /nof /noa /w30 /l10,20", all},
      {"/noto /tr", topmost_only_off},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(std::string("text: ") + c.text);
    OptionFields got = Parsed(c.text);
    EXPECT_EQ(got.activate_mode, c.expected.activate_mode);
    EXPECT_EQ(got.timeout_ms, c.expected.timeout_ms);
    EXPECT_EQ(got.seethrough_item, c.expected.seethrough_item);
    EXPECT_EQ(got.topmost_item, c.expected.topmost_item);
    EXPECT_EQ(got.frameless_item, c.expected.frameless_item);
    EXPECT_EQ(got.position_given, c.expected.position_given);
    EXPECT_EQ(got.given_x, c.expected.given_x);
    EXPECT_EQ(got.given_y, c.expected.given_y);
  }
}

TEST(ParseOptions, LeavesTheRecordAloneUntilApplied) {
  g_viewer = ViewerState{};
  g_viewer.comment_item = kItemEnabled;
  g_viewer.seethrough_denied = -1;
  g_viewer.recreating = 1;
  const ViewerOptions options = ParseOptions("/tr /to /f /a /w1 /l1,1 /nof /noa");
  EXPECT_EQ(g_viewer.timeout_ms, 10000u);
  ApplyOptions(options);
  EXPECT_EQ(g_viewer.timeout_ms, 100u);
  EXPECT_EQ(g_viewer.frameless_item, kItemChecked);
  EXPECT_EQ(g_viewer.given_y, 1);
  EXPECT_EQ(g_viewer.comment_item, kItemEnabled);
  EXPECT_EQ(g_viewer.seethrough_denied, -1);
  EXPECT_EQ(g_viewer.recreating, 1);
  EXPECT_EQ(g_viewer.anchor_x, 0);
  g_viewer = ViewerState{};
}

TEST(ParseOptions, StopsAtTheTerminatingZero) {
  // Bytes after the zero would turn options on if they were read.
  const char texts[][12] = {"/l100\0 /tr", "/l1,\0 /tr", "/w\0 /tr", "\"ab\0 /tr\"",
                            "/t\0r",       "/no\0tr",    "x\0 /tr",  "\"\0\" /tr"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseOptions(text).seethrough_item, 0u);
  }
}

struct RemovalCase {
  const char* full;
  const char* rest;  // the text after the program name
};

TEST(SkipProgramName, Table) {
  const RemovalCase cases[] = {
      {"", ""},
      {"velinde.exe", ""},
      {"velinde.exe /tr", "/tr"},
      {"velinde.exe\t \t/tr x", "/tr x"},
      {"\"C:\\Program Files\\velinde.exe\" /tr a", "/tr a"},
      {"\"C:\\a b\\v.exe\"/tr", "/tr"},
      {"\"C:\\a b\\v.exe\"\"pic.vld\"", "\"pic.vld\""},
      {"\"unterminated /tr", ""},
      {"\"\" /tr", "/tr"},
      {"  /tr", "/tr"},
      {"\x01\x02/tr", "/tr"},
      {"v.exe\x7f /tr", "/tr"},
      {"v\x82\xa0.exe /tr", "/tr"},
      {"v.exe /tr \t", "/tr \t"},
      // a lead byte takes the next byte with it, even a quote
      {"\"\x83\"x\" /tr", "/tr"},
      {"\"\xfc\"\" /tr", "/tr"},
      {"\"\x9f\"\" /tr", "/tr"},
      {"\"\xe0\"\" /tr", "/tr"},
      {"\"\x81\x5c\" /tr", "/tr"},
      // half-width katakana and 0x80, 0xA0, 0xFD are single bytes
      {"\"\xb1\" /tr", "/tr"},
      {"\"\x80\" /tr", "/tr"},
      {"\"\xa0\" /tr", "/tr"},
      {"\"\xfd\" /tr", "/tr"},
      // a lead byte right before the end never reaches past it
      {"\"ab\x81", ""},
  };
  for (const RemovalCase& c : cases) {
    SCOPED_TRACE(std::string("line: ") + c.full);
    const char* rest = SkipProgramName(c.full);
    EXPECT_STREQ(rest, c.rest);
    // The rest is a position within the line, never a copy.
    EXPECT_EQ(rest, c.full + std::strlen(c.full) - std::strlen(c.rest));
  }
}

// Words a POSIX program is handed, as the text after the program name: a word
// naming a file is a name (quoted) even when it starts with '/' or '-', and a
// name holding '"' is left out, so it cannot close its quotes early.
TEST(CommandLineFromWords, Table) {
  const std::vector<std::vector<const char*>> words = {
      {"/w50", "-w20", "a b.vld"}, {"", "say\" /w30 \"x.vld", "/NOTR"}, {}};
  const char* const lines[] = {"\"/w50\" -w20 \"a b.vld\"", "/NOTR", ""};
  for (size_t i = 0; i < words.size(); ++i) {
    EXPECT_EQ(CommandLineFromWords(static_cast<int>(words[i].size()), words[i].data(),
                                   [](const char* name) { return std::strcmp(name, "/w50") == 0; }),
              lines[i]);
  }
}

}  // namespace
