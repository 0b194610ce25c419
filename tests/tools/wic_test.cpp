// vldtool.exe under Wine against the Linux vldtool: the same PNGs from
// decode, the same picture files from encode, and failures that leave no
// file. Run by the Windows build's CTest, which names the program to test
// in VLDTOOL_EXE and Wine's runner in WINE_RUN.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/jpeg_file.h"
#include "tests/tools/run_tool.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The PNG's chunks by type (the last of each type).
std::map<std::string, std::string> Chunks(const std::string& png) {
  std::map<std::string, std::string> found;
  for (size_t at = 8; at + 8 <= png.size();) {
    const uint32_t length = (uint32_t{uint8_t(png[at])} << 24) | (uint32_t{uint8_t(png[at + 1])} << 16) |
                            (uint32_t{uint8_t(png[at + 2])} << 8) | uint8_t(png[at + 3]);
    if (length > png.size() - at - 8) break;
    found[png.substr(at + 4, 4)] = png.substr(at + 8, length);
    at += 12 + size_t{length};
  }
  return found;
}

// An image as the tests make and compare them: palette indices with their
// RGBA colours, or RGBA pixels when `palette` is empty.
struct Picture {
  uint32_t width = 0, height = 0;
  Bytes pixels;   // indices, or RGBA
  Bytes palette;  // RGBA per entry
};

// A PNG's pixels as libpng gives them: palette images as indices (expanded
// to a byte each), others as RGBA.
void ReadFromString(png_structp png, png_bytep out, png_size_t length) {
  auto* cursor = static_cast<std::pair<const std::string*, size_t>*>(png_get_io_ptr(png));
  if (length > cursor->first->size() - cursor->second) png_error(png, "cut short");
  std::memcpy(out, cursor->first->data() + cursor->second, length);
  cursor->second += length;
}

Picture ReadPng(const std::string& path) {
  Picture picture;
  const std::string bytes = ReadFile(path);
  std::pair<const std::string*, size_t> cursor(&bytes, 0);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return Picture();
  }
  png_set_read_fn(png, &cursor, ReadFromString);
  png_read_info(png, info);
  picture.width = png_get_image_width(png, info);
  picture.height = png_get_image_height(png, info);
  const bool indexed = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE;
  if (indexed) {
    png_colorp entries = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &entries, &count);
    png_bytep alphas = nullptr;
    int alpha_count = 0;
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_get_tRNS(png, info, &alphas, &alpha_count, nullptr);
    for (int k = 0; k < count; ++k)
      picture.palette.insert(picture.palette.end(),
                             {entries[k].red, entries[k].green, entries[k].blue,
                              uint8_t(k < alpha_count ? alphas[k] : 255)});
    png_set_packing(png);
  } else {
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 255, PNG_FILLER_AFTER);
  }
  png_read_update_info(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  picture.pixels.resize(row_bytes * picture.height);
  std::vector<png_bytep> rows(picture.height);
  for (uint32_t y = 0; y < picture.height; ++y) rows[y] = &picture.pixels[y * row_bytes];
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return picture;
}

