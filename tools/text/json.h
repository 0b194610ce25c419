// The pieces of vldtool's JSON output.
#pragma once

#include <cstddef>
#include <string>

// `text` (which must be UTF-8) as a JSON string, quotes included; control
// characters are escaped.
std::string JsonString(const std::string& text);

// Bytes as lowercase hex digits, two per byte, for what is not valid text.
std::string HexBytes(const char* bytes, size_t length);
