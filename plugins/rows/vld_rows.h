/* Pictures for the plug-ins, decoded row by row straight into the caller's
   RGB buffer at the size the caller asks, so that neither a thumbnail nor a
   zoomed-out view ever holds the whole picture: a few rows of indices and a
   few counters per output column are all the memory taken. */
#ifndef VLD_ROWS_H
#define VLD_ROWS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "vld.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes `data` into `rgb` (3 bytes a pixel, rows `stride` bytes apart) of
   out_width x out_height pixels. At the picture's own size each pixel is its
   palette colour; smaller, each output pixel averages the block of pixels it
   covers; larger, each output pixel repeats the pixel it falls on, so pixel
   art grows by whole pixels without smoothing. Returns what vld_decode_rows
   returns, with its details. */
/* A details record ready for the library's calls (vld.hpp's Details, in C). */
static inline vld_details vld_rows_details(void) {
  vld_details details;
  memset(&details, 0, sizeof details);
  details.size = sizeof details;
  return details;
}

int vld_rows_to_rgb(const void *data, size_t size, uint32_t out_width, uint32_t out_height,
                    uint8_t *rgb, size_t stride, vld_details *details);

#ifdef __cplusplus
}
#endif

#endif /* VLD_ROWS_H */
