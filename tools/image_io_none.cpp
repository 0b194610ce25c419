// Image files in a build without an image library: picture files can still
// be inspected, but not converted.
#include "tools/image_io.h"

int ReadImage(const std::vector<uint8_t>&, Image*, std::string* error) {
  *error = "PNG support is not available in this build";
  return 0;
}

int WritePalettePng(uint32_t, uint32_t, const uint8_t*, size_t, const uint8_t[4][3], int,
                    std::vector<uint8_t>*, std::string* error) {
  *error = "PNG support is not available in this build";
  return 0;
}