// A palette PNG of `bits` bits a pixel, or RGBA when the picture has no
// palette.
void WritePng(const std::string& path, const Picture& picture, int bits = 8) {
  FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  const bool indexed = !picture.palette.empty();
  png_set_IHDR(png, info, picture.width, picture.height, indexed ? bits : 8,
               indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (indexed) {
    std::vector<png_color> entries;
    Bytes alphas;
    for (size_t k = 0; k < picture.palette.size(); k += 4) {
      entries.push_back({picture.palette[k], picture.palette[k + 1], picture.palette[k + 2]});
      alphas.push_back(picture.palette[k + 3]);
    }
    png_set_PLTE(png, info, entries.data(), static_cast<int>(entries.size()));
    if (alphas[0] != 255) png_set_tRNS(png, info, alphas.data(), 1, nullptr);
  }
  png_write_info(png, info);
  if (indexed) png_set_packing(png);
  const size_t stride = indexed ? picture.width : picture.width * 4;
  for (uint32_t y = 0; y < picture.height; ++y)
    png_write_row(png, &picture.pixels[y * stride]);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

void PutLittle(std::string* out, uint32_t value, int bytes) {
  for (int k = 0; k < bytes; ++k) out->push_back(static_cast<char>(value >> (8 * k)));
}

// An 8-bit palette BMP, rows bottom up, each padded to four bytes.
void WriteBmp(const std::string& path, const Picture& picture) {
  const uint32_t stride = (picture.width + 3) & ~3u;
  const uint32_t entries = static_cast<uint32_t>(picture.palette.size() / 4);
  const uint32_t offset = 14 + 40 + 4 * entries;
  std::string out = "BM";
  PutLittle(&out, offset + stride * picture.height, 4);
  PutLittle(&out, 0, 4);
  PutLittle(&out, offset, 4);
  for (uint32_t value : {40u, picture.width, picture.height}) PutLittle(&out, value, 4);
  PutLittle(&out, 1, 2);
  PutLittle(&out, 8, 2);
  for (uint32_t value : {0u, stride * picture.height, 2835u, 2835u, entries, 0u})
    PutLittle(&out, value, 4);
  for (size_t k = 0; k < picture.palette.size(); k += 4)
    out += {char(picture.palette[k + 2]), char(picture.palette[k + 1]), char(picture.palette[k]), 0};
  for (uint32_t y = picture.height; y-- > 0;) {
    out.append(reinterpret_cast<const char*>(&picture.pixels[y * picture.width]), picture.width);
    out.append(stride - picture.width, '\0');
  }
  WriteFile(path, out);
}

// An uncompressed 8-bit palette TIFF, little-endian, in one strip.
void WriteTiff(const std::string& path, const Picture& picture) {
  const uint32_t pixels = picture.width * picture.height;
  const uint32_t colour_map = 8 + pixels;
  const uint32_t directory = colour_map + 3 * 256 * 2;
  std::string out = "II";
  PutLittle(&out, 42, 2);
  PutLittle(&out, directory, 4);
  out.append(reinterpret_cast<const char*>(picture.pixels.data()), pixels);
  for (int channel = 0; channel < 3; ++channel)
    for (size_t k = 0; k < 256; ++k)
      PutLittle(&out, k * 4 < picture.palette.size() ? picture.palette[k * 4 + channel] * 257u : 0, 2);
  const uint32_t tags[][3] = {{256, 4, picture.width}, {257, 4, picture.height}, {258, 3, 8},
                              {259, 3, 1},             {262, 3, 3},            {273, 4, 8},
                              {277, 3, 1},             {278, 4, picture.height}, {279, 4, pixels},
                              {320, 3, colour_map}};
  PutLittle(&out, sizeof tags / sizeof tags[0], 2);
  for (const auto& tag : tags) {
    PutLittle(&out, tag[0], 2);
    PutLittle(&out, tag[1], 2);
    PutLittle(&out, tag[0] == 320 ? 3 * 256 : 1, 4);
    PutLittle(&out, tag[2], 4);
  }
  PutLittle(&out, 0, 4);
  WriteFile(path, out);
}

int AppendToString(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
  return length;
}

// A GIF with a global colour table; entry 0 see-through when its alpha is 0.
void WriteGif(const std::string& path, const Picture& picture) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, AppendToString, &error);
  const int entries = static_cast<int>(picture.palette.size() / 4);
  int size = 2;
  while (size < entries) size *= 2;
  std::vector<GifColorType> colours(size, GifColorType{0, 0, 0});
  for (int k = 0; k < entries; ++k)
    colours[k] = {picture.palette[4 * k], picture.palette[4 * k + 1], picture.palette[4 * k + 2]};
  ColorMapObject* map = GifMakeMapObject(size, colours.data());
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, picture.width, picture.height, 8, 0, map);
  if (picture.palette[3] == 0) {
    GraphicsControlBlock control{};
    control.TransparentColor = 0;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
  }
  EGifPutImageDesc(gif, 0, 0, picture.width, picture.height, false, nullptr);
  Bytes row(picture.width);
  for (uint32_t y = 0; y < picture.height; ++y) {
    std::memcpy(row.data(), &picture.pixels[y * picture.width], picture.width);
    EGifPutLine(gif, row.data(), picture.width);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  WriteFile(path, out);
}

// A JPEG of quality 95 from the opaque colours of a palette picture.
void WriteJpeg(const std::string& path, const Picture& picture) {
  Bytes rgb(size_t{picture.width} * picture.height * 3);
  for (size_t i = 0; i < rgb.size() / 3; ++i)
    std::memcpy(&rgb[3 * i], &picture.palette[4 * picture.pixels[i]], 3);
  WriteFile(path, EncodeJpeg(picture.width, picture.height, 3, rgb.data(), 95));
}

class WicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* exe = std::getenv("VLDTOOL_EXE");
    const char* wine_run = std::getenv("WINE_RUN");
    ASSERT_TRUE(exe != nullptr && wine_run != nullptr) << "set VLDTOOL_EXE and WINE_RUN";
    exe_ = exe;
    wine_run_ = wine_run;
    char pattern[] = "/tmp/vldtool_wic_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_ = pattern;
  }
  void TearDown() override { RunProgram({"/bin/rm", "-rf", work_}); }

  std::string Path(const std::string& name) const { return work_ + "/" + name; }

  // vldtool, or vldtool.exe under Wine, in the work folder: the exit status
  // and what it printed, trimmed.
  ToolRun Run(bool windows, const std::vector<std::string>& args) const {
    std::vector<std::string> argv = windows ? std::vector<std::string>{wine_run_, exe_}
                                            : std::vector<std::string>{VLDTOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    options.cwd = work_;
    options.timeout_seconds = 120;
    ToolRun run = RunProgram(argv, options);
    run.out += run.err;
    while (!run.out.empty() && (run.out.back() == '\n' || run.out.back() == '\r')) run.out.pop_back();
    return run;
  }

  // sakura.vld decoded by the Linux vldtool, plain or see-through.
  Picture Sakura(bool transparent, const std::string& name) const {
    std::vector<std::string> args = {"decode", std::string(VLD_SAMPLES_DIR) + "/sakura.vld", "-o", Path(name)};
    if (transparent) args.push_back("--transparent");
    EXPECT_EQ(Run(false, args).status, 0);
    return ReadPng(Path(name));
  }

  std::string exe_, wine_run_, work_;
};

TEST_F(WicTest, DecodeGivesTheSamePng) {
  const char* samples[] = {"crescent", "fuji-night", "heart", "sakura", "waves"};
  for (int n = 0; n < 5; ++n) {
    const std::string sample = std::string(VLD_SAMPLES_DIR) + "/" + samples[n] + ".vld";
    SCOPED_TRACE(sample);
    std::vector<std::string> outs;
    for (bool windows : {false, true}) {
      outs.push_back(Path(std::string(samples[n]) + (windows ? "-win.png" : "-linux.png")));
      std::vector<std::string> args = {"decode", sample, "-o", outs.back()};
      if (n % 2 != 0) args.push_back("--transparent");
      const ToolRun run = Run(windows, args);
      ASSERT_EQ(run.status, 0) << run.out;
    }
    auto linux_chunks = Chunks(ReadFile(outs[0])), win_chunks = Chunks(ReadFile(outs[1]));
    EXPECT_EQ(linux_chunks["PLTE"].size(), 12u);
    for (const char* type : {"IHDR", "PLTE", "tRNS"}) EXPECT_EQ(linux_chunks[type], win_chunks[type]) << type;
    EXPECT_EQ(ReadPng(outs[0]).pixels, ReadPng(outs[1]).pixels) << "the pixels differ";
  }
}

