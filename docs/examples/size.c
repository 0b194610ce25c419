/* size.c: prints a picture's size */
#include <stdio.h>
#include <stdlib.h>
#include <vld.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  FILE *f = fopen(argv[1], "rb");
  if (f == NULL) { perror(argv[1]); return 1; }
  /* The whole file: the library refuses one of VLD_MAX_FILE_BYTES or
     more, so reading may stop once it has read that much. */
  unsigned char *bytes = NULL;
  size_t size = 0, room = 0;
  while (size == room && size < VLD_MAX_FILE_BYTES) {
    room = 2 * room + 65536;
    unsigned char *more = realloc(bytes, room);
    if (more == NULL) { fprintf(stderr, "%s: out of memory\n", argv[1]); return 1; }
    bytes = more;
    size += fread(bytes + size, 1, room - size, f);
  }
  int unread = ferror(f);
  fclose(f);
  if (unread) { fprintf(stderr, "%s: cannot read\n", argv[1]); return 1; }
  vld_picture picture;
  int error = vld_decode(bytes, size, &picture);
  free(bytes);
  if (error != VLD_OK) {
    fprintf(stderr, "%s: %s\n", argv[1], vld_error_text(error));
    return 1;
  }
  printf("%ux%u\n", (unsigned)picture.width, (unsigned)picture.height);
  vld_picture_free(&picture);
  return 0;
}
