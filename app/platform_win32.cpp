// The chooser's operating-system services on Windows.
#include <windows.h>

#include <cstdlib>
#include <ctime>

#include "app/platform.h"
#include "app/viewer_state.h"

static_assert(kAttrDirectory == FILE_ATTRIBUTE_DIRECTORY, "attributes are passed on unchanged");

int PlatformLookUp(const char* path, uint32_t* attributes) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  *attributes = found.dwFileAttributes;
  return 1;
}

void PlatformListDirectory(const char* pattern, DirectoryVisitor visit, void* context) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!visit(found.cFileName, found.dwFileAttributes, context)) break;
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

int PlatformGetCurrentDirectory(char* buffer) {
  // Too small a buffer makes the call return the size it needs instead.
  DWORD length = GetCurrentDirectoryA(kPathSize, buffer);
  return length != 0 && length < static_cast<DWORD>(kPathSize);
}

int PlatformSetCurrentDirectory(const char* path) {
  return SetCurrentDirectoryA(path) != 0;
}

int PlatformFullPath(const char* name, char* buffer) {
  DWORD length = GetFullPathNameA(name, kPathSize, buffer, nullptr);
  return length != 0 && length < static_cast<DWORD>(kPathSize);
}

uint32_t PlatformClockSeconds() {
  return static_cast<uint32_t>(std::time(nullptr));
}

// The same count as the multimedia timer's timeGetTime, milliseconds since the
// system started; taking it from kernel32 spares the viewer loading winmm.dll,
// which measurably delayed its first paint.
uint32_t PlatformMilliseconds() {
  return GetTickCount();
}

int PlatformReadFile(const char* name, uint64_t limit, uint8_t** data, size_t* size) {
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER length = {};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length) ||
      length.QuadPart < 0 || static_cast<uint64_t>(length.QuadPart) >= limit ||
      length.QuadPart > 0x7FFFFFFF) {
    CloseHandle(file);
    return 0;
  }
  const DWORD wanted = static_cast<DWORD>(length.QuadPart);
  uint8_t* bytes = static_cast<uint8_t*>(std::malloc(wanted > 0 ? wanted : 1));
  DWORD read = 0;
  const BOOL ok = bytes != nullptr && ReadFile(file, bytes, wanted, &read, nullptr);
  CloseHandle(file);
  if (!ok || read != wanted) {
    std::free(bytes);
    return 0;
  }
  *data = bytes;
  *size = wanted;
  return 1;
}
