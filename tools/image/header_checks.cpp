// What an image file's own bytes say, read before the system's decoders
// see them. Portable: only the bytes are looked at.
#include "tools/image/header_checks.h"

#include <algorithm>
#include <cstring>

#include "tools/image/image_io.h"
#include "tools/image/zlib_walk.h"

namespace {

uint32_t Little(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t value = 0;
  for (int k = bytes - 1; k >= 0; --k) value = value << 8 | b[at + k];
  return value;
}

uint32_t Big(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t value = 0;
  for (int k = 0; k < bytes; ++k) value = value << 8 | b[at + k];
  return value;
}

// Blocks before a GIF's first image (extensions, and their sub-blocks):
// a real file has a handful, a hostile one millions, each of which costs
// Wine's decoder an allocation.
constexpr size_t kMaxGifExtensions = 4096;
constexpr size_t kMaxGifExtensionBlocks = 65536;

// The size a JPEG's first frame header (SOF) declares, and the number of
// scans (SOS) in the file. Walks the markers, and the entropy-coded data
// after each scan header up to the next marker. 0 when the markers end
// before a frame header.
int JpegFacts(const std::vector<uint8_t>& b, uint64_t* width, uint64_t* height, int* scans) {
  int found = 0;
  *scans = 0;
  size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) return found;  // damaged: WIC says so
    const uint8_t marker = b[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD9) break;
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      at += 2;
      continue;
    }
    const size_t length = Big(b, at + 2, 2);
    if (length < 2 || at + 2 + length > b.size()) return found;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                       marker != 0xCC;
    if (frame && !found && length >= 8) {
      *height = Big(b, at + 5, 2);
      *width = Big(b, at + 7, 2);
      found = 1;
    }
    at += 2 + length;
    if (marker != 0xDA) continue;
    ++*scans;
    // Entropy-coded data: 0xFF is followed by 0 (a data byte) or a restart
    // marker inside it; any other marker ends it.
    for (;;) {
      const void* next = std::memchr(b.data() + at, 0xFF, b.size() - at);
      if (next == nullptr) return found;
      at = static_cast<size_t>(static_cast<const uint8_t*>(next) - b.data());
      if (at + 1 >= b.size()) return found;
      const uint8_t following = b[at + 1];
      if (following == 0 || (following >= 0xD0 && following <= 0xD7)) {
        at += 2;
        continue;
      }
      if (following == 0xFF) {
        ++at;
        continue;
      }
      break;
    }
  }
  return found;
}

// The size in a TIFF's first directory (ImageWidth and ImageLength).
int TiffSize(const std::vector<uint8_t>& b, uint64_t* width, uint64_t* height) {
  if (b.size() < 8) return 0;
  const bool big = b[0] == 'M';
  auto read = [&](size_t at, int bytes) { return big ? Big(b, at, bytes) : Little(b, at, bytes); };
  const size_t directory = read(4, 4);
  if (directory > b.size() || b.size() - directory < 2) return 0;
  const size_t count = read(directory, 2);
  if ((b.size() - directory - 2) / 12 < count) return 0;
  int found = 0;
  for (size_t k = 0; k < count; ++k) {
    const size_t entry = directory + 2 + 12 * k;
    const uint32_t tag = read(entry, 2), type = read(entry + 2, 2);
    if ((tag != 256 && tag != 257) || (type != 3 && type != 4) || read(entry + 4, 4) != 1) continue;
    const uint64_t value = type == 3 ? read(entry + 8, 2) : read(entry + 8, 4);
    *(tag == 256 ? width : height) = value;
    found |= tag == 256 ? 1 : 2;
  }
  return found == 3;
}

// Where a GIF's first image ends (its data's terminating block included),
// and how many extension blocks and sub-blocks come before it; 0 when the
// file ends or breaks off before then.
int GifFirstImage(const std::vector<uint8_t>& b, size_t* image_at, size_t* end,
                  size_t* extensions, size_t* extension_blocks) {
  *extensions = *extension_blocks = 0;
  if (b.size() < 13) return 0;
  size_t at = 13 + ((b[10] & 0x80) ? 3u << ((b[10] & 7) + 1) : 0);
  while (at < b.size() && b[at] == 0x21) {  // extensions: a label, then sub-blocks
    ++*extensions;
    at += 2;
    while (at < b.size() && b[at] != 0) {
      ++*extension_blocks;
      at += 1 + b[at];
    }
    ++at;
  }
  if (at + 10 > b.size() || b[at] != 0x2C) return 0;
  *image_at = at;
  at += 10 + ((b[at + 9] & 0x80) ? 3u << ((b[at + 9] & 7) + 1) : 0) + 1;  // and the code size
  while (at < b.size() && b[at] != 0) at += 1 + b[at];
  if (at >= b.size()) return 0;
  *end = at + 1;
  return 1;
}

// The bytes of filtered rows a PNG's pixels take: each row of each pass,
// with its filter byte.
uint64_t PngImageBytes(uint64_t width, uint64_t height, int bits_per_pixel, bool interlaced,
                       uint64_t* rows) {
  static const int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  uint64_t bytes = 0;
  *rows = 0;
  for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
    const int* p = interlaced ? kPasses[pass] : kPasses[6];
    const uint64_t x0 = interlaced ? p[0] : 0, y0 = interlaced ? p[1] : 0;
    const uint64_t dx = interlaced ? p[2] : 1, dy = interlaced ? p[3] : 1;
    if (width <= x0 || height <= y0) continue;
    const uint64_t pass_width = (width - x0 + dx - 1) / dx, pass_height = (height - y0 + dy - 1) / dy;
    bytes += pass_height * (1 + (pass_width * bits_per_pixel + 7) / 8);
    *rows += pass_height;
  }
  return bytes;
}

