#include "tools/parse.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

int ParseDither(const char* text, Dither* dither) {
  const struct {
    const char* name;
    Dither value;
  } kNames[] = {{"none", kDitherNone},
                {"floyd-steinberg", kDitherFloydSteinberg},
                {"ordered", kDitherOrdered}};
  for (const auto& entry : kNames)
    if (std::strcmp(text, entry.name) == 0) {
      *dither = entry.value;
      return 1;
    }
  return 0;
}

int ParsePaletteList(const char* text, uint16_t words[4]) {
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    char* end = nullptr;
    if (*p == '#') {
      for (int d = 1; d <= 6; ++d)
        if (!std::isxdigit(static_cast<unsigned char>(p[d]))) return 0;
      const unsigned long rgb = std::strtoul(p + 1, &end, 16);
      if (end != p + 7) return 0;
      words[i] = RgbToGrbi(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                           static_cast<uint8_t>(rgb));
    } else {
      if (*p < '0' || *p > '9') return 0;
      const unsigned long value = std::strtoul(p, &end, 0);
      if (end == p || value > 0xFFFF) return 0;
      words[i] = static_cast<uint16_t>(value);
    }
    p = end;
    if (i < 3) {
      if (*p != ',') return 0;
      ++p;
    }
  }
  return *p == 0;
}

