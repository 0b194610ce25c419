/* The library's entry points as the WebAssembly module exports them. The
   JavaScript side (vld_api.js) reads vld_picture fields at fixed offsets, so
   the layout it relies on is pinned here: a change to vld.h that moves a
   field stops the build instead of silently mixing up pixels. */
#include <emscripten.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

/* ---- Decoding for the page, row by row ----
   The page keeps a picture as its indices alone, one byte a pixel, outside
   the module's memory (a WebAssembly memory never shrinks). So the rows go
   to JavaScript one at a time (web_take_row, below), and what the page shows
   smaller than 1:1 (the list's thumbnail, a zoomed-out view) is averaged
   from the same rows here, at the size it is shown. */

/* Nonzero when the page cannot take the row (no memory for the indices). */
EM_JS(int, web_take_row, (uint32_t y, const uint8_t *indices, uint32_t width), {
  return Module['vldTakeRow'](y, indices, width) ? 0 : 1;
});

/* A box-averaged copy of the picture at out_width x out_height, opaque.
   Each output pixel counts how often each index falls in its box; the
   colours are mixed once, when its last row is in. */
typedef struct web_shrink {
  uint32_t width, height, out_width, out_height;
  uint32_t out_row;     /* the output row being counted */
  uint32_t *starts;     /* out_width + 1: the first input column of each output column */
  uint32_t *counts;     /* out_width x four counts; a copy is made only of a picture
                           larger than its box, whose longer side then has 128
                           pixels or more, so a count stays under 2^28 / 128 */
  uint8_t *rgba;        /* out_width * out_height * 4 */
} web_shrink;

typedef struct web_view {
  const vld_picture *header;
  const uint32_t *boxes;  /* each copy's box: width, height */
  uint8_t colours[4][3];
  web_shrink shrinks[2];
  int out_of_memory;
} web_view;

static void shrink_flush(web_shrink *s, const uint8_t colours[4][3]) {
  uint8_t *out = s->rgba + (size_t)s->out_row * s->out_width * 4;
  for (uint32_t x = 0; x < s->out_width; ++x, out += 4) {
    const uint32_t *count = s->counts + x * 4;
    uint64_t total = (uint64_t)count[0] + count[1] + count[2] + count[3];
    if (total == 0) total = 1;
    for (int c = 0; c < 3; ++c) {
      uint64_t sum = 0;
      for (int i = 0; i < 4; ++i) sum += (uint64_t)count[i] * colours[i][c];
      out[c] = (uint8_t)((sum + total / 2) / total);
    }
    out[3] = 255;
  }
  memset(s->counts, 0, (size_t)s->out_width * 4 * sizeof *s->counts);
}

/* Adds how often each index stands in indices[0..n) to count[0..3]. Eight
   at a time: an index's low and high bits are each one bit of a byte, and
   each count is then one population count. */
static void count_indices(const uint8_t *indices, uint32_t n, uint32_t count[4]) {
  const uint64_t kLow = 0x0101010101010101u;
  uint32_t i = 0, high_only = 0, low_only = 0, both = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t eight;
    memcpy(&eight, indices + i, 8);
    const uint64_t low = eight & kLow, high = (eight >> 1) & kLow;
    both += (uint32_t)__builtin_popcountll(low & high);
    low_only += (uint32_t)__builtin_popcountll(low & ~high);
    high_only += (uint32_t)__builtin_popcountll(high & ~low);
  }
  for (; i < n; ++i) {
    const uint8_t index = indices[i] & 3;
    both += index == 3;
    low_only += index == 1;
    high_only += index == 2;
  }
  count[0] += n - both - low_only - high_only;
  count[1] += low_only;
  count[2] += high_only;
  count[3] += both;
}

static void shrink_row(web_shrink *s, const uint8_t colours[4][3], uint32_t y, const uint8_t *indices) {
  const uint32_t out_row = (uint32_t)((uint64_t)y * s->out_height / s->height);
  if (out_row != s->out_row) {
    shrink_flush(s, colours);
    s->out_row = out_row;
  }
  uint32_t *count = s->counts;
  for (uint32_t x = 0; x < s->out_width; ++x, count += 4)
    count_indices(indices + s->starts[x], s->starts[x + 1] - s->starts[x], count);
}

