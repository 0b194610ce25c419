// vldtool's files on Windows.
#define _CRT_RAND_S  // rand_s, for unpredictable temporary names
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/system/files.h"

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

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

// A name as the file system compares it: without regard to case, and with
// either slash.
std::wstring FoldCase(std::wstring name) {
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  if (!name.empty())
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &name[0], static_cast<int>(name.size()),
                 &name[0], static_cast<int>(name.size()));
  return name;
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

namespace {

// What names a file whatever the path to it, by one of three means: the
// volume and file number from FileIdInfo, or from the older call (which
// Wine cannot answer for a standard input it was handed), or the system's
// final path name (links followed). Two files are compared by the first
// means that answers for both.
struct FileIdentity {
  bool known[3] = {false, false, false};
  uint8_t id[2][24] = {};
  std::wstring path;
};

// Compares a volume number of `volume_bytes` and the file number after it.
// Wine gives volume 0 for a standard input it was handed: an unknown volume
// then leaves the file number alone to decide, and equal numbers count as the
// same file, for a false "different" would let the input be overwritten.
int SameNumbers(const uint8_t* a, const uint8_t* b, size_t volume_bytes) {
  static const uint8_t kZero[24] = {};
  const size_t size = sizeof FileIdentity().id[0];
  if (std::memcmp(a + volume_bytes, kZero, size - volume_bytes) == 0 ||
      std::memcmp(b + volume_bytes, kZero, size - volume_bytes) == 0)
    return -1;  // no file number
  if (std::memcmp(a + volume_bytes, b + volume_bytes, size - volume_bytes) != 0) return 0;
  return std::memcmp(a, kZero, volume_bytes) == 0 || std::memcmp(b, kZero, volume_bytes) == 0 ||
         std::memcmp(a, b, volume_bytes) == 0;
}

FileIdentity IdentityOf(HANDLE handle) {
  FileIdentity identity;
  FILE_ID_INFO extended;
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &extended, sizeof extended)) {
    identity.known[0] = true;
    std::memcpy(identity.id[0], &extended.VolumeSerialNumber, 8);
    std::memcpy(identity.id[0] + 8, &extended.FileId, 16);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    identity.known[1] = true;
    std::memcpy(identity.id[1], &info.dwVolumeSerialNumber, 4);
    std::memcpy(identity.id[1] + 4, &info.nFileIndexLow, 4);
    std::memcpy(identity.id[1] + 8, &info.nFileIndexHigh, 4);
  }
  wchar_t name[32768];
  const DWORD length = GetFinalPathNameByHandleW(handle, name, 32768, FILE_NAME_NORMALIZED);
  if (length > 0 && length < 32768) {
    identity.known[2] = true;
    identity.path = FoldCase(std::wstring(name, length));
  }
  return identity;
}

}  // namespace

