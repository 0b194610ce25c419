// The display objects made from picture files, read back from the GDI. The
// program runs twice: on a 24-bit display and, with VLD_SCREEN_DEPTH=8, on an
// 8-bit palette display.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/viewer_state.h"
#include "tests/display/gdi_readback.h"
#include "vld.h"
#include "vld.hpp"
#include "window/display.h"

namespace {

const uint8_t kExampleFile[29] = {0x48, 0x4B, 0x30, 0x33, 0x61, 0x62, 0x63, 0x1A, 0x02, 0x00,
                                  0x64, 0x00, 0x32, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0xF8,
                                  0x00, 0x07, 0xC0, 0x00, 0x3E, 0x00, 0xF0, 0xCC, 0xC0};

void ResetViewer() {
  if (g_viewer.picture_bitmap != nullptr) DeleteObject(g_viewer.picture_bitmap);
  if (g_viewer.mask_bitmap != nullptr) DeleteObject(g_viewer.mask_bitmap);
  if (g_viewer.palette != nullptr) DeleteObject(g_viewer.palette);
  g_viewer = ViewerState{};
}

// A record unlike the start values, to show that a failure touches nothing.
ViewerState MarkedState() {
  ViewerState state;
  state.comment_item = kItemGrayed;
  state.anchor_x = 11;
  state.anchor_y = 22;
  state.picture_width = 33;
  state.picture_height = 44;
  state.seethrough_denied = -1;
  std::strcpy(state.comment, "earlier");
  return state;
}

void ExpectSameState(const ViewerState& a, const ViewerState& b) {
  EXPECT_EQ(a.palette, b.palette);
  EXPECT_EQ(a.comment_item, b.comment_item);
  EXPECT_EQ(a.anchor_x, b.anchor_x);
  EXPECT_EQ(a.anchor_y, b.anchor_y);
  EXPECT_EQ(a.picture_width, b.picture_width);
  EXPECT_EQ(a.picture_height, b.picture_height);
  EXPECT_EQ(a.picture_bitmap, b.picture_bitmap);
  EXPECT_EQ(a.mask_bitmap, b.mask_bitmap);
  EXPECT_EQ(0, std::memcmp(a.comment, b.comment, sizeof a.comment));
  EXPECT_EQ(a.seethrough_denied, b.seethrough_denied);
  EXPECT_EQ(a.timeout_ms, b.timeout_ms);
  EXPECT_EQ(a.seethrough_item, b.seethrough_item);
}

uint32_t ExpectedColour(uint16_t word) {
  auto channel = [](uint32_t v) { return (v << 3) | (v >> 2); };
  return Rgb32(channel((word >> 6) & 31), channel(word >> 11), channel((word >> 1) & 31));
}

struct Source {
  uint16_t width = 0, height = 0;
  std::vector<uint8_t> indices;
  uint16_t palette[4] = {};
  std::string comment;
};

std::vector<uint8_t> Encode(const Source& source, uint16_t anchor_x = 0, uint16_t anchor_y = 0) {
  vld_picture in = {};
  in.indices = const_cast<uint8_t*>(source.indices.data());
  in.width = source.width;
  in.height = source.height;
  in.anchor_x = anchor_x;
  in.anchor_y = anchor_y;
  std::memcpy(in.palette, source.palette, sizeof in.palette);
  in.comment = reinterpret_cast<uint8_t*>(const_cast<char*>(source.comment.data()));
  in.comment_size = source.comment.size();
  vld::Bytes file;
  EXPECT_EQ(vld_encode(&in, file.data_out(), file.size_out()), VLD_OK);
  return std::vector<uint8_t>(file.data(), file.data() + file.size());
}

Source Pattern(uint16_t width, uint16_t height, uint32_t seed, const uint16_t palette[4]) {
  Source source;
  source.width = width;
  source.height = height;
  std::memcpy(source.palette, palette, sizeof source.palette);
  source.indices.resize(size_t(width) * height);
  uint32_t state = seed;
  for (size_t i = 0; i < source.indices.size(); ++i) {
    state = state * 1103515245u + 12345u;
    // Runs and repeats as well as noise, so all row codings occur.
    source.indices[i] = (i / width) % 3 == 1 && i >= width
                            ? source.indices[i - width]
                            : static_cast<uint8_t>((state >> 16) & 3);
  }
  return source;
}

bool ColoursNear(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int difference = int((a >> shift) & 255) - int((b >> shift) & 255);
    if (difference > tolerance || difference < -tolerance) return false;
  }
  return true;
}

