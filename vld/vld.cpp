// The C interface over the C++ core. Nothing may escape into a C caller:
// every allocation failure becomes VLD_ERROR_OUT_OF_MEMORY, and every
// picture handed back owns memory from malloc, so vld_picture_free and
// vld_free work whichever runtime the caller uses for its own memory.
#include "vld.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "vld/decode.h"
#include "vld/encode.h"
#include "vld/reduce.h"

namespace {

void Empty(vld_picture* picture) { std::memset(picture, 0, sizeof *picture); }

// The size a caller's options struct says it has decides which fields it
// holds; the rest keep their defaults.
vld_reduce_options ReduceOptionsOf(const vld_reduce_options* options) {
  vld_reduce_options given;
  vld_reduce_options_init(&given);
  if (options == nullptr) return given;
  const size_t known = options->size < sizeof *options ? options->size : sizeof *options;
  std::memcpy(&given, options, known);
  given.size = sizeof given;
  if (given.dither != VLD_DITHER_FLOYD_STEINBERG && given.dither != VLD_DITHER_ORDERED)
    given.dither = VLD_DITHER_NONE;
  return given;
}

struct RgbaImage {
  const uint8_t* rgba;
  uint32_t width;
};

void RgbaRow(const void* user, uint32_t y, uint8_t* rgba) {
  const RgbaImage& image = *static_cast<const RgbaImage*>(user);
  std::memcpy(rgba, image.rgba + 4 * size_t{y} * image.width, 4 * size_t{image.width});
}

// One call's findings, for the details a caller may ask for.
struct Outcome {
  int code = VLD_OK;
  bool header_read = false;  // false: refused before the header (or unread for its size)
  PictureHeader header;
  PictureRows rows;
};

void ReadHeader(const void* data, size_t size, Outcome* o) {
  if (data == nullptr) {
    o->code = size == 0 ? VLD_ERROR_BAD_MAGIC : VLD_ERROR_INVALID;
  } else if (uint64_t{size} >= VLD_MAX_FILE_BYTES) {
    o->code = VLD_ERROR_TOO_LARGE;
  } else {
    o->header_read = true;
    o->code = ParsePictureHeader(static_cast<const uint8_t*>(data), size, &o->header);
  }
}

void PutHeader(const PictureHeader& h, vld_picture* out) {
  out->width = h.width;
  out->height = h.height;
  out->anchor_x = h.anchor_x;
  out->anchor_y = h.anchor_y;
  for (int k = 0; k < 4; ++k) out->palette[k] = h.palette[k];
  out->comment_size = h.comment_length;
}

// Fills as much of the caller's details as its `size` says it knows.
void Report(const Outcome& o, vld_details* details) {
  if (details == nullptr) return;
  vld_details full;
  std::memset(&full, 0, sizeof full);
  full.size = details->size;
  full.code = o.code;
  PictureStatusText(o.code, o.header_read ? &o.header : nullptr, &o.rows, full.reason,
                    sizeof full.reason);
  full.comment_size = o.header.comment_found ? int64_t{o.header.comment_length} : -1;
  full.format_byte = o.header.format_byte;
  full.rows_decoded = o.code == VLD_OK ? o.header.height : o.rows.bad_row;
  full.literal_rows = o.rows.literal_rows;
  full.repeat_rows = o.rows.repeat_rows;
  full.block_rows = o.rows.block_rows;
  full.end_offset = o.code == VLD_OK ? o.rows.end_offset : 0;
  std::memcpy(details, &full, details->size < sizeof full ? details->size : sizeof full);
}

void Decode(const uint8_t* bytes, size_t size, vld_picture* out, Outcome* o) {
  o->code = DecodePictureRows(bytes, size, o->header, &o->rows);
  if (o->code != VLD_OK) return;
  const PictureHeader& h = o->header;
  // The rows are closed up inside the decoder's own buffer rather than
  // copied to a new one: a second allocation of the picture's size costs
  // more in fresh pages than the whole decode.
  uint8_t* indices = o->rows.index_buffer;
  o->rows.index_buffer = nullptr;
  uint8_t* comment =
      h.comment_length > 0 ? static_cast<uint8_t*>(std::malloc(h.comment_length)) : nullptr;
  if (h.comment_length > 0 && comment == nullptr) {
    std::free(indices);
    o->code = VLD_ERROR_OUT_OF_MEMORY;
    return;
  }
  for (uint32_t y = 0; y < h.height; ++y)
    std::memmove(indices + size_t{y} * h.width, ImageRow(indices, h.stride, y), h.width);
  if (uint8_t* shrunk = static_cast<uint8_t*>(std::realloc(indices, size_t{h.width} * h.height)))
    indices = shrunk;
  if (comment != nullptr) std::memcpy(comment, bytes + kCommentOffset, h.comment_length);
  PutHeader(h, out);
  out->indices = indices;
  out->comment = comment;
}

}  // namespace

