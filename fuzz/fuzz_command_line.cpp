// Arbitrary command lines through the program-name removal, the option
// scanner and the word scanner. Beyond the sanitizers' own checks (no read
// past the terminating zero), the state record must keep its invariants and
// every word must fit the word buffer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/choose.h"
#include "app/options.h"
#include "app/viewer_state.h"

namespace {

bool IsFlagWord(uint32_t item) {
  return item == kItemEnabled || item == kItemChecked || item == kItemGrayed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the zero is a heap overflow.
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const char* line = SkipProgramName(text.data());
  if (line < text.data() || line > text.data() + size) __builtin_trap();

  g_viewer = ViewerState{};
  ApplyOptions(ParseOptions(line));
  if (g_viewer.activate_mode < -1 || g_viewer.activate_mode > 1) __builtin_trap();
  if (!IsFlagWord(g_viewer.seethrough_item) || !IsFlagWord(g_viewer.topmost_item) ||
      !IsFlagWord(g_viewer.frameless_item))
    __builtin_trap();
  if (g_viewer.given_x < 0 || g_viewer.given_y < 0) __builtin_trap();
  if (g_viewer.position_given == 0 && (g_viewer.given_x != 0 || g_viewer.given_y != 0))
    __builtin_trap();
  if (std::memcmp(text.data(), data, size) != 0) __builtin_trap();  // never changed

  char word[kPathSize];
  const char* position = line;
  size_t words = 0;
  while ((position = NextArgument(position, word)) != nullptr) {
    if (position < line || position > text.data() + size) __builtin_trap();
    if (std::memchr(word, '\0', kPathSize) == nullptr) __builtin_trap();
    if (++words > size + 1) __builtin_trap();  // every word consumes input
  }
  return 0;
}
