/* The gdk-pixbuf loader for four-colour pictures (libpixbufloader-vld.so).

   Only the incremental interface is offered: gdk-pixbuf builds whole-file
   loading on top of it, while new_from_file_at_size, the thumbnailer and
   image viewers accept nothing else. The library decodes a whole file at
   once, so the bytes are gathered as they come and the picture is made when
   the last one is in; a file that cannot be a picture is refused as soon as
   its first four bytes are seen. */
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gmodule.h>
#include <stdint.h>
#include <string.h>

#include "vld.h"

typedef struct {
  GdkPixbufModuleSizeFunc size_func;
  GdkPixbufModulePreparedFunc prepared_func;
  GdkPixbufModuleUpdatedFunc updated_func;
  gpointer user_data;
  GByteArray *bytes;
  gboolean refused; /* by load_increment; gdk-pixbuf still calls stop_load */
} VldLoad;

static void set_decode_error(const GByteArray *bytes, int code, GError **error) {
  char reason[128];
  if (code == VLD_ERROR_OUT_OF_MEMORY) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "Not enough memory to load the picture");
    return;
  }
  vld_decode_reason(bytes->data, bytes->len, reason, sizeof reason);
  g_set_error(error, GDK_PIXBUF_ERROR,
              code == VLD_ERROR_BAD_MAGIC ? GDK_PIXBUF_ERROR_UNKNOWN_TYPE
                                          : GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
              "Cannot read HK03 picture: %s", reason);
}

static gpointer begin_load(GdkPixbufModuleSizeFunc size_func,
                           GdkPixbufModulePreparedFunc prepared_func,
                           GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data,
                           GError **error) {
  (void)error;
  VldLoad *load = g_new0(VldLoad, 1);
  load->size_func = size_func;
  load->prepared_func = prepared_func;
  load->updated_func = updated_func;
  load->user_data = user_data;
  load->bytes = g_byte_array_new();
  return load;
}

static gboolean load_increment(gpointer context, const guchar *buf, guint size, GError **error) {
  VldLoad *load = context;
  if ((uint64_t)load->bytes->len + size >= VLD_MAX_FILE_BYTES) {
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                "Cannot read HK03 picture: too large (%u MiB or more)",
                (unsigned)(VLD_MAX_FILE_BYTES >> 20));
    load->refused = TRUE;
    return FALSE;
  }
  guint before = load->bytes->len;
  g_byte_array_append(load->bytes, buf, size);
  if (before < 4 && load->bytes->len >= 4 && memcmp(load->bytes->data, "HK03", 4) != 0) {
    set_decode_error(load->bytes, VLD_ERROR_BAD_MAGIC, error);
    load->refused = TRUE;
    return FALSE;
  }
  return TRUE;
}

/* 8-bit RGB for each of the four indices, then every pixel through it. */
static GdkPixbuf *make_pixbuf(const vld_picture *picture) {
  GdkPixbuf *pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, (int)picture->width,
                                     (int)picture->height);
  if (pixbuf == NULL) return NULL;
  uint8_t colours[4][3];
  for (int i = 0; i < 4; i++) vld_rgb(picture->palette[i], colours[i]);
  guchar *pixels = gdk_pixbuf_get_pixels(pixbuf);
  size_t stride = (size_t)gdk_pixbuf_get_rowstride(pixbuf);
  for (uint32_t y = 0; y < picture->height; y++) {
    const uint8_t *in = picture->indices + (size_t)y * picture->width;
    guchar *out = pixels + (size_t)y * stride;
    for (uint32_t x = 0; x < picture->width; x++) memcpy(out + 3 * (size_t)x, colours[in[x]], 3);
  }
  return pixbuf;
}

static gboolean finish(VldLoad *load, GError **error) {
  vld_picture picture;
  int code = vld_decode(load->bytes->data, load->bytes->len, &picture);
  if (code != VLD_OK) {
    set_decode_error(load->bytes, code, error);
    return FALSE;
  }
  gboolean ok = TRUE;
  gint width = (gint)picture.width, height = (gint)picture.height;
  if (load->size_func != NULL) load->size_func(&width, &height, load->user_data);
  /* A size of 0 asks for the size alone (gdk_pixbuf_get_file_info). */
  if (width != 0 && height != 0) {
    GdkPixbuf *pixbuf = make_pixbuf(&picture);
    if (pixbuf == NULL) {
      set_decode_error(load->bytes, VLD_ERROR_OUT_OF_MEMORY, error);
      ok = FALSE;
    } else {
      if (load->prepared_func != NULL) load->prepared_func(pixbuf, NULL, load->user_data);
      if (load->updated_func != NULL)
        load->updated_func(pixbuf, 0, 0, (int)picture.width, (int)picture.height,
                           load->user_data);
      g_object_unref(pixbuf);
    }
  }
  vld_picture_free(&picture);
  return ok;
}

static gboolean stop_load(gpointer context, GError **error) {
  VldLoad *load = context;
  gboolean ok = FALSE;
  if (load->refused)
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED,
                        "Cannot read HK03 picture");
  else
    ok = finish(load, error);
  g_byte_array_unref(load->bytes);
  g_free(load);
  return ok;
}

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule *module) {
  module->begin_load = begin_load;
  module->stop_load = stop_load;
  module->load_increment = load_increment;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat *info) {
  static GdkPixbufModulePattern signature[] = {{"HK03", NULL, 100}, {NULL, NULL, 0}};
  static gchar *mime_types[] = {"image/x-vld", NULL};
  static gchar *extensions[] = {"vld", "tft", NULL};
  info->name = "vld";
  info->signature = signature;
  info->description = "Four-colour HK03 picture";
  info->mime_types = mime_types;
  info->extensions = extensions;
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = "MIT";
}
