// The chooser's operating-system services on Windows.
#include <windows.h>

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
