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
// the result does not depend on the machine's byte order. Built at compile
// time: a program that decodes from its own static constructor may run
// before any of ours.
struct PlaneTable {
  uint64_t bytes[256];
};

// A constant expression may not look at memory to learn the byte order.
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kLittleEndian = false;
#else
constexpr bool kLittleEndian = true;
#endif

constexpr PlaneTable MakePlaneTable() {
  PlaneTable table{};
  for (int value = 0; value < 256; ++value) {
    uint64_t pixels = 0;
    for (int x = 0; x < 8; ++x) {
      const uint64_t bit = static_cast<uint64_t>((value >> (7 - x)) & 1);
      // Pixel x lands at memory byte x once the word is stored.
      pixels |= bit << (8 * (kLittleEndian ? x : 7 - x));
    }
    table.bytes[value] = pixels;
  }
  return table;
}

constexpr PlaneTable kPlaneTable = MakePlaneTable();
static_assert(kPlaneTable.bytes[0x80] == (kLittleEndian ? 1u : uint64_t{1} << 56) &&
                  kPlaneTable.bytes[0xFF] == 0x0101010101010101ull,
              "the plane table is complete before any code runs");

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
// Inlined into both row loops, as it was into the one loop there used to be:
// a call a row costs the narrow pictures several per cent.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline const uint8_t* DecodeRow(const uint8_t* in, const uint8_t* in_end, uint8_t* out, size_t stride,
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

int ParsePictureHeader(const uint8_t* data, size_t size, PictureHeader* header) {
  *header = PictureHeader{};
  if (data == nullptr || size < 4 || std::memcmp(data, "HK03", 4) != 0) return VLD_ERROR_BAD_MAGIC;

  const uint8_t* end_mark = static_cast<const uint8_t*>(std::memchr(data + 4, 0x1A, size - 4));
  if (end_mark == nullptr) return VLD_ERROR_NO_TERMINATOR;
  const size_t comment_length = static_cast<size_t>(end_mark - (data + 4));
  header->comment_length =
      comment_length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(comment_length);
  header->comment_found = 1;

  const size_t format_offset = 5 + comment_length;
  if (format_offset >= size) return VLD_ERROR_BAD_FORMAT;
  header->format_byte = data[format_offset];
  if (header->format_byte != 2) return VLD_ERROR_BAD_FORMAT;

  const size_t words_offset = format_offset + 1;
  if (size - words_offset < kHeaderWordsSize) return VLD_ERROR_SHORT_HEADER;
  const uint8_t* words = data + words_offset;
  header->anchor_x = ReadBigEndian16(words + 0);
  header->anchor_y = ReadBigEndian16(words + 2);
  header->width = ReadBigEndian16(words + 4);
  header->height = ReadBigEndian16(words + 6);
  for (int k = 0; k < 4; ++k) header->palette[k] = ReadBigEndian16(words + 8 + 2 * k);
  header->stride = PictureStride(header->width);
  header->groups = PictureGroups(header->width);
  header->rows_offset = words_offset + kHeaderWordsSize;

  if (header->width == 0 || header->height == 0) return VLD_ERROR_ZERO_SIZE;
  if (PictureBufferBytes(header->width, header->height) > kMaxIndexBufferBytes)
    return VLD_ERROR_TOO_LARGE;
  return VLD_OK;
}

