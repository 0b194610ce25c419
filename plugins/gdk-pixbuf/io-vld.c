/* The gdk-pixbuf loader for four-colour pictures (libpixbufloader-vld.so).

   Only the incremental interface is offered: gdk-pixbuf builds whole-file
   loading on top of it, while new_from_file_at_size, the thumbnailer and
   image viewers accept nothing else. The size is announced as soon as the
   header is in, so that a size query (gdk_pixbuf_get_file_info) stops
   reading there and decodes nothing. The library decodes from a whole file,
   so the bytes are gathered and the picture is made when the last one is
   in, row by row, straight at the size the caller asked: a thumbnail of a
   huge picture never holds the picture. A file that cannot be a picture is
   refused as soon as its header shows it. */
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gmodule.h>
#include <stdint.h>
#include <string.h>

#include "vld.h"
#include "vld_rows.h"

typedef struct {
  GdkPixbufModuleSizeFunc size_func;
  GdkPixbufModulePreparedFunc prepared_func;
  GdkPixbufModuleUpdatedFunc updated_func;
  gpointer user_data;
  GByteArray *bytes;
  gboolean refused; /* by load_increment; gdk-pixbuf still calls stop_load */
  gboolean terminator; /* a 0x1A has come, so the header may be complete */
  gboolean announced;  /* the header is in and size_func has answered */
  gint width, height; /* what size_func asked for */
} VldLoad;

static void set_decode_error(const vld_details *details, GError **error) {
  if (details->code == VLD_ERROR_OUT_OF_MEMORY) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "Not enough memory to load the picture");
    return;
  }
  g_set_error(error, GDK_PIXBUF_ERROR,
              details->code == VLD_ERROR_BAD_MAGIC ? GDK_PIXBUF_ERROR_UNKNOWN_TYPE
                                                   : GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
              "Cannot read HK03 picture: %s", details->reason);
}

/* The library's refusal of these bytes, read no further than the header. */
static void refuse(VldLoad *load, GError **error) {
  vld_details details = vld_rows_details();
  vld_picture picture;
  vld_decode_ex(load->bytes->data, load->bytes->len, &picture, &details);
  vld_picture_free(&picture);
  set_decode_error(&details, error);
  load->refused = TRUE;
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
    vld_details details = vld_rows_details();
    details.code = VLD_ERROR_TOO_LARGE;
    g_strlcpy(details.reason, vld_error_text(VLD_ERROR_TOO_LARGE), sizeof details.reason);
    set_decode_error(&details, error);
    load->refused = TRUE;
    return FALSE;
  }
  guint before = load->bytes->len;
  g_byte_array_append(load->bytes, buf, size);
  if (load->announced) return TRUE;
  /* Until the comment's end has come, only the magic can be judged: asking
     the whole header again for every piece of a long comment would read
     the comment over and over. */
  if (!load->terminator) {
    load->terminator = memchr(buf, 0x1A, size) != NULL;
    if (!load->terminator && (before >= 4 || load->bytes->len < 4)) return TRUE;
  }
  vld_picture header;
  switch (vld_info(load->bytes->data, load->bytes->len, &header)) {
    case VLD_OK:
      load->announced = TRUE;
      load->width = (gint)header.width;
      load->height = (gint)header.height;
      if (load->size_func != NULL) load->size_func(&load->width, &load->height, load->user_data);
      return TRUE;
    /* Refusals that more bytes cannot change. */
    case VLD_ERROR_BAD_MAGIC:
      if (load->bytes->len < 4) return TRUE;
      /* fall through */
    case VLD_ERROR_ZERO_SIZE:
    case VLD_ERROR_TOO_LARGE:
      refuse(load, error);
      return FALSE;
    default:
      return TRUE;
  }
}

static gboolean finish(VldLoad *load, GError **error) {
  vld_details details = vld_rows_details();
  if (!load->announced) {
    refuse(load, error);
    return FALSE;
  }
  /* A size of 0 asks for the size alone (gdk_pixbuf_get_file_info). */
  if (load->width <= 0 || load->height <= 0) return TRUE;
  GdkPixbuf *pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, load->width, load->height);
  if (pixbuf == NULL) {
    details.code = VLD_ERROR_OUT_OF_MEMORY;
    set_decode_error(&details, error);
    return FALSE;
  }
  int code = vld_rows_to_rgb(load->bytes->data, load->bytes->len, (uint32_t)load->width,
                             (uint32_t)load->height, gdk_pixbuf_get_pixels(pixbuf),
                             (size_t)gdk_pixbuf_get_rowstride(pixbuf), &details);
  if (code == VLD_OK) {
    if (load->prepared_func != NULL) load->prepared_func(pixbuf, NULL, load->user_data);
    if (load->updated_func != NULL)
      load->updated_func(pixbuf, 0, 0, load->width, load->height, load->user_data);
  } else {
    set_decode_error(&details, error);
  }
  g_object_unref(pixbuf);
  return code == VLD_OK;
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
