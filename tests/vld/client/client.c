/* A program that knows the library only through the installed vld.h, as an
   outside user's would:
     client decode FILE OUT.pgm   indices as a PGM (maxval 3); prints the
                                  anchor, palette words and comment size
     client encode IN.rgba WIDTH HEIGHT DITHER OUT.vld
                                  reduces raw RGBA and writes the file
   A refused file prints the library's reason and exits with its code. With
   VLD_CLIENT_EARLY=FILE, FILE is also decoded from a static constructor,
   as a program may before main, and decode exits with 102 unless that
   early picture is the one main decodes. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vld.h>

static unsigned char *read_all(const char *name, size_t *size) {
  FILE *f = fopen(name, "rb");
  unsigned char *bytes = NULL;
  size_t used = 0, room = 0;
  if (f == NULL) return NULL;
  for (;;) {
    if (used == room) {
      unsigned char *more;
      room = room ? 2 * room : 65536;
      more = (unsigned char *)realloc(bytes, room);
      if (more == NULL) break;
      bytes = more;
    }
    {
      size_t got = fread(bytes + used, 1, room - used, f);
      if (got == 0) break;
      used += got;
    }
  }
  fclose(f);
  *size = used;
  return bytes;
}

static int write_all(const char *name, const void *header, size_t header_size, const void *data,
                     size_t size) {
  FILE *f = fopen(name, "wb");
  int ok;
  if (f == NULL) return 0;
  ok = fwrite(header, 1, header_size, f) == header_size && fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

static vld_picture early;

/* When linked statically this runs before the library's own static
   initialisation would: nothing in the library may depend on that. */
__attribute__((constructor)) static void decode_early(void) {
  size_t size = 0;
  const char *name = getenv("VLD_CLIENT_EARLY");
  unsigned char *bytes = name != NULL ? read_all(name, &size) : NULL;
  if (bytes != NULL) vld_decode(bytes, size, &early);
  free(bytes);
}

static int decode(const char *in, const char *out) {
  size_t size = 0;
  unsigned char *bytes = read_all(in, &size);
  vld_picture p;
  char header[64], reason[128];
  int e;
  if (bytes == NULL) return 100;
  e = vld_decode(bytes, size, &p);
  if (e != VLD_OK) {
    printf("error %d: %s\n", e, vld_decode_reason(bytes, size, reason, sizeof reason));
    free(bytes);
    return e;
  }
  free(bytes);
  printf("anchor %u,%u palette 0x%04X,0x%04X,0x%04X,0x%04X comment %lu\n",
         (unsigned)p.anchor_x, (unsigned)p.anchor_y, p.palette[0], p.palette[1], p.palette[2],
         p.palette[3], (unsigned long)p.comment_size);
  sprintf(header, "P5\n%u %u\n3\n", (unsigned)p.width, (unsigned)p.height);
  e = write_all(out, header, strlen(header), p.indices, (size_t)p.width * p.height) ? 0 : 101;
  if (getenv("VLD_CLIENT_EARLY") != NULL &&
      (early.indices == NULL || memcmp(early.indices, p.indices, (size_t)p.width * p.height) != 0))
    e = 102;
  vld_picture_free(&p);
  return e;
}

static int encode(const char *in, unsigned width, unsigned height, const char *dither,
                  const char *out) {
  size_t size = 0;
  unsigned char *rgba = read_all(in, &size);
  vld_reduce_options options;
  vld_picture p;
  void *file = NULL;
  size_t file_size = 0;
  int e;
  if (rgba == NULL || size != (size_t)width * height * 4) return 100;
  vld_reduce_options_init(&options);
  options.dither = strcmp(dither, "floyd-steinberg") == 0 ? VLD_DITHER_FLOYD_STEINBERG
                   : strcmp(dither, "ordered") == 0       ? VLD_DITHER_ORDERED
                                                          : VLD_DITHER_NONE;
  e = vld_reduce(rgba, width, height, &options, &p);
  free(rgba);
  if (e != VLD_OK) return e;
  e = vld_encode(&p, &file, &file_size);
  vld_picture_free(&p);
  if (e != VLD_OK) return e;
  e = write_all(out, "", 0, file, file_size) ? 0 : 101;
  vld_free(file);
  return e;
}

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "decode") == 0) return decode(argv[2], argv[3]);
  if (argc == 7 && strcmp(argv[1], "encode") == 0)
    return encode(argv[2], (unsigned)atoi(argv[3]), (unsigned)atoi(argv[4]), argv[5], argv[6]);
  fprintf(stderr, "usage: client decode FILE OUT.pgm | encode IN.rgba W H DITHER OUT.vld\n");
  return 2;
}