bool PaletteScreenExpected() {
  const char* depth = std::getenv("VLD_SCREEN_DEPTH");
  return depth != nullptr && std::strcmp(depth, "8") == 0;
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetViewer(); }
  void TearDown() override { ResetViewer(); }

  // Checks every display object against the source picture.
  void ExpectPicture(const Source& source) {
    // The bitmap is exactly as wide as the picture.
    const uint32_t stride = source.width;
    const uint32_t mask_width = (source.width + 31u) / 32 * 32;
    EXPECT_EQ(g_viewer.picture_width, source.width);
    EXPECT_EQ(g_viewer.picture_height, source.height);
    EXPECT_EQ(BitmapSize(g_viewer.picture_bitmap), Size(stride, source.height));
    BITMAP mask_info = {};
    ASSERT_EQ(GetObjectA(g_viewer.mask_bitmap, sizeof mask_info, &mask_info),
              int{sizeof mask_info});
    EXPECT_EQ(mask_info.bmWidth, LONG(mask_width));
    EXPECT_EQ(mask_info.bmHeight, source.height);
    EXPECT_EQ(mask_info.bmBitsPixel, 1);
    EXPECT_EQ(mask_info.bmPlanes, 1);

    const std::vector<uint32_t> pixels =
        ReadPixels(g_viewer.picture_bitmap, stride, source.height, g_viewer.palette);
    const std::vector<uint8_t> mask = ReadMonochromeBits(g_viewer.mask_bitmap, source.height);
    ASSERT_EQ(pixels.size(), size_t(stride) * source.height);
    ASSERT_EQ(mask.size(), size_t(mask_width / 8) * source.height);
    // Wine keeps an 8-bit device bitmap in a fixed colour table whatever
    // palette is realized, so there a colour only comes out near its value
    // (Windows itself would match the realized palette exactly). Every
    // pixel of one index must still read back the same.
    const bool near_only = g_viewer.palette != nullptr;
    uint32_t seen[4] = {};
    bool seen_any[4] = {};
    for (uint32_t y = 0; y < source.height; ++y) {
      for (uint32_t x = 0; x < source.width; ++x) {
        const uint8_t index = source.indices[y * source.width + x];
        const uint32_t pixel = pixels[y * stride + x];
        const uint32_t expected = ExpectedColour(source.palette[index]);
        if (near_only) {
          ASSERT_TRUE(ColoursNear(pixel, expected, 24))
              << std::hex << pixel << " for " << expected << std::dec << " at " << x << "," << y;
          if (seen_any[index]) {
            ASSERT_EQ(pixel, seen[index]) << "pixel " << x << "," << y;
          }
          seen[index] = pixel;
          seen_any[index] = true;
        } else {
          ASSERT_EQ(pixel, expected) << "pixel " << x << "," << y << " index " << int(index);
        }
        const bool bit = (mask[y * (mask_width / 8) + x / 8] >> (7 - x % 8)) & 1;
        ASSERT_EQ(bit, index == 0) << "mask " << x << "," << y;
      }
    }
  }
};

TEST_F(DisplayTest, TheExampleFileMakesItsBitmapMaskAndComment) {
  ASSERT_EQ(DecodePicture(kExampleFile, sizeof kExampleFile), 1);
  Source source;
  source.width = 8;
  source.height = 2;
  source.indices = {3, 3, 1, 1, 2, 2, 0, 0, 3, 3, 1, 1, 2, 2, 0, 0};
  const uint16_t palette[4] = {0x0000, 0xF800, 0x07C0, 0x003E};
  std::memcpy(source.palette, palette, sizeof palette);
  ExpectPicture(source);
  EXPECT_EQ(g_viewer.anchor_x, 100);
  EXPECT_EQ(g_viewer.anchor_y, 50);
  EXPECT_STREQ(g_viewer.comment, "abc");
  EXPECT_EQ(g_viewer.comment_item, kItemEnabled);
  EXPECT_EQ(g_viewer.seethrough_denied, 0);
  EXPECT_EQ(BitmapSize(g_viewer.picture_bitmap), Size(8, 2));
  const std::vector<uint8_t> mask = ReadMonochromeBits(g_viewer.mask_bitmap, 2);
  ASSERT_EQ(mask.size(), 8u);
  EXPECT_EQ(mask[0], 0x03);
  EXPECT_EQ(mask[4], 0x03);
  // Black, green, red, blue, left to right as blue blue green green red red black black.
  const std::vector<uint32_t> pixels = ReadPixels(g_viewer.picture_bitmap, 8, 2, g_viewer.palette);
  const uint32_t row[8] = {0x0000FF, 0x0000FF, 0x00FF00, 0x00FF00,
                           0xFF0000, 0xFF0000, 0x000000, 0x000000};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(pixels[x], row[x]) << x;
}

