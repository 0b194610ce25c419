// Writing "HK03" files. The encoder keeps a copy of the index buffer exactly
// as the decoder will build it, spare columns included, so every back
// reference it emits copies what the decoder will really have there.
#include "picture/encode.h"

#include <algorithm>
#include <cstring>

#include "picture/decode.h"

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

int EncodePicture(const EncodeSource& source, std::vector<uint8_t>* out) {
  if (out == nullptr || source.indices == nullptr) return 0;
  const uint32_t width = source.width;
  const uint32_t height = source.height;
  if (width == 0 || height == 0) return 0;
  const size_t stride = (width + 11) & ~uint32_t{3};
  const uint32_t groups = (width + 7) / 8;
  const uint32_t selector_bytes = (groups + 3) / 4;
  const uint64_t buffer_bytes = (uint64_t{height} + 4) * stride;
  // A file the decoder would refuse is not worth writing.
  if (buffer_bytes > kMaxIndexBufferBytes) return 0;
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

  // The decoder's buffer as it will be, lead-in rows and spare columns
  // included. Every row is made to equal its literal coding in full (spare
  // pixels 0), so a repeat or a copy is taken only where the whole stride row,
  // or all 8 bytes of a group, equal their source in that buffer.
  std::vector<uint8_t> buffer(static_cast<size_t>(buffer_bytes), 0);
  std::vector<uint8_t> selectors(selector_bytes);
  std::vector<uint8_t> block_words;
  block_words.reserve(2 * size_t{groups});
  const size_t back[4] = {0, stride, 8, 4 * stride};

  for (uint32_t row = 0; row < height; ++row) {
    uint8_t* wanted = buffer.data() + (size_t{4} + row) * stride;
    std::memcpy(wanted, source.indices + size_t{row} * width, width);

    if (std::memcmp(wanted - stride, wanted, stride) == 0) {
      file.push_back(0xC0);
      continue;
    }

    std::fill(selectors.begin(), selectors.end(), 0);
    block_words.clear();
    for (uint32_t g = 0; g < groups; ++g) {
      const uint8_t* group = wanted + 8 * size_t{g};
      unsigned chosen = 0;
      for (unsigned selector = 1; selector <= 3 && chosen == 0; ++selector)
        if (std::memcmp(group - back[selector], group, 8) == 0) chosen = selector;
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
      continue;
    }
    file.push_back(0x00);
    for (uint32_t g = 0; g < groups; ++g) {
      uint8_t word[2];
      PackGroup(wanted + 8 * size_t{g}, word);
      file.push_back(word[0]);
      file.push_back(word[1]);
    }
  }

  out->swap(file);
  return 1;
}
