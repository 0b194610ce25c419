// Converting for the page with vldtool's own portable sources: resizing, so
// that the page's "fit the screen" and size fields give what vldtool encode
// --resize gives for the same geometry (the same size and, through the same
// build of stb_image_resize, the same pixels); and the stand-ins vldtool
// suggests for a comment's characters that code page 932 cannot hold.
#include <emscripten.h>

#include <cstdint>
#include <string>

#include "tools/image/resize.h"
#include "vld.h"
#include "tools/text/cp932.h"

extern "C" {

// The size `geometry` gives an image of width x height, in out[0] and
// out[1]; 0 for a geometry or a size vldtool would refuse.
EMSCRIPTEN_KEEPALIVE int web_resized_size(const char* geometry, uint32_t width, uint32_t height,
                                          uint32_t out[2]) {
  Geometry parsed;
  std::string error;
  if (!ParseGeometry(geometry, &parsed, &error)) return 0;
  uint64_t w = 0, h = 0;
  ResizedSize(parsed, width, height, &w, &h);
  if (w < 1 || h < 1 || w > 65535 || h > 65535) return 0;
  // As vldtool: a size the library would refuse to read back is refused
  // before any memory is taken for it; the library's rule, asked of the
  // header of a file declaring it.
  const uint8_t header[22] = {'H', 'K', '0', '3', 0x1A, 2, 0, 0, 0, 0,
                              uint8_t(w >> 8), uint8_t(w), uint8_t(h >> 8), uint8_t(h)};
  vld_picture picture;
  if (vld_info(header, sizeof header, &picture) != VLD_OK) return 0;
  out[0] = static_cast<uint32_t>(w);
  out[1] = static_cast<uint32_t>(h);
  return 1;
}

EMSCRIPTEN_KEEPALIVE int web_resize(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* out,
                                    uint32_t out_width, uint32_t out_height) {
  return ResizeRgba(rgba, width, height, out, out_width, out_height);
}

// The character to use instead of `character` (both UTF-8), or NULL.
EMSCRIPTEN_KEEPALIVE const char* web_cp932_substitute(const char* character) {
  return Cp932Substitute(character);
}

}  // extern "C"
