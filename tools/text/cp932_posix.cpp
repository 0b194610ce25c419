// Code page 932 characters through iconv.
#include <iconv.h>

#include <cstring>

#include "tools/text/cp932.h"

int ConvertCharacter(const char* bytes, size_t length, bool to_utf8, std::string* out) {
  // Opened once and reused.
  static iconv_t converters[2] = {reinterpret_cast<iconv_t>(-1), reinterpret_cast<iconv_t>(-1)};
  iconv_t& cd = converters[to_utf8 ? 1 : 0];
  if (cd == reinterpret_cast<iconv_t>(-1))
    cd = to_utf8 ? iconv_open("UTF-8", "CP932") : iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in_copy[4];
  std::memcpy(in_copy, bytes, length);
  char converted[16];
  char* in_ptr = in_copy;
  size_t in_left = length;
  char* out_ptr = converted;
  size_t out_left = sizeof converted;
  const size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  if (result == static_cast<size_t>(-1) || in_left != 0) return 0;
  out->append(converted, sizeof converted - out_left);
  return 1;
}
