#include "tools/text/parse.h"

#include <cstring>

namespace {

// The value of a digit in base 10 or 16, or -1.
int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int ParseNumber(const char* text, uint64_t max, const char** end, uint64_t* value) {
  const char* p = text;
  const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (hex) p += 2;
  const char* digits = p;
  uint64_t number = 0;
  for (int digit; (digit = DigitValue(*p, hex)) >= 0; ++p) {
    number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (number > max) return 0;
  }
  if (p == digits) return 0;
  *end = p;
  *value = number;
  return 1;
}

int ParseWholeNumber(const char* text, uint64_t max, uint64_t* value) {
  const char* end = nullptr;
  return ParseNumber(text, max, &end, value) && *end == 0;
}

namespace {

// One item of a comma list: a number, or with `colours` also #rrggbb.
int ParseItem(const char* text, bool colours, const char** end, uint16_t* word) {
  uint64_t value = 0;
  if (!colours || *text != '#') {
    if (!ParseNumber(text, 0xFFFF, end, &value)) return 0;
    *word = static_cast<uint16_t>(value);
    return 1;
  }
  for (int d = 1; d <= 6; ++d) {
    const int digit = DigitValue(text[d], true);
    if (digit < 0) return 0;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  *end = text + 7;
  *word = vld_word(static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                   static_cast<uint8_t>(value));
  return 1;
}

int ParseList(const char* text, int count, bool colours, uint16_t* words) {
  const char* p = text;
  for (int i = 0; i < count; ++i) {
    if (!ParseItem(p, colours, &p, &words[i])) return 0;
    if (i + 1 < count && *p++ != ',') return 0;
  }
  return *p == 0;
}

}  // namespace

int ParseWordList(const char* text, int count, uint16_t* words) {
  return ParseList(text, count, false, words);
}

int ParsePaletteList(const char* text, uint16_t words[4]) {
  return ParseList(text, 4, true, words);
}

int ParseDither(const char* text, int* dither) {
  const struct {
    const char* name;
    int value;
  } kNames[] = {{"none", VLD_DITHER_NONE},
                {"floyd-steinberg", VLD_DITHER_FLOYD_STEINBERG},
                {"ordered", VLD_DITHER_ORDERED}};
  for (const auto& entry : kNames)
    if (std::strcmp(text, entry.name) == 0) {
      *dither = entry.value;
      return 1;
    }
  return 0;
}
