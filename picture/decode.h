// The picture file ("HK03") and its row decoder. No platform calls, and no
// platform header is reached from here: this builds and runs anywhere.
//
// The file, byte by byte (words are 16-bit big-endian):
//
//   offset      size  field
//   0           4     magic "HK03"
//   4           N     comment: code page 932 text, any bytes but 0x1A
//   4+N         1     0x1A, the comment's end
//   5+N         1     format byte, always 2
//   6+N         2     anchor x: where the picture goes on a 768 x 512 screen
//   8+N         2     anchor y
//   10+N        2     width W in pixels (1 or more)
//   12+N        2     height H in pixels (1 or more)
//   14+N        8     four palette words, index 0 to 3
//   22+N        ...   H rows, top first, one after another with no padding
//
// Pixels come in groups of 8 across a row: G = (W + 7) / 8 groups. A pixel
// word is two bytes holding the group's eight 2-bit colour indices as bit
// planes: the first byte carries bit 0 of each index, the second bit 1, the
// leftmost pixel in each byte's most significant bit.
//
// Each row starts with a control byte:
//   0x00-0x7F  literal row: G pixel words follow.
//   0xC0-0xFF  repeat row: a copy of the row above; nothing follows.
//   0x80-0xBF  block row: K = (G + 3) / 4 selector bytes, then one pixel
//              word for each group whose selector is 0, in group order.
// Only the top bits of the control byte count. Selectors are 2 bits a group,
// four groups a byte, the first group in the top two bits (a last byte's
// unused low bits are ignored):
//   0  a pixel word follows
//   1  copy the 8 pixels directly above
//   2  copy the 8 pixels to the left (the previous group; for group 0, the
//      last 8 bytes of the buffer row above)
//   3  copy the 8 pixels four rows above
//
// The decoder writes into an index buffer of (H + 4) rows of S bytes, one
// byte per pixel, where S = (W + 11) & ~3 (PictureStride). The first four
// rows are zero and lie above the picture, so copies from above in the top
// rows read zeros. A row's groups cover 8 * G <= W + 7 bytes, always less
// than S; the columns from W on are spare: never shown, but written by
// literal words and copies and read back by later copies, so an encoder has
// to account for them.
//
// A palette word is GRBI: bits 15-11 green, 10-6 red, 5-1 blue (5 bits
// each), bit 0 intensity, which the display ignores. Word 0 of exactly
// 0x0000 lets the viewer show the desktop through index 0; 0x0001 is the
// same black shown opaque.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/comment_size.h"

// Largest index buffer ((height + 4) * stride bytes) the decoder will allocate.
constexpr uint64_t kMaxIndexBufferBytes = uint64_t{256} << 20;
// The viewer reads no picture file of this size or more: a file that large
// could only describe a buffer over the limit above, and reading it whole is
// not worth attempting.
constexpr uint64_t kMaxPictureFileBytes = uint64_t{256} << 20;

enum PictureStatus : int {
  kPictureOk = 0,
  kPictureBadMagic,        // not "HK03" (or shorter than four bytes)
  kPictureNoTerminator,    // ends before the comment's 0x1A
  kPictureBadFormat,       // format byte is not 2 (or missing)
  kPictureShortHeader,     // ends inside the eight header words
  kPictureZeroSize,        // width or height is 0
  kPictureTooLarge,        // index buffer would exceed kMaxIndexBufferBytes
  kPictureOutOfMemory,     // the index buffer could not be allocated
  kPictureShortRow,        // ends inside a row (PictureRows::bad_row says which)
};

// The index buffer's row length and the groups of 8 pixels across a row.
constexpr uint32_t PictureStride(uint32_t width) { return (width + 11) & ~uint32_t{3}; }
constexpr uint32_t PictureGroups(uint32_t width) { return (width + 7) / 8; }
constexpr uint32_t PictureSelectorBytes(uint32_t width) { return (PictureGroups(width) + 3) / 4; }
// The whole index buffer, the four rows above included.
constexpr uint64_t PictureBufferBytes(uint32_t width, uint32_t height) {
  return (uint64_t{height} + 4) * PictureStride(width);
}

struct PictureHeader {
  // Set as soon as the comment's 0x1A is found, even if the file is then
  // rejected at its format byte: the caller keeps the comment in that case.
  int comment_found = 0;
  uint32_t comment_length = 0;   // every byte before the 0x1A
  char comment[kCommentSize] = {};  // its first 127 bytes, zero-terminated
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
  uint32_t bad_row = 0;            // the row the file ended in, for kPictureShortRow
  size_t end_offset = 0;           // just past the last row's bytes
};

// Checks the magic, takes the comment, the format byte and the header words.
PictureStatus ParsePictureHeader(const uint8_t* data, size_t size, PictureHeader* header);

// Decodes the rows of a header that parsed as kPictureOk. On kPictureOk the
// caller owns rows->index_buffer and frees it with std::free; on any other
// result nothing is left allocated.
PictureStatus DecodePictureRows(const uint8_t* data, size_t size, const PictureHeader& header,
                                PictureRows* rows);

// Image row r starts at index_buffer + (4 + r) * stride.
inline const uint8_t* ImageRow(const uint8_t* index_buffer, uint32_t stride, uint32_t row) {
  return index_buffer + (size_t{4} + row) * stride;
}

struct Rgb {
  uint8_t r, g, b;
};
// GRBI word to 8-bit channels: each 5-bit v becomes v*8 + v/4; intensity ignored.
Rgb GrbiToRgb(uint16_t word);

// A short English reason for a rejection ("bad magic", "format byte 3", ...).
// `header` and `rows` may be null; they add the format byte or row number.
const char* PictureStatusText(PictureStatus status, const PictureHeader* header,
                              const PictureRows* rows, char* buffer, size_t buffer_size);
