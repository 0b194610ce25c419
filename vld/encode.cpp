// Writing "HK03" files. The encoder keeps a copy of the index buffer exactly
// as the decoder will build it, spare columns included, so every back
// reference it emits copies what the decoder will really have there.
#include "vld/encode.h"

#include <algorithm>
#include <cstring>

#include "vld/decode.h"

namespace {

void PutBigEndian16(std::vector<uint8_t>* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value >> 8));
  out->push_back(static_cast<uint8_t>(value & 0xFF));
}

// Packs the eight pixels of one group into a pixel word: bit plane 0 first,
// the leftmost pixel in the most significant bit.
void PackGroup(const uint8_t* pixels, uint8_t word[2]) {
  uint8_t plane0 = 0, plane1 = 0;
  for (int x = 0; x < 8; ++x) {
    plane0 |= static_cast<uint8_t>((pixels[x] & 1) << (7 - x));
    plane1 |= static_cast<uint8_t>(((pixels[x] >> 1) & 1) << (7 - x));
  }
  word[0] = plane0;
  word[1] = plane1;
}

}  // namespace

int EncodePicture(const EncodeSource& source, std::vector<uint8_t>* out, EncodeCounts* counts) {
  if (out == nullptr || source.indices == nullptr) return 0;
  const uint32_t width = source.width;
  const uint32_t height = source.height;
  if (width == 0 || height == 0) return 0;
  const size_t stride = PictureStride(width);
  const uint32_t groups = PictureGroups(width);
  const uint32_t selector_bytes = PictureSelectorBytes(width);
  // A file the decoder would refuse is not worth writing.
  if (PictureBufferBytes(width, height) > kMaxIndexBufferBytes) return 0;
  if (source.comment_length > 0) {
    if (source.comment == nullptr) return 0;
    if (std::memchr(source.comment, 0x1A, source.comment_length) != nullptr) return 0;
  }
  const size_t pixel_count = size_t{width} * height;
  for (size_t i = 0; i < pixel_count; ++i)
    if (source.indices[i] > 3) return 0;

  std::vector<uint8_t> file;
  file.reserve(22 + source.comment_length + pixel_count / 4 + height);
  file.insert(file.end(), {'H', 'K', '0', '3'});
  file.insert(file.end(), source.comment, source.comment + source.comment_length);
  file.push_back(0x1A);
  file.push_back(2);
  PutBigEndian16(&file, source.anchor_x);
  PutBigEndian16(&file, source.anchor_y);
  PutBigEndian16(&file, static_cast<uint16_t>(width));
  PutBigEndian16(&file, static_cast<uint16_t>(height));
  for (int k = 0; k < 4; ++k) PutBigEndian16(&file, source.palette[k]);

  // The last five rows of the decoder's buffer as it will be, spare columns
  // included: copies reach at most four rows up, so a ring of five is all
  // the decoder's state the encoder needs. Every row is made to equal its
  // literal coding in full (spare pixels 0), so a repeat or a copy is taken
  // only where the whole stride row, or all 8 bytes of a group, equal their
  // source in that buffer. The lead-in rows start as zeros.
  constexpr uint32_t kRing = 5;
  std::vector<uint8_t> ring(kRing * stride, 0);
  auto buffer_row = [&](uint32_t buffer_index) { return ring.data() + (buffer_index % kRing) * stride; };
  std::vector<uint8_t> selectors(selector_bytes);
  std::vector<uint8_t> block_words;
  block_words.reserve(2 * size_t{groups});

  EncodeCounts made;
  for (uint32_t row = 0; row < height; ++row) {
    uint8_t* wanted = buffer_row(row + 4);
    const uint8_t* above = buffer_row(row + 3);
    const uint8_t* four_above = buffer_row(row);
    std::memcpy(wanted, source.indices + size_t{row} * width, width);
    std::memset(wanted + width, 0, stride - width);

    if (std::memcmp(above, wanted, stride) == 0) {
      file.push_back(0xC0);
      ++made.repeat_rows;
      continue;
    }

    std::fill(selectors.begin(), selectors.end(), 0);
    block_words.clear();
    for (uint32_t g = 0; g < groups; ++g) {
      const size_t at = 8 * size_t{g};
      const uint8_t* group = wanted + at;
      // Left of group 0 is the tail of the buffer row above.
      const uint8_t* sources[4] = {nullptr, above + at, g > 0 ? group - 8 : above + stride - 8,
                                   four_above + at};
      unsigned chosen = 0;
      for (unsigned selector = 1; selector <= 3 && chosen == 0; ++selector)
        if (std::memcmp(sources[selector], group, 8) == 0) chosen = selector;
      if (chosen != 0) {
        selectors[g >> 2] |= static_cast<uint8_t>(chosen << (6 - 2 * (g & 3)));
      } else {
        uint8_t word[2];
        PackGroup(group, word);
        block_words.push_back(word[0]);
        block_words.push_back(word[1]);
      }
    }

    // On a tie the literal row wins: it is the plainer coding.
    const size_t block_size = 1 + selector_bytes + block_words.size();
    const size_t literal_size = 1 + 2 * size_t{groups};
    if (block_size < literal_size) {
      file.push_back(0x80);
      file.insert(file.end(), selectors.begin(), selectors.end());
      file.insert(file.end(), block_words.begin(), block_words.end());
      ++made.block_rows;
      continue;
    }
    file.push_back(0x00);
    ++made.literal_rows;
    for (uint32_t g = 0; g < groups; ++g) {
      uint8_t word[2];
      PackGroup(wanted + 8 * size_t{g}, word);
      file.push_back(word[0]);
      file.push_back(word[1]);
    }
  }

  out->swap(file);
  if (counts != nullptr) *counts = made;
  return 1;
}
