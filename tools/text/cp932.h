// Text between code page 932, the picture files' comment encoding, and
// UTF-8. The portable part is cp932.cpp; each system converts single
// characters its own way (cp932_posix.cpp, cp932_win32.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Code page 932 bytes to UTF-8. With `escape_bytes`, bytes that are not valid
// code page 932, and control characters, come out as \xNN escapes; without,
// invalid bytes become U+FFFD and control characters are kept. Returns 0 when
// any byte was not valid code page 932.
int Cp932ToUtf8(const char* text, size_t length, bool escape_bytes, std::string* out);

// UTF-8 to code page 932, refusing (0) text that is not UTF-8 and text with
// characters that code page 932 cannot hold exactly (each must come back
// unchanged); *bad_characters then lists every such character once, as
// UTF-8, in order, and is empty when the text is not UTF-8. Stops (-1) once
// the result is over `limit` bytes, so a huge text costs no more than its
// first `limit` characters.
int Utf8ToCp932(const std::string& text, size_t limit, std::string* out,
                std::vector<std::string>* bad_characters);

// The character people use in code page 932 text for one it cannot hold
// ("￥" for "¥", "～" for U+301C "〜"), as UTF-8, or nullptr.
const char* Cp932Substitute(const std::string& character);

// The length of the longest start of `text` of at most `limit` bytes that
// does not end inside a two-byte character.
size_t Cp932Prefix(const char* text, size_t length, size_t limit);

// Copies `text` with every byte sequence that is not UTF-8 replaced by
// U+FFFD; returns 0 when any was.
int ValidUtf8(const std::string& text, std::string* out);

// The system's part: converts one character between code page 932 and UTF-8
// (`to_utf8` says which way), appending it to *out; returns 0 when the bytes
// are not a character of the source or it has no counterpart.
int ConvertCharacter(const char* bytes, size_t length, bool to_utf8, std::string* out);
