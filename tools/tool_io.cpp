#ifdef _WIN32
#define _CRT_RAND_S  // rand_s, for unpredictable temporary names
#endif
#include "tools/tool_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The part of `path` up to and including its last separator, so a temporary
// file made with it lands in the same folder.
std::string FolderPrefix(const std::string& path) {
#ifdef _WIN32
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos && path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
#else
  const size_t separator = path.rfind('/');
#endif
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

int WriteAll(int fd, const std::vector<uint8_t>& data, std::string* error) {
  size_t done = 0;
  while (done < data.size()) {
#ifdef _WIN32
    const int wrote = _write(fd, data.data() + done,
                             static_cast<unsigned>(std::min<size_t>(data.size() - done, 1u << 30)));
#else
    const ssize_t wrote = write(fd, data.data() + done, data.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
#endif
    if (wrote <= 0) {
      *error = std::strerror(wrote < 0 ? errno : EIO);
      return 0;
    }
    done += static_cast<size_t>(wrote);
  }
  return 1;
}

// Written past stdio, so a failure is reported here once and not again when
// the command's buffered output is flushed at the end.
int WriteStandardOutput(const std::vector<uint8_t>& data, std::string* error) {
  if (!FlushStandardOutput(error)) return 0;
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return WriteAll(1, data, error);
}

#ifdef _WIN32

std::string SystemMessage(DWORD code) {
  char text[256];
  // In English, as vldtool's own messages are, where the system has it.
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                                sizeof text, nullptr);
  if (length == 0)
    length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == '.' || text[length - 1] == ' '))
    --length;
  if (length == 0) return "system error " + std::to_string(code);
  return std::string(text, length);
}

struct InputFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool owned = false;
};

// Opens the input and says what kind of file it is: 'f' a regular file (with
// *size), 'd' a directory, 's' anything else (pipe, console, device).
int OpenInput(const char* path, bool standard_input, InputFile* file, char* kind, uint64_t* size,
              std::string* error) {
  if (standard_input) {
    file->handle = GetStdHandle(STD_INPUT_HANDLE);
  } else {
    file->handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    file->owned = true;
  }
  if (file->handle == INVALID_HANDLE_VALUE || file->handle == nullptr) {
    *error = SystemMessage(GetLastError());
    file->owned = false;
    return 0;
  }
  *kind = 's';
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file->handle) == FILE_TYPE_DISK &&
      GetFileInformationByHandle(file->handle, &info)) {
    *kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 'd' : 'f';
    *size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  }
  return 1;
}

// Bytes read, 0 at the end, -1 on an error.
long ReadSome(InputFile* file, uint8_t* buffer, size_t size, std::string* error) {
  DWORD got = 0;
  if (ReadFile(file->handle, buffer, static_cast<DWORD>(size), &got, nullptr)) return long(got);
  const DWORD code = GetLastError();
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
  *error = SystemMessage(code);
  return -1;
}

void CloseInput(InputFile* file) {
  if (file->owned) CloseHandle(file->handle);
}

#else

struct InputFile {
  int fd = -1;
  bool owned = false;
};

int OpenInput(const char* path, bool standard_input, InputFile* file, char* kind, uint64_t* size,
              std::string* error) {
  // Not blocking in open: a FIFO without a writer would wait for one.
  file->fd = standard_input ? 0 : open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file->fd < 0) {
    *error = std::strerror(errno);
    return 0;
  }
  file->owned = !standard_input;
  struct stat info;
  if (fstat(file->fd, &info) != 0) {
    *error = std::strerror(errno);
    return 0;
  }
  *kind = S_ISREG(info.st_mode) ? 'f' : S_ISDIR(info.st_mode) ? 'd' : 's';
  *size = static_cast<uint64_t>(info.st_size);
  if (file->owned) fcntl(file->fd, F_SETFL, fcntl(file->fd, F_GETFL) & ~O_NONBLOCK);
  return 1;
}