TEST_F(DisplayTest, EncodedPicturesComeBackPixelForPixel) {
  const struct {
    uint16_t width, height;
    uint16_t palette[4];
    int32_t seethrough_denied;
  } cases[] = {
      {1, 1, {0x0000, 0xFFFF, 0x07C0, 0x003E}, 0},
      {10, 3, {0x0001, 0x8000, 0xF800, 0xFFFE}, -1},  // black with intensity: no see-through
      {33, 9, {0x0000, 0x8000, 0x4210, 0x7BDE}, 0},
      {64, 4, {0x1234, 0x0000, 0xABCD, 0x5555}, -1},
      {203, 40, {0xFFFF, 0x07C0, 0xF800, 0x003E}, -1},
  };
  uint32_t seed = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE("width " + std::to_string(c.width));
    ResetViewer();
    const Source source = Pattern(c.width, c.height, seed++, c.palette);
    const std::vector<uint8_t> file = Encode(source, 700, 500);
    ASSERT_EQ(DecodePicture(file.data(), file.size()), 1);
    ExpectPicture(source);
    EXPECT_EQ(g_viewer.anchor_x, 700);
    EXPECT_EQ(g_viewer.anchor_y, 500);
    EXPECT_EQ(g_viewer.seethrough_denied, c.seethrough_denied);
  }
}

TEST_F(DisplayTest, MaskRowsReachTheGdiPaddedTo32Bits) {
  const struct {
    uint16_t width;
    std::vector<uint8_t> row;
    std::vector<uint8_t> bits;  // the mask bitmap's one row
  } cases[] = {
      {8, {0, 1, 2, 3, 0, 0, 0, 0}, {0x8F, 0, 0, 0}},
      {8, {3, 3, 1, 1, 2, 2, 0, 0}, {0x03, 0, 0, 0}},
      {10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0xFF, 0xC0, 0, 0}},
      {33, std::vector<uint8_t>(33, 0), {0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0}},
  };
  const uint16_t palette[4] = {0, 0xFFFF, 0xF800, 0x07C0};
  for (const auto& c : cases) {
    SCOPED_TRACE("width " + std::to_string(c.width));
    ResetViewer();
    Source source;
    source.width = c.width;
    source.height = 1;
    source.indices = c.row;
    std::memcpy(source.palette, palette, sizeof palette);
    const std::vector<uint8_t> file = Encode(source);
    ASSERT_EQ(DecodePicture(file.data(), file.size()), 1);
    EXPECT_EQ(ReadMonochromeBits(g_viewer.mask_bitmap, 1), c.bits);
  }
}

TEST_F(DisplayTest, APaletteIsMadeExactlyOnPaletteScreens) {
  HDC screen = GetDC(nullptr);
  const bool palette_screen = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
  ReleaseDC(nullptr, screen);
  // Both kinds of display must really be exercised: CTest runs this program
  // once per kind, and says which one it asked for.
  ASSERT_EQ(palette_screen, PaletteScreenExpected());

  const uint16_t palette[4] = {0x0000, 0x8000, 0x4210, 0xFFFF};
  const Source source = Pattern(40, 6, 7, palette);
  const std::vector<uint8_t> file = Encode(source);
  ASSERT_EQ(DecodePicture(file.data(), file.size()), 1);
  ExpectPicture(source);
  if (!palette_screen) {
    EXPECT_EQ(g_viewer.palette, nullptr);
    return;
  }
  ASSERT_NE(g_viewer.palette, nullptr);
  PALETTEENTRY entries[8] = {};
  ASSERT_EQ(GetPaletteEntries(g_viewer.palette, 0, 8, entries), 4u);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(Rgb32(entries[k].peRed, entries[k].peGreen, entries[k].peBlue),
              ExpectedColour(palette[k]))
        << "entry " << k;
    EXPECT_EQ(entries[k].peFlags, 0) << "entry " << k;
  }
  // Realized, the palette makes the picture's exact colours available.
  screen = GetDC(nullptr);
  HPALETTE replaced = SelectPalette(screen, g_viewer.palette, FALSE);
  RealizePalette(screen);
  for (int k = 0; k < 4; ++k) {
    const COLORREF wanted =
        RGB((ExpectedColour(palette[k]) >> 16) & 255, (ExpectedColour(palette[k]) >> 8) & 255,
            ExpectedColour(palette[k]) & 255);
    EXPECT_EQ(GetNearestColor(screen, wanted), wanted) << "entry " << k;
  }
  SelectPalette(screen, replaced, FALSE);
  ReleaseDC(nullptr, screen);
}

