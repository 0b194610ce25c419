// vldtool's files on Windows.
#define _CRT_RAND_S  // rand_s, for unpredictable temporary names
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/files.h"

namespace {

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

HANDLE HandleOf(const InputFile* file) {
  return reinterpret_cast<HANDLE>(file->handle);
}

}  // namespace

size_t FileNameStart(const std::string& path) {
  const size_t separator = path.find_last_of("/\\:");
  return separator == std::string::npos ? 0 : separator + 1;
}

int OpenInput(const char* path, bool standard_input, InputFile* file, char* kind, uint64_t* size,
              std::string* error) {
  HANDLE handle = standard_input
                      ? GetStdHandle(STD_INPUT_HANDLE)
                      : CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    *error = SystemMessage(GetLastError());
    return 0;
  }
  file->handle = reinterpret_cast<intptr_t>(handle);
  file->owned = !standard_input;
  *kind = 's';
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
    *kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 'd' : 'f';
    *size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  }
  return 1;
}

long ReadSome(InputFile* file, uint8_t* buffer, size_t size, std::string* error) {
  DWORD got = 0;
  if (ReadFile(HandleOf(file), buffer, static_cast<DWORD>(size), &got, nullptr)) return long(got);
  const DWORD code = GetLastError();
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
  *error = SystemMessage(code);
  return -1;
}

void CloseInput(InputFile* file) {
  if (file->owned) CloseHandle(HandleOf(file));
}

int WriteStandardOutput(const std::vector<uint8_t>& data, std::string* error) {
  if (!FlushStandardOutput(error)) return 0;
  _setmode(_fileno(stdout), _O_BINARY);
  size_t done = 0;
  while (done < data.size()) {
    const int wrote = _write(1, data.data() + done,
                             static_cast<unsigned>(std::min<size_t>(data.size() - done, 1u << 30)));
    if (wrote <= 0) {
      *error = std::strerror(wrote < 0 ? errno : EIO);
      return 0;
    }
    done += static_cast<size_t>(wrote);
  }
  return 1;
}

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
