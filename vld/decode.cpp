// The "HK03" header parse and the row decoder. Every read is checked against
// the file's size: the format has no length field, so a damaged or cut file
// must be caught here rather than read past.
#include "vld/decode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHeaderWordsSize = 16;  // eight big-endian words after the format byte

uint16_t ReadBigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// kPlaneTable.bytes[b] holds, for the eight pixels of one bit-plane byte, 0 or 1 in
// pixel order (leftmost pixel first in memory). Plane 1 is the same pattern
// shifted left by one inside each byte, so one table serves both planes and
// the result does not depend on the machine's byte order.
struct PlaneTable {
  uint64_t bytes[256];
};

PlaneTable MakePlaneTable() {
  PlaneTable table{};
  for (int value = 0; value < 256; ++value) {
    uint8_t pixels[8];
    for (int x = 0; x < 8; ++x) pixels[x] = static_cast<uint8_t>((value >> (7 - x)) & 1);
    std::memcpy(&table.bytes[value], pixels, 8);
  }
  return table;
}

const PlaneTable kPlaneTable = MakePlaneTable();

inline void ExpandWord(const uint8_t* word, uint8_t* out) {
  const uint64_t pixels = kPlaneTable.bytes[word[0]] | (kPlaneTable.bytes[word[1]] << 1);
  std::memcpy(out, &pixels, 8);
}

inline void CopyGroup(uint8_t* out, size_t back) {
  uint64_t pixels;
  std::memcpy(&pixels, out - back, 8);
  std::memcpy(out, &pixels, 8);
}

// Repeats the 8 bytes before `out` over `length` bytes (a multiple of 8):
// a run of "left" copies. The pattern is laid out 64 bytes wide once and
// stored a block at a time, as wide stores of the same registers.
inline void FillGroups(uint8_t* out, size_t length) {
  uint8_t pattern[64];
  for (size_t at = 0; at < sizeof pattern; at += 8) std::memcpy(pattern + at, out - 8, 8);
  size_t at = 0;
  for (; at + sizeof pattern <= length; at += sizeof pattern)
    std::memcpy(out + at, pattern, sizeof pattern);
  std::memcpy(out + at, pattern, length - at);
}

// How many of the `limit` bytes from `p` on equal `byte`, compared eight at
// a time while they last.
inline uint32_t RunLength(const uint8_t* p, uint32_t limit, uint8_t byte) {
  const uint64_t pattern = 0x0101010101010101ull * byte;
  uint32_t n = 0;
  for (uint64_t chunk; n + 8 <= limit; n += 8) {
    std::memcpy(&chunk, p + n, 8);
    if (chunk != pattern) break;
  }
  while (n < limit && p[n] == byte) ++n;
  return n;
}

// Copies `length` bytes from `from` to `out` (never overlapping). One memcpy
// of a whole row runs at a fraction of its usual speed when the distance
// between source and target is at or just above a multiple of 4096 (strides
// 4096, 4100, 8200): copies of 2 KiB and more take a string-move path that
// mistakes the later loads for reloads of the stores just made. Long copies
// therefore go in pieces of 512 bytes (of 128 bytes to whole rows, 256 to
// 512 were fastest at every such stride); shorter ones, which never take
// that path, in one call, which measured faster for 640-pixel rows.
inline void CopyBack(uint8_t* out, const uint8_t* from, size_t length) {
  constexpr size_t kPiece = 512;
  if (length < 2048) {
    std::memcpy(out, from, length);
    return;
  }
  while (length > kPiece) {
    std::memcpy(out, from, kPiece);
    out += kPiece;
    from += kPiece;
    length -= kPiece;
  }
  std::memcpy(out, from, length);
}