TEST_F(DisplayTest, TheCommentDecidesTheMenuItem) {
  const struct {
    const char* name;
    std::string comment;
    uint32_t item;
    std::string stored;  // the first 127 bytes
  } cases[] = {
      {"empty", "", kItemGrayed, ""},
      {"two bytes", "ab", kItemGrayed, "ab"},
      {"three bytes", "abc", kItemEnabled, "abc"},
      {"zero byte inside", std::string("a\0b", 3), kItemEnabled, std::string("a\0b", 3)},
      {"Shift-JIS", "\x83\x65\x83\x58\x83\x67", kItemEnabled, "\x83\x65\x83\x58\x83\x67"},
      {"longer than the buffer", std::string(300, 'x'), kItemEnabled, std::string(127, 'x')},
  };
  const uint16_t palette[4] = {0, 1, 2, 3};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetViewer();
    std::memset(g_viewer.comment, 'z', sizeof g_viewer.comment);
    Source source = Pattern(8, 1, 3, palette);
    source.comment = c.comment;
    const std::vector<uint8_t> file = Encode(source);
    ASSERT_EQ(DecodePicture(file.data(), file.size()), 1);
    EXPECT_EQ(g_viewer.comment_item, c.item);
    EXPECT_EQ(std::string(g_viewer.comment, c.stored.size()), c.stored);
    EXPECT_EQ(g_viewer.comment[c.stored.size()], '\0');
    EXPECT_EQ(g_viewer.comment[kCommentSize - 1], '\0');
  }
}

TEST_F(DisplayTest, AnEnabledCommentItemIsNeverGreyedAgain) {
  g_viewer.comment_item = kItemEnabled;
  // Comment "a", format 2, anchor (0, 0), 1 x 1, palette all 0, one literal row.
  const uint8_t file[] = {'H', 'K', '0', '3', 'a', 0x1A, 2, 0, 0, 0, 0, 0, 1,
                          0,   1,   0,   0,   0,   0,    0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(DecodePicture(file, sizeof file), 1);
  EXPECT_EQ(g_viewer.comment_item, kItemEnabled);
  EXPECT_STREQ(g_viewer.comment, "a");
}

TEST_F(DisplayTest, ARejectedFormatByteKeepsTheCommentAndNothingElse) {
  for (uint8_t format : {uint8_t{1}, uint8_t{3}}) {
    ResetViewer();
    const ViewerState before = MarkedState();
    g_viewer = before;
    std::vector<uint8_t> file(kExampleFile, kExampleFile + sizeof kExampleFile);
    file[8] = format;
    EXPECT_EQ(DecodePicture(file.data(), file.size()), 0);
    EXPECT_STREQ(g_viewer.comment, "abc");
    EXPECT_EQ(g_viewer.comment_item, kItemEnabled);
    ViewerState expected = before;
    std::memcpy(expected.comment, g_viewer.comment, sizeof expected.comment);
    expected.comment_item = kItemEnabled;
    ExpectSameState(g_viewer, expected);
  }
}

TEST_F(DisplayTest, RejectedContentLeavesTheRecordUntouched) {
  const std::vector<uint8_t> example(kExampleFile, kExampleFile + sizeof kExampleFile);
  auto cut = [&](size_t n) { return std::vector<uint8_t>(example.begin(), example.begin() + n); };
  std::vector<uint8_t> wrong_magic = example;
  wrong_magic[3] = 0x34;
  std::vector<uint8_t> lower_case = example;
  lower_case[0] = 'h';
  lower_case[1] = 'k';
  std::vector<uint8_t> zero_width = example;
  zero_width[14] = 0;
  const struct {
    const char* name;
    std::vector<uint8_t> content;
  } cases[] = {
      {"empty", {}},
      {"magic HK04", wrong_magic},
      {"magic in lower case", lower_case},
      {"no terminator", cut(7)},
      {"ends right after the terminator", cut(8)},
      {"ends inside the header words", cut(20)},
      {"ends inside the first row", cut(27)},
      {"ends before the last row", cut(28)},
      {"zero width", zero_width},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetViewer();
    const ViewerState before = MarkedState();
    g_viewer = before;
    EXPECT_EQ(DecodePicture(c.content.data(), c.content.size()), 0);
    ExpectSameState(g_viewer, before);
  }
}

// LoadPictureFile runs in a scratch directory of its own, which it takes as
// the current directory so that a command line without names finds nothing.
class LoadTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    GetCurrentDirectoryA(MAX_PATH, saved_directory_);
    directory_ = std::string(temp) + "vld_display_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory_.c_str(), nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(directory_.c_str()));
  }
  void TearDown() override {
    SetCurrentDirectoryA(saved_directory_);
    for (const std::string& name : created_) DeleteFileA((directory_ + "\\" + name).c_str());
    RemoveDirectoryA((directory_ + "\\empty").c_str());
    RemoveDirectoryA(directory_.c_str());
    DisplayTest::TearDown();
  }
  void Write(const std::string& name, const std::vector<uint8_t>& content) {
    FILE* file = std::fopen(name.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    created_.push_back(name);
  }
  // The viewer must have closed the file: nobody else may hold it open now.
  static bool OpenedExclusively(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }

  std::string directory_;
  char saved_directory_[MAX_PATH] = {};
  std::vector<std::string> created_;
};

