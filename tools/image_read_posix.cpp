// Picks the codec for an image by its first bytes, not by its name, so a
// mislabelled file is still read and an unknown kind is said plainly.
#include <cstring>

#include "tools/image_io.h"

int ReadImage(const std::vector<uint8_t>& bytes, Image* image, std::string* error) {
  static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0)
    return ReadPngImage(bytes, image, error);
  *error = "cannot read this kind of file";
  return 0;
}
