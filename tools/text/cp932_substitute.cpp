// The usual stand-ins for characters code page 932 cannot hold, apart from
// the conversion itself (which is the platform's), so that the web page's
// module compiles the same table vldtool uses.
#include "tools/text/cp932.h"

const char* Cp932Substitute(const std::string& character) {
  // Characters of other Japanese code pages whose look-alikes code page 932
  // maps to a different code point, and the Latin-1 signs it has only in
  // full width.
  static const char* const kSubstitutes[][2] = {
      {u8"\u00A5", u8"\uFFE5"},  // yen sign
      {u8"\u301C", u8"\uFF5E"},  // wave dash
      {u8"\u2016", u8"\u2225"},  // double vertical line
      {u8"\u2212", u8"\uFF0D"},  // minus sign
      {u8"\u2014", u8"\u2015"},  // em dash
      {u8"\u00A2", u8"\uFFE0"},  // cent sign
      {u8"\u00A3", u8"\uFFE1"},  // pound sign
      {u8"\u00AC", u8"\uFFE2"},  // not sign
      {u8"\u203E", u8"\uFFE3"},  // overline
      {u8"\u00A6", u8"\uFFE4"},  // broken bar
  };
  for (const auto& pair : kSubstitutes)
    if (character == pair[0]) return pair[1];
  return nullptr;
}
