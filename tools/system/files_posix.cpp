// vldtool's files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "tools/system/files.h"

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

// The descriptor of this process that `name` stands for (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N, /proc/PID/fd/N), or -1. Such a name is a link
// the kernel makes up: its text is no path to follow, and writing through
// the descriptor keeps what the shell set up (appending, a pipe, a file that
// is already deleted).
int OwnDescriptor(const std::string& name) {
  if (name == "/dev/stdin") return 0;
  if (name == "/dev/stdout") return 1;
  if (name == "/dev/stderr") return 2;
  const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
  std::string number;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/", own.c_str()})
    if (name.compare(0, std::strlen(prefix), prefix) == 0) number = name.substr(std::strlen(prefix));
  if (number.empty() || number.size() > 9 ||
      number.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::atoi(number.c_str());
}

// Follows symbolic links from `path` to the name that is finally written,
// which may not exist yet. Stops at a name under /proc or /dev/fd, whose
// links only the kernel can follow (*magic is then set).
int ResolveLinks(const char* path, std::string* target, bool* magic, std::string* error) {
  *target = path;
  *magic = false;
  for (int hops = 0;; ++hops) {
    if (target->compare(0, 6, "/proc/") == 0 || target->compare(0, 8, "/dev/fd/") == 0 ||
        OwnDescriptor(*target) >= 0) {
      *magic = true;
      return 1;
    }
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

// The temporary file being written, removed if a signal ends the run before
// it is renamed; a signal handler may only read it.
char temporary_name[4096];
volatile sig_atomic_t temporary_set = 0;

void RemoveTemporaryAndDie(int signal_number) {
  if (temporary_set) unlink(temporary_name);
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Handles the signals that end a run from a terminal or a service manager,
// except those the caller chose to ignore (nohup).
void CatchEndingSignals() {
  static bool done = false;
  if (done) return;
  done = true;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction old;
    if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = RemoveTemporaryAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

// Blocks the ending signals while the temporary name changes hands.
struct SignalsHeld {
  sigset_t old;
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal_number);
    sigprocmask(SIG_BLOCK, &set, &old);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old, nullptr); }
  // True when an ending signal came while held: the run is being stopped,
  // so the old output should stay rather than be replaced just before.
  bool Ending() const {
    sigset_t pending;
    if (sigpending(&pending) != 0) return false;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
      if (sigismember(&pending, signal_number) == 1 && sigismember(&old, signal_number) == 0)
        return true;
    return false;
  }
};

int WriteInPlace(const char* path, int flags, const std::vector<uint8_t>& data,
                 std::string* error) {
  const int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC | flags);
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

std::string OutputKey(const std::string& path) { return path; }

int WriteOutputFile(const char* path, const std::vector<uint8_t>& data, std::string* error) {
  if (std::strcmp(path, "-") == 0) return WriteStandardOutput(data, error);
  std::string target;
  bool magic = false;
  if (!ResolveLinks(path, &target, &magic, error)) return 0;
  struct stat info;
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    *error = "is a directory";
    return 0;
  }
  if (magic) {
    const int fd = OwnDescriptor(target);
    if (fd == 1) return WriteStandardOutput(data, error);
    if (fd >= 0) return WriteAll(fd, data, error);
    // Another process's descriptor: the kernel follows the name.
    return WriteInPlace(path, exists && S_ISREG(info.st_mode) ? O_TRUNC : 0, data, error);
  }
  if (exists && !S_ISREG(info.st_mode)) return WriteInPlace(target.c_str(), 0, data, error);
  CatchEndingSignals();
  std::string temp = FolderPrefix(target) + ".vldtool-XXXXXX";
  int fd;
  {
    SignalsHeld held;
    fd = mkostemp(&temp[0], O_CLOEXEC);
    if (fd >= 0 && temp.size() < sizeof temporary_name) {
      std::memcpy(temporary_name, temp.c_str(), temp.size() + 1);
      temporary_set = 1;
    }
  }
  if (fd < 0) {
    *error = std::strerror(errno);
    return 0;
  }
  int ok = WriteAll(fd, data, error);
  // The set-user and set-group bits belong to the old file's owner: a file
  // that another owner makes (root replacing a user's file) must not carry
  // them, lest it run with that owner's rights.
  mode_t mode = exists ? info.st_mode & 07777 : NewFileMode();
  struct stat made;
  if (exists && (fstat(fd, &made) != 0 || made.st_uid != info.st_uid))
    mode &= ~mode_t{S_ISUID | S_ISGID};
  else if (exists && made.st_gid != info.st_gid)
    mode &= ~mode_t{S_ISGID};
  if (ok && fchmod(fd, mode) != 0) {
    *error = std::strerror(errno);
    ok = 0;
  }
  if (close(fd) != 0 && ok) {
    *error = std::strerror(errno);
    ok = 0;
  }
  SignalsHeld held;
  if (ok && held.Ending()) {
    *error = "interrupted";
    ok = 0;
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    *error = std::strerror(errno);
    ok = 0;
  }
  if (!ok) unlink(temp.c_str());
  temporary_set = 0;
  return ok;
}
