#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/viewer_state.h"
#include "tests/app/test_tree.h"
#include "tools/commands/commands.h"

namespace {

struct Explained {
  int status;
  std::string output;
};

Explained Explain(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int status = RunExplain(static_cast<int>(argv.size()), argv.data());
  std::string output = ::testing::internal::GetCapturedStdout();
  std::string errors = ::testing::internal::GetCapturedStderr();
  if (status == 2) output = errors;
  std::string text;
  for (char c : output) {
    if (c != '\r') text += c;
  }
  return {status, text};
}

class ExplainCommand : public TestTree {};

TEST_F(ExplainCommand, PrintsOptionsCandidatesAndChoice) {
  File("a.vld");
  Directory("D");
  File("D/z.tft");
  g_viewer.timeout_ms = 1;  // explain starts from a fresh record
  Explained got = Explain({"--seed", "1", "--", "/tr /noa /w30 a.vld /l,7 D missing"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output,
            "activate_mode=-1\ntimeout_ms=3000\nseethrough_item=8\ntopmost_item=8\n"
            "frameless_item=0\nposition_given=1\ngiven_x=0\ngiven_y=7\n"
            "candidates=2\ncandidate=" +
                Full("D/z.tft") +
                "\ncandidate=a.vld\n"
                "chosen_index=1\nchosen=a.vld\n");

  got = Explain({"--full", "--seed", "0", "\"C:\\my tools\\velinde.exe\" -w5s"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output,
            "activate_mode=0\ntimeout_ms=500\nseethrough_item=0\ntopmost_item=8\n"
            "frameless_item=0\nposition_given=0\ngiven_x=0\ngiven_y=0\n"
            "candidates=1\ncandidate=a.vld\nchosen_index=0\nchosen=a.vld\n");

  std::remove("a.vld");
  got = Explain({"--seed", "4294967295", "/l2147483648,1"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.output,
            "activate_mode=0\ntimeout_ms=10000\nseethrough_item=0\ntopmost_item=8\n"
            "frameless_item=0\nposition_given=1\ngiven_x=2147483647\ngiven_y=1\n"
            "candidates=0\n");
}

TEST(ExplainUsage, Table) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string output_start;
  };
  const Case cases[] = {
      {{"--help"}, 0, "usage: vldtool explain"},
      {{"x", "--help"}, 0, "usage: vldtool explain"},
      {{}, 2, "vldtool: explain: TEXT is missing"},
      {{"a", "b"}, 2, "vldtool: explain: more than one TEXT"},
      {{"--", "a", "b"}, 2, "vldtool: explain: more than one TEXT"},
      {{"-x"}, 2, "vldtool: explain: unknown option -x"},
      {{"--seed"}, 2, "vldtool: explain: --seed needs a number"},
      {{"--seed", "4294967296", "x"}, 2, "vldtool: explain: --seed takes a number"},
      {{"--seed", "-1", "x"}, 2, "vldtool: explain: --seed takes a number"},
      {{"--seed", "", "x"}, 2, "vldtool: explain: --seed takes a number"},
      {{"--seed", "1x", "x"}, 2, "vldtool: explain: --seed takes a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output_start);
    Explained got = Explain(c.arguments);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.output.compare(0, c.output_start.size(), c.output_start), 0) << got.output;
    if (c.status == 2) {
      EXPECT_EQ(got.output.find('\n'), got.output.size() - 1) << "one line";
    }
  }
}

}  // namespace
