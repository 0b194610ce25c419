#include "tools/image/image_io.h"

#include <cstring>

#include "vld.h"

int CheckImageSize(uint64_t width, uint64_t height, std::string* error) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (width == 0 || height == 0) {
    *error = "the image is empty (" + size + ")";
    return 0;
  }
  if (width > 65535 || height > 65535) {
    *error = "the picture is " + size + "; a picture file holds at most 65535x65535";
    return 0;
  }
  // Which sizes a picture may have is the library's rule: it is asked about
  // the header of a file declaring this one, which costs it nothing.
  const uint8_t header[22] = {'H', 'K', '0', '3', 0x1A, 2, 0, 0, 0, 0,
                              static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width),
                              static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height)};
  vld_picture picture;
  if (vld_info(header, sizeof header, &picture) == VLD_ERROR_TOO_LARGE) {
    *error = "the picture is " + size + ", too large for the viewer (over " +
             std::to_string(VLD_MAX_BUFFER_BYTES >> 20) + " MiB decoded)";
    return 0;
  }
  return 1;
}

int CheckPaletteIndices(const DecodedImage& image, std::string* error) {
  const size_t entries = image.palette_rgba.size() / 4;
  for (uint8_t index : image.indices) {
    if (index >= entries) {
      *error = "a pixel has colour " + std::to_string(index) + ", but the palette has only " +
               std::to_string(entries) + " entries";
      return 0;
    }
  }
  return 1;
}

const char* ImageKind(const std::vector<uint8_t>& bytes) {
  static const struct {
    const char* signature;
    size_t length;
    const char* kind;
  } kKinds[] = {{"\x89PNG\r\n\x1A\n", 8, "PNG"},
                {"GIF87a", 6, "GIF"},
                {"GIF89a", 6, "GIF"},
                {"\xFF\xD8\xFF", 3, "JPEG"},
                {"BM", 2, "BMP"},
                {"II*\0", 4, "TIFF"},
                {"MM\0*", 4, "TIFF"}};
  for (const auto& k : kKinds)
    if (bytes.size() >= k.length && std::memcmp(bytes.data(), k.signature, k.length) == 0)
      return k.kind;
  return nullptr;
}

