// vldtool as a user runs it: exit statuses, messages, and the files it
// leaves (or does not leave) behind.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "vld.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// A file vldtool wrote, as the library reads it back.
struct Decoded {
  explicit Decoded(const Bytes& file) : status(vld_decode(file.data(), file.size(), picture.get())) {}
  vld::Picture picture;
  int status;
  const vld_picture& header = *picture;
  uint8_t At(uint32_t y, uint32_t x) const { return header.indices[size_t{y} * header.width + x]; }
};
Decoded DecodeAll(const Bytes& file) { return Decoded(file); }
std::string CommentOf(const Bytes&, const vld_picture& header) {
  return std::string(header.comment, header.comment + header.comment_size);
}
struct Rgb {
  uint8_t r, g, b;
};
Rgb GrbiToRgb(uint16_t word) {
  uint8_t rgb[3];
  vld_rgb(word, rgb);
  return Rgb{rgb[0], rgb[1], rgb[2]};
}

struct ToolRun {
  int status;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class VldtoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vldtool_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs vldtool through /bin/sh with `args`; with `in_dir` the command
  // runs inside the test's directory so relative names land there.
  ToolRun Tool(const std::string& args, bool in_dir = false) const {
    const std::string command = (in_dir ? "cd '" + dir_ + "' && " : std::string()) + "'" +
                                VLDTOOL_PATH + "' " + args + " >'" + Path("out.txt") + "' 2>'" +
                                Path("err.txt") + "'";
    const int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(Path("out.txt")),
                ReadText(Path("err.txt"))};
    std::remove(Path("out.txt").c_str());
    std::remove(Path("err.txt").c_str());
    return run;
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    FILE* pipe = popen(("ls -A '" + dir_ + "'").c_str(), "r");
    char line[512];
    while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
      std::string name(line);
      if (!name.empty() && name.back() == '\n') name.pop_back();
      names.push_back(name);
    }
    if (pipe != nullptr) pclose(pipe);
    return names;
  }

  std::string dir_;
};

// A PNG written with libpng's simplified API: RGBA or, with a colormap,
// palette indices.
void WritePng(const std::string& path, uint32_t width, uint32_t height, const Bytes& pixels,
              const Bytes* colormap_rgba = nullptr) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  if (colormap_rgba != nullptr) {
    image.format |= PNG_FORMAT_FLAG_COLORMAP;
    image.colormap_entries = static_cast<png_uint_32>(colormap_rgba->size() / 4);
  }
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0,
                                      colormap_rgba ? colormap_rgba->data() : nullptr));
}

struct ReadBack {
  uint32_t width = 0, height = 0;
  int color_type = -1, bit_depth = 0;
  std::vector<png_color> palette;
  std::vector<uint8_t> alphas;
  Bytes indices;
};