// Decodes one row into `out` (a buffer row with four rows above it) and
// returns where the next row starts, or null when the file ends inside it.
const uint8_t* DecodeRow(const uint8_t* in, const uint8_t* in_end, uint8_t* out, size_t stride,
                         uint32_t groups, uint32_t selector_bytes) {
  if (in == in_end) return nullptr;
  const uint8_t control = *in;
  if ((control & 0x80) == 0) {
    const size_t row_bytes = 1 + 2 * size_t{groups};
    if (static_cast<size_t>(in_end - in) < row_bytes) return nullptr;
    const uint8_t* word = in + 1;
    for (uint32_t g = 0; g < groups; ++g, word += 2, out += 8) ExpandWord(word, out);
    return in + row_bytes;
  }
  if ((control & 0x40) != 0) {
    CopyBack(out, out - stride, stride);
    return in + 1;
  }
  if (static_cast<size_t>(in_end - in) < 1 + size_t{selector_bytes}) return nullptr;
  const uint8_t* selectors = in + 1;
  const uint8_t* word = selectors + selector_bytes;
  uint32_t g = 0;
  while (g < groups) {
    // Pictures copy in long runs: a run of whole selector bytes that all
    // say "above", "four above" or "left" is done as one copy or fill.
    if ((g & 3) == 0 && groups - g >= 4) {
      const uint8_t byte = selectors[g >> 2];
      if (byte == 0x55 || byte == 0xFF || byte == 0xAA) {
        // Whole selector bytes only: a last byte's missing groups do not count.
        const uint32_t run = RunLength(selectors + (g >> 2), (groups - g) / 4, byte);
        const size_t run_bytes = 32 * size_t{run};
        if (byte == 0xAA) {
          FillGroups(out, run_bytes);
        } else {
          // Source and target never overlap: a row's groups fit in its stride.
          CopyBack(out, out - (byte == 0x55 ? stride : 4 * stride), run_bytes);
        }
        out += run_bytes;
        g += 4 * run;
        continue;
      }
    }
    switch ((selectors[g >> 2] >> (6 - 2 * (g & 3))) & 3) {
      case 0:
        if (in_end - word < 2) return nullptr;
        ExpandWord(word, out);
        word += 2;
        break;
      case 1:
        CopyGroup(out, stride);
        break;
      case 2:
        CopyGroup(out, 8);
        break;
      default:
        CopyGroup(out, 4 * stride);
        break;
    }
    ++g;
    out += 8;
  }
  return word;
}

}  // namespace

PictureStatus ParsePictureHeader(const uint8_t* data, size_t size, PictureHeader* header) {
  *header = PictureHeader{};
  if (data == nullptr || size < 4 || std::memcmp(data, "HK03", 4) != 0) return kPictureBadMagic;

  const uint8_t* end_mark = static_cast<const uint8_t*>(std::memchr(data + 4, 0x1A, size - 4));
  if (end_mark == nullptr) return kPictureNoTerminator;
  const size_t comment_length = static_cast<size_t>(end_mark - (data + 4));
  header->comment_length =
      comment_length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(comment_length);
  header->comment_found = 1;

  const size_t format_offset = 5 + comment_length;
  if (format_offset >= size) return kPictureBadFormat;
  header->format_byte = data[format_offset];
  if (header->format_byte != 2) return kPictureBadFormat;

  const size_t words_offset = format_offset + 1;
  if (size - words_offset < kHeaderWordsSize) return kPictureShortHeader;
  const uint8_t* words = data + words_offset;
  header->anchor_x = ReadBigEndian16(words + 0);
  header->anchor_y = ReadBigEndian16(words + 2);
  header->width = ReadBigEndian16(words + 4);
  header->height = ReadBigEndian16(words + 6);
  for (int k = 0; k < 4; ++k) header->palette[k] = ReadBigEndian16(words + 8 + 2 * k);
  header->stride = PictureStride(header->width);
  header->groups = PictureGroups(header->width);
  header->rows_offset = words_offset + kHeaderWordsSize;

  if (header->width == 0 || header->height == 0) return kPictureZeroSize;
  if (PictureBufferBytes(header->width, header->height) > kMaxIndexBufferBytes)
    return kPictureTooLarge;
  return kPictureOk;
}

