// The command line's options. The scan is byte by byte and never steps past
// the terminating zero, so any text, however malformed, is safe to hand in.
#include "app/options.h"

#include <cstdint>

#include "app/viewer_state.h"

// Code page 932 lead bytes; the byte after one belongs to the same character.
static int IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

static int IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static int IsDigit(char c) {
  return c >= '0' && c <= '9';
}

static char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static const char* SkipToBlank(const char* p) {
  while (*p != 0 && *p != ' ') ++p;
  return p;
}

// Reads a run of decimal digits (possibly empty). The value sticks at `limit`
// instead of overflowing, so absurdly long numbers stay harmless.
static const char* ReadDigits(const char* p, uint32_t limit, uint32_t* value) {
  uint64_t n = 0;
  while (IsDigit(*p)) {
    n = n * 10 + static_cast<uint64_t>(*p - '0');
    if (n > limit) n = limit;
    ++p;
  }
  *value = static_cast<uint32_t>(n);
  return p;
}

const char* SkipProgramName(const char* full_command_line) {
  if (full_command_line == nullptr) return "";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(full_command_line);
  if (*p == '"') {
    ++p;
    while (*p != 0 && *p != '"') {
      // A lead byte swallows its partner, whatever it is, but never the zero.
      p += (IsLeadByte(*p) && p[1] != 0) ? 2 : 1;
    }
    if (*p == '"') ++p;
  } else if (*p > 0x20) {
    while (*p > 0x20) ++p;
  }
  while (*p >= 0x01 && *p <= 0x20) ++p;
  return reinterpret_cast<const char*>(p);
}

enum OptionKind {
  kOptionNone,
  kOptionFrame,
  kOptionTopmost,
  kOptionSeethrough,
  kOptionActivate,
  kOptionPosition,
  kOptionTimeout
};

// Takes the option whose text starts at `p` (just after its '-' or '/') and
// returns where it stopped reading; the caller passes over the rest of the word.
static const char* TakeOption(const char* p, ViewerOptions* options) {
  int negated = 0;
  if (ToLowerAscii(p[0]) == 'n' && ToLowerAscii(p[1]) == 'o') {
    negated = 1;
    p += 2;
  }
  OptionKind kind = kOptionNone;
  switch (ToLowerAscii(p[0])) {
    case 'w':
      kind = kOptionTimeout;
      break;
    case 'f':
      kind = kOptionFrame;
      break;
    case 't':
      if (ToLowerAscii(p[1]) == 'o') kind = kOptionTopmost;
      if (ToLowerAscii(p[1]) == 'r') kind = kOptionSeethrough;
      break;
    case 'a':
      kind = kOptionActivate;
      break;
    case 'l':
      kind = kOptionPosition;
      break;
    default:
      break;
  }
  if (kind == kOptionNone) return p;
  while (IsAsciiLetter(*p)) ++p;

  switch (kind) {
    case kOptionFrame:
      options->frameless_item = negated ? kItemChecked : kItemEnabled;
      break;
    case kOptionTopmost:
      options->topmost_item = negated ? kItemEnabled : kItemChecked;
      break;
    case kOptionSeethrough:
      options->seethrough_item = negated ? kItemEnabled : kItemChecked;
      break;
    case kOptionActivate:
      options->activate_mode = negated ? -1 : 1;
      break;
    case kOptionTimeout: {
      if (*p == 0 || *p == ' ') break;
      // Tenths of a second; anything from the first non-digit on is ignored.
      uint32_t tenths = 0;
      p = ReadDigits(p, UINT32_MAX / 100 + 1, &tenths);
      options->timeout_ms = tenths > UINT32_MAX / 100 ? UINT32_MAX : tenths * 100;
      break;
    }
    case kOptionPosition: {
      if (negated || *p == 0 || *p == ' ') break;
      uint32_t x = 0;
      uint32_t y = 0;
      p = ReadDigits(p, INT32_MAX, &x);
      // Any one character separates x from y, a blank included.
      if (*p != 0) ++p;
      p = ReadDigits(p, INT32_MAX, &y);
      options->given_x = static_cast<int32_t>(x);
      options->given_y = static_cast<int32_t>(y);
      options->position_given = 1;
      break;
    }
    case kOptionNone:
      break;
  }
  return p;
}

ViewerOptions ParseOptions(const char* command_line) {
  ViewerOptions options;
  if (command_line == nullptr) return options;
  const char* p = command_line;
  while (*p != 0) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    if (*p == '"') {
      // A quoted name may hold blanks, '-' and '/'; none of it is an option.
      ++p;
      while (*p != 0 && *p != '"') ++p;
      if (*p == '"') ++p;
      continue;
    }
    if (*p == '-' || *p == '/') p = TakeOption(p + 1, &options);
    p = SkipToBlank(p);
    if (*p == ' ') ++p;
  }
  return options;
}

void ApplyOptions(const ViewerOptions& options) {
  g_viewer.activate_mode = options.activate_mode;
  g_viewer.timeout_ms = options.timeout_ms;
  g_viewer.seethrough_item = options.seethrough_item;
  g_viewer.topmost_item = options.topmost_item;
  g_viewer.frameless_item = options.frameless_item;
  g_viewer.position_given = options.position_given;
  g_viewer.given_x = options.given_x;
  g_viewer.given_y = options.given_y;
}
