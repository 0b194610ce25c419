#include "tools/image/resize.h"

#include <algorithm>
#include <cstring>

// The resampler is Debian's libstb-dev stb_image_resize.h (0.97), compiled
// in here and nowhere else; its functions stay private to this file.
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include "stb_image_resize.h"

namespace {

constexpr uint32_t kMaxSide = 65535;
constexpr uint64_t kParseLimit = 1000000000;  // far past any side, so the reason can say so
constexpr uint32_t kMaxPercent = 10000;
constexpr char kForms[] = "give WxH, WxH!, WxH>, WxH<, W, xH or P%";

// Digits at *text, as a whole number at most `max`, times 10^decimals with
// up to `decimals` places after a point; advances *text. 0 when none.
int Number(const char** text, uint64_t max, int decimals, uint64_t* value) {
  const char* p = *text;
  uint64_t v = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    v = v * 10 + uint64_t(*p - '0');
    if (v > max) return 0;
  }
  int places = 0;
  if (decimals > 0 && *p == '.') {
    for (++p; *p >= '0' && *p <= '9'; ++p, ++digits)
      if (places < decimals) v = v * 10 + uint64_t(*p - '0'), ++places;
  }
  if (digits == 0) return 0;
  for (; places < decimals; ++places) v *= 10;
  *text = p;
  *value = v;
  return 1;
}

}  // namespace

int ParseGeometry(const char* text, Geometry* geometry, std::string* error) {
  *geometry = Geometry{};
  const std::string quoted = std::string("\"") + text + "\"";
  const size_t length = std::strlen(text);
  const char* p = text;
  uint64_t a = 0, b = 0;
  bool bad = length == 0;
  if (!bad && text[length - 1] == '%') {
    bad = !Number(&p, kMaxPercent, 3, &a);
    b = a;
    if (!bad && *p == 'x') {
      ++p;
      bad = !Number(&p, kMaxPercent, 3, &b);
    }
    bad = bad || p != text + length - 1;
    if (!bad && (a == 0 || b == 0)) {
      *error = quoted + ": a scale must be more than 0%";
      return 0;
    }
    if (!bad) {
      geometry->percent_x = static_cast<uint32_t>(a);
      geometry->percent_y = static_cast<uint32_t>(b);
      return 1;
    }
  } else if (!bad) {
    const bool has_width = Number(&p, kParseLimit, 0, &a);
    const bool has_height = *p == 'x' && (++p, Number(&p, kParseLimit, 0, &b));
    for (; *p == '!' || *p == '>' || *p == '<'; ++p) {
      bool& flag = *p == '!' ? geometry->exact : *p == '>' ? geometry->shrink : geometry->enlarge;
      bad = bad || flag;
      flag = true;
    }
    bad =
        bad || *p != '\0' || (!has_width && !has_height) || (geometry->shrink && geometry->enlarge);
    if (!bad && geometry->exact && !(has_width && has_height)) {
      *error = quoted + ": an exact size (!) needs both sides, as in 768x512!";
      return 0;
    }
    if (!bad &&
        ((has_width && (a == 0 || a > kMaxSide)) || (has_height && (b == 0 || b > kMaxSide)))) {
      *error = quoted + ": each side must be 1 to " + std::to_string(kMaxSide);
      return 0;
    }
    if (!bad) {
      geometry->width = static_cast<uint32_t>(a);
      geometry->height = static_cast<uint32_t>(b);
      return 1;
    }
  }
  *error = quoted + " is not a size; " + kForms;
  return 0;
}

void ResizedSize(const Geometry& geometry, uint32_t width, uint32_t height, uint64_t* out_width,
                 uint64_t* out_height) {
  const uint64_t w = width, h = height, box_w = geometry.width, box_h = geometry.height;
  uint64_t ow = w, oh = h;
  // Rounded to the nearest pixel, as ImageMagick rounds.
  auto scaled = [](uint64_t side, uint64_t numerator, uint64_t denominator) {
    return (2 * side * numerator + denominator) / (2 * denominator);
  };
  if (geometry.percent_x != 0) {
    ow = scaled(w, geometry.percent_x, 100000);
    oh = scaled(h, geometry.percent_y, 100000);
  } else if (geometry.exact) {
    ow = box_w, oh = box_h;
  } else if (box_h == 0 || (box_w != 0 && box_w * h <= box_h * w)) {
    ow = box_w, oh = scaled(h, box_w, w);  // the width decides
  } else {
    ow = scaled(w, box_h, h), oh = box_h;
  }
  if (geometry.shrink) ow = std::min(ow, w), oh = std::min(oh, h);
  if (geometry.enlarge) ow = std::max(ow, w), oh = std::max(oh, h);
  *out_width = std::max<uint64_t>(ow, 1);
  *out_height = std::max<uint64_t>(oh, 1);
}

int ResizeRgba(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* out,
               uint32_t out_width, uint32_t out_height) {
  // Alpha in channel 3 and no flags: stb premultiplies by it while filtering
  // and filters the colour channels in linear light.
  return stbir_resize_uint8_srgb(rgba, static_cast<int>(width), static_cast<int>(height), 0, out,
                                 static_cast<int>(out_width), static_cast<int>(out_height), 0, 4, 3,
                                 0);
}
