/* The native side of bench/web_bench.mjs: the same calls the WebAssembly
   module makes for decode() and reduce(), timed the same way.

   usage: vld_web_native PICTURE.vld RGBA_FILE WIDTH HEIGHT REPEATS
   prints one JSON object of medians in milliseconds. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "vld.h"

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int Compare(const void *a, const void *b) {
  const double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

static double Median(double *times, int count) {
  qsort(times, (size_t)count, sizeof *times, Compare);
  return times[count / 2];
}

static uint8_t *ReadAll(const char *name, size_t *size) {
  FILE *file = fopen(name, "rb");
  if (file == NULL) return NULL;
  fseek(file, 0, SEEK_END);
  const long length = ftell(file);
  fseek(file, 0, SEEK_SET);
  uint8_t *data = malloc(length > 0 ? (size_t)length : 1);
  if (data != NULL && fread(data, 1, (size_t)length, file) != (size_t)length) {
    free(data);
    data = NULL;
  }
  fclose(file);
  *size = (size_t)length;
  return data;
}

int main(int argc, char **argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: vld_web_native PICTURE.vld RGBA_FILE WIDTH HEIGHT REPEATS\n");
    return 2;
  }
  size_t file_size = 0, rgba_size = 0;
  uint8_t *file = ReadAll(argv[1], &file_size);
  uint8_t *rgba = ReadAll(argv[2], &rgba_size);
  const uint32_t width = (uint32_t)strtoul(argv[3], NULL, 10);
  const uint32_t height = (uint32_t)strtoul(argv[4], NULL, 10);
  const int repeats = atoi(argv[5]);
  if (file == NULL || rgba == NULL || repeats < 1 || repeats > 1000 ||
      rgba_size != (size_t)width * height * 4) {
    fprintf(stderr, "vld_web_native: cannot read the inputs\n");
    return 1;
  }
  double *decode = calloc((size_t)repeats, sizeof(double));
  double *decode_rgba = calloc((size_t)repeats, sizeof(double));
  double *reduce = calloc((size_t)repeats, sizeof(double));
  for (int i = 0; i < repeats; ++i) {
    vld_picture picture;
    const double start = Now();
    if (vld_decode(file, file_size, &picture) != VLD_OK) return 1;
    const double decoded = Now();
    uint8_t *pixels = malloc((size_t)picture.width * picture.height * 4);
    if (pixels == NULL) return 1;
    vld_to_rgba(&picture, pixels);
    const double end = Now();
    decode[i] = decoded - start;
    decode_rgba[i] = end - start;
    free(pixels);
    vld_picture_free(&picture);

    const double before = Now();
    if (vld_reduce(rgba, width, height, NULL, &picture) != VLD_OK) return 1;
    reduce[i] = Now() - before;
    vld_picture_free(&picture);
  }
  printf("{\"decode\": %.3f, \"decodeRgba\": %.3f, \"reduce\": %.3f}\n", Median(decode, repeats),
         Median(decode_rgba, repeats), Median(reduce, repeats));
  free(decode);
  free(decode_rgba);
  free(reduce);
  free(file);
  free(rgba);
  return 0;
}
