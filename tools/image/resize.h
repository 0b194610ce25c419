// Resizing an image before it becomes a picture, with the geometry rules
// people know from ImageMagick's -resize. Plain C++ over RGBA buffers, so
// the web page's module compiles it too and gives the same bytes.
#pragma once

#include <cstdint>
#include <string>

struct Geometry {
  uint32_t width = 0, height = 0;         // 0: not given (then taken from the aspect)
  uint32_t percent_x = 0, percent_y = 0;  // thousandths of a percent; 0: a size was given
  bool exact = false;                     // "!": exactly width x height
  bool shrink = false;                    // ">": only ever smaller
  bool enlarge = false;                   // "<": only ever larger
};

// The 768 x 512 reference screen, shrunk to when the image is larger.
constexpr char kFitGeometry[] = "768x512>";

// Parses "WxH" (fit within, keeping the aspect), "W", "xH", "WxH!"
// (exactly), a trailing ">" (only shrink) or "<" (only enlarge), "P%" or
// "PxQ%" (scale, decimals allowed). Returns 0 with a one-line reason.
int ParseGeometry(const char* text, Geometry* geometry, std::string* error);

// The size an image of width x height takes under `geometry`, each side at
// least 1 (and possibly more than a picture file can hold).
void ResizedSize(const Geometry& geometry, uint32_t width, uint32_t height, uint64_t* out_width,
                 uint64_t* out_height);

// Resamples width x height RGBA pixels into out_width x out_height ones:
// filtered in linear light (the pixels are sRGB), with alpha premultiplied
// while filtering so see-through pixels lend no colour. Returns 0 when
// memory runs out.
int ResizeRgba(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* out,
               uint32_t out_width, uint32_t out_height);
