// libpng reports errors by longjmp. The functions that call setjmp hold only
// plain locals, and every buffer they fill is owned by the caller, so the
// jump skips no destructor.
#include "tools/image/image_io.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

struct ReadCursor {
  const uint8_t* data;
  size_t size;
  size_t offset;
  // Once every row is read, what follows is only looked at, up to a limit:
  // libpng would inflate all the data that a hostile IDAT holds after the
  // last row, gigabytes from a small file.
  png_structp png = nullptr;
  bool rows_begun = false, interlaced = false;
  uint32_t height = 0;
  size_t read_after_rows = 0;
  bool rows_complete = false;  // the read stopped there, with every row kept
};

bool AllRowsRead(const ReadCursor* cursor) {
  if (!cursor->rows_begun) return false;
  return cursor->interlaced ? png_get_current_pass_number(cursor->png) >= 7
                            : png_get_current_row_number(cursor->png) >= cursor->height;
}

struct ErrorSink {
  char message[200];
};

void OnPngError(png_structp png, png_const_charp message) {
  ErrorSink* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
  std::snprintf(sink->message, sizeof sink->message, "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  ReadCursor* cursor = static_cast<ReadCursor*>(png_get_io_ptr(png));
  if (AllRowsRead(cursor)) {
    cursor->read_after_rows += length;
    if (cursor->read_after_rows > kMaxPngBytesAfterRows) {
      cursor->rows_complete = true;
      png_longjmp(png, 1);
    }
  }
  if (cursor->size - cursor->offset < length) png_error(png, "the PNG data ends early");
  std::memcpy(out, cursor->data + cursor->offset, length);
  cursor->offset += length;
}

void WriteToMemory(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png))
      ->insert(static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png))->end(), data, data + length);
}

void FlushMemory(png_structp) {}

// Palette images come back as their indices and entries, others as RGBA, at
// full precision: the colour reduction maps each pixel from its 8-bit value.
// Everything it fills is owned by the caller, row pointers included.
int ReadPass(ReadCursor* cursor, DecodedImage* picture, std::vector<uint8_t*>* row_pointers,
             ErrorSink* sink) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning);
  if (png == nullptr) return 0;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    // Stopped inside the last row's read, after libpng had filled the row.
    return cursor->rows_complete ? 1 : 0;
  }
  cursor->png = png;
  png_set_read_fn(png, cursor, ReadFromMemory);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int color_type = png_get_color_type(png, info);
  // The size is judged before any pixel memory is taken; the reason's string
  // is gone before the jump, which would skip its destructor.
  bool size_refused = false;
  {
    std::string reason;
    size_refused = !CheckImageSize(width, height, &reason);
    if (size_refused) std::snprintf(sink->message, sizeof sink->message, "%s", reason.c_str());
  }
  if (size_refused) png_longjmp(png, 1);
  picture->width = width;
  picture->height = height;
  picture->indexed = color_type == PNG_COLOR_TYPE_PALETTE;
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  cursor->interlaced = interlaced;
  cursor->height = height;
  if (picture->indexed) {
    png_set_packing(png);
  } else {
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t pixel_bytes = picture->indexed ? 1 : 4;
  if (png_get_rowbytes(png, info) != width * pixel_bytes) png_error(png, "unexpected row layout");
  cursor->rows_begun = true;

  if (picture->indexed) {
    png_colorp entries = nullptr;
    int count = 0;
    png_bytep alphas = nullptr;
    int alpha_count = 0;
    png_get_PLTE(png, info, &entries, &count);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
      png_get_tRNS(png, info, &alphas, &alpha_count, nullptr);
    picture->palette_rgba.assign(size_t(count) * 4, 0xFF);
    for (int k = 0; k < count; ++k) {
      picture->palette_rgba[4 * k + 0] = entries[k].red;
      picture->palette_rgba[4 * k + 1] = entries[k].green;
      picture->palette_rgba[4 * k + 2] = entries[k].blue;
      if (k < alpha_count) picture->palette_rgba[4 * k + 3] = alphas[k];
    }
  }
  std::vector<uint8_t>& target = picture->indexed ? picture->indices : picture->rgba;
  target.assign(size_t{width} * height * pixel_bytes, 0);
  row_pointers->resize(height);
  for (png_uint_32 y = 0; y < height; ++y)
    (*row_pointers)[y] = target.data() + size_t{y} * width * pixel_bytes;
  png_read_image(png, row_pointers->data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return 1;
}

}  // namespace

int ReadPngImage(const std::vector<uint8_t>& bytes, DecodedImage* picture, std::string* error) {
  *picture = DecodedImage{};
  if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) {
    *error = "not a PNG file";
    return 0;
  }
  ErrorSink sink{};
  std::vector<uint8_t*> row_pointers;
  ReadCursor cursor{bytes.data(), bytes.size(), 0};
  if (!ReadPass(&cursor, picture, &row_pointers, &sink)) {
    *error = sink.message[0] != 0 ? sink.message : "cannot read the PNG";
    *picture = DecodedImage{};
    return 0;
  }
  return 1;
}

int WritePalettePng(uint32_t width, uint32_t height, const uint8_t* rows, size_t stride,
                    const uint8_t palette_rgb[4][3], int transparent_zero,
                    std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  ErrorSink sink{};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnPngError, OnPngWarning);
  if (png == nullptr) {
    *error = "out of memory";
    return 0;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    *error = sink.message[0] != 0 ? sink.message : "cannot write the PNG";
    return 0;
  }
  png_set_write_fn(png, out, WriteToMemory, FlushMemory);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color entries[4];
  for (int k = 0; k < 4; ++k) {
    entries[k].red = palette_rgb[k][0];
    entries[k].green = palette_rgb[k][1];
    entries[k].blue = palette_rgb[k][2];
  }
  png_set_PLTE(png, info, entries, 4);
  png_byte alpha_zero = 0;
  if (transparent_zero) png_set_tRNS(png, info, &alpha_zero, 1, nullptr);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, rows + size_t{y} * stride);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 1;
}
