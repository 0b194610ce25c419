// The limits that Linux's libraries get from vldtool, applied on Windows to
// a file's bytes before WIC sees them: some WIC decoders, Wine's among them,
// decode the whole image, or every block of the file, as soon as they open it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The size a PNG, BMP, GIF (its first image), JPEG or TIFF declares in its
// header, or 0 when the header cannot be found. `kind` is ImageKind's.
int DeclaredSize(const std::vector<uint8_t>& bytes, const char* kind, uint64_t* width,
                 uint64_t* height);

// Refuses (0, with a reason) what would cost a decoder far more time than
// the picture is worth, and gives a GIF only up to its first image, the one
// vldtool reads, as giflib is on Linux. *bytes may then point into *cut.
int BoundImage(const char* kind, const std::vector<uint8_t>** bytes, std::vector<uint8_t>* cut,
               std::string* error);
