// Writing "HK03" picture files: the exact inverse of the decoder.
#pragma once

// Private to the library and its own tests, and never installed: every other
// program reads and writes pictures through vld.h (and vld.hpp), as any
// outside program would, so nothing of ours comes to lean on the core.
#ifndef VLD_INTERNAL
#error "vld/encode.h is private to the library: include vld.h"
#endif

#include <cstddef>
#include <cstdint>
#include <vector>

struct EncodeSource {
  const uint8_t* indices = nullptr;  // width * height bytes, rows top-down, values 0..3
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t anchor_x = 0;
  uint16_t anchor_y = 0;
  uint16_t palette[4] = {};
  const char* comment = nullptr;  // code page 932 bytes, no 0x1A; may be null when empty
  size_t comment_length = 0;
};

struct EncodeCounts {
  uint32_t literal_rows = 0;
  uint32_t repeat_rows = 0;
  uint32_t block_rows = 0;
};

// Returns 1 with the whole file in *out (and, when `counts` is given, how
// many rows of each kind it holds), or 0 when the source cannot be written
// (zero size, a comment holding 0x1A, an index above 3).
int EncodePicture(const EncodeSource& source, std::vector<uint8_t>* out,
                  EncodeCounts* counts = nullptr);
