// vldtool's files: reading inputs within a limit, writing outputs safely.
// The portable part is files.cpp; files_posix.cpp and files_win32.cpp hold
// each system's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An image file larger than this is refused unread; a picture's largest
// image, stored without compression as RGBA, stays well under it.
constexpr uint64_t kMaxImageFileBytes = uint64_t{1} << 30;

enum ReadResult : int {
  kReadFailed = 0,  // *error says why
  kReadOk = 1,
  kReadTooLarge = 2,  // the file holds `limit` bytes or more; nothing was kept, and the
                      // caller, whose limit it is, says so
};

// Reads a whole file of fewer than `limit` bytes; "-" is standard input.
// Directories are refused at once, and so, unless `streams_allowed`, is
// anything but a regular file (FIFO, device), so nothing waits for a writer.
ReadResult ReadInputFile(const char* path, uint64_t limit, bool streams_allowed,
                         std::vector<uint8_t>* data, std::string* error);

// Writes `data` to `path` as careful converters do: "-" is standard output; a
// symbolic link is written through to its target; a device or FIFO, and a
// descriptor named as /dev/stdout, /dev/fd/N or /proc/self/fd/N, is written
// in place; a regular file is replaced atomically through an exclusively
// created temporary file of unpredictable name in the same folder, keeping the
// old file's permission bits (but never the set-user or set-group bit for a
// file of another owner). A failure, or a signal that ends the run (Ctrl+C on
// Windows), leaves no partial or stray file. Windows refuses the names it
// keeps for devices (NUL, CON, COM1, nul.png, ...), save as \\.\NAME.
int WriteOutputFile(const char* path, const std::vector<uint8_t>& data, std::string* error);

// 1 when `output` exists and is the same file as `input` (links followed),
// 0 when it is not, -1 when the system cannot tell.
int SameFile(const char* input, const char* output);

// `path` in the form in which the file system compares names (on Windows,
// the full path without regard to case), so two outputs of one run that
// would be the same file are found out.
std::string OutputKey(const std::string& path);

// 1 when `path` is a folder; else 0, with *reason saying what it is instead.
int IsFolder(const char* path, std::string* reason);

// Writes what is buffered for standard output; 0 with a reason when any
// write to it failed.
int FlushStandardOutput(std::string* error);

// Where the last part of `path`, the file's own name, starts: after the
// system's last separator ('/'; on Windows also '\' and a drive's ':').
size_t FileNameStart(const std::string& path);

// The part of `path` before its own name, so that a file made with it lands
// in the same folder.
std::string FolderPrefix(const std::string& path);

// The system's part of ReadInputFile and WriteOutputFile.

struct InputFile {
  intptr_t handle = -1;  // a descriptor, or a Windows HANDLE
  bool owned = false;
};

// Opens the input and says what kind of file it is: 'f' a regular file (with
// *size), 'd' a directory, 's' anything else (pipe, console, device).
int OpenInput(const char* path, bool standard_input, InputFile* file, char* kind, uint64_t* size,
              std::string* error);
// Bytes read, 0 at the end, -1 on an error.
long ReadSome(InputFile* file, uint8_t* buffer, size_t size, std::string* error);
void CloseInput(InputFile* file);

// Writes `data` to standard output past stdio, flushing stdio first, so a
// failure is reported here once and not again when the command's buffered
// output is flushed at the end.
int WriteStandardOutput(const std::vector<uint8_t>& data, std::string* error);
