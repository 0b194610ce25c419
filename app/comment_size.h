// The comment buffer's size, shared by the viewer's state and the picture
// decoder. Kept apart from viewer_state.h so the portable decoder reaches no
// platform header through it.
#pragma once

constexpr int kCommentSize = 128;  // 127 bytes of text and the terminating zero
