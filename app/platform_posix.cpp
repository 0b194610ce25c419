// The chooser's operating-system services on POSIX systems, behaving as the
// Windows directory search does where the chooser can tell: patterns match
// names without regard to letter case.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "app/platform.h"
#include "app/viewer_state.h"

constexpr uint32_t kAttrArchive = 0x20;  // what Windows reports for a plain file

static uint32_t AttributesOf(const char* path, int* exists) {
  struct stat info;
  if (stat(path, &info) == 0) {
    *exists = 1;
    return S_ISDIR(info.st_mode) ? kAttrDirectory : kAttrArchive;
  }
  // A dangling link is still an entry; it is a file that cannot be opened.
  *exists = lstat(path, &info) == 0;
  return kAttrArchive;
}

static int MatchesPattern(const char* pattern, const char* name) {
  return fnmatch(pattern, name, FNM_CASEFOLD) == 0;
}

// Joins a directory and an entry name; returns 0 when the result would not
// fit `size` bytes.
static int JoinPath(const char* directory, const char* name, char* buffer, size_t size) {
  size_t directory_length = std::strlen(directory);
  size_t name_length = std::strlen(name);
  int need_slash = directory_length == 0 || directory[directory_length - 1] != '/';
  size_t total = directory_length + (need_slash ? 1 : 0) + name_length + 1;
  if (total > size) return 0;
  std::memcpy(buffer, directory, directory_length);
  if (need_slash) buffer[directory_length++] = '/';
  std::memcpy(buffer + directory_length, name, name_length + 1);
  return 1;
}

int PlatformLookUp(const char* path, uint32_t* attributes) {
  if (path == nullptr || path[0] == 0) return 0;
  const char* slash = std::strrchr(path, '/');
  const char* last = slash != nullptr ? slash + 1 : path;
  int exists = 0;
  if (std::strpbrk(last, "*?") == nullptr) {
    uint32_t found = AttributesOf(path, &exists);
    if (exists) *attributes = found;
    return exists;
  }
  // Wildcards in the last part: the first entry that matches decides.
  char directory[4096];
  if (slash == nullptr) {
    std::strcpy(directory, ".");
  } else {
    size_t length = static_cast<size_t>(slash - path);
    if (length == 0) length = 1;  // "/x*" lists the root
    if (length >= sizeof(directory)) return 0;
    std::memcpy(directory, path, length);
    directory[length] = 0;
  }
  DIR* listing = opendir(directory);
  if (listing == nullptr) return 0;
  int found = 0;
  while (struct dirent* entry = readdir(listing)) {
    if (!MatchesPattern(last, entry->d_name)) continue;
    char entry_path[4096 + 256];
    if (!JoinPath(directory, entry->d_name, entry_path, sizeof(entry_path))) continue;
    *attributes = AttributesOf(entry_path, &exists);
    found = 1;
    break;
  }
  closedir(listing);
  return found;
}

void PlatformListDirectory(const char* pattern, DirectoryVisitor visit, void* context) {
  DIR* listing = opendir(".");
  if (listing == nullptr) return;
  while (struct dirent* entry = readdir(listing)) {
    if (!MatchesPattern(pattern, entry->d_name)) continue;
    int exists = 0;
    uint32_t attributes = AttributesOf(entry->d_name, &exists);
    if (!exists) continue;
    if (!visit(entry->d_name, attributes, context)) break;
  }
  closedir(listing);
}

int PlatformGetCurrentDirectory(char* buffer) {
  return getcwd(buffer, kPathSize) != nullptr;
}

int PlatformSetCurrentDirectory(const char* path) {
  return path[0] != 0 && chdir(path) == 0;
}

int PlatformFullPath(const char* name, char* buffer) {
  if (name[0] == '/') {
    size_t length = std::strlen(name);
    if (length >= static_cast<size_t>(kPathSize)) return 0;
    std::memcpy(buffer, name, length + 1);
    return 1;
  }
  char directory[4096];
  if (getcwd(directory, sizeof(directory)) == nullptr) return 0;
  return JoinPath(directory, name, buffer, kPathSize);
}

uint32_t PlatformClockSeconds() {
  return static_cast<uint32_t>(std::time(nullptr));
}

uint32_t PlatformMilliseconds() {
  timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}
