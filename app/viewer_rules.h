// The viewer's own rules about a picture, apart from the format: what it
// keeps of the comment, when the menu offers it, and when see-through may be
// switched on. The viewer applies them and `vldtool info` reports them, both
// from here. Kept apart from viewer_state.h so that vldtool reaches no
// platform header through it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kCommentSize = 128;  // 127 bytes of text and the terminating zero

// Two bytes or fewer is not worth a menu entry.
inline bool CommentMenuEnabled(size_t comment_length) { return comment_length > 2; }

// See-through can be offered only for a black background; the whole word must
// be 0, so black with the intensity bit set is refused too. Returns 0 or -1.
inline int32_t SeethroughDenied(uint16_t palette_word0) {
  return palette_word0 == 0 ? 0 : -1;
}
