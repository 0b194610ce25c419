#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/choose.h"
#include "test_tree.h"

namespace {

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  char word[kPathSize];
  const char* position = text;
  while ((position = NextArgument(position, word)) != nullptr) words.push_back(word);
  return words;
}

struct WordsCase {
  std::string text;
  std::vector<std::string> words;
};

TEST(NextArgument, Table) {
  const std::string longest(259, 'a');
  const std::string too_long(260, 'b');
  const WordsCase cases[] = {
      {"", {}},
      {"   ", {}},
      {"  a  b ", {"a", "b"}},
      {"/tr a -x b /", {"a", "b"}},
      {"\"a b\" c", {"a b", "c"}},
      {"\"a\"b", {"a", "b"}},
      {"\"\"", {""}},
      {"\"-x\" \"/y z\"", {"-x", "/y z"}},
      {"a/b a-b", {"a/b", "a-b"}},
      {"ab\"c d\"", {"ab\"c", "d\""}},
      {"\"open to the end", {"open to the end"}},
      {"/l100 200 /w 50", {"200", "50"}},
      {"a\tb", {"a\tb"}},
      {"\x82\xa0x.vld", {"\x82\xa0x.vld"}},
      {longest, {longest}},
      {too_long + " b", {"b"}},
      {"\"" + too_long + "\"c", {"c"}},
      {"\"" + too_long, {}},
      {"x \"" + longest + "\"", {"x", longest}},
  };
  for (const WordsCase& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(Words(c.text.c_str()), c.words);
  }
}

TEST(NextArgument, LeavesTheBufferAloneWhenNoWordIsLeft) {
  const std::string too_long(300, 'z');
  const std::string texts[] = {"", "  /tr -x", too_long, "\"" + too_long + "\""};
  for (const std::string& text : texts) {
    char word[kPathSize] = "unchanged";
    EXPECT_EQ(NextArgument(text.c_str(), word), nullptr);
    EXPECT_STREQ(word, "unchanged");
  }
}

TEST(NextArgument, StopsAtTheTerminatingZero) {
  const char texts[][8] = {"\"ab\0 c", "ab\0 c", "/x\0 c", "\"\0\"c"};
  const char* expected_words[] = {"ab", "ab", nullptr, ""};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    std::vector<std::string> expected;
    if (expected_words[i] != nullptr) expected.push_back(expected_words[i]);
    EXPECT_EQ(Words(texts[i]), expected);
  }
}

TEST(DrawIndex, Table) {
  struct Case {
    uint32_t seed, count, index;
  };
  const Case cases[] = {
      {1, 10, 1},              // r = 41
      {0, 10, 8},              // r = 38
      {1, 1000, 41},           //
      {0xFFFFFFFFu, 100, 35},  // the product wraps
      {20000, 100000, 32582},  // bit 31 of the state is dropped
      {12345, 1, 0},
      {12345, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    EXPECT_EQ(DrawIndex(c.seed, c.count), c.index);
  }
}

TEST(DrawIndex, BeyondThe32768ThCandidateNothingIsReachable) {
  uint32_t highest = 0;
  for (uint32_t seed = 0; seed < 300000; seed += 7) {
    uint32_t index = DrawIndex(seed * 2654435761u, 1000000);
    highest = std::max(highest, index);
    ASSERT_EQ(index, DrawIndex(seed * 2654435761u, 32768));
  }
  EXPECT_LT(highest, 32768u);
  EXPECT_GT(highest, 32000u);
}

class Chooser : public TestTree {
 protected:
  // The candidates from the head, or {"<out of memory>"}.
  static std::vector<std::string> Gathered(const std::string& text) {
    CandidateList end = {nullptr, nullptr};
    CandidateList* head = nullptr;
    uint32_t count = 12345;
    if (!GatherCandidates(text.c_str(), &end, &head, &count)) {
      EXPECT_EQ(head, &end);
      EXPECT_EQ(count, 0u);
      return {"<out of memory>"};
    }
    std::vector<std::string> names;
    for (const CandidateList* node = head; node != &end; node = node->next)
      names.push_back(node->name);
    EXPECT_EQ(count, names.size());
    EXPECT_EQ(end.next, nullptr);
    FreeCandidates(head);
    return names;
  }
  static std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  }
  static std::vector<std::string> Reversed(std::vector<std::string> names) {
    std::reverse(names.begin(), names.end());
    return names;
  }
};

TEST_F(Chooser, NewestCandidateFirstAndTftAheadOfVld) {
  File("a.vld");
  File("b.vld");
  Directory("D");
  for (const char* name : {"D/x.vld", "D/Y.VLD", "D/w.vld", "D/z.tft", "D/v.Tft", "D/notes.txt"}) {
    File(name);
  }
  Directory("D/sub.vld");
  Directory("D/sub.tft");
  std::string d = Full("D") + kSeparator;
  std::vector<std::string> expected = Join(
      {{"b.vld"}, Reversed(Listed("D", ".tft", d)), Reversed(Listed("D", ".vld", d)), {"a.vld"}});
  ASSERT_EQ(expected.size(), 7u);
  EXPECT_EQ(Gathered("a.vld D b.vld"), expected);
  EXPECT_EQ(std::filesystem::current_path().string(), root_);
}

