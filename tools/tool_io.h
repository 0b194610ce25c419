// File and text helpers shared by the vldtool commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads a whole file. On failure returns 0 with a short reason in *error.
int ReadWholeFile(const char* path, std::vector<uint8_t>* data, std::string* error);

// Writes `data` to a temporary file next to `path` and renames it over
// `path`, so a failure never leaves a partial or stray file behind.
int WriteFileReplacing(const char* path, const std::vector<uint8_t>& data, std::string* error);

// Code page 932 bytes to UTF-8. Bytes that are not valid code page 932, and
// control characters, come out as \xNN escapes; returns 0 when any did.
int Cp932ToUtf8(const char* text, size_t length, std::string* out);

// UTF-8 to code page 932. Returns 0 when the text is not valid UTF-8 or
// holds a character that code page 932 cannot express.
int Utf8ToCp932(const std::string& text, std::string* out);