long ReadSome(InputFile* file, uint8_t* buffer, size_t size, std::string* error) {
  for (;;) {
    const ssize_t got = read(file->fd, buffer, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    *error = std::strerror(errno);
    return -1;
  }
}

void CloseInput(InputFile* file) {
  if (file->owned) close(file->fd);
}

// Follows symbolic links from `path` to the name that is finally written,
// which may not exist yet.
int ResolveLinks(const char* path, std::string* target, std::string* error) {
  *target = path;
  for (int hops = 0;; ++hops) {
    struct stat info;
    if (lstat(target->c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return 1;
    if (hops == 40) {
      *error = std::strerror(ELOOP);
      return 0;
    }
    char link[4096];
    const ssize_t length = readlink(target->c_str(), link, sizeof link);
    if (length < 0 || static_cast<size_t>(length) >= sizeof link) {
      *error = std::strerror(length < 0 ? errno : ENAMETOOLONG);
      return 0;
    }
    const std::string next(link, static_cast<size_t>(length));
    *target = next[0] == '/' ? next : FolderPrefix(*target) + next;
  }
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

#endif

}  // namespace

ReadResult ReadInputFile(const char* path, uint64_t limit, bool streams_allowed,
                         std::vector<uint8_t>* data, std::string* error) {
  data->clear();
  const bool standard_input = std::strcmp(path, "-") == 0;
  InputFile file;
  char kind = 's';
  uint64_t size = 0;
  if (!OpenInput(path, standard_input, &file, &kind, &size, error)) {
    CloseInput(&file);
    return kReadFailed;
  }
  ReadResult result = kReadOk;
  if (kind == 'd') {
    *error = "is a directory";
    result = kReadFailed;
  } else if (kind == 's' && !standard_input && !streams_allowed) {
    *error = "not a regular file (a FIFO, socket or device)";
    result = kReadFailed;
  } else if (kind == 'f' && size >= limit) {
    result = kReadTooLarge;
  }
  if (result == kReadOk) {
    if (kind == 'f') data->reserve(static_cast<size_t>(size));
    uint8_t chunk[65536];
    for (;;) {
      const long got = ReadSome(&file, chunk, sizeof chunk, error);
      if (got < 0) {
        result = kReadFailed;
        break;
      }
      if (got == 0) break;
      // A file that grows, or a stream, is cut off at the limit.
      if (data->size() + static_cast<size_t>(got) >= limit) {
        result = kReadTooLarge;
        break;
      }
      data->insert(data->end(), chunk, chunk + got);
    }
  }
  CloseInput(&file);
  if (result != kReadOk) std::vector<uint8_t>().swap(*data);
  if (result == kReadTooLarge)
    *error = "too large (files of " + std::to_string(limit >> 20) + " MiB or more are not read)";
  return result;
}

int FlushStandardOutput(std::string* error) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    *error = errno != 0 ? std::strerror(errno) : "write error";
    return 0;
  }
  return 1;
}

#ifdef _WIN32

int SameFile(const char* input, const char* output) {
  if (std::strcmp(output, "-") == 0) return 0;
  BY_HANDLE_FILE_INFORMATION a, b;
  HANDLE in = std::strcmp(input, "-") == 0
                  ? GetStdHandle(STD_INPUT_HANDLE)
                  : CreateFileA(input, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  HANDLE out = CreateFileA(output, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const int same = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
                   GetFileInformationByHandle(in, &a) && GetFileInformationByHandle(out, &b) &&
                   a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                   a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  if (in != INVALID_HANDLE_VALUE && std::strcmp(input, "-") != 0) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return same;
}

int WriteOutputFile(const char* path, const std::vector<uint8_t>& data, std::string* error) {
  if (std::strcmp(path, "-") == 0) return WriteStandardOutput(data, error);
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = "is a directory";
    return 0;
  }
  // A device (NUL, a serial port, a pipe) is written in place.
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  std::string temp;
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (file == INVALID_HANDLE_VALUE) {
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
      unsigned int random[2] = {0, 0};
      if (rand_s(&random[0]) != 0 || rand_s(&random[1]) != 0) break;
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, "vldtool-%08x%08x.tmp", random[0], random[1]);
      temp = FolderPrefix(path) + suffix;
      file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
      *error = SystemMessage(GetLastError());
      return 0;
    }
  }
  size_t done = 0;
  DWORD code = 0;
  while (done < data.size() && code == 0) {
    DWORD wrote = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    if (!WriteFile(file, data.data() + done, want, &wrote, nullptr) || wrote == 0)
      code = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    done += wrote;
  }
  if (!CloseHandle(file) && code == 0) code = GetLastError();
  if (code == 0 && !temp.empty() &&
      !MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    code = GetLastError();
  if (code != 0) {
    if (!temp.empty()) DeleteFileA(temp.c_str());
    *error = SystemMessage(code);
    return 0;
  }
  return 1;
}

#else

int SameFile(const char* input, const char* output) {
  if (std::strcmp(output, "-") == 0) return 0;
  struct stat a, b;
  const int in_ok = std::strcmp(input, "-") == 0 ? fstat(0, &a) == 0 : stat(input, &a) == 0;
  return in_ok && stat(output, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int WriteOutputFile(const char* path, const std::vector<uint8_t>& data, std::string* error) {
  if (std::strcmp(path, "-") == 0) return WriteStandardOutput(data, error);
  std::string target;
  if (!ResolveLinks(path, &target, error)) return 0;
  struct stat info;
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    *error = "is a directory";
    return 0;
  }
  if (exists && !S_ISREG(info.st_mode)) {
    const int fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      *error = std::strerror(errno);
      return 0;
    }
    const int written = WriteAll(fd, data, error);
    if (close(fd) != 0 && written) {
      *error = std::strerror(errno);
      return 0;
    }
    return written;
  }
  std::string temp = FolderPrefix(target) + ".vldtool-XXXXXX";
  const int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return 0;
  }
  int ok = WriteAll(fd, data, error);
  if (ok && fchmod(fd, exists ? info.st_mode & 07777 : NewFileMode()) != 0) {
    *error = std::strerror(errno);
    ok = 0;
  }
  if (close(fd) != 0 && ok) {
    *error = std::strerror(errno);
    ok = 0;
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    *error = std::strerror(errno);
    ok = 0;
  }
  if (!ok) unlink(temp.c_str());
  return ok;
}

