// vldtool's files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/files.h"

namespace {

int WriteAll(int fd, const std::vector<uint8_t>& data, std::string* error) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t wrote = write(fd, data.data() + done, data.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = std::strerror(wrote < 0 ? errno : EIO);
      return 0;
    }
    done += static_cast<size_t>(wrote);
  }
  return 1;
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

}  // namespace

size_t FileNameStart(const std::string& path) {
  const size_t separator = path.rfind('/');
  return separator == std::string::npos ? 0 : separator + 1;
}

int OpenInput(const char* path, bool standard_input, InputFile* file, char* kind, uint64_t* size,
              std::string* error) {
  // Not blocking in open: a FIFO without a writer would wait for one.
  const int fd = standard_input ? 0 : open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return 0;
  }
  file->handle = fd;
  file->owned = !standard_input;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *error = std::strerror(errno);
    return 0;
  }
  *kind = S_ISREG(info.st_mode) ? 'f' : S_ISDIR(info.st_mode) ? 'd' : 's';
  *size = static_cast<uint64_t>(info.st_size);
  if (file->owned) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return 1;
}

long ReadSome(InputFile* file, uint8_t* buffer, size_t size, std::string* error) {
  for (;;) {
    const ssize_t got = read(static_cast<int>(file->handle), buffer, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    *error = std::strerror(errno);
    return -1;
  }
}

void CloseInput(InputFile* file) {
  if (file->owned) close(static_cast<int>(file->handle));
}

int WriteStandardOutput(const std::vector<uint8_t>& data, std::string* error) {
  if (!FlushStandardOutput(error)) return 0;
  return WriteAll(1, data, error);
}

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
