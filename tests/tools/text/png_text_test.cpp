// The picture's text in PNG chunks, written and read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/text/png_text.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A PNG's signature and header chunk, then the end chunk.
Bytes MinimalPng() {
  return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0,   0,    0,    13,   'I', 'H', 'D',
          'R',  0,   0,   0,   1,    0,    0,    0,    1,   8,    3,    0,    0,   0,   0x28,
          0xCB, 0x34, 0xBB, 0,  0,    0,    0,    'I',  'E', 'N',  'D',  0xAE, 0x42, 0x60, 0x82};
}

TEST(PngText, WritesAndReadsTheChunks) {
  PngText text;
  text.has_comment = 1;
  text.comment = "春の桜 \xE2\x80\x95 x";
  text.has_anchor = 1;
  text.anchor[0] = 640;
  text.anchor[1] = 24;
  text.has_palette = 1;
  const uint16_t words[4] = {0x0001, 0xDFDE, 0x9E0E, 0xFFFF};
  std::memcpy(text.palette, words, sizeof words);
  Bytes png = MinimalPng();
  ASSERT_TRUE(AddPngText(&png, text));
  PngText back;
  ReadPngText(png, &back);
  EXPECT_TRUE(back.has_comment && back.has_anchor && back.has_palette);
  EXPECT_EQ(back.comment, text.comment);
  EXPECT_EQ(back.anchor[0], 640);
  EXPECT_EQ(back.anchor[1], 24);
  EXPECT_EQ(0, std::memcmp(back.palette, words, sizeof words));

  // A damaged chunk is passed over; a cut file loses what is cut.
  Bytes damaged = png;
  damaged[33 + 8 + 9] ^= 1;  // a byte of the comment chunk's text
  ReadPngText(damaged, &back);
  EXPECT_FALSE(back.has_comment);
  EXPECT_TRUE(back.has_anchor);
  for (size_t size = 0; size < png.size(); ++size) ReadPngText(Bytes(png.begin(), png.begin() + size), &back);

  Bytes not_png = {1, 2, 3};
  EXPECT_FALSE(AddPngText(&not_png, text));
}

TEST(PngText, NumbersInTheTextAreNeverOctal) {
  Bytes png = MinimalPng();
  // An Anchor chunk "010,020" as another program may write it.
  const Bytes chunk = {0,   0,   0,   14,  't', 'E', 'X', 't', 'A', 'n', 'c', 'h', 'o', 'r', 0,
                       '0', '1', '0', ',', '0', '2', '0', 0x9B, 0xDA, 0x08, 0xCA};
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  PngText text;
  ReadPngText(png, &text);
  ASSERT_TRUE(text.has_anchor);
  EXPECT_EQ(text.anchor[0], 10);
  EXPECT_EQ(text.anchor[1], 20);
}

}  // namespace
