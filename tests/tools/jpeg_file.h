// JPEG files for the tests, made with libjpeg as any other program's are.
#pragma once

#include <cstdint>
#include <string>

// `components` is 1 (grey) or 3 (RGB); `pixels` holds the rows top first.
std::string EncodeJpeg(uint32_t width, uint32_t height, int components, const uint8_t* pixels,
                       int quality, bool progressive = false);