// Refuses a PNG whose image data goes on past its last row by more than an
// encoder leaves there (the end code and checksum): libpng, inside Wine's
// decoder and others, inflates all of it, and a few megabytes of deflate
// data can stand for gigabytes. First a bound no encoder comes near (a
// literal costs at most 15 bits, a match at most 48 bits for 3 bytes, and a
// new block for every row some 300 bytes), then the stream's codes walked
// to the point where the rows are complete.
int CheckPngData(const std::vector<uint8_t>& b, std::string* error) {
  if (b.size() < 33 || std::memcmp(b.data() + 12, "IHDR", 4) != 0) return 1;
  const uint64_t width = Big(b, 16, 4), height = Big(b, 20, 4);
  const int depth = b[24], colour = b[25];
  const int channels = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
  uint64_t rows = 0;
  const uint64_t image = PngImageBytes(width, height, channels * depth, b[28] != 0, &rows);
  uint64_t compressed = 0;
  ZlibPieces pieces;
  for (size_t at = 8; at + 12 <= b.size();) {
    const uint64_t length = Big(b, at, 4);
    if (std::memcmp(b.data() + at + 4, "IEND", 4) == 0) break;
    if (std::memcmp(b.data() + at + 4, "IDAT", 4) == 0) {
      const size_t there = static_cast<size_t>(std::min<uint64_t>(length, b.size() - at - 12));
      pieces.push_back({b.data() + at + 8, there});
      compressed += there;
    }
    at += 12 + length;
  }
  const uint64_t most = 2 * image + 300 * (rows + 7) + kMaxPngBytesAfterRows;
  if (compressed > most) {
    *error = "the PNG holds " + std::to_string(compressed) +
             " bytes of image data, more than its " + std::to_string(width) + "x" +
             std::to_string(height) + " pixels can use";
    return 0;
  }
  // A stream that is damaged or ends early is left to the decoder to refuse.
  uint64_t rest = 0;
  if (!ZlibBytesAfter(pieces, image, &rest) || rest <= kMaxPngBytesAfterRows) return 1;
  *error = "the PNG holds " + std::to_string(rest) + " bytes of image data after its last row";
  return 0;
}

}  // namespace

int DeclaredSize(const std::vector<uint8_t>& b, const char* kind, uint64_t* width,
                 uint64_t* height) {
  if (std::strcmp(kind, "PNG") == 0 && b.size() >= 24) {
    *width = Big(b, 16, 4);
    *height = Big(b, 20, 4);
    return 1;
  }
  if (std::strcmp(kind, "BMP") == 0 && b.size() >= 26) {
    const bool core = Little(b, 14, 4) == 12;  // the old header with 16-bit sizes
    const int32_t w = core ? int32_t(Little(b, 18, 2)) : int32_t(Little(b, 18, 4));
    const int32_t h = core ? int32_t(Little(b, 20, 2)) : int32_t(Little(b, 22, 4));
    *width = w < 0 ? uint64_t{0} - int64_t{w} : uint64_t(w);
    *height = h < 0 ? uint64_t{0} - int64_t{h} : uint64_t(h);
    return 1;
  }
  if (std::strcmp(kind, "JPEG") == 0) {
    int scans = 0;
    return JpegFacts(b, width, height, &scans);
  }
  if (std::strcmp(kind, "TIFF") == 0) return TiffSize(b, width, height);
  size_t at = 0, end = 0, extensions = 0, blocks = 0;
  if (std::strcmp(kind, "GIF") != 0 || !GifFirstImage(b, &at, &end, &extensions, &blocks))
    return 0;
  *width = Little(b, at + 5, 2);
  *height = Little(b, at + 7, 2);
  return 1;
}

int BoundImage(const char* kind, const std::vector<uint8_t>** bytes, std::vector<uint8_t>* cut,
               std::string* error) {
  const std::vector<uint8_t>& b = **bytes;
  if (std::strcmp(kind, "PNG") == 0) return CheckPngData(b, error);
  if (std::strcmp(kind, "JPEG") == 0) {
    uint64_t width = 0, height = 0;
    int scans = 0;
    JpegFacts(b, &width, &height, &scans);
    if (scans > kMaxJpegScans) {
      *error = "the JPEG holds over " + std::to_string(kMaxJpegScans) + " scans";
      return 0;
    }
    return 1;
  }
  size_t at = 0, end = 0, extensions = 0, blocks = 0;
  if (std::strcmp(kind, "GIF") != 0) return 1;
  const int found = GifFirstImage(b, &at, &end, &extensions, &blocks);
  if (extensions > kMaxGifExtensions || blocks > kMaxGifExtensionBlocks) {
    *error = "the GIF holds over " + std::to_string(kMaxGifExtensions) +
             " extensions or " + std::to_string(kMaxGifExtensionBlocks) +
             " extension blocks before its first image";
    return 0;
  }
  if (found && end < b.size()) {
    cut->assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(end));
    cut->push_back(0x3B);  // the trailer
    *bytes = cut;
  }
  return 1;
}