TEST_F(Chooser, WordsAndFallback) {
  File("c1.vld");
  File("C2.TFT");
  File("readme.txt");
  File("200");
  File("-x.vld");
  Directory("empty");
  Directory("dir.vld");
  Directory("D");
  File("D/only.vld");
  const std::vector<std::string> fallback =
      Join({Reversed(Listed(".", ".tft", "")), Reversed(Listed(".", ".vld", ""))});
  ASSERT_EQ(fallback.size(), 3u);
  const std::string long_word(260, 'c');
  struct Case {
    std::string text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"", fallback},
      {"/tr /w30", fallback},
      {"nothing.vld", fallback},
      {"empty", fallback},
      {"\"\"", fallback},
      {"dir.vld", fallback},
      {long_word, fallback},
      {"-x.vld", fallback},
      {"readme.txt", {"readme.txt"}},
      {"c1.vld", {"c1.vld"}},
      {"readme.txt readme.txt", {"readme.txt", "readme.txt"}},
      {"\"-x.vld\" /tr", {"-x.vld"}},
      {"/l100 200", {"200"}},
      {"/w 200", {"200"}},
      {long_word + " readme.txt", {"readme.txt"}},
      // wildcards are looked up but not expanded
      {"*.txt", {"*.txt"}},
      {"zz*", fallback},
      // "D*" matches a directory that cannot be entered under that name: it
      // adds nothing, and the current directory is not listed instead
      {"D* readme.txt", {"readme.txt"}},
      {"D c1.vld", {"c1.vld", Full("D/only.vld")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(Gathered(c.text), c.expected);
    EXPECT_EQ(std::filesystem::current_path().string(), root_);
  }
}

TEST_F(Chooser, NothingAnywhere) {
  Directory("x.vld");
  File("readme.txt");
  EXPECT_TRUE(Gathered("").empty());
  EXPECT_TRUE(Gathered("missing x.vld").empty());
  char name[kPathSize] = "unchanged";
  EXPECT_EQ(ChoosePicture("missing", name), 0);
  EXPECT_STREQ(name, "unchanged");
}

TEST_F(Chooser, ChoosesTheOnlyCandidate) {
  File("readme.txt");
  File("a.vld");
  for (int i = 0; i < 3; ++i) {
    char name[kPathSize] = "";
    ASSERT_EQ(ChoosePicture("/tr readme.txt", name), 1);
    EXPECT_STREQ(name, "readme.txt");
    ASSERT_EQ(ChoosePicture("", name), 1);
    EXPECT_STREQ(name, "a.vld");
  }
}

TEST_F(Chooser, ChoosesAmongAll) {
  Directory("D");
  for (const char* name : {"D/1.vld", "D/2.vld", "D/3.tft"}) File(name);
  const std::vector<std::string> all = Gathered("D");
  for (int i = 0; i < 20; ++i) {
    char name[kPathSize] = "";
    ASSERT_EQ(ChoosePicture("D", name), 1);
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
  }
}

TEST_F(Chooser, OutOfMemoryFreesEverything) {
  File("a.vld");
  File("fallback.vld");
  Directory("D");
  for (const char* name : {"D/x.vld", "D/y.tft"}) File(name);
  struct Case {
    const char* text;
    uint32_t allocations;  // one block per candidate
  };
  const Case cases[] = {{"a.vld D", 3}, {"D a.vld", 3}, {"nothing", 2}};
  for (const Case& c : cases) {
    for (uint32_t nth = 1; nth <= c.allocations; ++nth) {
      SCOPED_TRACE(std::string(c.text) + " failing allocation " + std::to_string(nth));
      FailAllocationForTesting(nth);
      EXPECT_EQ(Gathered(c.text), std::vector<std::string>{"<out of memory>"});
      FailAllocationForTesting(nth);
      char name[kPathSize] = "unchanged";
      EXPECT_EQ(ChoosePicture(c.text, name), 0);
      EXPECT_STREQ(name, "unchanged");
      EXPECT_EQ(std::filesystem::current_path().string(), root_);
    }
    FailAllocationForTesting(c.allocations + 1);
    EXPECT_EQ(Gathered(c.text).size(), c.allocations);
    FailAllocationForTesting(0);
  }
}

#ifndef _WIN32
// Windows itself refuses such paths; elsewhere the limit is the viewer's own.
TEST_F(Chooser, EntriesWhoseFullPathDoesNotFitAreSkipped) {
  std::string deep = "d";
  while (root_.size() + 1 + deep.size() < 200) deep += "/dddddddddd";
  Directory(deep);
  size_t room = 259 - (root_.size() + 1 + deep.size() + 1);  // bytes left for a name
  std::string fits = std::string(room - 4, 'f') + ".vld";
  std::string too_long = std::string(room - 3, 'g') + ".vld";
  File(deep + "/" + fits);
  File(deep + "/" + too_long);
  EXPECT_EQ(Gathered(deep), std::vector<std::string>{Full(deep + "/" + fits)});
}
#endif

}  // namespace
