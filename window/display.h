// Turning the chosen picture file into the display objects (Windows only).
#pragma once

#include <cstddef>
#include <cstdint>

// Chooses a picture file from the command line (after the program name),
// reads it whole and decodes it into g_viewer's picture fields. Returns 1 on
// success, 0 when no file could be chosen, read or decoded.
int LoadPictureFile(const char* command_line);

// Decodes a whole picture file's bytes and makes the picture bitmap, the mask
// and, on palette screens, the logical palette. Returns 1 or 0.
int DecodePicture(const uint8_t* data, size_t size);