namespace {

// What both row decoders check before taking memory. The header is checked
// again rather than trusted: a caller that skipped ParsePictureHeader's
// verdict must not get writes outside the buffer.
int CheckRows(const uint8_t* data, size_t size, const PictureHeader& header) {
  if (header.width == 0 || header.height == 0) return VLD_ERROR_ZERO_SIZE;
  if (PictureBufferBytes(header.width, header.height) > kMaxIndexBufferBytes)
    return VLD_ERROR_TOO_LARGE;
  if (data == nullptr || header.rows_offset > size) return VLD_ERROR_SHORT_ROW;
  return VLD_OK;
}

struct RowKinds {
  uint32_t literal = 0, repeat = 0, block = 0;
  void Count(uint8_t control) {
    if ((control & 0x80) == 0)
      ++literal;
    else if ((control & 0x40) != 0)
      ++repeat;
    else
      ++block;
  }
  void Into(PictureRows* rows) const {
    rows->literal_rows = literal;
    rows->repeat_rows = repeat;
    rows->block_rows = block;
  }
};

// The row-by-row decoder's buffer: the four rows a row may refer to and as
// many rows after them as fit here (at least 16), so the rows moved up
// from the end each time it fills stay a small part of the work.
constexpr size_t kWindowBytes = size_t{256} << 10;
constexpr uint32_t kWindowMinRows = 16;

// Decodes the rows after the header into `window`, which holds the four
// lead-in rows and `batch` more; when it is full, its last four rows move to
// the front, so a window of the whole height never moves. With a callback,
// each row is handed over as soon as it is done.
int DecodeRowsThrough(const uint8_t* data, size_t size, const PictureHeader& header,
                      uint8_t* window, size_t batch, vld_row_callback row_callback, void* user,
                      PictureRows* rows) {
  const uint32_t height = header.height;
  const size_t stride = PictureStride(header.width);
  const uint32_t groups = PictureGroups(header.width);
  const uint32_t selector_bytes = PictureSelectorBytes(header.width);
  uint8_t* const window_end = window + (4 + batch) * stride;

  const uint8_t* in = data + header.rows_offset;
  const uint8_t* const in_end = data + size;
  uint8_t* out = window + 4 * stride;
  RowKinds kinds;
  int status = VLD_OK;
  uint32_t row = 0;
  for (; row < height; ++row, out += stride) {
    if (out == window_end) {
      std::memmove(window, window_end - 4 * stride, 4 * stride);
      out = window + 4 * stride;
    }
    const uint8_t* next = DecodeRow(in, in_end, out, stride, groups, selector_bytes);
    if (next == nullptr) {
      status = VLD_ERROR_SHORT_ROW;
      break;
    }
    kinds.Count(*in);
    in = next;
    if (row_callback != nullptr && row_callback(user, row, out) != 0) {
      status = VLD_ERROR_STOPPED;
      ++row;
      break;
    }
  }
  kinds.Into(rows);
  rows->bad_row = status == VLD_OK ? 0 : row;
  if (status == VLD_OK) rows->end_offset = static_cast<size_t>(in - data);
  return status;
}

}  // namespace

int DecodePictureRows(const uint8_t* data, size_t size, const PictureHeader& header,
                      PictureRows* rows) {
  *rows = PictureRows{};
  const int checked = CheckRows(data, size, header);
  if (checked != VLD_OK) return checked;
  uint8_t* buffer = static_cast<uint8_t*>(
      std::calloc(static_cast<size_t>(PictureBufferBytes(header.width, header.height)), 1));
  if (buffer == nullptr) return VLD_ERROR_OUT_OF_MEMORY;
  const int status =
      DecodeRowsThrough(data, size, header, buffer, header.height, nullptr, nullptr, rows);
  if (status != VLD_OK) {
    std::free(buffer);
    return status;
  }
  rows->index_buffer = buffer;
  return VLD_OK;
}

int DecodePictureRowsBy(const uint8_t* data, size_t size, const PictureHeader& header,
                        vld_row_callback row_callback, void* user, PictureRows* rows) {
  *rows = PictureRows{};
  const int checked = CheckRows(data, size, header);
  if (checked != VLD_OK) return checked;
  const size_t stride = PictureStride(header.width);
  size_t batch = kWindowBytes / stride;
  if (batch < kWindowMinRows) batch = kWindowMinRows;
  if (batch > header.height) batch = header.height;
  // Zero like the whole buffer's lead-in rows. The rows after them need no
  // clearing when reused: every row coding writes a row's 8 * groups bytes
  // in full, and the spare bytes past them stay zero in every row.
  uint8_t* window = static_cast<uint8_t*>(std::calloc((4 + batch) * stride, 1));
  if (window == nullptr) return VLD_ERROR_OUT_OF_MEMORY;
  const int status = DecodeRowsThrough(data, size, header, window, batch, row_callback, user, rows);
  std::free(window);
  return status;
}

DecodedPicture::~DecodedPicture() { std::free(rows.index_buffer); }

int DecodePictureFile(const uint8_t* data, size_t size, DecodedPicture* picture) {
  std::free(picture->rows.index_buffer);
  picture->rows = PictureRows{};
  const int status = ParsePictureHeader(data, size, &picture->header);
  if (status != VLD_OK) return status;
  return DecodePictureRows(data, size, picture->header, &picture->rows);
}

