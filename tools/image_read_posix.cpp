// Picks the codec for an image by its first bytes, not by its name, so a
// mislabelled file is still read and an unknown kind is said plainly.
#include <cstring>

#include "tools/image_io.h"

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, const char* signature, size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), signature, length) == 0;
}

}  // namespace

int ReadImage(const std::vector<uint8_t>& bytes, Image* image, std::string* error) {
  if (StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8)) return ReadPngImage(bytes, image, error);
  if (StartsWith(bytes, "GIF87a", 6) || StartsWith(bytes, "GIF89a", 6))
    return ReadGifImage(bytes, image, error);
  if (StartsWith(bytes, "\xFF\xD8\xFF", 3)) return ReadJpegImage(bytes, image, error);
  *error = "cannot read this kind of file";
  return 0;
}