extern "C" {

int vld_decode(const void* data, size_t size, vld_picture* out) {
  return vld_decode_ex(data, size, out, nullptr);
}

int vld_decode_ex(const void* data, size_t size, vld_picture* out, vld_details* details) {
  Outcome o;
  if (out == nullptr) {
    o.code = VLD_ERROR_INVALID;
  } else {
    Empty(out);
    ReadHeader(data, size, &o);
    if (o.code == VLD_OK) Decode(static_cast<const uint8_t*>(data), size, out, &o);
  }
  Report(o, details);
  return o.code;
}

int vld_info(const void* data, size_t size, vld_picture* out) {
  if (out == nullptr) return VLD_ERROR_INVALID;
  Empty(out);
  Outcome o;
  ReadHeader(data, size, &o);
  if (o.code == VLD_OK) PutHeader(o.header, out);
  return o.code;
}

int vld_decode_rows(const void* data, size_t size, vld_picture* header, vld_row_callback row,
                    void* user, vld_details* details) {
  Outcome o;
  if (header != nullptr) Empty(header);
  if (row == nullptr) {
    o.code = VLD_ERROR_INVALID;
  } else {
    ReadHeader(data, size, &o);
    if (o.code == VLD_OK) {
      if (header != nullptr) PutHeader(o.header, header);
      o.code = DecodePictureRowsBy(static_cast<const uint8_t*>(data), size, o.header, row, user,
                                   &o.rows);
    }
  }
  Report(o, details);
  return o.code;
}

int vld_encode(const vld_picture* picture, void** data, size_t* size) {
  if (data != nullptr) *data = nullptr;
  if (size != nullptr) *size = 0;
  if (picture == nullptr || data == nullptr || size == nullptr) return VLD_ERROR_INVALID;
  if (picture->width == 0 || picture->height == 0) return VLD_ERROR_ZERO_SIZE;
  if (picture->width > 0xFFFF || picture->height > 0xFFFF ||
      PictureBufferBytes(picture->width, picture->height) > kMaxIndexBufferBytes)
    return VLD_ERROR_TOO_LARGE;
  if (picture->anchor_x > 0xFFFF || picture->anchor_y > 0xFFFF || picture->indices == nullptr ||
      (picture->comment_size > 0 && picture->comment == nullptr))
    return VLD_ERROR_INVALID;
  // Whatever the decoder would not read back is not written: every row
  // takes at least its control byte, so a comment near the file limit is
  // refused before anything is copied, and the rows' exact size after.
  const uint64_t least_bytes = uint64_t{22} + picture->height;
  if (picture->comment_size >= VLD_MAX_FILE_BYTES - least_bytes) return VLD_ERROR_TOO_LARGE;
  EncodeSource source;
  source.indices = picture->indices;
  source.width = static_cast<uint16_t>(picture->width);
  source.height = static_cast<uint16_t>(picture->height);
  source.anchor_x = static_cast<uint16_t>(picture->anchor_x);
  source.anchor_y = static_cast<uint16_t>(picture->anchor_y);
  for (int k = 0; k < 4; ++k) source.palette[k] = picture->palette[k];
  source.comment = reinterpret_cast<const char*>(picture->comment);
  source.comment_length = picture->comment_size;
  try {
    std::vector<uint8_t> file;
    if (!EncodePicture(source, &file)) return VLD_ERROR_INVALID;
    if (uint64_t{file.size()} >= VLD_MAX_FILE_BYTES) return VLD_ERROR_TOO_LARGE;
    void* bytes = std::malloc(file.size());
    if (bytes == nullptr) return VLD_ERROR_OUT_OF_MEMORY;
    std::memcpy(bytes, file.data(), file.size());
    *data = bytes;
    *size = file.size();
    return VLD_OK;
  } catch (const std::bad_alloc&) {
    return VLD_ERROR_OUT_OF_MEMORY;
  }
}

void vld_reduce_options_init(vld_reduce_options* options) {
  if (options == nullptr) return;
  std::memset(options, 0, sizeof *options);
  options->size = sizeof *options;
  options->dither = VLD_DITHER_NONE;
}

int vld_reduce(const uint8_t* rgba, uint32_t width, uint32_t height,
               const vld_reduce_options* options, vld_picture* out) {
  if (out == nullptr) return VLD_ERROR_INVALID;
  Empty(out);
  if (width == 0 || height == 0) return VLD_ERROR_ZERO_SIZE;
  if (width > 0xFFFF || height > 0xFFFF || PictureBufferBytes(width, height) > kMaxIndexBufferBytes)
    return VLD_ERROR_TOO_LARGE;
  if (rgba == nullptr) return VLD_ERROR_INVALID;
  const vld_reduce_options given = ReduceOptionsOf(options);
  try {
    const size_t pixels = size_t{width} * height;
    uint8_t* indices = static_cast<uint8_t*>(std::malloc(pixels));
    if (indices == nullptr) return VLD_ERROR_OUT_OF_MEMORY;
    // The rows are read where they lie; only the picture's indices are new.
    const RgbaImage source{rgba, width};
    uint16_t palette[4];
    try {
      ReduceRgba(RgbaRows{&source, RgbaRow}, width, height, given, indices, palette);
    } catch (...) {
      std::free(indices);
      throw;
    }
    out->width = width;
    out->height = height;
    for (int k = 0; k < 4; ++k) out->palette[k] = palette[k];
    out->indices = indices;
    return VLD_OK;
  } catch (const std::bad_alloc&) {
    return VLD_ERROR_OUT_OF_MEMORY;
  }
}

int vld_keep_palette(const uint8_t* indices, uint32_t width, uint32_t height,
                     const uint8_t* palette_rgba, size_t entries, const uint16_t* known_words,
                     vld_picture* out) {
  if (out == nullptr) return VLD_ERROR_INVALID;
  Empty(out);
  if (width == 0 || height == 0) return VLD_ERROR_ZERO_SIZE;
  if (width > 0xFFFF || height > 0xFFFF || PictureBufferBytes(width, height) > kMaxIndexBufferBytes)
    return VLD_ERROR_TOO_LARGE;
  if (indices == nullptr || (entries > 0 && palette_rgba == nullptr)) return VLD_ERROR_INVALID;
  // An index with no entry has no colour to keep.
  const size_t pixels = size_t{width} * height;
  for (size_t i = 0; i < pixels; ++i)
    if (indices[i] >= entries) return VLD_ERROR_INVALID;
  try {
    Image image;
    image.width = width;
    image.height = height;
    image.indexed = 1;
    image.indices.assign(indices, indices + pixels);
    image.palette_rgba.assign(palette_rgba, palette_rgba + 4 * (entries < 256 ? entries : 256));
    uint16_t palette[4];
    if (!KeepPaletteIndices(image, known_words, palette)) return VLD_ERROR_INVALID;
    uint8_t* kept = static_cast<uint8_t*>(std::malloc(pixels));
    if (kept == nullptr) return VLD_ERROR_OUT_OF_MEMORY;
    std::memcpy(kept, indices, pixels);
    out->width = width;
    out->height = height;
    for (int k = 0; k < 4; ++k) out->palette[k] = palette[k];
    out->indices = kept;
    return VLD_OK;
  } catch (const std::bad_alloc&) {
    return VLD_ERROR_OUT_OF_MEMORY;
  }
}

void vld_rgb(uint16_t word, uint8_t rgb[3]) {
  const Rgb colour = GrbiToRgb(word);
  rgb[0] = colour.r;
  rgb[1] = colour.g;
  rgb[2] = colour.b;
}

uint16_t vld_word(uint8_t r, uint8_t g, uint8_t b) { return RgbToGrbi(r, g, b); }

void vld_to_rgba(const vld_picture* picture, uint8_t* rgba) {
  if (picture == nullptr || rgba == nullptr || picture->indices == nullptr) return;
  uint8_t colours[4][4];
  for (int k = 0; k < 4; ++k) {
    vld_rgb(picture->palette[k], colours[k]);
    colours[k][3] = 255;
  }
  const size_t pixels = size_t{picture->width} * picture->height;
  for (size_t i = 0; i < pixels; ++i) std::memcpy(rgba + 4 * i, colours[picture->indices[i] & 3], 4);
}

void vld_picture_free(vld_picture* picture) {
  if (picture == nullptr) return;
  std::free(picture->indices);
  std::free(picture->comment);
  Empty(picture);
}

void vld_free(void* data) { std::free(data); }

const char* vld_error_text(int code) {
  return PictureStatusName(code);
}

const char* vld_decode_reason(const void* data, size_t size, char* buffer, size_t buffer_size) {
  if (buffer == nullptr || buffer_size == 0) return "";
  vld_details details = {};
  details.size = sizeof details;
  vld_picture picture;
  vld_decode_ex(data, size, &picture, &details);
  vld_picture_free(&picture);
  std::snprintf(buffer, buffer_size, "%s", details.reason);
  return buffer;
}

const char* vld_version(void) { return VLD_VERSION; }

}  // extern "C"