Rgb GrbiToRgb(uint16_t word) {
  auto widen = [](unsigned v) { return static_cast<uint8_t>(v * 8 + v / 4); };
  return Rgb{widen((word >> 6) & 31), widen((word >> 11) & 31), widen((word >> 1) & 31)};
}

namespace {

// Every result's words, in one place. `plain` is vld_error_text's; `placed`
// names the byte, size or row where the caller knows it; `unplaced` says
// what the code alone means where the decoder stopped before that place
// (null: the plain text).
struct StatusWords {
  const char* plain;
  const char* placed;
  const char* unplaced;
};
constexpr StatusWords kStatusWords[] = {
    /* VLD_OK */ {"ok", nullptr, nullptr},
    /* VLD_ERROR_BAD_MAGIC */ {"bad magic (not an HK03 picture)", nullptr, nullptr},
    /* VLD_ERROR_NO_TERMINATOR */ {"ends inside the comment (no 0x1A)", nullptr, nullptr},
    /* VLD_ERROR_BAD_FORMAT */
    {"bad format byte (only 2 is known)", "format byte %d (only 2 is known)",
     "ends before the format byte"},
    /* VLD_ERROR_SHORT_HEADER */ {"ends inside the header", nullptr, nullptr},
    /* VLD_ERROR_ZERO_SIZE */ {"zero size", "zero size (%ux%u)", nullptr},
    /* VLD_ERROR_TOO_LARGE: unplaced, the file was refused unread */
    {"too large", "too large (%ux%u needs more than %u MiB)",
     "too large (files of 256 MiB or more are not read)"},
    /* VLD_ERROR_OUT_OF_MEMORY */ {"out of memory", "out of memory for the index buffer", nullptr},
    /* VLD_ERROR_SHORT_ROW */ {"ends inside a row", "ends inside row %u", nullptr},
    /* VLD_ERROR_INVALID */ {"invalid argument", nullptr, nullptr},
    /* VLD_ERROR_STOPPED */ {"stopped by the row callback", nullptr, nullptr},
};
static_assert(sizeof kStatusWords / sizeof kStatusWords[0] == VLD_ERROR_STOPPED + 1,
              "every result has its words");
static_assert(VLD_MAX_BUFFER_BYTES >> 20 == 256, "the unplaced too-large text says 256 MiB");

}  // namespace

const char* PictureStatusName(int status) {
  if (status < 0 || status > VLD_ERROR_STOPPED) return "unknown error";
  return kStatusWords[status].plain;
}

const char* PictureStatusText(int status, const PictureHeader* header, const PictureRows* rows,
                              char* buffer, size_t buffer_size) {
  if (buffer == nullptr || buffer_size == 0) return "";
  if (status < 0 || status > VLD_ERROR_STOPPED) {
    std::snprintf(buffer, buffer_size, "unknown status %d", status);
    return buffer;
  }
  const StatusWords& words = kStatusWords[status];
  const char* text = words.unplaced != nullptr ? words.unplaced : words.plain;
  switch (status) {
    case VLD_ERROR_BAD_FORMAT:
      if (header != nullptr && header->format_byte >= 0) {
        std::snprintf(buffer, buffer_size, words.placed, header->format_byte);
        return buffer;
      }
      break;
    case VLD_ERROR_ZERO_SIZE:
      if (header != nullptr) {
        std::snprintf(buffer, buffer_size, words.placed, unsigned{header->width},
                      unsigned{header->height});
        return buffer;
      }
      break;
    case VLD_ERROR_TOO_LARGE:
      if (header != nullptr) {
        std::snprintf(buffer, buffer_size, words.placed, unsigned{header->width},
                      unsigned{header->height}, static_cast<unsigned>(kMaxIndexBufferBytes >> 20));
        return buffer;
      }
      break;
    case VLD_ERROR_OUT_OF_MEMORY:
      text = words.placed;
      break;
    case VLD_ERROR_SHORT_ROW:
      if (rows != nullptr) {
        std::snprintf(buffer, buffer_size, words.placed, static_cast<unsigned>(rows->bad_row));
        return buffer;
      }
      break;
    default:
      break;
  }
  std::snprintf(buffer, buffer_size, "%s", text);
  return buffer;
}
