// The one number reader behind every option and the PNG text: decimal or
// 0x hex, never octal, nothing around the digits.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tools/text/parse.h"

namespace {

TEST(Parse, NumbersAreDecimalOrHexInEveryReader) {
  const struct {
    const char* text;
    int ok;
    uint64_t value;
  } cases[] = {
      {"010", 1, 10},  {"08", 1, 8},     {"0", 1, 0},        {"0x10", 1, 16},
      {"0X1f", 1, 31}, {"65535", 1, 65535}, {"0xFFFF", 1, 65535}, {"65536", 0, 0},
      {"0x", 0, 0},    {"", 0, 0},       {"-1", 0, 0},       {"+1", 0, 0},
      {" 1", 0, 0},    {"1 ", 0, 0},     {"1e3", 0, 0},      {"0x1g", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t value = 0;
    EXPECT_EQ(ParseWholeNumber(c.text, 0xFFFF, &value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
    // The same number as every item of the lists --anchor, --palette and
    // the PNG text take.
    uint16_t words[4] = {};
    const std::string item = c.text;
    EXPECT_EQ(ParseWordList((item + "," + item).c_str(), 2, words), c.ok);
    if (c.ok) {
      EXPECT_EQ(words[1], c.value);
    }
    EXPECT_EQ(ParsePaletteList((item + ",1,#000000," + item).c_str(), words), c.ok);
    if (c.ok) {
      EXPECT_EQ(words[0], c.value);
      EXPECT_EQ(words[3], c.value);
    }
  }
  uint64_t seed = 0;
  EXPECT_TRUE(ParseWholeNumber("4294967295", UINT32_MAX, &seed));
  EXPECT_EQ(seed, 4294967295u);
  EXPECT_FALSE(ParseWholeNumber("4294967296", UINT32_MAX, &seed));
}

TEST(Parse, PaletteListsTakeWordsOrColours) {
  uint16_t words[4];
  ASSERT_TRUE(ParsePaletteList("0,#ff0000,0x07C0,#0000FF", words));
  EXPECT_EQ(words[1], 0x07C0);  // red is bits 10-6
  EXPECT_EQ(words[3], 0x003E);
  for (const char* bad : {"1,2,3", "1,2,3,4,5", "#12345,0,0,0", "#1234567,0,0,0", "0x10000,0,0,0",
                          "#gg0000,0,0,0", "1,,2,3"})
    EXPECT_FALSE(ParsePaletteList(bad, words)) << bad;
  int dither = VLD_DITHER_NONE;
  EXPECT_TRUE(ParseDither("ordered", &dither));
  EXPECT_EQ(dither, VLD_DITHER_ORDERED);
  EXPECT_FALSE(ParseDither("random", &dither));
}

}  // namespace
