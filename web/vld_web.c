/* The library's entry points as the WebAssembly module exports them. The
   JavaScript side (vld_api.js) reads vld_picture fields at fixed offsets, so
   the layout it relies on is pinned here: a change to vld.h that moves a
   field stops the build instead of silently mixing up pixels. */
#include <emscripten.h>
#include <stddef.h>
#include <stdlib.h>

#include "vld.h"

_Static_assert(sizeof(void *) == 4, "vld_api.js reads 32-bit pointers");
_Static_assert(offsetof(vld_picture, width) == 0, "vld_api.js: width");
_Static_assert(offsetof(vld_picture, height) == 4, "vld_api.js: height");
_Static_assert(offsetof(vld_picture, anchor_x) == 8, "vld_api.js: anchor_x");
_Static_assert(offsetof(vld_picture, anchor_y) == 12, "vld_api.js: anchor_y");
_Static_assert(offsetof(vld_picture, palette) == 16, "vld_api.js: palette");
_Static_assert(offsetof(vld_picture, indices) == 24, "vld_api.js: indices");
_Static_assert(offsetof(vld_picture, comment) == 28, "vld_api.js: comment");
_Static_assert(offsetof(vld_picture, comment_size) == 32, "vld_api.js: comment_size");
_Static_assert(sizeof(vld_picture) == 36, "vld_api.js: picture size");
_Static_assert(VLD_DITHER_NONE == 0 && VLD_DITHER_FLOYD_STEINBERG == 1 && VLD_DITHER_ORDERED == 2,
               "vld_api.js: dither names");

EMSCRIPTEN_KEEPALIVE vld_picture *web_picture_new(void) {
  return calloc(1, sizeof(vld_picture));
}

/* Frees what the library put in the picture as well as the record itself;
   a picture the caller filled with its own memory must be emptied first. */
EMSCRIPTEN_KEEPALIVE void web_picture_delete(vld_picture *picture) {
  if (picture == NULL) return;
  vld_picture_free(picture);
  free(picture);
}

/* `palette` NULL lets the library choose the colours. */
EMSCRIPTEN_KEEPALIVE int web_reduce(const uint8_t *rgba, uint32_t width, uint32_t height,
                                    int dither, const uint16_t *palette, vld_picture *out) {
  vld_reduce_options options;
  vld_reduce_options_init(&options);
  options.dither = dither;
  if (palette != NULL) {
    options.palette_given = 1;
    for (int i = 0; i < 4; ++i) options.palette[i] = palette[i];
  }
  return vld_reduce(rgba, width, height, &options, out);
}

/* vld_encode's two results in one place for the caller to read: the data
   pointer, then its size. */
EMSCRIPTEN_KEEPALIVE int web_encode(const vld_picture *picture, uint32_t *result) {
  void *data = NULL;
  size_t size = 0;
  const int code = vld_encode(picture, &data, &size);
  result[0] = (uint32_t)(uintptr_t)data;
  result[1] = (uint32_t)size;
  return code;
}

/* One 32-bit word holding the 8-bit red, green and blue a palette word shows
   as (red in the low byte), so JavaScript needs no output buffer. */
EMSCRIPTEN_KEEPALIVE uint32_t web_rgb(uint32_t word) {
  uint8_t rgb[3];
  vld_rgb((uint16_t)word, rgb);
  return (uint32_t)rgb[0] | (uint32_t)rgb[1] << 8 | (uint32_t)rgb[2] << 16;
}
