/* Scaling while decoding. Each axis maps output position i to the source
   span [i * in / out, (i + 1) * in / out), at least one pixel wide: shrinking,
   the spans tile the source and each output pixel is their average;
   growing, each span is the one pixel it starts on. Per source row, each
   output column counts how many of its pixels hold each index (four 16-bit
   lanes in one word: a span is at most 65535 pixels); per output row, the
   columns add those counts up and turn them into colours once the last
   source row of the row's span is in. A row equal to the one before (a
   repeat row, as large flat pictures are mostly made of) reuses its counts. */
#include "vld_rows.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  uint32_t in_width, in_height, out_width, out_height;
  uint8_t colours[4][3];
  uint8_t *rgb;
  size_t stride;
  /* scaled path only */
  uint32_t *span_start, *span_end; /* out_width each */
  uint64_t *row_counts;            /* out_width: the current source row's counts */
  uint32_t *counts;                /* out_width * 4: the current output row's counts */
  uint8_t *previous;               /* in_width: the source row row_counts were made from */
  int have_previous;
  uint32_t next_row; /* the output row being gathered */
} Scale;

static uint32_t span_start(uint64_t i, uint32_t in, uint32_t out) {
  return (uint32_t)(i * in / out);
}

static uint32_t span_end(uint64_t i, uint32_t in, uint32_t out) {
  uint32_t start = span_start(i, in, out), end = span_start(i + 1, in, out);
  return end > start ? end : start + 1;
}

static int ignore_row(void *user, uint32_t y, const uint8_t *indices) {
  (void)user, (void)y, (void)indices;
  return 0;
}

static int same_size_row(void *user, uint32_t y, const uint8_t *indices) {
  Scale *s = user;
  uint8_t *out = s->rgb + (size_t)y * s->stride;
  for (uint32_t x = 0; x < s->in_width; x++, out += 3) memcpy(out, s->colours[indices[x]], 3);
  return 0;
}

static void count_row(Scale *s, const uint8_t *indices) {
  static const uint64_t lane[4] = {1, (uint64_t)1 << 16, (uint64_t)1 << 32, (uint64_t)1 << 48};
  for (uint32_t j = 0; j < s->out_width; j++) {
    uint64_t packed = 0;
    for (uint32_t x = s->span_start[j]; x < s->span_end[j]; x++) packed += lane[indices[x]];
    s->row_counts[j] = packed;
  }
}

static void emit_row(Scale *s) {
  uint8_t *out = s->rgb + (size_t)s->next_row * s->stride;
  for (uint32_t j = 0; j < s->out_width; j++, out += 3) {
    uint32_t *c = s->counts + (size_t)j * 4;
    uint64_t total = (uint64_t)c[0] + c[1] + c[2] + c[3];
    for (int channel = 0; channel < 3; channel++) {
      uint64_t sum = 0;
      for (int k = 0; k < 4; k++) sum += (uint64_t)c[k] * s->colours[k][channel];
      out[channel] = (uint8_t)((sum + total / 2) / total);
    }
    memset(c, 0, 4 * sizeof *c);
  }
  s->next_row++;
}

static int scaled_row(void *user, uint32_t y, const uint8_t *indices) {
  Scale *s = user;
  if (!s->have_previous || memcmp(indices, s->previous, s->in_width) != 0) {
    count_row(s, indices);
    memcpy(s->previous, indices, s->in_width);
    s->have_previous = 1;
  }
  /* Shrinking, the row belongs to one output row; growing, to every output
     row whose span starts on it. */
  while (s->next_row < s->out_height &&
         span_start(s->next_row, s->in_height, s->out_height) <= y) {
    for (uint32_t j = 0; j < s->out_width; j++)
      for (int k = 0; k < 4; k++)
        s->counts[(size_t)j * 4 + k] += (uint32_t)(s->row_counts[j] >> (16 * k)) & 0xFFFF;
    if (y + 1 < span_end(s->next_row, s->in_height, s->out_height)) break;
    emit_row(s);
  }
  return 0;
}

int vld_rows_to_rgb(const void *data, size_t size, uint32_t out_width, uint32_t out_height,
                    uint8_t *rgb, size_t stride, vld_details *details) {
  if (out_width == 0 || out_height == 0 || rgb == NULL || stride / 3 < out_width)
    return VLD_ERROR_INVALID;
  vld_picture header;
  int code = vld_info(data, size, &header);
  /* Refused before the rows: the same refusal again, with its details. */
  if (code != VLD_OK) return vld_decode_rows(data, size, NULL, ignore_row, NULL, details);
  Scale s;
  memset(&s, 0, sizeof s);
  s.in_width = header.width;
  s.in_height = header.height;
  s.out_width = out_width;
  s.out_height = out_height;
  s.rgb = rgb;
  s.stride = stride;
  for (int k = 0; k < 4; k++) vld_rgb(header.palette[k], s.colours[k]);
  if (out_width == header.width && out_height == header.height)
    return vld_decode_rows(data, size, NULL, same_size_row, &s, details);

  s.span_start = malloc(out_width * sizeof *s.span_start);
  s.span_end = malloc(out_width * sizeof *s.span_end);
  s.row_counts = malloc(out_width * sizeof *s.row_counts);
  s.counts = calloc((size_t)out_width * 4, sizeof *s.counts);
  s.previous = malloc(header.width);
  if (s.span_start && s.span_end && s.row_counts && s.counts && s.previous) {
    for (uint32_t j = 0; j < out_width; j++) {
      s.span_start[j] = span_start(j, header.width, out_width);
      s.span_end[j] = span_end(j, header.width, out_width);
    }
    code = vld_decode_rows(data, size, NULL, scaled_row, &s, details);
  } else {
    code = VLD_ERROR_OUT_OF_MEMORY;
    if (details != NULL) {
      details->code = code;
      snprintf(details->reason, sizeof details->reason, "%s", vld_error_text(code));
    }
  }
  free(s.span_start);
  free(s.span_end);
  free(s.row_counts);
  free(s.counts);
  free(s.previous);
  return code;
}
