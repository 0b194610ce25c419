// The small picture vldtool's test programs start from.
#pragma once

#include <string>

// An 8x2 picture: comment "abc", anchor 100,50, a literal row and a repeat.
inline const std::string kExample("\x48\x4B\x30\x33\x61\x62\x63\x1A\x02\x00\x64\x00\x32\x00\x08\x00\x02"
                                  "\x00\x00\xF8\x00\x07\xC0\x00\x3E\x00\xF0\xCC\xC0",
                                  29);
inline const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

// The same picture with another comment.
inline std::string PictureWithComment(const std::string& comment) {
  return "HK03" + comment + kExample.substr(7);
}