// Reads a palette PNG back with libpng's classic API, so the palette comes
// out exactly as stored.
ReadBack ReadPalettePng(const std::string& path) {
  ReadBack r;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return r;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return r;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  r.width = png_get_image_width(png, info);
  r.height = png_get_image_height(png, info);
  r.color_type = png_get_color_type(png, info);
  r.bit_depth = png_get_bit_depth(png, info);
  png_colorp entries = nullptr;
  int count = 0;
  png_get_PLTE(png, info, &entries, &count);
  r.palette.assign(entries, entries + count);
  png_bytep alphas = nullptr;
  int alpha_count = 0;
  if (png_get_valid(png, info, PNG_INFO_tRNS))
    png_get_tRNS(png, info, &alphas, &alpha_count, nullptr);
  r.alphas.assign(alphas, alphas + alpha_count);
  r.indices.resize(size_t{r.width} * r.height);
  for (uint32_t y = 0; y < r.height; ++y)
    png_read_row(png, &r.indices[size_t{y} * r.width], nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return r;
}

const Bytes kExample = {0x48, 0x4B, 0x30, 0x33, 0x61, 0x62, 0x63, 0x1A, 0x02, 0x00,
                        0x64, 0x00, 0x32, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0xF8,
                        0x00, 0x07, 0xC0, 0x00, 0x3E, 0x00, 0xF0, 0xCC, 0xC0};

TEST_F(VldtoolTest, InfoReportsEveryFileAndFailsOnARejectedOne) {
  WriteBytes(Path("good.vld"), kExample);
  WriteBytes(Path("format3.vld"), {'H', 'K', '0', '3', 'x', 0x1A, 3});
  WriteBytes(Path("cut.vld"), Bytes(kExample.begin(), kExample.end() - 2));
  const ToolRun run = Tool("info '" + Path("format3.vld") + "' '" + Path("good.vld") + "' '" +
                           Path("cut.vld") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("anchor: 100,50"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("size: 8x2"), std::string::npos);
  EXPECT_NE(run.out.find("see-through: possible"), std::string::npos);
  EXPECT_NE(run.out.find("1 literal, 1 repeat, 0 block"), std::string::npos);
  EXPECT_EQ(run.err, "vldtool: info: " + Path("format3.vld") +
                         ": format byte 3 (only 2 is known)\n" +
                         "vldtool: info: " + Path("cut.vld") + ": ends inside row 0\n");
}

TEST_F(VldtoolTest, InfoJsonShowsTheCommentAsUtf8) {
  // "テスト" in code page 932.
  Bytes file = {'H', 'K', '0', '3', 0x83, 0x65, 0x83, 0x58, 0x83, 0x67, 0x1A, 0x02};
  for (int i = 0; i < 16; ++i) file.push_back(i == 5 || i == 7 ? 1 : i == 9 ? 1 : 0);
  file.push_back(0xC0);
  WriteBytes(Path("jp.vld"), file);
  const ToolRun run = Tool("info --json '" + Path("jp.vld") + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"comment\": \"テスト\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"seethrough\": false"), std::string::npos) << run.out;
}

TEST_F(VldtoolTest, DecodeWritesAFourEntryPalettePng) {
  WriteBytes(Path("ex.vld"), kExample);
  ToolRun run = Tool("decode '" + Path("ex.vld") + "' -o '" + Path("ex.png") + "' --transparent");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const ReadBack png = ReadPalettePng(Path("ex.png"));
  EXPECT_EQ(png.width, 8u);
  EXPECT_EQ(png.height, 2u);
  EXPECT_EQ(png.color_type, PNG_COLOR_TYPE_PALETTE);
  EXPECT_EQ(png.bit_depth, 8);
  ASSERT_EQ(png.palette.size(), 4u);
  const uint8_t expected[4][3] = {{0, 0, 0}, {0, 255, 0}, {255, 0, 0}, {0, 0, 255}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(png.palette[k].red, expected[k][0]);
    EXPECT_EQ(png.palette[k].green, expected[k][1]);
    EXPECT_EQ(png.palette[k].blue, expected[k][2]);
  }
  EXPECT_EQ(png.alphas, Bytes({0}));
  EXPECT_EQ(png.indices, Bytes({3, 3, 1, 1, 2, 2, 0, 0, 3, 3, 1, 1, 2, 2, 0, 0}));

  run = Tool("decode '" + Path("ex.vld") + "' -o '" + Path("plain.png") + "'");
  ASSERT_EQ(run.status, 0);
  EXPECT_TRUE(ReadPalettePng(Path("plain.png")).alphas.empty());
}

TEST_F(VldtoolTest, EncodeKeepsPaletteIndicesAndRoundTrips) {
  const uint32_t width = 37, height = 11;
  Bytes indices(width * height);
  for (size_t i = 0; i < indices.size(); ++i)
    indices[i] = static_cast<uint8_t>((i / 7 + i / 37) % 4);
  const Bytes colormap = {0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255};
  WritePng(Path("in.png"), width, height, indices, &colormap);
  ToolRun run = Tool("encode '" + Path("in.png") + "' -o '" + Path("out.vld") +
                     "' --anchor 300,200 --comment 'さくら'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string written = ReadText(Path("out.vld"));
  const Bytes file(written.begin(), written.end());
  const Decoded d = DecodeAll(file);
  ASSERT_EQ(d.status, VLD_OK);
  EXPECT_EQ(d.header.anchor_x, 300);
  EXPECT_EQ(d.header.anchor_y, 200);
  EXPECT_EQ(CommentOf(file, d.header), "\x82\xb3\x82\xad\x82\xe7");
  const uint16_t words[4] = {0x0000, 0xFFFE, 0x07C0, 0x003E};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(d.header.palette[k], words[k]) << k;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) ASSERT_EQ(d.At(y, x), indices[y * width + x]);

  run = Tool("decode '" + Path("out.vld") + "' -o '" + Path("back.png") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadPalettePng(Path("back.png")).indices, indices);
}

TEST_F(VldtoolTest, EncodeReducesTrueColourAndMakesTransparencyIndexZero) {
  const uint32_t width = 20, height = 10;
  Bytes rgba(width * height * 4);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &rgba[(y * width + x) * 4];
      if (x < 5) {
        p[0] = p[1] = p[2] = 9, p[3] = 0;  // transparent
      } else if (x < 15) {
        p[0] = static_cast<uint8_t>(200 + x), p[1] = 10, p[2] = 10, p[3] = 255;  // reds
      } else {
        p[0] = 10, p[1] = 10, p[2] = static_cast<uint8_t>(200 + y), p[3] = 255;  // blues
      }
    }
  WritePng(Path("rgba.png"), width, height, rgba);
  const ToolRun run = Tool("encode '" + Path("rgba.png") + "' -o '" + Path("out.vld") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string text = ReadText(Path("out.vld"));
  const Decoded d = DecodeAll(Bytes(text.begin(), text.end()));
  ASSERT_EQ(d.status, VLD_OK);
  EXPECT_EQ(d.header.palette[0], 0);
  for (uint32_t y = 0; y < height; ++y) {
    EXPECT_EQ(d.At(y, 0), 0);
    EXPECT_NE(d.At(y, 5), 0);
    for (uint32_t x = 5; x < width; ++x) {
      const Rgb colour = GrbiToRgb(d.header.palette[d.At(y, x)]);
      EXPECT_NE(d.At(y, x), 0) << "opaque pixels keep off the see-through index";
      EXPECT_GT(x < 15 ? colour.r : colour.b, 180) << "reds and blues stay apart at " << x;
      EXPECT_LT(x < 15 ? colour.b : colour.r, 40) << "reds and blues stay apart at " << x;
    }
  }
}

// decode then encode gives the file back byte for byte: comment, anchor,
// palette words (intensity bits included) and indices, with or without a
// see-through index 0 in between.
TEST_F(VldtoolTest, DecodeThenEncodeGivesTheSameFile) {
  std::vector<std::string> files;
  for (const char* sample : {"crescent", "fuji-night", "heart", "sakura", "waves"})
    files.push_back(std::string(VLD_SAMPLES_DIR) + "/" + sample + ".vld");
  std::mt19937 rng(9);
  const std::string comments[] = {"", "abc", "\x82\xb3\x82\xad\x82\xe7 no 1", "~!#$%&()=|{}"};
  for (int n = 0; n < 12; ++n) {
    const uint16_t width = static_cast<uint16_t>(1 + rng() % 300);
    const uint16_t height = static_cast<uint16_t>(1 + rng() % 40);
    Bytes indices(size_t{width} * height);
    for (size_t i = 0; i < indices.size(); ++i)
      indices[i] = i >= width && rng() % 3 != 0 ? indices[i - width] : static_cast<uint8_t>(rng() % 4);
    vld_picture source = {};
    source.indices = indices.data();
    source.width = width;
    source.height = height;
    source.anchor_x = static_cast<uint16_t>(rng());
    source.anchor_y = static_cast<uint16_t>(rng());
    for (uint16_t& word : source.palette) word = static_cast<uint16_t>(rng());
    if (n % 3 == 0) source.palette[0] = static_cast<uint16_t>(rng() % 2);  // either black
    const std::string& comment = comments[n % 4];
    source.comment = reinterpret_cast<uint8_t*>(const_cast<char*>(comment.data()));
    source.comment_size = comment.size();
    vld::Bytes file;
    ASSERT_EQ(vld_encode(&source, file.data_out(), file.size_out()), VLD_OK);
    files.push_back(Path("random" + std::to_string(n) + ".vld"));
    WriteBytes(files.back(), Bytes(file.data(), file.data() + file.size()));
  }
  for (const std::string& file : files) {
    for (const char* option : {"", " --transparent"}) {
      SCOPED_TRACE(file + option);
      ToolRun run = Tool("decode '" + file + "' -o '" + Path("round.png") + "'" + option);
      ASSERT_EQ(run.status, 0) << run.err;
      run = Tool("encode '" + Path("round.png") + "' -o '" + Path("round.vld") + "'");
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(ReadText(Path("round.vld")) == ReadText(file));
    }
  }
}

TEST_F(VldtoolTest, EncodeOverridesTheTextAndReportsWhatItWrote) {
  ToolRun run = Tool("decode '" + std::string(VLD_SAMPLES_DIR) + "/sakura.vld' -o '" +
                     Path("s.png") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  run = Tool("encode '" + Path("s.png") + "' -o '" + Path("s.vld") + "' --comment x --anchor 1,2");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string written = ReadText(Path("s.vld"));
  const Bytes file(written.begin(), written.end());
  const Decoded d = DecodeAll(file);
  EXPECT_EQ(CommentOf(file, d.header), "x");
  EXPECT_EQ(d.header.anchor_x, 1);
  EXPECT_EQ(d.header.anchor_y, 2);
  EXPECT_EQ(run.err, "vldtool: encode: " + Path("s.vld") +
                         ": 220x150, colours 0x0000 #000000, 0x32C8 #5a3121, 0x9FAE #f79cbd, "
                         "0xEFFC #ffeff7, rows 0 literal 20 repeat 130 block, " +
                         std::to_string(written.size()) + " bytes\n");

  // Larger than the reference screen: a warning, and the file all the same.
  WritePng(Path("wide.png"), 769, 1, Bytes(769 * 4, 255));
  run = Tool("encode '" + Path("wide.png") + "' -o '" + Path("wide.vld") + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("warning: 769x1 is larger than the 768x512"), std::string::npos);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_FALSE(ReadText(Path("wide.vld")).empty());
}

// --resize and --fit scale the image before it is reduced: the picture has
// the size asked for, and its left half stays red and its right half blue.
TEST_F(VldtoolTest, EncodeResizesAsAsked) {
  auto halves = [](uint32_t width, uint32_t height) {
    Bytes rgba(size_t{width} * height * 4, 255);
    for (size_t i = 0; i < size_t{width} * height; ++i) {
      const bool left = i % width < width / 2;
      rgba[4 * i] = left ? 220 : 20, rgba[4 * i + 1] = 30, rgba[4 * i + 2] = left ? 20 : 220;
    }
    return rgba;
  };
  WritePng(Path("photo.png"), 1200, 800, halves(1200, 800));
  WritePng(Path("small.png"), 300, 200, halves(300, 200));
  const Bytes colormap = {220, 30, 20, 255, 20, 30, 220, 255, 0, 0, 0, 255, 9, 9, 9, 255, 8, 8, 8, 255};
  Bytes indices(40 * 20);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = i % 40 < 20 ? 0 : 1;
  WritePng(Path("palette.png"), 40, 20, indices, &colormap);
  const struct {
    const char* input;
    const char* options;
    int status;
    uint32_t width, height;
  } cases[] = {
      {"photo.png", "--resize 768x512", 0, 768, 512},  {"photo.png", "--resize 700x700", 0, 700, 467},
      {"photo.png", "--fit", 0, 768, 512},             {"small.png", "--fit", 0, 300, 200},
      {"photo.png", "--resize 50%", 0, 600, 400},      {"photo.png", "--resize '100x100!'", 0, 100, 100},
      {"small.png", "--resize '600x600>'", 0, 300, 200}, {"palette.png", "--resize 200%", 0, 80, 40},
      {"photo.png", "--resize 12y", 2, 0, 0},          {"photo.png", "--resize 10000%", 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.options);
    std::remove(Path("out.vld").c_str());
    const ToolRun run =
        Tool("encode '" + Path(c.input) + "' -o '" + Path("out.vld") + "' " + c.options);
    ASSERT_EQ(run.status, c.status) << run.err;
    if (c.status != 0) {
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_TRUE(ReadText(Path("out.vld")).empty()) << "no file";
      continue;
    }
    const std::string text = ReadText(Path("out.vld"));
    const Decoded d = DecodeAll(Bytes(text.begin(), text.end()));
    ASSERT_EQ(d.status, VLD_OK);
    EXPECT_EQ(d.header.width, c.width);
    EXPECT_EQ(d.header.height, c.height);
    const Rgb left = GrbiToRgb(d.header.palette[d.At(c.height / 2, c.width / 4)]);
    const Rgb right = GrbiToRgb(d.header.palette[d.At(c.height / 2, c.width * 3 / 4)]);
    EXPECT_TRUE(left.r > 180 && left.b < 60 && right.b > 180 && right.r < 60);
  }
}

TEST_F(VldtoolTest, FailuresSayWhyAndLeaveNoFile) {
  WritePng(Path("in.png"), 2, 1, Bytes({1, 2, 3, 255, 4, 5, 6, 255}));
  WriteBytes(Path("bad.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0});
  WriteBytes(Path("ex.vld"), Bytes(kExample.begin(), kExample.end() - 1));
  const std::vector<std::string> before = Files();
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"encode in.png -o out.vld --comment \"$(printf 'a\\032b')\"", "0x1A"},
      {"encode in.png -o out.vld --comment '\xF0\x9F\x98\x80'", "code page 932"},
      {"encode in.png -o out.vld --comment \"$(printf 'x%.0s' $(seq 128))\"", "at most 127"},
      {"encode bad.png -o out.vld", "bad.png"},
      {"encode missing.png -o out.vld", "missing.png"},
      {"encode in.png -o out.vld --palette 1,2,3", "--palette"},
      {"encode in.png -o out.vld --palette 1,2,3,#12345", "--palette"},
      {"encode in.png -o out.vld --dither random", "--dither"},
      {"encode in.png -o out.vld --anchor 70000,1", "--anchor"},
      {"encode in.png -o nodir/out.vld", "nodir/out.vld"},
      {"decode ex.vld -o out.png", "ends inside row 1"},
      {"decode in.png -o out.png", "bad magic"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool(c.args, true);
    SCOPED_TRACE(c.args);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(Files(), before);
  }
}

}  // namespace