int SameFile(const char* input, const char* output) {
  if (std::strcmp(output, "-") == 0) return 0;
  HANDLE out = CreateFileA(output, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 0;  // nothing there to overwrite
  if (GetFileType(out) != FILE_TYPE_DISK) {  // a device or pipe, written in place
    CloseHandle(out);
    return 0;
  }
  const bool standard_input = std::strcmp(input, "-") == 0;
  HANDLE in = standard_input
                  ? GetStdHandle(STD_INPUT_HANDLE)
                  : CreateFileA(input, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  int same = 0;
  // A pipe or a console cannot be the file the output names.
  if (in != INVALID_HANDLE_VALUE && in != nullptr &&
      (GetFileType(in) == FILE_TYPE_DISK || !standard_input)) {
    const FileIdentity a = IdentityOf(in), b = IdentityOf(out);
    same = -1;  // cannot tell, which must never pass for "different"
    for (int means = 0; means < 3 && same < 0; ++means)
      if (a.known[means] && b.known[means])
        same = means < 2 ? SameNumbers(a.id[means], b.id[means], means == 0 ? 8 : 4)
                         : a.path == b.path;
  }
  if (in != INVALID_HANDLE_VALUE && !standard_input) CloseHandle(in);
  CloseHandle(out);
  return same;
}

std::string OutputKey(const std::string& path) {
  const std::wstring wide = Wide(path);
  wchar_t full[32768];
  const DWORD length = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
  const std::wstring key = FoldCase(length > 0 && length < 32768 ? std::wstring(full, length) : wide);
  return std::string(reinterpret_cast<const char*>(key.data()), key.size() * sizeof(wchar_t));
}

namespace {

// The temporary file being written, deleted if Ctrl+C, Ctrl+Break or the
// console closing ends the run first. The handler runs on a thread of its
// own, so the name changes hands under a lock.
CRITICAL_SECTION temporary_lock;
char temporary_name[MAX_PATH * 4];
bool temporary_set = false;

BOOL WINAPI RemoveTemporary(DWORD) {
  EnterCriticalSection(&temporary_lock);
  if (temporary_set) DeleteFileA(temporary_name);
  temporary_set = false;
  LeaveCriticalSection(&temporary_lock);
  return FALSE;  // and the run ends as it would have
}

void SetTemporary(const std::string* name) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    InitializeCriticalSection(&temporary_lock);
    SetConsoleCtrlHandler(RemoveTemporary, TRUE);
  }
  EnterCriticalSection(&temporary_lock);
  temporary_set = name != nullptr && name->size() < sizeof temporary_name;
  if (temporary_set) std::memcpy(temporary_name, name->c_str(), name->size() + 1);
  LeaveCriticalSection(&temporary_lock);
}

// The device Windows makes of a file name (CON, NUL, COM1, ...), whatever
// folder and extension come with it, or nullptr.
const char* ReservedName(const char* path) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::string name = path + FileNameStart(path);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && (name.back() == ' ' || name.back() == ':')) name.pop_back();
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* device : kDevices)
    if (name == device) return device;
  static char port[8];
  if (name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
      name[3] >= '0' && name[3] <= '9') {
    std::memcpy(port, name.c_str(), 5);
    return port;
  }
  return nullptr;
}

// The file a link or other reparse point at `path` leads to, as a path
// MoveFileEx can replace; `path` itself when it is none, or the target
// cannot be found.
std::string FinalTarget(const char* path) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  char final_name[MAX_PATH * 4];
  const DWORD length =
      GetFinalPathNameByHandleA(file, final_name, sizeof final_name, FILE_NAME_NORMALIZED);
  CloseHandle(file);
  if (length == 0 || length >= sizeof final_name) return path;
  std::string target(final_name, length);
  char full[MAX_PATH * 4];
  const DWORD full_length = GetFullPathNameA(path, sizeof full, full, nullptr);
  const std::string given = full_length > 0 && full_length < sizeof full ? full : path;
  const std::string plain = target.compare(0, 4, "\\\\?\\") == 0 ? target.substr(4) : target;
  if (FoldCase(Wide(plain)) == FoldCase(Wide(given))) return path;
  return target;
}

}  // namespace

int WriteOutputFile(const char* path, const std::vector<uint8_t>& data, std::string* error) {
  if (std::strcmp(path, "-") == 0) return WriteStandardOutput(data, error);
  const char* device = ReservedName(path);
  const bool device_path = std::strncmp(path, "\\\\.\\", 4) == 0;
  if (device != nullptr && !device_path) {
    // Windows would hand the data to the device, and the file the user
    // named would never be made.
    *error = std::string("is a name Windows keeps for the device ") + device +
             "; choose another name";
    return 0;
  }
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = "is a directory";
    return 0;
  }
  // A device (a serial port, a pipe) is written in place.
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  std::string temp, target = path;
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    // A link is written through: its target is what gets replaced.
    target = FinalTarget(path);
  }
  if (file == INVALID_HANDLE_VALUE) {
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
      unsigned int random[2] = {0, 0};
      if (rand_s(&random[0]) != 0 || rand_s(&random[1]) != 0) break;
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, "vldtool-%08x%08x.tmp", random[0], random[1]);
      temp = FolderPrefix(target) + suffix;
      SetTemporary(&temp);
      // Shared for deletion, so a Ctrl+C can delete it while it is open.
      file = CreateFileA(temp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) SetTemporary(nullptr);
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
  if (!temp.empty()) {
    EnterCriticalSection(&temporary_lock);
    if (!temporary_set && code == 0) code = ERROR_OPERATION_ABORTED;  // the run is ending
    if (code == 0 && !MoveFileExA(temp.c_str(), target.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      code = GetLastError();
    if (code != 0) DeleteFileA(temp.c_str());
    temporary_set = false;
    LeaveCriticalSection(&temporary_lock);
  }
  if (code != 0) {
    *error = SystemMessage(code);
    return 0;
  }
  return 1;
}
