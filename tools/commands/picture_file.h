// Picture files as the commands read them: within the library's own limit,
// and a file over it refused unread, in the library's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/system/files.h"

// ReadInputFile with the library's limit; for kReadTooLarge *error is the
// library's reason. "-" is standard input.
ReadResult ReadPictureFile(const char* path, bool streams_allowed, std::vector<uint8_t>* data,
                           std::string* error);

// A picture file's comment starts right after its four-byte magic.
constexpr size_t kPictureCommentOffset = 4;
