// The image libraries linked on Linux: PNG, GIF and JPEG.
#include <cstring>

#include "tools/image/image_io.h"

int ReadImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  const char* kind = ImageKind(bytes);
  if (kind != nullptr && std::strcmp(kind, "PNG") == 0) return ReadPngImage(bytes, image, error);
  if (kind != nullptr && std::strcmp(kind, "GIF") == 0) return ReadGifImage(bytes, image, error);
  if (kind != nullptr && std::strcmp(kind, "JPEG") == 0) return ReadJpegImage(bytes, image, error);
  *image = DecodedImage{};
  *error = "cannot read this kind of file";
  return 0;
}
