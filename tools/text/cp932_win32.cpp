// Code page 932 characters through the system's code page tables.
#include <windows.h>

#include "tools/text/cp932.h"

int ConvertCharacter(const char* bytes, size_t length, bool to_utf8, std::string* out) {
  wchar_t wide[4];
  const int count = MultiByteToWideChar(to_utf8 ? 932 : CP_UTF8, MB_ERR_INVALID_CHARS, bytes,
                                        static_cast<int>(length), wide, 4);
  if (count <= 0) return 0;
  char converted[16];
  BOOL lossy = FALSE;
  const int bytes_out =
      to_utf8 ? WideCharToMultiByte(CP_UTF8, 0, wide, count, converted, sizeof converted, nullptr,
                                    nullptr)
              : WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, count, converted,
                                    sizeof converted, nullptr, &lossy);
  if (bytes_out <= 0 || lossy) return 0;
  out->append(converted, static_cast<size_t>(bytes_out));
  return 1;
}
