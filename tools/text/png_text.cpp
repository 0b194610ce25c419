// PNG chunks are length, type, data, CRC-32 of type and data. The reader
// checks every length against the bytes there and every CRC, so a damaged
// file only loses its text, never reads out of bounds.
#include "tools/text/png_text.h"

#include <cstdio>
#include <cstring>

#include "tools/image/image_io.h"
#include "tools/text/parse.h"

namespace {

constexpr size_t kSignatureSize = 8;
constexpr size_t kHeaderChunkEnd = kSignatureSize + 8 + 13 + 4;

struct CrcTable {
  uint32_t entries[256];
};

CrcTable MakeCrcTable() {
  CrcTable table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table.entries[n] = c;
  }
  return table;
}

const CrcTable kCrcTable = MakeCrcTable();

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = kCrcTable.entries[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t ReadBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void PutBigEndian32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

void AppendChunk(std::vector<uint8_t>* out, const char type[4], const std::string& data) {
  PutBigEndian32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  PutBigEndian32(out, Crc32(out->data() + start, out->size() - start));
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// The text after "keyword\0" in a tEXt chunk, or after the keyword, the
// compression fields, the language tag and the translated keyword in an
// uncompressed iTXt chunk.
int ChunkText(const std::string& data, bool international, std::string* keyword,
              std::string* text) {
  const size_t keyword_end = data.find('\0');
  if (keyword_end == std::string::npos) return 0;
  *keyword = data.substr(0, keyword_end);
  size_t at = keyword_end + 1;
  if (international) {
    if (data.size() - at < 2 || data[at] != 0) return 0;  // compressed: not ours
    at += 2;
    for (int field = 0; field < 2; ++field) {
      const size_t end = data.find('\0', at);
      if (end == std::string::npos) return 0;
      at = end + 1;
    }
  }
  *text = data.substr(at);
  return 1;
}

std::string WordList(const uint16_t* words, int count, bool hex) {
  std::string out;
  char part[16];
  for (int i = 0; i < count; ++i) {
    std::snprintf(part, sizeof part, hex ? "%s0x%04X" : "%s%u", i > 0 ? "," : "",
                  static_cast<unsigned>(words[i]));
    out += part;
  }
  return out;
}

}  // namespace

void ReadPngText(const std::vector<uint8_t>& png, PngText* result) {
  *result = PngText{};
  size_t at = kSignatureSize;
  while (at <= png.size() && png.size() - at >= 12) {
    const uint32_t length = ReadBigEndian32(&png[at]);
    if (length > png.size() - at - 12) return;
    const uint8_t* type = &png[at + 4];
    const uint8_t* data = type + 4;
    const bool intact = Crc32(type, size_t{length} + 4) == ReadBigEndian32(data + length);
    at += size_t{length} + 12;
    if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) return;
    const bool international = std::memcmp(type, "iTXt", 4) == 0;
    if (!intact || (!international && std::memcmp(type, "tEXt", 4) != 0)) continue;
    std::string keyword, text;
    if (!ChunkText(std::string(reinterpret_cast<const char*>(data), length), international,
                   &keyword, &text))
      continue;
    if (keyword == kPngCommentKeyword) {
      result->comment = international ? text : Latin1ToUtf8(text);
      result->has_comment = 1;
    } else if (keyword == kPngAnchorKeyword) {
      result->has_anchor = ParseWordList(text.c_str(), 2, result->anchor);
    } else if (keyword == kPngPaletteKeyword) {
      result->has_palette = ParseWordList(text.c_str(), 4, result->palette);
    }
  }
}

int AddPngText(std::vector<uint8_t>* png, const PngText& text) {
  if (png->size() < kHeaderChunkEnd || std::memcmp(png->data() + 12, "IHDR", 4) != 0) return 0;
  std::vector<uint8_t> chunks;
  if (text.has_comment) {
    // Keyword, no compression, no language tag, no translated keyword.
    AppendChunk(&chunks, "iTXt",
                std::string(kPngCommentKeyword) + std::string("\0\0\0\0\0", 5) + text.comment);
  }
  if (text.has_anchor)
    AppendChunk(&chunks, "tEXt",
                std::string(kPngAnchorKeyword) + '\0' + WordList(text.anchor, 2, false));
  if (text.has_palette)
    AppendChunk(&chunks, "tEXt",
                std::string(kPngPaletteKeyword) + '\0' + WordList(text.palette, 4, true));
  png->insert(png->begin() + kHeaderChunkEnd, chunks.begin(), chunks.end());
  return 1;
}