#endif

int ParseNumber(const char* text, uint64_t max, const char** end, uint64_t* value) {
  const char* p = text;
  const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (hex) p += 2;
  uint64_t number = 0;
  const char* digits = p;
  for (;; ++p) {
    int digit;
    if (*p >= '0' && *p <= '9')
      digit = *p - '0';
    else if (hex && *p >= 'a' && *p <= 'f')
      digit = *p - 'a' + 10;
    else if (hex && *p >= 'A' && *p <= 'F')
      digit = *p - 'A' + 10;
    else
      break;
    number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (number > max) return 0;
  }
  if (p == digits) return 0;
  *end = p;
  *value = number;
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

const char kReplacementCharacter[] = "\xEF\xBF\xBD";

// Converts one character between code page 932 and UTF-8 (`to_utf8` says
// which way); returns 0 when the bytes are not a character of the source or
// it has no counterpart. The converters are opened once and reused.
int ConvertCharacter(const char* bytes, size_t length, bool to_utf8, std::string* out) {
#ifdef _WIN32
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
#else
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
#endif
}

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

int Utf8ToCp932(const std::string& text, std::string* out, std::string* bad_character) {
  out->clear();
  bad_character->clear();
  size_t i = 0;
  while (i < text.size()) {
    const size_t length = Utf8CharacterLength(text, i);
    if (length == 0) return 0;
    const std::string character = text.substr(i, length);
    std::string bytes, back;
    // Round trip: a character that comes back different would be changed
    // silently in the file ("¥" stored as a backslash).
    if (length == 1) {
      bytes = character;
    } else if (!ConvertCharacter(character.data(), length, false, &bytes) ||
               !ConvertCharacter(bytes.data(), bytes.size(), true, &back) || back != character) {
      *bad_character = character;
      return 0;
    }
    *out += bytes;
    i += length;
  }
  return 1;
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

int NameToUtf8(const std::string& name, std::string* out) {
#ifdef _WIN32
  // Names come in the system's ANSI code page.
  const int wide_length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(),
                                              static_cast<int>(name.size()), nullptr, 0);
  if (!name.empty() && wide_length > 0) {
    std::wstring wide(static_cast<size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                        &wide[0], wide_length);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    out->assign(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, &(*out)[0], length, nullptr, nullptr);
    return 1;
  }
#endif
  return ValidUtf8(name, out);
}

#ifdef _WIN32

namespace {

struct TypedArgument {
  const char* argument;
  std::string utf8;
};
std::vector<TypedArgument> s_typed_arguments;

std::string WideToUtf8(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], length, nullptr, nullptr);
  text.pop_back();
  return text;
}

}  // namespace

void RememberArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  // The two parsers agree but for odd quoting; then the ANSI text is used.
  if (count == argc)
    for (int i = 0; i < argc; ++i) s_typed_arguments.push_back({argv[i], WideToUtf8(wide[i])});
  LocalFree(wide);
}

std::string ArgumentText(const char* argument) {
  // The argument may be the value part of "--option=VALUE"; the ASCII name
  // before it is as long in both forms.
  for (const TypedArgument& typed : s_typed_arguments) {
    const size_t length = std::strlen(typed.argument);
    if (argument < typed.argument || argument > typed.argument + length) continue;
    const size_t offset = static_cast<size_t>(argument - typed.argument);
    bool ascii = offset <= typed.utf8.size();
    for (size_t i = 0; i < offset && ascii; ++i) ascii = static_cast<uint8_t>(typed.argument[i]) < 0x80;
    if (ascii) return typed.utf8.substr(offset);
  }
  std::string text;
  NameToUtf8(argument, &text);
  return text;
}

#else

void RememberArguments(int, char**) {}

std::string ArgumentText(const char* argument) {
  return argument;
}

#endif

std::string HexBytes(const char* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    const uint8_t byte = static_cast<uint8_t>(bytes[i]);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}
