// Ordinary image files as vldtool meets them: read into memory whatever the
// build can decode, and the palette PNG it writes for a picture file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An image as a reader leaves it: a palette image as its indices and
// entries, any other as RGBA, 8 bits a channel.
struct DecodedImage {
  uint32_t width = 0;
  uint32_t height = 0;
  int indexed = 0;                    // a palette image: `indices` and `palette_rgba` are set
  std::vector<uint8_t> indices;       // width * height, for palette images
  std::vector<uint8_t> palette_rgba;  // 4 bytes per palette entry (alpha from tRNS, else 255)
  std::vector<uint8_t> rgba;          // width * height * 4, for any other image
};

// Text that a picture file carries, kept in the PNG that vldtool writes so a
// decoded picture can be encoded again without losing it: the comment as
// UTF-8 in an iTXt chunk, the anchor as "X,Y" in a tEXt chunk, and the four
// palette words as "0xWWWW,..." in a tEXt chunk (the PNG's colours cannot
// carry the intensity bit, which tells an opaque black from a see-through one).
constexpr char kPngCommentKeyword[] = "Comment";
constexpr char kPngAnchorKeyword[] = "Anchor";
constexpr char kPngPaletteKeyword[] = "Palette";

// Bounds that every system's readers apply alike, whatever decodes the file.
// A hostile progressive JPEG can hold a huge number of tiny scans, each of
// which makes a decoder walk the whole image again.
constexpr int kMaxJpegScans = 500;
// Compressed bytes a PNG may hold after its last row: enough for the end of
// the compressed data and the chunks that close a PNG, while what they can
// inflate to (at most some 66 MB) stays small; a decoder would otherwise
// inflate gigabytes that a hostile file stores there.
constexpr uint64_t kMaxPngBytesAfterRows = 64 * 1024;

// Decodes an image held in memory. Returns 0 with a one-line reason when the
// bytes cannot be read, or when CheckImageSize refuses the size the image
// declares: every reader asks it right after the header, before any pixel
// memory is taken.
int ReadImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error);

// Refuses (0, with a reason) an image that no picture file could hold: over
// 65535 pixels a side, or an index buffer over the viewer's limit.
int CheckImageSize(uint64_t width, uint64_t height, std::string* error);

// The kind of image file ("PNG", "GIF", "JPEG", "BMP", "TIFF") that its
// first bytes announce, or nullptr. Readers go by this, not by the file's
// name, so a mislabelled file is still read and an unknown kind said plainly.
const char* ImageKind(const std::vector<uint8_t>& bytes);

// Refuses (0, with a reason) a palette image with a pixel whose index has
// no palette entry, as a damaged file may hold.
int CheckPaletteIndices(const DecodedImage& image, std::string* error);

// The codecs behind ReadImage on Linux.
int ReadPngImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error);
int ReadGifImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error);
int ReadJpegImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error);

// Encodes an 8-bit palette PNG with four entries from rows of indices that
// lie `stride` bytes apart. With `transparent_zero`, index 0 is see-through.
int WritePalettePng(uint32_t width, uint32_t height, const uint8_t* rows, size_t stride,
                    const uint8_t palette_rgb[4][3], int transparent_zero,
                    std::vector<uint8_t>* out, std::string* error);
