// The chooser's operating-system services on POSIX systems, behaving as the
// Windows directory search does where the chooser can tell: patterns match
// names without regard to letter case.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <ctime>
#include <string>
#include <vector>

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

// The chooser's own patterns are "*" and a plain ending ("*.vld"): those are
// an ending compared without regard to case, which is what fnmatch would
// decide at a fraction of its cost per name. Anything else goes to fnmatch.
static int MatchesPattern(const char* pattern, const char* name) {
  if (pattern[0] == '*' && std::strpbrk(pattern + 1, "*?[\\") == nullptr) {
    const size_t ending = std::strlen(pattern + 1), length = std::strlen(name);
    return length >= ending && strcasecmp(name + length - ending, pattern + 1) == 0;
  }
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

// The chooser lists a folder once per pattern ("*.vld", then "*.tft"). The
// stand-in reads the folder from the system once and serves each pattern from
// that copy, so a large folder costs one pass, as `ls -f` does. A pattern
// asked for again, another folder or a change to the folder means a fresh
// read. Entry types come from the listing itself: no stat per file.
struct FolderCopy {
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified = {};
  std::string names;           // each entry's name, zero-terminated, in listing order
  std::vector<uint8_t> types;  // each entry's d_type (DT_UNKNOWN where not given)
  std::vector<std::string> patterns_served;
  char path[4096] = {};        // the folder's full path, for PlatformFullPath
  int path_known = 0;
};
static FolderCopy s_folder;
static int s_listing = 0;  // PlatformListDirectory is calling a visitor

static int ReadFolder(const struct stat& folder) {
  DIR* listing = opendir(".");
  if (listing == nullptr) return 0;
  s_folder.names.clear();
  s_folder.types.clear();
  // A folder's own size is about the bytes of its entries' names: room for
  // them at once spares the copies and fresh pages of growing step by step.
  const size_t expected = folder.st_size > 0 && folder.st_size < (off_t{64} << 20)
                              ? static_cast<size_t>(folder.st_size)
                              : 0;
  s_folder.names.reserve(expected);
  s_folder.types.reserve(expected / 16);
  s_folder.patterns_served.clear();
  while (struct dirent* entry = readdir(listing)) {
    s_folder.names.append(entry->d_name, std::strlen(entry->d_name) + 1);
#ifdef _DIRENT_HAVE_D_TYPE
    s_folder.types.push_back(entry->d_type);
#else
    s_folder.types.push_back(DT_UNKNOWN);
#endif
  }
  closedir(listing);
  s_folder.device = folder.st_dev;
  s_folder.inode = folder.st_ino;
  s_folder.modified = folder.st_mtim;
  s_folder.path_known = getcwd(s_folder.path, sizeof(s_folder.path)) != nullptr;
  return 1;
}

static int FolderCopyServes(const struct stat& folder, const char* pattern) {
  if (s_folder.device != folder.st_dev || s_folder.inode != folder.st_ino ||
      s_folder.modified.tv_sec != folder.st_mtim.tv_sec ||
      s_folder.modified.tv_nsec != folder.st_mtim.tv_nsec)
    return 0;
  for (const std::string& served : s_folder.patterns_served)
    if (served == pattern) return 0;
  return 1;
}

void PlatformListDirectory(const char* pattern, DirectoryVisitor visit, void* context) {
  struct stat folder;
  if (stat(".", &folder) != 0) return;
  if (!FolderCopyServes(folder, pattern) && !ReadFolder(folder)) return;
  s_folder.patterns_served.push_back(pattern);
  s_listing = 1;
  const char* name = s_folder.names.data();
  for (uint8_t type : s_folder.types) {
    if (MatchesPattern(pattern, name)) {
      int exists = 1;
      uint32_t attributes = type == DT_DIR ? kAttrDirectory : kAttrArchive;
      if (type == DT_UNKNOWN || type == DT_LNK) attributes = AttributesOf(name, &exists);
      if (exists && !visit(name, attributes, context)) break;
    }
    name += std::strlen(name) + 1;
  }
  s_listing = 0;
}

// Windows keeps the working directory within MAX_PATH; Linux does not. A
// working directory too long for the chooser's buffer is kept open and named
// by its /proc/self/fd link, which leads back to it even where /proc is not
// mounted, since PlatformSetCurrentDirectory knows the name.
static int s_saved_directory = -1;
static char s_saved_directory_name[32];

int PlatformGetCurrentDirectory(char* buffer) {
  char directory[4096];
  if (getcwd(directory, sizeof(directory)) != nullptr &&
      std::strlen(directory) < static_cast<size_t>(kPathSize)) {
    std::memcpy(buffer, directory, std::strlen(directory) + 1);
    return 1;
  }
  if (s_saved_directory >= 0) close(s_saved_directory);
  s_saved_directory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (s_saved_directory < 0) return 0;
  std::snprintf(s_saved_directory_name, sizeof(s_saved_directory_name), "/proc/self/fd/%d",
                s_saved_directory);
  std::memcpy(buffer, s_saved_directory_name, std::strlen(s_saved_directory_name) + 1);
  return 1;
}

int PlatformSetCurrentDirectory(const char* path) {
  if (s_saved_directory >= 0 && std::strcmp(path, s_saved_directory_name) == 0)
    return fchdir(s_saved_directory) == 0;
  return path[0] != 0 && chdir(path) == 0;
}

int PlatformFullPath(const char* name, char* buffer) {
  if (name[0] == '/') {
    size_t length = std::strlen(name);
    if (length >= static_cast<size_t>(kPathSize)) return 0;
    std::memcpy(buffer, name, length + 1);
    return 1;
  }
  if (s_listing && s_folder.path_known) return JoinPath(s_folder.path, name, buffer, kPathSize);
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

int PlatformReadFile(const char* name, uint64_t limit, uint8_t** data, size_t* size) {
  const int file = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return 0;
  struct stat info;
  if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) >= limit) {
    close(file);
    return 0;
  }
  const size_t length = static_cast<size_t>(info.st_size);
  uint8_t* bytes = static_cast<uint8_t*>(std::malloc(length > 0 ? length : 1));
  size_t done = 0;
  while (bytes != nullptr && done < length) {
    const ssize_t got = read(file, bytes + done, length - done);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  // A short count means the file changed under us; a part of it would show
  // a picture that is not the one on disk.
  char extra;
  const int whole = bytes != nullptr && done == length && read(file, &extra, 1) == 0;
  close(file);
  if (!whole) {
    std::free(bytes);
    return 0;
  }
  *data = bytes;
  *size = length;
  return 1;
}
