#include "app/command_line.h"

#include <cstring>

std::string CommandLineFromWords(int count, const char* const* words,
                                 bool (*exists)(const char* name)) {
  std::string line;
  for (int i = 0; i < count; ++i) {
    const char* word = words[i];
    if (word[0] == 0) continue;
    const bool option = (word[0] == '/' || word[0] == '-') && !exists(word);
    if (!option && std::strchr(word, '"') != nullptr) continue;
    if (!line.empty()) line += ' ';
    if (option) {
      line += word;
    } else {
      line += '"';
      line += word;
      line += '"';
    }
  }
  return line;
}
