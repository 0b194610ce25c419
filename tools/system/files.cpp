#include "tools/system/files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
  return result;
}

int IsFolder(const char* path, std::string* reason) {
  struct stat info;
  if (stat(path, &info) != 0) {
    *reason = "no such folder (make it first)";
    return 0;
  }
  if ((info.st_mode & S_IFMT) == S_IFDIR) return 1;
  *reason = "not a folder";
  return 0;
}

int FlushStandardOutput(std::string* error) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    *error = errno != 0 ? std::strerror(errno) : "write error";
    return 0;
  }
  return 1;
}

std::string FolderPrefix(const std::string& path) {
  return path.substr(0, FileNameStart(path));
}
