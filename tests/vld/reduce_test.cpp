// The colour reduction: choosing four colours, mapping to given ones, and
// keeping a palette image's own indices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "vld/decode.h"
#include "vld/reduce.h"

namespace {

struct Paint {
  uint8_t rgba[4];
  int share;  // pixels out of every 100
};

struct Pixels {
  uint32_t width = 100, height = 20;
  std::vector<uint8_t> rgba;
};

// An RGBA image of 100 x 20 whose columns are painted in the given shares;
// each colour varies a little down the rows, as anti-aliased art does.
Pixels MakeImage(const std::vector<Paint>& paints) {
  Pixels image;
  for (uint32_t y = 0; y < image.height; ++y) {
    int column = 0;
    for (const Paint& paint : paints)
      for (int k = 0; k < paint.share; ++k, ++column) {
        const int jitter = static_cast<int>((y + column) % 5) * 2 - 4;
        for (int c = 0; c < 3; ++c)
          image.rgba.push_back(static_cast<uint8_t>(
              std::min(255, std::max(0, paint.rgba[c] + (paint.rgba[c] > 127 ? -1 : 1) * jitter))));
        image.rgba.push_back(paint.rgba[3]);
      }
  }
  return image;
}

vld_reduce_options Defaults() {
  vld_reduce_options options;
  vld_reduce_options_init(&options);
  return options;
}

struct Reduced {
  std::vector<uint8_t> indices;
  uint16_t palette[4] = {0, 0, 0, 0};
};

Reduced Reduce(const Pixels& image, const vld_reduce_options& options) {
  Reduced result;
  vld_picture picture;
  EXPECT_EQ(vld_reduce(image.rgba.data(), image.width, image.height, &options, &picture), VLD_OK);
  if (picture.indices == nullptr) return result;
  result.indices.assign(picture.indices, picture.indices + size_t{image.width} * image.height);
  std::memcpy(result.palette, picture.palette, sizeof result.palette);
  vld_picture_free(&picture);
  return result;
}

// WCAG's contrast ratio between two words' colours.
double Contrast(uint16_t a, uint16_t b) {
  auto luminance = [](uint16_t word) {
    const Rgb rgb = GrbiToRgb(word);
    double sum = 0;
    const double weights[3] = {0.2126, 0.7152, 0.0722};
    const int channels[3] = {rgb.r, rgb.g, rgb.b};
    for (int c = 0; c < 3; ++c) {
      const double v = channels[c] / 255.0;
      sum += weights[c] * (v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
    }
    return sum;
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A chart: white paper, grid lines, three line colours and 2% black text.
const std::vector<Paint> kChart = {{{255, 255, 255, 255}, 80}, {{225, 225, 225, 255}, 6},
                                   {{31, 119, 180, 255}, 4},   {{255, 127, 14, 255}, 4},
                                   {{44, 160, 44, 255}, 4},    {{0, 0, 0, 255}, 2}};

TEST(Quantize, SmallDistinctColoursSurvive) {
  struct Case {
    const char* name;
    std::vector<Paint> paints;
    int transparent_columns;  // at the left; 0 when none
  } cases[] = {
      {"chart",
       kChart,
       0},
      // A screenshot with a few see-through pixels: its black text must not
      // be lost to grey because index 0 is taken.
      {"screenshot",
       {{{0, 0, 0, 0}, 1},
        {{211, 208, 202, 255}, 45},
        {{249, 249, 249, 255}, 35},
        {{165, 165, 165, 255}, 14},
        {{0, 0, 0, 255}, 5}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Reduced image = Reduce(MakeImage(c.paints), Defaults());
    const uint16_t* palette = image.palette;
    ASSERT_EQ(image.indices.size(), 2000u);
    const uint8_t black_index = image.indices[99];                     // the last column is black
    const uint8_t paper_index = image.indices[c.transparent_columns];  // the most used paint
    EXPECT_GE(Contrast(palette[black_index], palette[paper_index]), 4.5)
        << "black text stays readable on its paper";
    if (c.transparent_columns > 0) {
      EXPECT_EQ(palette[0], 0x0000);
      EXPECT_EQ(palette[black_index], 0x0001) << "opaque black is not see-through";
      for (uint32_t i = 0; i < image.indices.size(); ++i)
        EXPECT_EQ(image.indices[i] == 0, i % 100 < 1u) << "pixel " << i;
    }
  }
}

// The caller's pixels are read where they lie, never changed, and give the
// same picture every time, with the default options given or not.
TEST(Quantize, SamePixelsGiveTheSamePictureAndStayUntouched) {
  const Pixels image =
      MakeImage({{{0, 0, 0, 0}, 3}, {{200, 40, 40, 255}, 50}, {{20, 20, 220, 255}, 47}});
  const Pixels copy = image;
  const Reduced first = Reduce(image, Defaults());
  vld_picture second;
  ASSERT_EQ(vld_reduce(image.rgba.data(), image.width, image.height, nullptr, &second), VLD_OK);
  EXPECT_EQ(first.indices, std::vector<uint8_t>(second.indices, second.indices + 2000));
  EXPECT_EQ(0, std::memcmp(first.palette, second.palette, sizeof first.palette));
  EXPECT_EQ(image.rgba, copy.rgba);
  vld_picture_free(&second);
}

TEST(Quantize, DitheringMixesTheGivenColours) {
  // Grey 100 mapped to black and white: undithered it is all black;
  // dithered, about 100/255 of the pixels are white, the same way every time.
  vld_reduce_options options = Defaults();
  options.palette_given = 1;
  const uint16_t white = RgbToGrbi(255, 255, 255);
  const uint16_t words[4] = {0x0000, white, white, white};
  std::memcpy(options.palette, words, sizeof words);
  for (int dither : {VLD_DITHER_NONE, VLD_DITHER_FLOYD_STEINBERG, VLD_DITHER_ORDERED}) {
    SCOPED_TRACE(dither);
    options.dither = dither;
    const Pixels image = MakeImage({{{100, 100, 100, 255}, 100}});
    const Reduced first = Reduce(image, options), second = Reduce(image, options);
    EXPECT_EQ(first.indices, second.indices);
    size_t white = 0;
    for (uint8_t index : first.indices) white += index != 0;
    EXPECT_NEAR(static_cast<double>(white) / first.indices.size(),
                dither == VLD_DITHER_NONE ? 0.0 : 100.0 / 255, 0.05);
  }
}

TEST(Quantize, GivenPaletteIsMappedNotRecoloured) {
  vld_reduce_options options = Defaults();
  options.palette_given = 1;
  const uint16_t words[4] = {0, RgbToGrbi(255, 0, 0), 0x07C0, RgbToGrbi(0, 0, 255)};
  std::memcpy(options.palette, words, sizeof words);
  EXPECT_EQ(options.palette[1], 0x07C0);  // red is bits 10-6
  EXPECT_EQ(options.palette[3], 0x003E);
  const Reduced image =
      Reduce(MakeImage({{{10, 10, 240, 255}, 30}, {{240, 20, 20, 255}, 70}}), options);
  EXPECT_EQ(0, std::memcmp(image.palette, options.palette, sizeof image.palette));
  EXPECT_EQ(image.indices[0], 3);   // blue
  EXPECT_EQ(image.indices[99], 1);  // red
}

// The words chosen cannot be bettered by moving any level of any of them one
// step, judged by the pixels' own 8-bit error; and every opaque pixel takes
// the entry nearest its 8-bit value, also between two given words whose
// midpoint falls inside one 5-bit level (91 lies nearer 99 than 82, though
// it narrows to the level showing 90).
TEST(Quantize, WordsAreALocalOptimumAndPixelsTakeTheNearest) {
  const uint16_t grey10 = 0x5294, grey12 = 0x6318;  // levels 10 and 12: 82 and 99
  const struct {
    const char* name;
    std::vector<Paint> paints;
    const uint16_t* given;
  } cases[] = {
      {"chart",
       kChart,
       nullptr},
      {"icon",
       {{{0, 0, 0, 0}, 30},
        {{90, 140, 200, 255}, 25},
        {{120, 60, 30, 255}, 20},
        {{230, 210, 90, 255}, 15},
        {{40, 40, 40, 255}, 10}},
       nullptr},
      {"between levels", {{{91, 91, 91, 255}, 50}, {{84, 84, 84, 255}, 50}}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Pixels image = MakeImage(c.paints);
    vld_reduce_options options = Defaults();
    vld_picture picture;
    ASSERT_EQ(vld_reduce(image.rgba.data(), image.width, image.height, &options, &picture), VLD_OK);
    const bool see_through = c.paints[0].rgba[3] == 0;
    // The squared error of the opaque pixels with these words, each pixel
    // at its nearest; and whether the picture's indices are those.
    auto error = [&](const uint16_t* words, bool check_indices) {
      uint64_t sum = 0;
      for (size_t i = 0; i < image.rgba.size() / 4; ++i) {
        const uint8_t* p = &image.rgba[4 * i];
        if (p[3] < 128) continue;
        auto distance = [&](uint16_t word) {
          const Rgb rgb = GrbiToRgb(word);
          return (p[0] - rgb.r) * (p[0] - rgb.r) + (p[1] - rgb.g) * (p[1] - rgb.g) +
                 (p[2] - rgb.b) * (p[2] - rgb.b);
        };
        int best_distance = -1;
        for (int k = see_through ? 1 : 0; k < 4; ++k)
          if (best_distance < 0 || distance(words[k]) < best_distance)
            best_distance = distance(words[k]);
        if (check_indices) {
          EXPECT_EQ(distance(words[picture.indices[i]]), best_distance) << "pixel " << i;
        }
        sum += uint64_t(best_distance);
      }
      return sum;
    };
    const uint64_t chosen = error(picture.palette, true);
    for (int k = see_through ? 1 : 0; k < 4; ++k)
      for (int shift : {1, 6, 11})
        for (int step : {-1, 1}) {
          uint16_t words[4];
          std::memcpy(words, picture.palette, sizeof words);
          const int level = (words[k] >> shift & 31) + step;
          if (level < 0 || level > 31) continue;
          words[k] = static_cast<uint16_t>((words[k] & ~(31 << shift)) | (level << shift));
          EXPECT_GE(error(words, false), chosen) << "entry " << k << " bits " << shift;
        }
    vld_picture_free(&picture);
  }
  // Given words: 91 goes to 99, 84 to 82.
  vld_reduce_options options = Defaults();
  options.palette_given = 1;
  const uint16_t words[4] = {grey10, grey12, grey12, grey12};
  std::memcpy(options.palette, words, sizeof words);
  const uint8_t rgba[8] = {91, 91, 91, 255, 84, 84, 84, 255};
  vld_picture picture;
  ASSERT_EQ(vld_reduce(rgba, 2, 1, &options, &picture), VLD_OK);
  EXPECT_EQ(picture.indices[0], 1);
  EXPECT_EQ(picture.indices[1], 0);
  vld_picture_free(&picture);
}

TEST(Quantize, PaletteImagesKeepIndicesAndWords) {
  struct Case {
    const char* name;
    uint8_t alpha[4];
    const uint16_t* known;
    int kept;
    uint16_t expected[4];
  };
  const uint16_t known[4] = {0x0001, 0xDFDF, 0x9E0E, 0x1234};  // last: another colour now
  const Case cases[] = {
      {"opaque", {255, 255, 255, 255}, nullptr, 1, {0x0000, 0xDFDE, 0x9E0E, 0xFFFE}},
      {"see-through zero", {0, 255, 255, 255}, nullptr, 1, {0x0000, 0xDFDE, 0x9E0E, 0xFFFE}},
      {"words from text", {255, 255, 255, 255}, known, 1, {0x0001, 0xDFDF, 0x9E0E, 0xFFFE}},
      {"see-through two", {255, 255, 0, 255}, nullptr, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image;
    image.width = 4;
    image.height = 1;
    image.indexed = 1;
    image.indices = {0, 1, 2, 3};
    const uint16_t words[4] = {0x0000, 0xDFDE, 0x9E0E, 0xFFFE};
    for (int k = 0; k < 4; ++k) {
      const Rgb rgb = GrbiToRgb(words[k]);
      image.palette_rgba.insert(image.palette_rgba.end(), {rgb.r, rgb.g, rgb.b, c.alpha[k]});
    }
    uint16_t palette[4] = {};
    ASSERT_EQ(KeepPaletteIndices(image, c.known, palette), c.kept);
    if (c.kept) {
      EXPECT_EQ(0, std::memcmp(palette, c.expected, sizeof palette));
    }
  }
}

}  // namespace
