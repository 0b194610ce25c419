// Comment text from code page 932 into Unicode, for the message box.
#pragma once

#include <QString>

#include <cstddef>

// Converts at most `length` bytes of `text`, stopping at a zero byte. A byte
// that starts no character is shown as U+30FB; a character cut off by the
// end is dropped, as the viewer keeps only the comment's first bytes.
QString Cp932ToUnicode(const char* text, size_t length);
