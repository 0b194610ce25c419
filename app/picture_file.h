// The chosen picture file, read and decoded for either viewer.
#pragma once

#include "vld/vld.h"

// Chooses a picture from `command_line` (after the program name), reads it and
// decodes it into `picture` (free it with vld_picture_free). On success it
// also sets g_viewer's comment, comment item, anchor, size and see-through
// permission, and returns 1. Returns 0 when no file could be chosen, read or
// decoded; the built-in picture then serves, and g_viewer is as it was but
// for one case: a file refused at its format byte leaves its comment.
int LoadChosenPicture(const char* command_line, vld_picture* picture);

// Chooses a picture from `command_line` and reads the whole file into `*data`
// (free it with std::free). Returns 0 when none could be chosen or read.
int ReadChosenPicture(const char* command_line, uint8_t** data, size_t* size);

// What a decoded picture tells the viewer: its comment (read from the `file`
// it came from), anchor, size and see-through permission, into g_viewer.
void TakePictureRecord(const vld_picture& header, const uint8_t* file);

// A file refused at its format byte has had its comment read: the menu
// still offers it over the built-in picture. Any other refusal leaves
// g_viewer as it was.
void KeepRefusedComment(const uint8_t* file, int status, const vld_details& details);

// Keeps the comment's first bytes, as many as the viewer shows, and offers it
// in the menu by the whole comment's length; once enabled it stays so.
void KeepComment(const uint8_t* comment, size_t length);

// The built-in picture's size and place (the middle of the screen), and no
// see-through for it; its pixels are each viewer's own.
void TakeBuiltinRecord();

// A picture that does not allow see-through greys its menu item, whatever
// the options said.
void GreySeethroughIfDenied();
