#include "qtview/cp932.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

QString Cp932ToUnicode(const char* text, size_t length) {
  length = strnlen(text, length);
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(text, length);
  QByteArray utf8;
  char buffer[64];
  char* in = const_cast<char*>(text);
  size_t in_left = length;
  while (in_left > 0) {
    char* out = buffer;
    size_t out_left = sizeof buffer;
    const size_t result = iconv(converter, &in, &in_left, &out, &out_left);
    utf8.append(buffer, static_cast<int>(out - buffer));
    if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
    if (errno == EINVAL) break;  // a lead byte whose partner was cut off
    utf8.append("\xE3\x83\xBB");  // EILSEQ: one byte no character starts with
    ++in;
    --in_left;
  }
  iconv_close(converter);
  return QString::fromUtf8(utf8);
}
