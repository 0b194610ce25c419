#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "vld/encode.h"
#include "tests/vld/picture_test_util.h"

namespace {

Bytes Encode(const Bytes& indices, uint16_t width, uint16_t height, const std::string& comment = "",
             int* ok = nullptr) {
  EncodeSource source;
  source.indices = indices.data();
  source.width = width;
  source.height = height;
  source.anchor_x = 12;
  source.anchor_y = 34;
  const uint16_t palette[4] = {0x0000, 0xF800, 0x07C0, 0x003E};
  std::memcpy(source.palette, palette, sizeof palette);
  source.comment = comment.data();
  source.comment_length = comment.size();
  Bytes out;
  const int result = EncodePicture(source, &out);
  if (ok != nullptr) *ok = result;
  return out;
}

// Pictures with the structure real ones have: runs, repeated rows, rows that
// come back after four, repeated 8-pixel blocks, and plain noise.
Bytes MakePicture(std::mt19937* rng, uint32_t width, uint32_t height) {
  Bytes p(size_t{width} * height);
  std::uniform_int_distribution<int> any(0, 3), mode(0, 5);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = &p[size_t{y} * width];
    const int m = mode(*rng);
    for (uint32_t x = 0; x < width; ++x) {
      switch (m) {
        case 0:
          row[x] = static_cast<uint8_t>(any(*rng));
          break;
        case 1:
          row[x] = y > 0 ? p[size_t{y - 1} * width + x] : 0;
          break;
        case 2:
          row[x] = y >= 4 && any(*rng) != 0 ? p[size_t{y - 4} * width + x]
                                            : static_cast<uint8_t>(any(*rng));
          break;
        case 3:
          row[x] = x >= 8 ? row[x - 8] : static_cast<uint8_t>(any(*rng));
          break;
        case 4:
          row[x] = static_cast<uint8_t>((x / 5 + y) % 4 == 0 ? 2 : 0);
          break;
        default:
          row[x] = y > 0 && any(*rng) != 0 ? p[size_t{y - 1} * width + x]
                                           : static_cast<uint8_t>(any(*rng));
          break;
      }
    }
  }
  return p;
}

void ExpectRoundTrip(const Bytes& picture, uint16_t width, uint16_t height, PictureRows* counts) {
  int ok = 0;
  const Bytes file = Encode(picture, width, height, "comment", &ok);
  ASSERT_EQ(ok, 1);
  Decoded d = DecodeAll(file);
  ASSERT_EQ(d.status, VLD_OK);
  ASSERT_EQ(d.rows.end_offset, file.size()) << "the decoder must use every byte written";
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      ASSERT_EQ(d.At(y, x), picture[size_t{y} * width + x])
          << width << "x" << height << " at " << x << "," << y;
  counts->literal_rows += d.rows.literal_rows;
  counts->repeat_rows += d.rows.repeat_rows;
  counts->block_rows += d.rows.block_rows;
}

TEST(Encode, RoundTripsEveryNarrowWidth) {
  std::mt19937 rng(1234);
  PictureRows counts;
  for (uint16_t width = 1; width <= 40; ++width)
    for (uint16_t height : {1, 2, 5, 17}) {
      for (int trial = 0; trial < 4; ++trial)
        ExpectRoundTrip(MakePicture(&rng, width, height), width, height, &counts);
    }
  // The generator must have reached every row kind, or the test proves little.
  EXPECT_GT(counts.literal_rows, 0u);
  EXPECT_GT(counts.repeat_rows, 0u);
  EXPECT_GT(counts.block_rows, 0u);
}

TEST(Encode, RoundTripsLargerPictures) {
  std::mt19937 rng(99);
  PictureRows counts;
  const uint16_t sizes[][2] = {{63, 40}, {64, 64}, {100, 7}, {257, 33}, {768, 20}, {1001, 3}};
  for (const auto& s : sizes) ExpectRoundTrip(MakePicture(&rng, s[0], s[1]), s[0], s[1], &counts);
}

TEST(Encode, WritesTheExampleFileExactly) {
  const Bytes picture = {3, 3, 1, 1, 2, 2, 0, 0, 3, 3, 1, 1, 2, 2, 0, 0};
  EncodeSource source;
  source.indices = picture.data();
  source.width = 8;
  source.height = 2;
  source.anchor_x = 100;
  source.anchor_y = 50;
  const uint16_t palette[4] = {0x0000, 0xF800, 0x07C0, 0x003E};
  std::memcpy(source.palette, palette, sizeof palette);
  source.comment = "abc";
  source.comment_length = 3;
  Bytes out;
  ASSERT_EQ(EncodePicture(source, &out), 1);
  const Bytes expected = {0x48, 0x4B, 0x30, 0x33, 0x61, 0x62, 0x63, 0x1A, 0x02, 0x00,
                          0x64, 0x00, 0x32, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0xF8,
                          0x00, 0x07, 0xC0, 0x00, 0x3E, 0x00, 0xF0, 0xCC, 0xC0};
  EXPECT_EQ(out, expected);
}