PictureStatus DecodePictureRows(const uint8_t* data, size_t size, const PictureHeader& header,
                                PictureRows* rows) {
  *rows = PictureRows{};
  // The header is checked again rather than trusted: a caller that skipped
  // ParsePictureHeader's verdict must not get writes outside the buffer.
  const uint32_t width = header.width;
  const uint32_t height = header.height;
  if (width == 0 || height == 0) return kPictureZeroSize;
  const size_t stride = PictureStride(width);
  const uint32_t groups = PictureGroups(width);
  const uint64_t buffer_bytes = PictureBufferBytes(width, height);
  if (buffer_bytes > kMaxIndexBufferBytes) return kPictureTooLarge;
  if (data == nullptr || header.rows_offset > size) {
    rows->bad_row = 0;
    return kPictureShortRow;
  }

  uint8_t* buffer = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(buffer_bytes), 1));
  if (buffer == nullptr) return kPictureOutOfMemory;

  const uint32_t selector_bytes = PictureSelectorBytes(width);
  const uint8_t* in = data + header.rows_offset;
  const uint8_t* const in_end = data + size;
  uint8_t* out = buffer + 4 * stride;
  uint32_t literal_rows = 0, repeat_rows = 0, block_rows = 0;

  for (uint32_t row = 0; row < height; ++row, out += stride) {
    const uint8_t* next = DecodeRow(in, in_end, out, stride, groups, selector_bytes);
    if (next == nullptr) {
      std::free(buffer);
      rows->bad_row = row;
      return kPictureShortRow;
    }
    const uint8_t control = *in;
    if ((control & 0x80) == 0)
      ++literal_rows;
    else if ((control & 0x40) != 0)
      ++repeat_rows;
    else
      ++block_rows;
    in = next;
  }

  rows->index_buffer = buffer;
  rows->literal_rows = literal_rows;
  rows->repeat_rows = repeat_rows;
  rows->block_rows = block_rows;
  rows->end_offset = static_cast<size_t>(in - data);
  return kPictureOk;
}

DecodedPicture::~DecodedPicture() { std::free(rows.index_buffer); }

PictureStatus DecodePictureFile(const uint8_t* data, size_t size, DecodedPicture* picture) {
  std::free(picture->rows.index_buffer);
  picture->rows = PictureRows{};
  const PictureStatus status = ParsePictureHeader(data, size, &picture->header);
  if (status != kPictureOk) return status;
  return DecodePictureRows(data, size, picture->header, &picture->rows);
}

Rgb GrbiToRgb(uint16_t word) {
  auto widen = [](unsigned v) { return static_cast<uint8_t>(v * 8 + v / 4); };
  return Rgb{widen((word >> 6) & 31), widen((word >> 11) & 31), widen((word >> 1) & 31)};
}

const char* PictureStatusText(PictureStatus status, const PictureHeader* header,
                              const PictureRows* rows, char* buffer, size_t buffer_size) {
  if (buffer == nullptr || buffer_size == 0) return "";
  switch (status) {
    case kPictureOk:
      std::snprintf(buffer, buffer_size, "ok");
      break;
    case kPictureBadMagic:
      std::snprintf(buffer, buffer_size, "bad magic (not an HK03 picture)");
      break;
    case kPictureNoTerminator:
      std::snprintf(buffer, buffer_size, "ends inside the comment (no 0x1A)");
      break;
    case kPictureBadFormat:
      if (header != nullptr && header->format_byte >= 0)
        std::snprintf(buffer, buffer_size, "format byte %d (only 2 is known)", header->format_byte);
      else
        std::snprintf(buffer, buffer_size, "ends before the format byte");
      break;
    case kPictureShortHeader:
      std::snprintf(buffer, buffer_size, "ends inside the header");
      break;
    case kPictureZeroSize:
      if (header != nullptr)
        std::snprintf(buffer, buffer_size, "zero size (%ux%u)", unsigned{header->width},
                      unsigned{header->height});
      else
        std::snprintf(buffer, buffer_size, "zero size");
      break;
    case kPictureTooLarge:
      if (header != nullptr)
        std::snprintf(buffer, buffer_size, "too large (%ux%u needs more than %u MiB)",
                      unsigned{header->width}, unsigned{header->height},
                      static_cast<unsigned>(kMaxIndexBufferBytes >> 20));
      else
        std::snprintf(buffer, buffer_size, "too large");
      break;
    case kPictureOutOfMemory:
      std::snprintf(buffer, buffer_size, "out of memory for the index buffer");
      break;
    case kPictureShortRow:
      if (rows != nullptr)
        std::snprintf(buffer, buffer_size, "ends inside row %u",
                      static_cast<unsigned>(rows->bad_row));
      else
        std::snprintf(buffer, buffer_size, "ends inside a row");
      break;
    default:
      std::snprintf(buffer, buffer_size, "unknown status %d", static_cast<int>(status));
      break;
  }
  return buffer;
}
