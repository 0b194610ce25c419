// The C interface's promises that the install test cannot see from outside:
// every refusal leaves the output empty, arguments no file can hold are
// refused rather than written, and an options struct from an older caller
// still works.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "tests/vld/picture_test_util.h"
#include "vld.h"

namespace {

bool IsEmpty(const vld_picture& p) {
  const vld_picture zero{};
  return std::memcmp(&p, &zero, sizeof p) == 0;
}

TEST(Api, DecodeRefusalsLeaveThePictureEmpty) {
  const Bytes good = MakeFile(9, 2, {0x00, 1, 2, 3, 4, 0xC0}, "abc");
  Bytes format = good;
  format[8] = 3;
  auto cut = [&](size_t end) { return Bytes(good.begin(), good.begin() + end); };
  // Every entry point gives the same code, and the details how far it got.
  const struct {
    const char* name;
    Bytes file;
    int code;
    const char* reason;
    int64_t comment;
    int format;
    uint32_t rows;
  } cases[] = {
      {"empty", {}, VLD_ERROR_BAD_MAGIC, "bad magic", -1, -1, 0},
      {"magic", {'H', 'K', '0', '4', 0x1A}, VLD_ERROR_BAD_MAGIC, "bad magic", -1, -1, 0},
      {"no_end", cut(6), VLD_ERROR_NO_TERMINATOR, "comment", -1, -1, 0},
      {"format", format, VLD_ERROR_BAD_FORMAT, "format byte 3", 3, 3, 0},
      {"header", cut(20), VLD_ERROR_SHORT_HEADER, "header", 3, 2, 0},
      {"zero", MakeFile(0, 2, {}), VLD_ERROR_ZERO_SIZE, "zero size", 0, 2, 0},
      {"large", MakeFile(65535, 65535, {}), VLD_ERROR_TOO_LARGE, "too large", 0, 2, 0},
      {"row", cut(good.size() - 1), VLD_ERROR_SHORT_ROW, "ends inside row 1", 3, 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vld_picture p;
    std::memset(&p, 0x55, sizeof p);
    vld_details d = vld::Details();
    EXPECT_EQ(vld_decode_ex(c.file.data(), c.file.size(), &p, &d), c.code);
    EXPECT_TRUE(IsEmpty(p));
    char reason[80];
    EXPECT_STREQ(vld_decode_reason(c.file.data(), c.file.size(), reason, sizeof reason), d.reason);
    EXPECT_NE(std::string(reason).find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(std::make_tuple(d.comment_size, d.format_byte, d.rows_decoded, d.end_offset),
              std::make_tuple(c.comment, c.format, c.rows, uint64_t{0}));
    // The header alone is good in a file cut inside its rows.
    EXPECT_EQ(vld_info(c.file.data(), c.file.size(), &p), c.rows ? VLD_OK : c.code);
    ExpectRowsAsDecode(c.rows ? good : c.file, c.file.size());
  }
  vld_picture p;
  ASSERT_EQ(vld_decode(good.data(), good.size(), &p), VLD_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p.comment), p.comment_size), "abc");
  std::vector<uint8_t> rgba(4 * 18);
  vld_to_rgba(&p, rgba.data());
  for (size_t i = 0; i < 18; ++i) {
    uint8_t rgb[3];
    vld_rgb(p.palette[p.indices[i]], rgb);
    EXPECT_EQ(Bytes(rgba.begin() + 4 * i, rgba.begin() + 4 * i + 4), Bytes({rgb[0], rgb[1], rgb[2], 255}));
  }
  vld_picture_free(&p);
  EXPECT_TRUE(IsEmpty(p));
}

TEST(Api, EncodeRefusesWhatNoFileCanHold) {
  uint8_t indices[4] = {0, 1, 2, 3};
  const vld_picture good = {2, 2, 5, 6, {0, 1, 2, 3}, indices, nullptr, 0};
  const struct {
    const char* name;
    void (*change)(vld_picture*);
    int code;
  } cases[] = {
      {"good", [](vld_picture*) {}, VLD_OK},
      {"zero width", [](vld_picture* p) { p->width = 0; }, VLD_ERROR_ZERO_SIZE},
      {"wide", [](vld_picture* p) { p->width = 65536; }, VLD_ERROR_TOO_LARGE},
      {"anchor", [](vld_picture* p) { p->anchor_x = 65536; }, VLD_ERROR_INVALID},
      {"no indices", [](vld_picture* p) { p->indices = nullptr; }, VLD_ERROR_INVALID},
      {"no comment bytes", [](vld_picture* p) { p->comment_size = 3; }, VLD_ERROR_INVALID},
      {"index 4", [](vld_picture* p) { p->indices[3] = 4; }, VLD_ERROR_INVALID},
      {"file past the limit",  // refused before the comment is read
       [](vld_picture* p) {
         static const std::unique_ptr<uint8_t[]> huge(new uint8_t[VLD_MAX_FILE_BYTES]);
         p->comment = huge.get(), p->comment_size = VLD_MAX_FILE_BYTES - 22 - p->height;
       },
       VLD_ERROR_TOO_LARGE},
      {"comment end byte",
       [](vld_picture* p) {
         static uint8_t bad[2] = {'a', 0x1A};
         p->comment = bad;
         p->comment_size = 2;
       },
       VLD_ERROR_INVALID},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    indices[3] = 3;
    vld_picture p = good;
    c.change(&p);
    void* data = reinterpret_cast<void*>(1);
    size_t size = 1;
    EXPECT_EQ(vld_encode(&p, &data, &size), c.code);
    if (c.code == VLD_OK) {
      vld_picture back;
      ASSERT_EQ(vld_decode(data, size, &back), VLD_OK);
      EXPECT_EQ(std::memcmp(back.indices, indices, 4), 0);
      EXPECT_EQ(back.anchor_y, 6u);
      vld_picture_free(&back);
    } else {
      EXPECT_EQ(data, nullptr);
      EXPECT_EQ(size, 0u);
    }
    vld_free(data);
  }
}

// A caller built against a header whose options ended before `palette`
// must get the default (chosen colours), whatever follows in its memory.
TEST(Api, OlderOptionsKeepTheirDefaults) {
  std::vector<uint8_t> rgba;
  for (int i = 0; i < 64; ++i)
    rgba.insert(rgba.end(), {uint8_t(i * 4), uint8_t(255 - i * 4), uint8_t(i % 3 * 100), 255});
  vld_reduce_options older;
  vld_reduce_options_init(&older);
  older.size = offsetof(vld_reduce_options, palette_given);
  older.palette_given = 1;  // past what the caller knows: must be ignored
  vld_picture chosen, defaults;
  ASSERT_EQ(vld_reduce(rgba.data(), 8, 8, &older, &chosen), VLD_OK);
  ASSERT_EQ(vld_reduce(rgba.data(), 8, 8, nullptr, &defaults), VLD_OK);
  EXPECT_EQ(std::memcmp(chosen.palette, defaults.palette, sizeof chosen.palette), 0);
  EXPECT_NE(chosen.palette[1], 0);
  vld_picture_free(&chosen);
  vld_picture_free(&defaults);
  vld_picture p;
  EXPECT_EQ(vld_reduce(rgba.data(), 0, 8, nullptr, &p), VLD_ERROR_ZERO_SIZE);
  EXPECT_EQ(vld_reduce(rgba.data(), 70000, 1, nullptr, &p), VLD_ERROR_TOO_LARGE);
  EXPECT_TRUE(IsEmpty(p));
}

// No state is shared: pictures decoded on several threads at once come out
// as they do alone (the sanitizer builds would also see a race).
TEST(Api, ThreadsDecodeAtOnce) {
  Bytes file = MakeFile(40, 3, {0x80, 0x00, 0xAA, 0x55, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78,
                                0x9A, 0xC0, 0xFF});
  vld_picture alone;
  ASSERT_EQ(vld_decode(file.data(), file.size(), &alone), VLD_OK);
  std::vector<int> same(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      int ok = 1;
      for (int i = 0; i < 200 && ok; ++i) {
        vld_picture p;
        ok = vld_decode(file.data(), file.size(), &p) == VLD_OK &&
             std::memcmp(p.indices, alone.indices, 120) == 0;
        vld_picture_free(&p);
      }
      same[t] = ok;
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(same, std::vector<int>(4, 1));
  vld_picture_free(&alone);
}

}  // namespace

namespace {

// The palette image vldtool encode keeps: the cases that must fall back to
// the colour reduction, and the PNG text's words kept where they still fit.
TEST(Api, KeepPaletteKeepsWhatVldtoolKeeps) {
  const uint8_t indices[4] = {0, 1, 2, 1};
  const uint8_t opaque[12] = {0, 0, 0, 255, 255, 0, 0, 255, 0, 0, 255, 255};
  const uint8_t clear0[12] = {0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 255};
  const uint8_t clear1[12] = {0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 255};
  const uint8_t high[4] = {0, 1, 4, 1};
  const uint8_t past_entries[4] = {0, 1, 3, 1};
  // Black and red with the intensity bit; word 2 no longer shows its entry.
  const uint16_t known[4] = {0x0001, 0x07C1, 0x0001, 0};
  const struct {
    const char* name;
    const uint8_t *indices, *entries;
    const uint16_t* known;
    int code;
    uint16_t words[4];
  } cases[] = {
      {"opaque", indices, opaque, nullptr, VLD_OK, {0x0000, 0x07C0, 0x003E, 0}},
      {"see-through 0", indices, clear0, nullptr, VLD_OK, {0x0000, 0x07C0, 0x003E, 0}},
      {"see-through 1 in use", indices, clear1, nullptr, VLD_ERROR_INVALID, {}},
      {"index 4", high, opaque, nullptr, VLD_ERROR_INVALID, {}},
      {"index 3 of 3 entries", past_entries, opaque, nullptr, VLD_ERROR_INVALID, {}},
      {"known words", indices, opaque, known, VLD_OK, {0x0001, 0x07C1, 0x003E, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vld_picture p;
    ASSERT_EQ(vld_keep_palette(c.indices, 2, 2, c.entries, 3, c.known, &p), c.code);
    if (c.code != VLD_OK) {
      EXPECT_TRUE(IsEmpty(p));
      continue;
    }
    EXPECT_EQ(std::vector<uint16_t>(p.palette, p.palette + 4),
              std::vector<uint16_t>(c.words, c.words + 4));
    EXPECT_EQ(std::memcmp(p.indices, c.indices, 4), 0);
    vld_picture_free(&p);
  }
}

TEST(Api, RowsOfTheSamplesAreTheDecodersRows) {
  int samples = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VLD_SAMPLES_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t cut : {file.size(), file.size() / 2}) ExpectRowsAsDecode(file, cut);
    samples += entry.path().extension() == ".vld";
  }
  EXPECT_GE(samples, 5);
}

size_t HeapInUse() {  // 0 where the C library cannot say
#if defined(__GLIBC__)
  return mallinfo2().uordblks + mallinfo2().hblkhd;
#endif
  return 0;
}

// 20 KB files declaring pictures just under the buffer limit (a literal row,
// then repeats): their size costs no memory, their rows a few rows' worth
// until the callback stops them. A file of the file limit is refused unread.
TEST(Api, BombsCostAFewRows) {
  for (const uint32_t width : {65535u, 16376u}) {
    const uint32_t height = width == 65535 ? 4091 : 16376;
    Bytes rows(1 + 2 * PictureGroups(width), 0x5A);  // pixels 0 3 0 3 3 0 3 0 ...
    rows[0] = 0x00;
    rows.resize(rows.size() + height - 1, 0xC0);
    const Bytes file = MakeFile(uint16_t(width), uint16_t(height), rows);
    const size_t before = HeapInUse();
    vld_picture p;  // the header alone, which a decoded picture's header is held to elsewhere
    EXPECT_EQ(vld_info(file.data(), file.size(), &p), VLD_OK);
    EXPECT_EQ(HeapInUse(), before);
    size_t seen[4] = {width, height / 2, 0, 0};  // width, stop, rows as expected, heap
    auto row = [](void* user, uint32_t y, const uint8_t* indices) {
      size_t* s = static_cast<size_t*>(user);
      s[2] += y == s[2] && indices[1] == 3 && indices[s[0] - 1] == "\0\3\0\3\3\0\3"[(s[0] - 1) % 8];
      s[3] = HeapInUse();
      return y + 1 == s[1] ? 1 : 0;
    };
    vld_details d = vld::Details();
    EXPECT_EQ(vld_decode_rows(file.data(), file.size(), nullptr, row, &seen, &d),
              VLD_ERROR_STOPPED);
    EXPECT_EQ(std::make_tuple(p.height, seen[2], d.rows_decoded),
              std::make_tuple(height, height / 2, height / 2));
    EXPECT_LT(seen[3] - before, size_t{4} << 20);
  }
  const std::unique_ptr<uint8_t[]> huge(new uint8_t[VLD_MAX_FILE_BYTES]);  // never read
  vld_picture p;
  EXPECT_EQ(vld_info(huge.get(), VLD_MAX_FILE_BYTES, &p), VLD_ERROR_TOO_LARGE);
  char reason[80];
  EXPECT_STREQ(vld_decode_reason(huge.get(), VLD_MAX_FILE_BYTES, reason, sizeof reason),
               "too large (files of 256 MiB or more are not read)");
}

}  // namespace
