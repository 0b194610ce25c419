/* velinde-thumbnailer -s SIZE INPUT OUTPUT: the desktop's thumbnail of a
   picture, as a PNG of at most SIZE pixels a side.

   These are pixel art, often small: a picture that fits is grown by the
   largest whole number that still fits, each pixel a sharp square, rather
   than smoothed up to the size as a generic thumbnailer does; a larger
   picture shrinks to fit, each thumbnail pixel the average of the pixels it
   covers. Rows are read one at a time, so that a huge picture costs no more
   memory than the thumbnail. */
#include <errno.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vld.h"
#include "vld_rows.h"

static int fail(const char *name, const char *reason) {
  fprintf(stderr, "velinde-thumbnailer: %s: %s\n", name, reason);
  return 1;
}

/* The file's bytes, refused at the library's limit before they are read. */
static char *read_file(const char *name, size_t *size, const char **reason) {
  FILE *f = fopen(name, "rb");
  if (f == NULL) {
    *reason = strerror(errno);
    return NULL;
  }
  size_t capacity = 1 << 16, used = 0;
  char *data = malloc(capacity);
  for (;;) {
    if (data == NULL) {
      *reason = vld_error_text(VLD_ERROR_OUT_OF_MEMORY);
      break;
    }
    used += fread(data + used, 1, capacity - used, f);
    if (used < capacity) {
      if (ferror(f)) {
        *reason = strerror(errno);
        break;
      }
      fclose(f);
      *size = used;
      return data;
    }
    if (capacity >= VLD_MAX_FILE_BYTES) {
      *reason = vld_error_text(VLD_ERROR_TOO_LARGE);
      break;
    }
    char *bigger = realloc(data, capacity * 2);
    if (bigger == NULL) free(data);
    data = bigger;
    capacity *= 2;
  }
  free(data);
  fclose(f);
  return NULL;
}

/* The thumbnail's size for a picture of width x height in a box of `box`. */
static void fit(uint32_t width, uint32_t height, uint32_t box, uint32_t *out_width,
                uint32_t *out_height) {
  uint32_t longer = width > height ? width : height;
  if (longer <= box) {
    *out_width = width * (box / longer);
    *out_height = height * (box / longer);
    return;
  }
  *out_width = (uint32_t)(((uint64_t)width * box + longer / 2) / longer);
  *out_height = (uint32_t)(((uint64_t)height * box + longer / 2) / longer);
  if (*out_width == 0) *out_width = 1;
  if (*out_height == 0) *out_height = 1;
}

int main(int argc, char **argv) {
  char *end = NULL;
  unsigned long box = argc == 5 && strcmp(argv[1], "-s") == 0 ? strtoul(argv[2], &end, 10) : 0;
  if (end == NULL || *end != '\0' || box == 0 || box > 4096) {
    fprintf(stderr, "usage: velinde-thumbnailer -s SIZE INPUT OUTPUT (SIZE 1 to 4096)\n");
    return 2;
  }
  const char *input = argv[3], *output = argv[4], *reason = NULL;
  size_t size = 0;
  char *data = read_file(input, &size, &reason);
  if (data == NULL) return fail(input, reason);
  vld_details details = vld_rows_details();
  vld_picture header;
  uint32_t width = 0, height = 0;
  int code = vld_info(data, size, &header);
  GdkPixbuf *pixbuf = NULL;
  if (code == VLD_OK) {
    fit(header.width, header.height, (uint32_t)box, &width, &height);
    pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, (int)width, (int)height);
    code = pixbuf == NULL ? VLD_ERROR_OUT_OF_MEMORY
                          : vld_rows_to_rgb(data, size, width, height,
                                            gdk_pixbuf_get_pixels(pixbuf),
                                            (size_t)gdk_pixbuf_get_rowstride(pixbuf), &details);
  } else {
    vld_picture refused;
    vld_decode_ex(data, size, &refused, &details);
    vld_picture_free(&refused);
  }
  free(data);
  if (code != VLD_OK) {
    if (pixbuf != NULL) g_object_unref(pixbuf);
    return fail(input, details.code == code ? details.reason : vld_error_text(code));
  }
  /* The original's size, as the thumbnail standard records it. */
  char original_width[16], original_height[16];
  snprintf(original_width, sizeof original_width, "%u", (unsigned)header.width);
  snprintf(original_height, sizeof original_height, "%u", (unsigned)header.height);
  GError *error = NULL;
  gboolean saved = gdk_pixbuf_save(pixbuf, output, "png", &error, "tEXt::Thumb::Image::Width",
                                   original_width, "tEXt::Thumb::Image::Height", original_height,
                                   NULL);
  g_object_unref(pixbuf);
  if (!saved) {
    int status = fail(output, error->message);
    g_error_free(error);
    remove(output);
    return status;
  }
  return 0;
}