TEST_F(LoadTest, AGoodFileIsReadAndDecodedAndClosed) {
  Write("good.vld", std::vector<uint8_t>(kExampleFile, kExampleFile + sizeof kExampleFile));
  ASSERT_EQ(LoadPictureFile("/tr good.vld"), 1);
  EXPECT_EQ(g_viewer.picture_width, 8);
  EXPECT_EQ(g_viewer.anchor_x, 100);
  EXPECT_NE(g_viewer.picture_bitmap, nullptr);
  EXPECT_NE(g_viewer.mask_bitmap, nullptr);
  EXPECT_TRUE(OpenedExclusively("good.vld"));
  // Found by the current-directory fallback, by its bare name.
  ResetViewer();
  ASSERT_EQ(LoadPictureFile(""), 1);
  EXPECT_EQ(g_viewer.picture_height, 2);
}

TEST_F(LoadTest, EveryFailureReturnsZeroWithTheRecordUnchanged) {
  std::vector<uint8_t> truncated(kExampleFile, kExampleFile + sizeof kExampleFile - 1);
  std::vector<uint8_t> bad_magic(kExampleFile, kExampleFile + sizeof kExampleFile);
  bad_magic[0] = 'X';
  CreateDirectoryA("empty", nullptr);
  const struct {
    const char* name;
    const char* command_line;
    const char* file;  // written before the call, with `content`
    std::vector<uint8_t> content;
  } cases[] = {
      {"no candidate at all", "", nullptr, {}},
      {"a name that names nothing", "missing.vld", nullptr, {}},
      {"a directory without pictures", "empty", nullptr, {}},
      {"an empty file", "zero.vld", "zero.vld", {}},
      {"a truncated file", "cut.vld", "cut.vld", truncated},
      {"bad magic", "bad.tft", "bad.tft", bad_magic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetViewer();
    if (c.file != nullptr) Write(c.file, c.content);
    const ViewerState before = MarkedState();
    g_viewer = before;
    EXPECT_EQ(LoadPictureFile(c.command_line), 0);
    ExpectSameState(g_viewer, before);
    if (c.file != nullptr) {
      EXPECT_TRUE(OpenedExclusively(c.file));
      DeleteFileA(c.file);
    }
  }
}

TEST_F(LoadTest, AFileThatCannotBeOpenedIsNotRead) {
  Write("locked.vld", std::vector<uint8_t>(kExampleFile, kExampleFile + sizeof kExampleFile));
  HANDLE lock = CreateFileA("locked.vld", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const ViewerState before = MarkedState();
  g_viewer = before;
  EXPECT_EQ(LoadPictureFile("locked.vld"), 0);
  ExpectSameState(g_viewer, before);
  CloseHandle(lock);
}

TEST_F(LoadTest, AFormatByteRejectionKeepsTheComment) {
  std::vector<uint8_t> content(kExampleFile, kExampleFile + sizeof kExampleFile);
  content[8] = 3;
  Write("v3.vld", content);
  EXPECT_EQ(LoadPictureFile("v3.vld"), 0);
  EXPECT_STREQ(g_viewer.comment, "abc");
  EXPECT_EQ(g_viewer.comment_item, kItemEnabled);
  EXPECT_EQ(g_viewer.picture_bitmap, nullptr);
  EXPECT_EQ(g_viewer.picture_width, 0);
  EXPECT_TRUE(OpenedExclusively("v3.vld"));
}

}  // namespace
