// The decoder's C++ core, private to the library: the header parse and the
// row decoder apart, so the C interface can report the row counts and the
// place a damaged file ends. The format and its limits are set out in vld.h;
// the formulas it defines live here, once. Every result is a VLD_OK or
// VLD_ERROR_* code of vld.h.
#pragma once

// Private to the library and its own tests, and never installed: every other
// program reads and writes pictures through vld.h (and vld.hpp), as any
// outside program would, so nothing of ours comes to lean on the core.
#ifndef VLD_INTERNAL
#error "vld/decode.h is private to the library: include vld.h"
#endif

#include <cstddef>
#include <cstdint>

#include "vld.h"

// Largest index buffer ((height + 4) * stride bytes) the decoder will allocate.
constexpr uint64_t kMaxIndexBufferBytes = VLD_MAX_BUFFER_BYTES;
// The viewer reads no picture file of this size or more: a file that large
// could only describe a buffer over the limit above, and reading it whole is
// not worth attempting.
constexpr uint64_t kMaxPictureFileBytes = VLD_MAX_FILE_BYTES;

// The index buffer's row length and the groups of 8 pixels across a row.
constexpr uint32_t PictureStride(uint32_t width) { return (width + 11) & ~uint32_t{3}; }
constexpr uint32_t PictureGroups(uint32_t width) { return (width + 7) / 8; }
constexpr uint32_t PictureSelectorBytes(uint32_t width) { return (PictureGroups(width) + 3) / 4; }
// The whole index buffer, the four rows above included.
constexpr uint64_t PictureBufferBytes(uint32_t width, uint32_t height) {
  return (uint64_t{height} + 4) * PictureStride(width);
}

// The comment starts right after the magic.
constexpr size_t kCommentOffset = 4;

struct PictureHeader {
  // Set as soon as the comment's 0x1A is found, even if the file is then
  // rejected at its format byte: the caller keeps the comment in that case.
  int comment_found = 0;
  uint32_t comment_length = 0;   // every byte before the 0x1A, which start at kCommentOffset
  int format_byte = -1;          // -1 when the file ends before it
  uint16_t anchor_x = 0;
  uint16_t anchor_y = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t palette[4] = {};
  uint32_t stride = 0;           // PictureStride(width)
  uint32_t groups = 0;           // PictureGroups(width)
  size_t rows_offset = 0;        // 22 + comment_length
};

struct PictureRows {
  uint8_t* index_buffer = nullptr;  // (height + 4) * stride bytes, std::malloc'd
  uint32_t literal_rows = 0;
  uint32_t repeat_rows = 0;
  uint32_t block_rows = 0;
  uint32_t bad_row = 0;            // the row the file ended in, for VLD_ERROR_SHORT_ROW;
                                   // the rows handed over, for VLD_ERROR_STOPPED
  size_t end_offset = 0;           // just past the last row's bytes
};

// Checks the magic, takes the comment, the format byte and the header words.
int ParsePictureHeader(const uint8_t* data, size_t size, PictureHeader* header);

// Decodes the rows of a header that parsed as VLD_OK. On VLD_OK the caller
// owns rows->index_buffer and frees it with std::free; on any other result
// nothing is left allocated.
int DecodePictureRows(const uint8_t* data, size_t size, const PictureHeader& header,
                      PictureRows* rows);

// A whole decode, for callers that need no more than the outcome: owns the
// index buffer and gives it back when it goes out of scope.
struct DecodedPicture {
  PictureHeader header;
  PictureRows rows;
  DecodedPicture() = default;
  DecodedPicture(const DecodedPicture&) = delete;
  DecodedPicture& operator=(const DecodedPicture&) = delete;
  ~DecodedPicture();
};

// ParsePictureHeader then DecodePictureRows. `picture` keeps the header
// (and the comment's place) even when the rows are refused.
int DecodePictureFile(const uint8_t* data, size_t size, DecodedPicture* picture);

// Image row r starts at index_buffer + (4 + r) * stride.
inline const uint8_t* ImageRow(const uint8_t* index_buffer, uint32_t stride, uint32_t row) {
  return index_buffer + (size_t{4} + row) * stride;
}

struct Rgb {
  uint8_t r, g, b;
};
// GRBI word to 8-bit channels: each 5-bit v becomes v*8 + v/4; intensity ignored.
Rgb GrbiToRgb(uint16_t word);

// The same rows one at a time, holding only the few buffer rows a row can
// refer to: `row` gets each row's first index (stride bytes, valid for the
// call) and returns nonzero to stop, which gives VLD_ERROR_STOPPED. Rows
// before a cut row are handed over; rows->index_buffer stays null.
int DecodePictureRowsBy(const uint8_t* data, size_t size, const PictureHeader& header,
                        vld_row_callback row, void* user, PictureRows* rows);

// A short English reason for a result ("bad magic", "format byte 3", ...).
// `header` and `rows` may be null; they add the format byte, the size or the
// row number. The plain texts of vld_error_text come from the same table.
const char* PictureStatusText(int status, const PictureHeader* header, const PictureRows* rows,
                              char* buffer, size_t buffer_size);
// The plain text of a result, without any place or number in it.
const char* PictureStatusName(int status);
