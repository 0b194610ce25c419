/* vld.h: reading and writing four-colour "HK03" pictures (*.vld, *.tft).

   A small C library: decode a picture file into one byte per pixel, encode
   such indices back into a file, and reduce an RGBA image to the four
   colours a picture can hold. It keeps no global state, so any function may
   be called from several threads at once on different pictures.

   THE FILE, byte by byte (words are 16-bit big-endian):

     offset   size  field
     0        4     magic "HK03"
     4        N     comment: code page 932 text, any bytes but 0x1A
     4+N      1     0x1A, the comment's end
     5+N      1     format byte, always 2
     6+N      2     anchor x: where the picture goes on a 768 x 512 screen
     8+N      2     anchor y
     10+N     2     width W in pixels (1 or more)
     12+N     2     height H in pixels (1 or more)
     14+N     8     four palette words, index 0 to 3
     22+N     ...   H rows, top first, one after another with no padding

   Pixels come in groups of 8 across a row: G = (W + 7) / 8 groups. A pixel
   word is two bytes holding the group's eight 2-bit colour indices as bit
   planes: the first byte carries bit 0 of each index, the second bit 1, the
   leftmost pixel in each byte's most significant bit.

   Each row starts with a control byte; only its top two bits count:
     0x00-0x7F  literal row: G pixel words follow.
     0xC0-0xFF  repeat row: a copy of the row above; nothing follows.
     0x80-0xBF  block row: K = (G + 3) / 4 selector bytes, then one pixel
                word for each group whose selector is 0, in group order.
   Selectors are 2 bits a group, four groups a byte, the first group in the
   top two bits (a last byte's unused low bits are ignored):
     0  a pixel word follows
     1  copy the 8 pixels directly above
     2  copy the 8 pixels to the left (the previous group; for group 0, the
        last 8 bytes of the buffer row above)
     3  copy the 8 pixels four rows above

   Copies read a decoding buffer of (H + 4) rows of S = (W + 11) & ~3 bytes,
   one byte per pixel. Its first four rows are zero and lie above the
   picture, so copies from above in the top rows read zeros. A row's groups
   cover 8 * G <= W + 7 bytes, always less than S; the columns from W on are
   never shown, but literal words and copies write them and later copies
   read them back, so an encoder has to account for them too.

   A palette word is GRBI: bits 15-11 green, 10-6 red, 5-1 blue (5 bits
   each), bit 0 intensity, which the display ignores. A 5-bit level v shows
   as the 8-bit level v * 8 + v / 4. Word 0 of exactly 0x0000 lets a viewer
   show the desktop through index 0; 0x0001 is the same black shown opaque.

   LIMITS. Files of 256 MiB or more are refused unread, and so is a picture
   whose decoding buffer, (H + 4) * S bytes, would pass 256 MiB. Every size
   is checked before memory is taken, and every read against the data's end.

   USE. Decode:
       vld_picture p;
       int e = vld_decode(bytes, size, &p);
       if (e != VLD_OK) fprintf(stderr, "%s\n", vld_error_text(e));
       else { ... p.indices[y * p.width + x] ...; vld_picture_free(&p); }
   Encode: fill a vld_picture with your own memory, call vld_encode, write
   the bytes it gives and release them with vld_free.
   Make a picture from an image: vld_reduce, then vld_encode.

   Link with -lvld (pkg-config vld, or CMake's find_package(vld) and the
   target vld::vld). */
#ifndef VLD_H
#define VLD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(VLD_SHARED_BUILD)
#define VLD_API __declspec(dllexport)
#elif defined(_WIN32) && defined(VLD_SHARED)
#define VLD_API __declspec(dllimport)
#elif defined(__GNUC__) && defined(VLD_SHARED_BUILD)
#define VLD_API __attribute__((visibility("default")))
#else
#define VLD_API
#endif

/* One picture. vld_decode and vld_reduce fill one with memory of their own,
   which vld_picture_free gives back; to encode, point it at yours. */
