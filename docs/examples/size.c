/* size.c: prints a picture's size from its header */
#include <stdio.h>
#include <stdlib.h>
#include <vld.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  FILE *f = fopen(argv[1], "rb");
  if (f == NULL) { perror(argv[1]); return 1; }
  /* The header ends after the comment, which may be long: read on until
     vld_info has all of it or the file ends. */
  unsigned char *bytes = NULL;
  size_t size = 0, room = 0;
  vld_picture picture;
  int error;
  do {
    room = 2 * room + 4096;
    unsigned char *more = realloc(bytes, room);
    if (more == NULL) { fprintf(stderr, "%s: out of memory\n", argv[1]); return 1; }
    bytes = more;
    size += fread(bytes + size, 1, room - size, f);
    error = vld_info(bytes, size, &picture);
  } while (error != VLD_OK && size == room && size < VLD_MAX_FILE_BYTES);
  int unread = ferror(f);
  fclose(f);
  free(bytes);
  if (unread) { fprintf(stderr, "%s: cannot read\n", argv[1]); return 1; }
  if (error != VLD_OK) {
    fprintf(stderr, "%s: %s\n", argv[1], vld_error_text(error));
    return 1;
  }
  printf("%ux%u\n", (unsigned)picture.width, (unsigned)picture.height);
  return 0;
}
