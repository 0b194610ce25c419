#include "tools/commands/picture_file.h"

#include "vld.hpp"

ReadResult ReadPictureFile(const char* path, bool streams_allowed, std::vector<uint8_t>* data,
                           std::string* error) {
  const ReadResult read = ReadInputFile(path, VLD_MAX_FILE_BYTES, streams_allowed, data, error);
  if (read != kReadTooLarge) return read;
  // The library refuses a file of VLD_MAX_FILE_BYTES or more before reading
  // a byte of it, so it gives its reason without the file being read.
  static const uint8_t kUnread = 0;
  vld::Picture picture;
  vld_details details = vld::Details();
  vld_decode_ex(&kUnread, static_cast<size_t>(VLD_MAX_FILE_BYTES), picture.get(), &details);
  *error = details.reason;
  return read;
}