typedef struct vld_picture {
  uint32_t width, height;      /* pixels, 1..65535 */
  uint32_t anchor_x, anchor_y; /* the picture's place on the 768 x 512 reference screen, 0..65535 */
  uint16_t palette[4];         /* the four palette words, as stored */
  uint8_t *indices;            /* width * height bytes, values 0..3, top row first, no padding */
  uint8_t *comment;            /* every comment byte (code page 932), not zero-terminated; may be
                                  NULL when comment_size is 0 */
  size_t comment_size;
} vld_picture;

/* Results. Every error leaves an output picture empty (all zero). */
#define VLD_OK 0
#define VLD_ERROR_BAD_MAGIC 1       /* not "HK03", or under four bytes */
#define VLD_ERROR_NO_TERMINATOR 2   /* ends inside the comment (no 0x1A) */
#define VLD_ERROR_BAD_FORMAT 3      /* the format byte is not 2, or missing */
#define VLD_ERROR_SHORT_HEADER 4    /* ends inside the eight header words */
#define VLD_ERROR_ZERO_SIZE 5       /* width or height is 0 */
#define VLD_ERROR_TOO_LARGE 6       /* over the limits above */
#define VLD_ERROR_OUT_OF_MEMORY 7
#define VLD_ERROR_SHORT_ROW 8       /* ends inside a row */
#define VLD_ERROR_INVALID 9         /* an argument no picture can hold: a null pointer, a size
                                       out of range, an index above 3, a comment with 0x1A */

#define VLD_ERROR_STOPPED 10 /* a row callback asked vld_decode_rows to stop */

/* The largest file vld_decode reads, and the largest decoding buffer. */
#define VLD_MAX_FILE_BYTES ((uint64_t)256 << 20)
#define VLD_MAX_BUFFER_BYTES ((uint64_t)256 << 20)

/* Decodes a whole picture file held in memory. */
VLD_API int vld_decode(const void *data, size_t size, vld_picture *out);

/* Reads the header alone: width, height, anchor, palette and comment_size,
   with indices and comment left NULL (the comment's bytes are those at
   data + 4). Needs only the bytes up to the header's end, so a file cut
   inside its rows still gives VLD_OK, and allocates nothing: asking about
   the largest picture costs no more than asking about the smallest. It
   refuses whatever vld_decode refuses before the rows, with the same code. */
VLD_API int vld_info(const void *data, size_t size, vld_picture *out);

/* What a decode found beyond its result, filled in the same call: the
   reason in words, where a damaged file ends, and how its rows are coded.
   Set `size` to sizeof(vld_details) first; a caller built against an older,
   shorter struct gets only the fields it knows (none, if `size` is 0). */
typedef struct vld_details {
  size_t size;             /* sizeof(vld_details), set by the caller */
  int code;                /* the call's result */
  char reason[96];         /* as vld_decode_reason: "ends inside row 94", "ok" */
  int64_t comment_size;    /* the comment's length wherever its 0x1A was found,
                              even in a file refused after it; -1 if never found */
  int format_byte;         /* -1 where the file ends before it */
  uint32_t rows_decoded;   /* whole rows decoded; for VLD_ERROR_SHORT_ROW the row
                              the file ends in, counted from 0 */
  uint32_t literal_rows, repeat_rows, block_rows; /* of the rows decoded, a cut file's too */
  uint64_t end_offset;     /* just past the last row's bytes; 0 unless VLD_OK */
} vld_details;

/* vld_decode, and the details of the same call in `details` (may be NULL). */
VLD_API int vld_decode_ex(const void *data, size_t size, vld_picture *out, vld_details *details);

/* Row by row. A row refers back at most four rows, so a picture can be
   decoded holding only a few rows of its width, never the whole of it:
   vld_decode_rows calls `row` once a row, top first, with the row's `width`
   indices (0..3) in memory of the library's that lasts only for the call.
   The callback returns 0 to go on, anything else to stop, and the call then
   returns VLD_ERROR_STOPPED. `header`, when not NULL, gets what vld_info
   gives before the first row, and keeps it when the rows fail later (a
   file cut inside row 94 hands over rows 0 to 93, then gives
   VLD_ERROR_SHORT_ROW); `details` may be NULL. The codes and details are
   vld_decode_ex's, but for VLD_ERROR_STOPPED, whose rows_decoded counts
   the rows handed over. Memory taken: a small multiple of the picture's
   width (20 rows of it, or about 256 KiB if that is more), whatever its
   height. */