// The row coding chosen is the smallest: checked through the exact sizes of
// pictures whose best coding is known.
TEST(Encode, ChoosesTheSmallestRow) {
  const struct {
    const char* name;
    uint16_t width, height;
    Bytes picture;
    size_t rows_bytes;
  } cases[] = {
      // All background: every row repeats the zero row above.
      {"blank", 40, 3, Bytes(120, 0), 3},
      // One group of noise then four blank groups: block row 1 + 2 + 2.
      {"one_literal_group", 40, 1,
       [] {
         Bytes p(40, 0);
         p[3] = 2;
         return p;
       }(),
       5},
      // Two distinct groups over width 16: literal 1 + 4 beats block 1 + 1 + 4.
      {"dense", 16, 1, Bytes({1, 2, 3, 1, 2, 3, 1, 2, 3, 3, 3, 3, 2, 2, 2, 1}), 5},
      // Spare columns count: row 1's last group equals the group to its left
      // in its one visible pixel only, so it is not copied and both rows stay
      // literal (a block row would be 1 + 1 + 4).
      {"spare_columns_count", 9, 2, Bytes({1, 1, 1, 1, 1, 1, 1, 1, 3, 2, 1, 1, 1, 1, 1, 1, 1, 2}),
       5 + 5},
      // A group equal to the one four rows above, spare pixels included, is
      // copied: rows 0 and 4 hold the same noise, rows 1-3 differ from their
      // neighbours, and row 4's block row is 1 + 1 + 2 (one copy, one word).
      {"four_rows_above", 9, 5, Bytes({1, 2, 3, 0, 1, 2, 3, 0, 1,  //
                                       2, 2, 2, 2, 2, 2, 2, 2, 2,  //
                                       3, 3, 3, 3, 3, 3, 3, 3, 3,  //
                                       1, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                       1, 2, 3, 0, 1, 2, 3, 0, 2}),
       5 + 5 + 5 + 5 + 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int ok = 0;
    const Bytes file = Encode(c.picture, c.width, c.height, "", &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(file.size(), 22 + c.rows_bytes);
    Decoded d = DecodeAll(file);
    ASSERT_EQ(d.status, VLD_OK);
    for (uint32_t y = 0; y < c.height; ++y)
      for (uint32_t x = 0; x < c.width; ++x)
        EXPECT_EQ(d.At(y, x), c.picture[size_t{y} * c.width + x]);
  }
}

TEST(Encode, RefusesWhatCannotBeWritten) {
  const Bytes good(16, 1);
  Bytes bad_index = good;
  bad_index[5] = 4;
  const struct {
    const char* name;
    Bytes picture;
    uint16_t width, height;
    std::string comment;
  } cases[] = {
      {"zero_width", good, 0, 4, ""},
      {"zero_height", good, 4, 0, ""},
      {"index_above_3", bad_index, 4, 4, ""},
      {"comment_with_1a", good, 4, 4,
       "ab\x1a"
       "c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int ok = 1;
    Encode(c.picture, c.width, c.height, c.comment, &ok);
    EXPECT_EQ(ok, 0);
  }
  // A picture the decoder would refuse as too large is not written either;
  // the check comes before the pixels are read.
  EncodeSource huge;
  const uint8_t pixel = 0;
  huge.indices = &pixel;
  huge.width = 65535;
  huge.height = 65535;
  Bytes out;
  EXPECT_EQ(EncodePicture(huge, &out), 0);
}

TEST(Encode, KeepsLongAndOddComments) {
  const std::string comment = std::string("\x82\xa0\0z", 4) + std::string(300, 'q');
  int ok = 0;
  const Bytes file = Encode(Bytes(4, 3), 2, 2, comment, &ok);
  ASSERT_EQ(ok, 1);
  Decoded d = DecodeAll(file);
  ASSERT_EQ(d.status, VLD_OK);
  EXPECT_EQ(d.header.comment_length, comment.size());
  EXPECT_EQ(CommentOf(file, d.header), comment);
  EXPECT_EQ(d.header.anchor_x, 12);
  EXPECT_EQ(d.header.anchor_y, 34);
}

}  // namespace
