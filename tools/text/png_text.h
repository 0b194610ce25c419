// The text a picture file carries, kept in the chunks of a PNG so a decoded
// picture encodes again unchanged. Works on the PNG byte stream itself, so
// every build uses it whatever writes or reads the pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PngText {
  int has_comment = 0;
  std::string comment;  // UTF-8
  int has_anchor = 0;
  uint16_t anchor[2] = {0, 0};
  int has_palette = 0;
  uint16_t palette[4] = {0, 0, 0, 0};  // the exact words, intensity bits included
};

// Finds the comment (iTXt, or Latin-1 tEXt), the anchor and the palette
// words among the chunks before the pixel data. A chunk that is damaged,
// compressed or does not parse is passed over as if absent.
void ReadPngText(const std::vector<uint8_t>& png, PngText* text);

// Inserts the chunks for the fields that are set right after the header
// chunk. Returns 0 when `png` does not start with a PNG header chunk.
int AddPngText(std::vector<uint8_t>* png, const PngText& text);