typedef int (*vld_row_callback)(void *user, uint32_t y, const uint8_t *indices);
VLD_API int vld_decode_rows(const void *data, size_t size, vld_picture *header,
                            vld_row_callback row, void *user, vld_details *details);

/* The bytes of a picture file for `picture` (its anchor must fit 16 bits).
   On VLD_OK, *data holds *size bytes to release with vld_free. Whatever
   vld_decode would refuse to read back (a file of VLD_MAX_FILE_BYTES or
   more, say, from a huge comment) is refused with VLD_ERROR_TOO_LARGE. */
VLD_API int vld_encode(const vld_picture *picture, void **data, size_t *size);

/* How vld_reduce treats an image. Set one up with vld_reduce_options_init,
   which fills `size` and the defaults, then change what you need: fields
   added later go at the end, and a caller built against an older header
   gets their defaults. */
#define VLD_DITHER_NONE 0
#define VLD_DITHER_FLOYD_STEINBERG 1
#define VLD_DITHER_ORDERED 2
typedef struct vld_reduce_options {
  size_t size;          /* sizeof(vld_reduce_options) */
  int dither;           /* VLD_DITHER_*; default none */
  int palette_given;    /* nonzero: map to `palette` instead of choosing colours */
  uint16_t palette[4];  /* palette words to map to */
} vld_reduce_options;
VLD_API void vld_reduce_options_init(vld_reduce_options *options);

/* Reduces width * height RGBA pixels (8 bits a channel, rows top first, no
   padding) to a picture: indices and palette, anchor 0,0, no comment.
   Pixels with alpha below 128 take index 0 with palette word 0x0000, the
   rest share the other indices; the most used colour comes first. NULL
   options are the defaults. The result is the same on every machine. */
VLD_API int vld_reduce(const uint8_t *rgba, uint32_t width, uint32_t height,
                       const vld_reduce_options *options, vld_picture *out);

/* What `vldtool encode` makes of a palette image whose pixels use only
   entries 0-3: the same indices, each entry's nearest word, and 0x0000 for
   a see-through entry 0 (alpha below 128). `palette_rgba` holds `entries`
   RGBA entries; `known_words`, when not NULL, are four words the image was
   made from (vldtool decode writes them into its PNGs), each taken as it is
   where it still shows its entry's colour, so the intensity bit survives.
   Returns VLD_ERROR_INVALID, leaving *out empty, for an image that cannot
   keep its indices: one above 3, one with no entry among the `entries`
   given, or another entry in use see-through. */
VLD_API int vld_keep_palette(const uint8_t *indices, uint32_t width, uint32_t height,
                             const uint8_t *palette_rgba, size_t entries,
                             const uint16_t *known_words, vld_picture *out);

/* The 8-bit red, green and blue a palette word shows as. */
VLD_API void vld_rgb(uint16_t word, uint8_t rgb[3]);
/* The palette word nearest an 8-bit colour (intensity bit 0). */
VLD_API uint16_t vld_word(uint8_t r, uint8_t g, uint8_t b);

/* Writes the picture as width * height RGBA pixels, all opaque. */
VLD_API void vld_to_rgba(const vld_picture *picture, uint8_t *rgba);

/* Releases what vld_decode or vld_reduce put in a picture and empties it. */
VLD_API void vld_picture_free(vld_picture *picture);
/* Releases the bytes vld_encode gave. */
VLD_API void vld_free(void *data);

/* A short English reason for a result ("bad magic (not an HK03 picture)"). */
VLD_API const char *vld_error_text(int code);
/* The reason vld_decode refuses these bytes, with the row or the format
   byte where it has one ("ends inside row 12"), written into `buffer`
   (zero-terminated, cut to buffer_size). Returns buffer, "ok" for a good file.
   It decodes again; vld_decode_ex gives the same text from the first decode. */
VLD_API const char *vld_decode_reason(const void *data, size_t size, char *buffer,
                                      size_t buffer_size);

/* The library's version, "MAJOR.MINOR.PATCH". */
VLD_API const char *vld_version(void);

#ifdef __cplusplus
}
#endif

#endif /* VLD_H */
