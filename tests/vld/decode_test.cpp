#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "vld/decode.h"
#include "tests/vld/picture_test_util.h"

namespace {

const Bytes kExampleFile = {0x48, 0x4B, 0x30, 0x33, 0x61, 0x62, 0x63, 0x1A, 0x02, 0x00,
                            0x64, 0x00, 0x32, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0xF8,
                            0x00, 0x07, 0xC0, 0x00, 0x3E, 0x00, 0xF0, 0xCC, 0xC0};

TEST(Decode, ExampleFile) {
  Decoded d = DecodeAll(kExampleFile);
  ASSERT_EQ(d.status, VLD_OK);
  EXPECT_EQ(d.header.comment_found, 1);
  EXPECT_EQ(d.header.comment_length, 3u);
  EXPECT_EQ(CommentOf(kExampleFile, d.header), "abc");
  EXPECT_EQ(d.header.anchor_x, 100);
  EXPECT_EQ(d.header.anchor_y, 50);
  EXPECT_EQ(d.header.width, 8);
  EXPECT_EQ(d.header.height, 2);
  const uint16_t palette[4] = {0x0000, 0xF800, 0x07C0, 0x003E};
  EXPECT_EQ(0, std::memcmp(d.header.palette, palette, sizeof palette));
  EXPECT_EQ(d.header.stride, 16u);
  EXPECT_EQ(d.rows.end_offset, kExampleFile.size());
  EXPECT_EQ(d.rows.literal_rows, 1u);
  EXPECT_EQ(d.rows.repeat_rows, 1u);
  const Bytes expected = {3, 3, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(d.Row(0), expected);
  EXPECT_EQ(d.Row(1), expected);
  for (size_t i = 0; i < 4 * 16; ++i) ASSERT_EQ(d.buffer[i], 0) << "lead-in byte " << i;
}

TEST(Decode, EmptyCommentPutsRowsAtOffset22) {
  const Bytes file = MakeFile(8, 1, {0x00, 0xFF, 0x00});
  Decoded d = DecodeAll(file);
  ASSERT_EQ(d.status, VLD_OK);
  EXPECT_EQ(d.header.comment_length, 0u);
  EXPECT_EQ(d.header.rows_offset, 22u);
  EXPECT_EQ(d.Row(0), Bytes({1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Each case: picture size, row bytes, and the expected buffer rows (stride
// bytes each, spare columns included).
struct RowCase {
  const char* name;
  uint16_t width, height;
  Bytes rows;
  std::vector<Bytes> expected;
  size_t words_read;  // bytes of row data the decoder must consume
};

std::vector<RowCase> RowCases() {
  std::vector<RowCase> cases;
  // 1x1: index 1 at column 0, index 2 in spare column 1.
  cases.push_back(
      {"one_by_one", 1, 1, {0x00, 0x80, 0x40}, {Bytes({1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})}, 3});
  cases.push_back({"control_7f_is_literal",
                   1,
                   1,
                   {0x7F, 0x80, 0x40},
                   {Bytes({1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
                   3});
  cases.push_back({"top_repeat_is_zero", 1, 1, {0xC0}, {Bytes(12, 0)}, 1});
  cases.push_back({"control_ff_is_repeat", 1, 1, {0xFF}, {Bytes(12, 0)}, 1});
  for (uint8_t selectors : {0x55, 0xAA, 0xFF})
    cases.push_back({"top_block_all_copies", 8, 1, {0x80, selectors}, {Bytes(16, 0)}, 2});
  cases.push_back({"control_bf_is_block",
                   8,
                   1,
                   {0xBF, 0x00, 0xF0, 0xCC},
                   {Bytes({3, 3, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
                   4});
  // Width 9: G = 2, K = 1, the low four selector bits are ignored.
  {
    Bytes row0 = {3, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes row1 = row0;  // selector 1 twice
    cases.push_back({"width9_ignores_low_selector_bits",
                     9,
                     2,
                     {0x00, 0x80, 0x80, 0x00, 0xC0, 0x80, 0x5F},
                     {row0, row1},
                     7});
  }
  // Width 10: S = 20. Row 1's first group copies row 0's columns 12..19
  // (decoded spare pixels 12..15 and zero 16..19).
  {
    Bytes row0 = {1, 1, 1, 1, 1, 1, 1, 1, 3, 3, 3, 3, 3, 3, 3, 3, 0, 0, 0, 0};
    Bytes row1 = {3, 3, 3, 3, 0, 0, 0, 0, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0};
    cases.push_back({"width10_left_copy_reads_spare_columns",
                     10,
                     2,
                     {0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x80, 0x80, 0xF0, 0xF0},
                     {row0, row1},
                     9});
  }
  // Selector byte 0x1B over four groups: literal, above, left, four above;
  // exactly one pixel word is read.
  {
    Bytes lit = {0x00};
    for (int g = 0; g < 4; ++g) lit.insert(lit.end(), {static_cast<uint8_t>(0x80 >> g), 0x00});
    Bytes rows = lit;  // row 0
    rows.insert(rows.end(), {0x80, 0x1B, 0x00, 0xFF});
    Bytes row0(40, 0), row1(40, 0);
    for (int g = 0; g < 4; ++g) row0[8 * g + g] = 1;
    for (int x = 0; x < 8; ++x) row1[x] = 2;              // literal 00 FF
    for (int x = 8; x < 16; ++x) row1[x] = row0[x];       // above
    for (int x = 16; x < 24; ++x) row1[x] = row1[x - 8];  // left
    // four above is a lead-in row: zero
    cases.push_back({"selectors_1b", 32, 2, rows, {row0, row1}, rows.size()});
  }
  // Width 33: G = 5, K = 2; all nonzero selectors read no words (1 + K bytes).
  {
    Bytes rows = {0x00};
    for (int g = 0; g < 5; ++g) rows.insert(rows.end(), {0xFF, 0x00});
    rows.insert(rows.end(), {0x80, 0x55, 0x7F});
    Bytes row0(44, 0);
    for (int x = 0; x < 40; ++x) row0[x] = 1;
    cases.push_back({"width33_two_selector_bytes", 33, 2, rows, {row0, row0}, rows.size()});
  }
  // Selector 3 reaches four rows up: rows 0..3 distinct, row 4 copies row 0.
  {
    Bytes rows;
    std::vector<Bytes> expected;
    for (int r = 0; r < 4; ++r) {
      rows.insert(rows.end(), {0x00, static_cast<uint8_t>(r & 1 ? 0xFF : 0),
                               static_cast<uint8_t>(r & 2 ? 0xFF : 0)});
      Bytes row(16, 0);
      for (int x = 0; x < 8; ++x) row[x] = static_cast<uint8_t>(r);
      expected.push_back(row);
    }
    rows.insert(rows.end(), {0x80, 0xC0});
    expected.push_back(expected[0]);
    cases.push_back({"four_rows_above", 8, 5, rows, expected, rows.size()});
  }
  return cases;
}

TEST(Decode, RowCodings) {
  for (const RowCase& c : RowCases()) {
    SCOPED_TRACE(c.name);
    Bytes file = MakeFile(c.width, c.height, c.rows);
    Decoded d = DecodeAll(file);
    ASSERT_EQ(d.status, VLD_OK);
    ASSERT_EQ(d.header.stride, c.expected[0].size());
    for (size_t r = 0; r < c.expected.size(); ++r)
      EXPECT_EQ(d.Row(r), c.expected[r]) << "row " << r;
    EXPECT_EQ(d.rows.end_offset, 22 + c.words_read);
    // Trailing bytes change nothing.
    Bytes longer = file;
    longer.insert(longer.end(), {0x12, 0x34, 0x00, 0x80});
    Decoded d2 = DecodeAll(longer);
    ASSERT_EQ(d2.status, VLD_OK);
    EXPECT_EQ(d2.buffer, d.buffer);
  }
}

TEST(Decode, StrideAndGroups) {
  const struct {
    uint16_t width;
    uint32_t stride, groups;
  } cases[] = {{1, 12, 1}, {4, 12, 1},  {5, 16, 1},  {8, 16, 1},
               {9, 20, 2}, {10, 20, 2}, {33, 44, 5}, {65535, 65544, 8192}};
  for (const auto& c : cases) {
    PictureHeader h;
    Bytes file = MakeFile(c.width, 1, {});
    ASSERT_EQ(ParsePictureHeader(file.data(), file.size(), &h), VLD_OK);
    EXPECT_EQ(h.stride, c.stride) << c.width;
    EXPECT_EQ(h.groups, c.groups) << c.width;
  }
}

TEST(Decode, HeaderRejections) {
  Bytes lower = kExampleFile;
  lower[0] = 'h';
  lower[1] = 'k';
  Bytes hk04 = kExampleFile;
  hk04[3] = '4';
  Bytes format1 = kExampleFile;
  format1[8] = 1;
  Bytes format3 = kExampleFile;
  format3[8] = 3;
  const struct {
    const char* name;
    Bytes file;
    int status;
    int comment_found;
    int format_byte;
  } cases[] = {
      {"empty", {}, VLD_ERROR_BAD_MAGIC, 0, -1},
      {"three_bytes", {'H', 'K', '0'}, VLD_ERROR_BAD_MAGIC, 0, -1},
      {"lower_case", lower, VLD_ERROR_BAD_MAGIC, 0, -1},
      {"hk04", hk04, VLD_ERROR_BAD_MAGIC, 0, -1},
      {"no_terminator", {'H', 'K', '0', '3', 'a', 'b'}, VLD_ERROR_NO_TERMINATOR, 0, -1},
      {"no_format_byte", {'H', 'K', '0', '3', 'a', 'b', 'c', 0x1A}, VLD_ERROR_BAD_FORMAT, 1, -1},
      {"format1", format1, VLD_ERROR_BAD_FORMAT, 1, 1},
      {"format3", format3, VLD_ERROR_BAD_FORMAT, 1, 3},
      {"short_header", Bytes(kExampleFile.begin(), kExampleFile.begin() + 24),
       VLD_ERROR_SHORT_HEADER, 1, 2},
      {"zero_width", MakeFile(0, 5, {0xC0}), VLD_ERROR_ZERO_SIZE, 1, 2},
      {"zero_height", MakeFile(5, 0, {}), VLD_ERROR_ZERO_SIZE, 1, 2},
      {"too_large", MakeFile(65535, 65535, {}), VLD_ERROR_TOO_LARGE, 1, 2},
      {"just_too_large", MakeFile(65524, 4093, {}), VLD_ERROR_TOO_LARGE, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PictureHeader h;
    EXPECT_EQ(ParsePictureHeader(c.file.data(), c.file.size(), &h), c.status);
    EXPECT_EQ(h.comment_found, c.comment_found);
    EXPECT_EQ(h.format_byte, c.format_byte);
    if (c.comment_found && c.file.size() > 7 && c.file[4] == 'a') {
      EXPECT_EQ(CommentOf(c.file, h), "abc");
      EXPECT_EQ(h.comment_length, 3u);
    }
  }
}

TEST(Decode, LargestAcceptedBuffer) {
  // (4092 + 4) * 65532 bytes is just under 256 MiB; one more row is over.
  PictureHeader h;
  Bytes file = MakeFile(65524, 4092, {});
  ASSERT_EQ(ParsePictureHeader(file.data(), file.size(), &h), VLD_OK);
  EXPECT_LE((uint64_t{h.height} + 4) * h.stride, kMaxIndexBufferBytes);
}

// The viewer keeps 127 bytes of a comment; the decoder keeps them all.
TEST(Decode, LongCommentKeptWhole) {
  for (size_t length : {0, 2, 3, 126, 127, 128, 1000}) {
    std::string comment(length, 'x');
    for (size_t i = 0; i < length; ++i) comment[i] = static_cast<char>('a' + i % 26);
    const Bytes file = MakeFile(1, 1, {0xC0}, comment);
    Decoded d = DecodeAll(file);
    ASSERT_EQ(d.status, VLD_OK);
    EXPECT_EQ(d.header.comment_length, length);
    EXPECT_EQ(CommentOf(file, d.header), comment);
  }
}

TEST(Decode, CommentWithZeroByteCountsWhole) {
  const Bytes file = MakeFile(1, 1, {0xC0}, std::string("a\0b", 3));
  Decoded d = DecodeAll(file);
  ASSERT_EQ(d.status, VLD_OK);
  EXPECT_EQ(d.header.comment_length, 3u);
  EXPECT_EQ(CommentOf(file, d.header), std::string("a\0b", 3));
}

// A file cut at any offset before its last row ends is rejected without
// leaking; the reported row is the one the cut fell in.
TEST(Decode, EveryTruncationIsRejected) {
  std::vector<Bytes> files = {kExampleFile};
  for (const RowCase& c : RowCases()) files.push_back(MakeFile(c.width, c.height, c.rows, "abc"));
  for (const Bytes& file : files) {
    Decoded full = DecodeAll(file);
    ASSERT_EQ(full.status, VLD_OK);
    for (size_t cut = 0; cut <= full.rows.end_offset; ++cut) {
      ExpectRowsAsDecode(file, cut);
      if (cut == full.rows.end_offset) break;
      Bytes part(file.begin(), file.begin() + cut);
      Decoded d = DecodeAll(part);
      EXPECT_NE(d.status, VLD_OK) << "cut at " << cut;
      if (cut >= full.header.rows_offset) {
        EXPECT_EQ(d.status, VLD_ERROR_SHORT_ROW) << "cut at " << cut;
        EXPECT_LT(d.rows.bad_row, full.header.height);
      }
      EXPECT_EQ(d.rows.index_buffer, nullptr);
    }
  }
}

TEST(Decode, RowsRefuseUncheckedHeader) {
  PictureHeader h;
  h.width = 0;
  h.height = 3;
  PictureRows rows;
  const uint8_t byte = 0xC0;
  EXPECT_EQ(DecodePictureRows(&byte, 1, h, &rows), VLD_ERROR_ZERO_SIZE);
  h.width = 65535;
  h.height = 65535;
  EXPECT_EQ(DecodePictureRows(&byte, 1, h, &rows), VLD_ERROR_TOO_LARGE);
  h.width = 1;
  h.height = 1;
  h.rows_offset = 5;  // beyond the one byte
  EXPECT_EQ(DecodePictureRows(&byte, 1, h, &rows), VLD_ERROR_SHORT_ROW);
  EXPECT_EQ(rows.index_buffer, nullptr);
}

TEST(Decode, GrbiToRgb) {
  const struct {
    uint16_t word;
    uint8_t r, g, b;
  } cases[] = {{0x0000, 0, 0, 0},       {0x0001, 0, 0, 0},   {0xF800, 0, 255, 0},
               {0x07C0, 255, 0, 0},     {0x003E, 0, 0, 255}, {0xFFFF, 255, 255, 255},
               {0xFFFE, 255, 255, 255}, {0x8000, 0, 132, 0}, {0x0400, 132, 0, 0},
               {0x0020, 0, 0, 132},     {0x0842, 8, 8, 8}};
  for (const auto& c : cases) {
    const Rgb rgb = GrbiToRgb(c.word);
    EXPECT_EQ(rgb.r, c.r) << std::hex << c.word;
    EXPECT_EQ(rgb.g, c.g) << std::hex << c.word;
    EXPECT_EQ(rgb.b, c.b) << std::hex << c.word;
  }
}

TEST(Decode, StatusTextNamesTheFault) {
  char buffer[96];
  PictureHeader h;
  h.format_byte = 3;
  EXPECT_STREQ(PictureStatusText(VLD_ERROR_BAD_FORMAT, &h, nullptr, buffer, sizeof buffer),
               "format byte 3 (only 2 is known)");
  PictureRows rows;
  rows.bad_row = 7;
  EXPECT_STREQ(PictureStatusText(VLD_ERROR_SHORT_ROW, nullptr, &rows, buffer, sizeof buffer),
               "ends inside row 7");
  EXPECT_NE(
      std::strstr(PictureStatusText(VLD_ERROR_BAD_MAGIC, nullptr, nullptr, buffer, sizeof buffer),
                  "bad magic"),
      nullptr);
  EXPECT_NE(
      std::strstr(PictureStatusText(VLD_ERROR_ZERO_SIZE, nullptr, nullptr, buffer, sizeof buffer),
                  "zero size"),
      nullptr);
}

}  // namespace

namespace {

// The row decoding written the plainest way, group by group, to check the
// decoder's faster paths against.
Bytes PlainDecode(const Bytes& file, const PictureHeader& h) {
  const size_t stride = h.stride;
  Bytes buffer((size_t{h.height} + 4) * stride, 0);
  size_t in = h.rows_offset;
  for (uint32_t r = 0; r < h.height; ++r) {
    uint8_t* out = &buffer[(size_t{4} + r) * stride];
    const uint8_t control = file[in++];
    if (control >= 0xC0) {
      std::memcpy(out, out - stride, stride);
      continue;
    }
    const size_t selectors = in;
    if (control >= 0x80) in += (h.groups + 3) / 4;
    for (uint32_t g = 0; g < h.groups; ++g) {
      const int selector = control < 0x80 ? 0 : (file[selectors + g / 4] >> (6 - 2 * (g % 4))) & 3;
      uint8_t* group = out + 8 * g;
      const size_t back[] = {0, stride, 8, 4 * stride};
      for (int x = 0; x < 8; ++x) {
        if (selector == 0)
          group[x] = static_cast<uint8_t>(((file[in] >> (7 - x)) & 1) |
                                          (((file[in + 1] >> (7 - x)) & 1) << 1));
        else
          group[x] = group[x - static_cast<ptrdiff_t>(back[selector])];
      }
      if (selector == 0) in += 2;
    }
  }
  return buffer;
}

TEST(Decode, AgreesWithPlainDecodingOnRandomFiles) {
  std::mt19937 rng(2024);
  // Selector bytes biased towards whole runs so the run paths are taken.
  const uint8_t favourites[] = {0x55, 0xAA, 0xFF, 0x00, 0x1B, 0x5A};
  for (int trial = 0; trial < 300; ++trial) {
    // The last ones outgrow the row-by-row decoder's window, which then moves up.
    const bool tall = trial >= 290;
    const uint16_t width =
        static_cast<uint16_t>(tall ? 300 + rng() % 400 : 1 + rng() % (trial < 200 ? 80 : 700));
    const uint16_t height = static_cast<uint16_t>(tall ? 1000 + rng() % 1000 : 1 + rng() % 12);
    const uint32_t groups = (width + 7u) / 8u;
    Bytes rows;
    for (uint32_t r = 0; r < height; ++r) {
      const int kind = static_cast<int>(rng() % 3);
      if (kind == 0) {
        rows.push_back(static_cast<uint8_t>(rng() & 0x7F));
        for (uint32_t g = 0; g < 2 * groups; ++g) rows.push_back(static_cast<uint8_t>(rng()));
      } else if (kind == 1) {
        rows.push_back(static_cast<uint8_t>(0xC0 | (rng() & 0x3F)));
      } else {
        rows.push_back(static_cast<uint8_t>(0x80 | (rng() & 0x3F)));
        uint32_t literal_groups = 0;
        for (uint32_t k = 0; k < (groups + 3) / 4; ++k) {
          const uint8_t s = rng() % 3 ? favourites[rng() % 6] : static_cast<uint8_t>(rng());
          rows.push_back(s);
          for (uint32_t j = 0; j < 4 && 4 * k + j < groups; ++j)
            if (((s >> (6 - 2 * j)) & 3) == 0) ++literal_groups;
        }
        for (uint32_t g = 0; g < 2 * literal_groups; ++g)
          rows.push_back(static_cast<uint8_t>(rng()));
      }
    }
    const Bytes file = MakeFile(width, height, rows);
    Decoded d = DecodeAll(file);
    ASSERT_EQ(d.status, VLD_OK) << "trial " << trial;
    EXPECT_EQ(d.rows.end_offset, file.size()) << "trial " << trial;
    ASSERT_EQ(d.buffer, PlainDecode(file, d.header)) << "trial " << trial << " width " << width;
    ExpectRowsAsDecode(file, file.size());
  }
}

// Rows that copy whole rows or runs of groups from above, at the widths
// whose strides sit at or just past a multiple of 4096 and at 640: the
// pieces the copies are made in must add up to exactly the plain result.
TEST(Decode, LongCopiesAgreeWithPlainDecoding) {
  std::mt19937 rng(77);
  for (uint16_t width : {4088, 4096, 8188, 640}) {
    SCOPED_TRACE(width);
    const uint32_t groups = PictureGroups(width);
    const uint32_t selector_bytes = PictureSelectorBytes(width);
    Bytes rows;
    auto literal = [&] {
      rows.push_back(0x00);
      for (uint32_t g = 0; g < 2 * groups; ++g) rows.push_back(static_cast<uint8_t>(rng()));
    };
    auto block = [&](uint8_t selector) {
      rows.push_back(0x80);
      rows.insert(rows.end(), selector_bytes, selector);
    };
    for (int r = 0; r < 4; ++r) literal();
    rows.push_back(0xC0);  // repeat
    block(0x55);           // all above
    block(0xFF);           // all four above
    literal();
    block(0x55);
    rows.push_back(0xC0);
    const Bytes file = MakeFile(width, 10, rows);
    Decoded d = DecodeAll(file);
    ASSERT_EQ(d.status, VLD_OK);
    EXPECT_EQ(d.rows.end_offset, file.size());
    EXPECT_TRUE(d.buffer == PlainDecode(file, d.header));
    ExpectRowsAsDecode(file, file.size());
  }
}

}  // namespace
