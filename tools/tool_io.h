// File and text helpers shared by the vldtool commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vld/decode.h"

// An image file larger than this is refused unread; a picture's largest
// image, stored without compression as RGBA, stays well under it.
constexpr uint64_t kMaxImageFileBytes = uint64_t{1} << 30;

enum ReadResult : int {
  kReadFailed = 0,  // *error says why
  kReadOk = 1,
  kReadTooLarge = 2,  // the file holds `limit` bytes or more; nothing was kept
};

// Reads a whole file of fewer than `limit` bytes; "-" is standard input.
// Directories are refused at once, and so, unless `streams_allowed`, is
// anything but a regular file (FIFO, device), so nothing waits for a writer.
ReadResult ReadInputFile(const char* path, uint64_t limit, bool streams_allowed,
                         std::vector<uint8_t>* data, std::string* error);

// Writes `data` to `path` as careful converters do: "-" is standard output; a
// symbolic link is written through to its target; a device or FIFO is written
// in place; a regular file is replaced atomically through an exclusively
// created temporary file of unpredictable name in the same folder, keeping the
// old file's permission bits. A failure leaves no partial or stray file.
int WriteOutputFile(const char* path, const std::vector<uint8_t>& data, std::string* error);

// 1 when `output` exists and is the same file as `input` (links followed).
int SameFile(const char* input, const char* output);

// Writes what is buffered for standard output; 0 with a reason when any
// write to it failed.
int FlushStandardOutput(std::string* error);

// A whole number, decimal or 0x hex (never octal), at most `max`, starting at
// `text`; *end is set past it. Returns 0 when there is none or it is too big.
int ParseNumber(const char* text, uint64_t max, const char** end, uint64_t* value);

// Code page 932 bytes to UTF-8. With `escape_bytes`, bytes that are not valid
// code page 932, and control characters, come out as \xNN escapes; without,
// invalid bytes become U+FFFD and control characters are kept. Returns 0 when
// any byte was not valid code page 932.
int Cp932ToUtf8(const char* text, size_t length, bool escape_bytes, std::string* out);

// UTF-8 to code page 932, refusing (0) text that is not UTF-8 and any
// character that code page 932 cannot hold exactly (it must come back
// unchanged); *bad_character is then that character as UTF-8, or empty when
// the text is not UTF-8.
int Utf8ToCp932(const std::string& text, std::string* out, std::string* bad_character);

// Copies `text` with every byte sequence that is not UTF-8 replaced by
// U+FFFD; returns 0 when any was.
int ValidUtf8(const std::string& text, std::string* out);

// Windows hands main its arguments in the ANSI code page, already mapped to
// look-alikes where that code page lacks a character ("¥" becomes "\\").
// RememberArguments keeps main's arguments as they were typed, so that
// ArgumentText gives an argument's UTF-8 text; elsewhere arguments are used
// as they come.
void RememberArguments(int argc, char** argv);
std::string ArgumentText(const char* argument);

// A file name as UTF-8: on Windows from the ANSI code page, elsewhere as
// ValidUtf8 makes it; returns 0 when bytes had to be replaced.
int NameToUtf8(const std::string& name, std::string* out);

// Bytes as lowercase hex digits, two per byte.
std::string HexBytes(const char* bytes, size_t length);
