#include "tools/text/cp932.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

void AppendEscape(uint8_t byte, std::string* out) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\x%02X", byte);
  *out += escape;
}

// Lead bytes of two-byte characters in code page 932.
bool IsLeadByte(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

const char kReplacementCharacter[] = "\xEF\xBF\xBD";

// Length of the UTF-8 character at text[i], or 0 when none starts there.
size_t Utf8CharacterLength(const std::string& text, size_t i) {
  const uint8_t lead = static_cast<uint8_t>(text[i]);
  size_t length;
  uint32_t lowest;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, lowest = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, lowest = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, lowest = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const uint8_t next = static_cast<uint8_t>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

int Cp932ToUtf8(const char* text, size_t length, bool escape_bytes, std::string* out) {
  out->clear();
  int valid = 1;
  size_t i = 0;
  while (i < length) {
    const uint8_t byte = static_cast<uint8_t>(text[i]);
    if (byte < 0x80) {
      if (escape_bytes && (byte < 0x20 || byte == 0x7F))
        AppendEscape(byte, out);
      else
        out->push_back(static_cast<char>(byte));
      ++i;
      continue;
    }
    const size_t char_length = IsLeadByte(byte) && i + 1 < length ? 2 : 1;
    if (ConvertCharacter(text + i, char_length, true, out)) {
      i += char_length;
      continue;
    }
    if (escape_bytes)
      AppendEscape(byte, out);
    else
      *out += kReplacementCharacter;
    valid = 0;
    ++i;
  }
  return valid;
}

int Utf8ToCp932(const std::string& text, size_t limit, std::string* out,
                std::vector<std::string>* bad_characters) {
  out->clear();
  bad_characters->clear();
  size_t i = 0;
  while (i < text.size()) {
    if (out->size() > limit) return -1;
    const size_t length = Utf8CharacterLength(text, i);
    if (length == 0) {
      bad_characters->clear();
      return 0;
    }
    const std::string character = text.substr(i, length);
    std::string bytes, back;
    // Round trip: a character that comes back different would be changed
    // silently in the file ("¥" stored as a backslash).
    if (length == 1) {
      bytes = character;
    } else if (!ConvertCharacter(character.data(), length, false, &bytes) ||
               !ConvertCharacter(bytes.data(), bytes.size(), true, &back) || back != character) {
      if (std::find(bad_characters->begin(), bad_characters->end(), character) ==
          bad_characters->end())
        bad_characters->push_back(character);
      i += length;
      continue;
    }
    *out += bytes;
    i += length;
  }
  return bad_characters->empty() ? 1 : 0;
}

size_t Cp932Prefix(const char* text, size_t length, size_t limit) {
  size_t i = 0;
  while (i < length) {
    const size_t step = IsLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < length ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

int ValidUtf8(const std::string& text, std::string* out) {
  out->clear();
  int valid = 1;
  size_t i = 0;
  while (i < text.size()) {
    const size_t length = Utf8CharacterLength(text, i);
    if (length == 0) {
      *out += kReplacementCharacter;
      valid = 0;
      ++i;
    } else {
      out->append(text, i, length);
      i += length;
    }
  }
  return valid;
}