TEST_F(WicTest, EncodeGivesTheSamePictureFromEveryKindOfImage) {
  const Picture plain = Sakura(false, "p.png");
  const Picture clear = Sakura(true, "t.png");
  ASSERT_EQ(plain.palette.size(), 16u);
  WriteBmp(Path("p.bmp"), plain);
  WriteTiff(Path("p.tif"), plain);
  WriteGif(Path("t.gif"), clear);
  Picture rgba = clear;
  rgba.palette.clear();
  rgba.pixels.clear();
  for (uint8_t index : clear.pixels)
    rgba.pixels.insert(rgba.pixels.end(), &clear.palette[4 * index], &clear.palette[4 * index] + 4);
  WritePng(Path("rgba.png"), rgba);
  WriteJpeg(Path("p.jpg"), plain);
  // Packed pixels with rows that end inside a byte; more than four colours.
  Picture cropped = plain;
  cropped.width = 219;
  cropped.pixels.clear();
  for (uint32_t y = 0; y < plain.height; ++y)
    cropped.pixels.insert(cropped.pixels.end(), &plain.pixels[y * plain.width],
                          &plain.pixels[y * plain.width] + 219);
  WritePng(Path("p2.png"), cropped, 2);
  Picture ramp;
  ramp.width = 61;
  ramp.height = 37;
  for (int k = 0; k < 16; ++k)
    ramp.palette.insert(ramp.palette.end(), {uint8_t(k * 17), uint8_t(k * 17), uint8_t(k * 17), 255});
  for (uint32_t y = 0; y < ramp.height; ++y)
    for (uint32_t x = 0; x < ramp.width; ++x) ramp.pixels.push_back(uint8_t((y * 16 / 37 + x / 30) % 16));
  WritePng(Path("g16.png"), ramp, 4);
  WriteGif(Path("g16.gif"), ramp);
  // (input for vldtool.exe, the same pixels as vldtool reads them)
  const struct {
    const char* given;
    const char* reference;
  } cases[] = {{"p.png", "p.png"},     {"t.png", "t.png"},     {"rgba.png", "rgba.png"},
               {"p2.png", "p2.png"},   {"g16.png", "g16.png"}, {"g16.gif", "g16.gif"},
               {"p.bmp", "p.png"},     {"p.tif", "p.png"},     {"t.gif", "t.gif"},
               {"p.jpg", "p.jpg"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    const std::string linux_out = c.given + std::string("-linux.vld");
    const std::string win_out = c.given + std::string("-win.vld");
    const ToolRun linux_run = Run(false, {"encode", c.reference, "--anchor", "12,34", "--comment",
                                          "sakura", "-o", linux_out});
    const ToolRun win_run = Run(true, {"encode", c.given, "--anchor", "12,34", "--comment",
                                       "sakura", "-o", win_out});
    ASSERT_EQ(linux_run.status, 0) << linux_run.out;
    ASSERT_EQ(win_run.status, 0) << win_run.out;
    if (std::strcmp(c.given, "p.jpg") != 0) {
      EXPECT_TRUE(ReadFile(Path(linux_out)) == ReadFile(Path(win_out))) << "the picture files differ";
      continue;
    }
    // The JPEG decoders may round differently: the decoded pictures must
    // agree within one level of the file's 5-bit colours.
    Picture decoded[2];
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(Run(false, {"decode", k ? win_out : linux_out, "-o", "j" + std::to_string(k) + ".png"}).status, 0);
      decoded[k] = ReadPng(Path("j" + std::to_string(k) + ".png"));
    }
    ASSERT_EQ(decoded[0].pixels.size(), decoded[1].pixels.size());
    int worst = 0;
    for (size_t i = 0; i < decoded[0].pixels.size(); ++i)
      for (int channel = 0; channel < 3; ++channel)
        worst = std::max(worst, std::abs(decoded[0].palette[4 * decoded[0].pixels[i] + channel] -
                                         decoded[1].palette[4 * decoded[1].pixels[i] + channel]));
    EXPECT_LE(worst, 9) << "decoded pictures differ by up to " << worst;
  }
}

TEST_F(WicTest, RefusedInputsFailAlikeAndLeaveNoFile) {
  WriteGif(Path("t.gif"), Sakura(true, "t.png"));
  const std::string png = ReadFile(Path("t.png"));
  const std::string gif = ReadFile(Path("t.gif"));
  // 65535 x 65535 on the screen and in the image descriptor.
  std::string huge = gif;
  const size_t at = huge.find('\x2c', 13);
  ASSERT_NE(at, std::string::npos);
  huge.replace(6, 4, 4, '\xff');
  huge.replace(at + 5, 4, 4, '\xff');
  const struct {
    const char* name;
    std::string data;
    bool same_text;  // a reason that does not come from a codec is worded alike
  } cases[] = {{"junk.png", "not an image\n", true},
               {"cut.png", png.substr(0, 100), false},
               {"cut.gif", gif.substr(0, gif.size() - 20), false},
               {"empty.gif", gif.substr(0, 13) + "\x3b", false},
               {"huge.gif", huge, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Path(c.name), c.data);
    std::string texts[2];
    for (int windows = 0; windows < 2; ++windows) {
      const std::string out = c.name + std::string("-") + std::to_string(windows) + ".vld";
      const ToolRun run = Run(windows, {"encode", c.name, "-o", out});
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_EQ(run.out.rfind("vldtool: encode: " + std::string(c.name) + ": ", 0), 0u) << run.out;
      EXPECT_EQ(run.out.find('\n'), std::string::npos) << run.out;
      struct stat info;
      EXPECT_NE(stat(Path(out).c_str(), &info), 0) << "left " << out << " behind";
      texts[windows] = run.out;
    }
    if (c.same_text) {
      EXPECT_EQ(texts[0], texts[1]);
    }
  }
}

}  // namespace
