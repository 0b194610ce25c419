#include "tools/tool_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <iconv.h>
#include <unistd.h>
#endif

int ReadWholeFile(const char* path, std::vector<uint8_t>* data, std::string* error) {
  data->clear();
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    *error = std::strerror(errno);
    return 0;
  }
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    data->insert(data->end(), chunk, chunk + got);
  const int failed = std::ferror(file);
  std::fclose(file);
  if (failed) {
    *error = "read error";
    return 0;
  }
  return 1;
}

int WriteFileReplacing(const char* path, const std::vector<uint8_t>& data, std::string* error) {
#ifdef _WIN32
  const unsigned long pid = static_cast<unsigned long>(_getpid());
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  const std::string temp = std::string(path) + ".tmp" + std::to_string(pid);
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (file == nullptr) {
    *error = std::strerror(errno);
    return 0;
  }
  const bool written =
      data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    *error = "cannot write (disk full?)";
    std::remove(temp.c_str());
    return 0;
  }
#ifdef _WIN32
  const bool renamed = MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING) != 0;
  if (!renamed) *error = "cannot replace the file";
#else
  const bool renamed = std::rename(temp.c_str(), path) == 0;
  if (!renamed) *error = std::strerror(errno);
#endif
  if (!renamed) {
    std::remove(temp.c_str());
    return 0;
  }
  return 1;
}

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

// Converts one character (one or two bytes) to UTF-8; returns 0 when the
// bytes are not a character of code page 932.
int ConvertCharacter(const char* bytes, size_t length, std::string* out) {
#ifdef _WIN32
  wchar_t wide[2];
  const int count =
      MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), wide, 2);
  if (count <= 0) return 0;
  char utf8[8];
  const int bytes_out =
      WideCharToMultiByte(CP_UTF8, 0, wide, count, utf8, sizeof utf8, nullptr, nullptr);
  if (bytes_out <= 0) return 0;
  out->append(utf8, static_cast<size_t>(bytes_out));
  return 1;
#else
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  char in_copy[2];
  std::memcpy(in_copy, bytes, length);
  char utf8[8];
  char* in_ptr = in_copy;
  size_t in_left = length;
  char* out_ptr = utf8;
  size_t out_left = sizeof utf8;
  const size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1) || in_left != 0) return 0;
  out->append(utf8, sizeof utf8 - out_left);
  return 1;
#endif
}

}  // namespace

int Cp932ToUtf8(const char* text, size_t length, std::string* out) {
  out->clear();
  int clean = 1;
  size_t i = 0;
  while (i < length) {
    const uint8_t byte = static_cast<uint8_t>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) {
        AppendEscape(byte, out);
        clean = 0;
      } else {
        out->push_back(static_cast<char>(byte));
      }
      ++i;
      continue;
    }
    const size_t char_length = IsLeadByte(byte) && i + 1 < length ? 2 : 1;
    if (ConvertCharacter(text + i, char_length, out)) {
      i += char_length;
    } else {
      AppendEscape(byte, out);
      clean = 0;
      ++i;
    }
  }
  return clean;
}

int Utf8ToCp932(const std::string& text, std::string* out) {
  out->clear();
  if (text.empty()) return 1;
#ifdef _WIN32
  const int wide_length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                              static_cast<int>(text.size()), nullptr, 0);
  if (wide_length <= 0) return 0;
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      &wide[0], wide_length);
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length,
                                         nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return 0;
  out->resize(static_cast<size_t>(length));
  WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, &(*out)[0], length,
                      nullptr, &lossy);
  return lossy ? 0 : 1;
#else
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  std::string in_copy = text;
  char* in_ptr = &in_copy[0];
  size_t in_left = in_copy.size();
  std::string result(4 * text.size() + 4, '\0');
  char* out_ptr = &result[0];
  size_t out_left = result.size();
  const size_t converted = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (converted == static_cast<size_t>(-1) || in_left != 0) return 0;
  result.resize(result.size() - out_left);
  *out = result;
  return 1;
#endif
}