static void shrink_end(web_shrink *s) {
  free(s->starts);
  free(s->counts);
  s->starts = NULL;
  s->counts = NULL;
}

/* A copy of the picture fitting `box_width` x `box_height`, for a picture
   larger than that box; the size is 0 x 0 for one that fits as it is. */
static int shrink_start(web_shrink *s, uint32_t width, uint32_t height, uint32_t box_width,
                        uint32_t box_height) {
  memset(s, 0, sizeof *s);
  s->width = width;
  s->height = height;
  if (width <= box_width && height <= box_height) return 1;
  /* The side that is further over its box sets the scale. */
  const int by_width = (uint64_t)width * box_height >= (uint64_t)height * box_width;
  s->out_width = by_width ? box_width : (uint32_t)(((uint64_t)width * box_height + height / 2) / height);
  s->out_height = by_width ? (uint32_t)(((uint64_t)height * box_width + width / 2) / width) : box_height;
  if (s->out_width == 0) s->out_width = 1;
  if (s->out_height == 0) s->out_height = 1;
  s->starts = malloc(((size_t)s->out_width + 1) * sizeof *s->starts);
  s->counts = calloc((size_t)s->out_width * 4, sizeof *s->counts);
  s->rgba = malloc((size_t)s->out_width * s->out_height * 4);
  if (s->starts == NULL || s->counts == NULL || s->rgba == NULL) return 0;
  for (uint32_t x = 0; x <= s->out_width; ++x)
    s->starts[x] = (uint32_t)(((uint64_t)x * width + s->out_width - 1) / s->out_width);
  return 1;
}

static int view_row(void *user, uint32_t y, const uint8_t *indices) {
  web_view *view = user;
  if (y == 0) {
    for (int i = 0; i < 4; ++i) vld_rgb(view->header->palette[i], view->colours[i]);
    for (int i = 0; i < 2; ++i)
      if (!shrink_start(&view->shrinks[i], view->header->width, view->header->height,
                        view->boxes[2 * i], view->boxes[2 * i + 1])) {
        view->out_of_memory = 1;
        return 1;
      }
  }
  for (int i = 0; i < 2; ++i)
    if (view->shrinks[i].rgba != NULL) shrink_row(&view->shrinks[i], view->colours, y, indices);
  return web_take_row(y, indices, view->header->width);
}

/* Decodes `data` for the page: the rows go to vldTakeRow, the header to
   `header` (its indices and comment left NULL: the comment's bytes are at
   data + 4), the reason of a failure to `reason` (96 bytes). `result` gets
   each copy's width, height and RGBA pointer (0 where the picture fits its
   box), the RGBA for the caller to free. */
EMSCRIPTEN_KEEPALIVE int web_decode_view(const uint8_t *data, size_t size, vld_picture *header,
                                         const uint32_t boxes[4], char *reason, uint32_t result[6]) {
  web_view view;
  memset(&view, 0, sizeof view);
  view.header = header;
  view.boxes = boxes;
  memset(result, 0, 6 * sizeof *result);
  vld_details details;
  memset(&details, 0, sizeof details);
  details.size = sizeof details;
  int code = vld_decode_rows(data, size, header, view_row, &view, &details);
  if (view.out_of_memory) code = VLD_ERROR_OUT_OF_MEMORY;
  for (int i = 0; i < 2; ++i) {
    web_shrink *s = &view.shrinks[i];
    if (code == VLD_OK && s->rgba != NULL) {
      shrink_flush(s, view.colours);
      result[3 * i] = s->out_width;
      result[3 * i + 1] = s->out_height;
      result[3 * i + 2] = (uint32_t)(uintptr_t)s->rgba;
    } else {
      free(s->rgba);
    }
    shrink_end(s);
  }
  snprintf(reason, 96, "%s", view.out_of_memory ? vld_error_text(code) : details.reason);
  return code;
}
