#include "app/picture_file.h"

#include <cstdlib>
#include <cstring>

#include "app/choose.h"
#include "app/platform.h"
#include "app/viewer_state.h"

namespace {

constexpr int32_t kBuiltinWidth = 204;
constexpr int32_t kBuiltinHeight = 124;
constexpr int32_t kBuiltinAnchorX = 282;  // centres the picture on the reference screen
constexpr int32_t kBuiltinAnchorY = 194;

}  // namespace

void TakeBuiltinRecord() {
  g_viewer.picture_width = kBuiltinWidth;
  g_viewer.picture_height = kBuiltinHeight;
  g_viewer.anchor_x = kBuiltinAnchorX;
  g_viewer.anchor_y = kBuiltinAnchorY;
  g_viewer.seethrough_denied = -1;
}

void GreySeethroughIfDenied() {
  if (g_viewer.seethrough_denied == -1) g_viewer.seethrough_item = kItemGrayed;
}

void KeepComment(const uint8_t* comment, size_t length) {
  const size_t kept = length < kCommentSize - 1 ? length : size_t{kCommentSize - 1};
  std::memset(g_viewer.comment, 0, sizeof g_viewer.comment);
  if (kept > 0) std::memcpy(g_viewer.comment, comment, kept);
  if (CommentMenuEnabled(length)) g_viewer.comment_item = kItemEnabled;
}

int LoadChosenPicture(const char* command_line, vld_picture* picture) {
  std::memset(picture, 0, sizeof *picture);
  char name[kPathSize];
  if (!ChoosePicture(command_line, name)) return 0;
  uint8_t* data = nullptr;
  size_t size = 0;
  if (!PlatformReadFile(name, VLD_MAX_FILE_BYTES, &data, &size)) return 0;
  vld_details details;
  std::memset(&details, 0, sizeof details);
  details.size = sizeof details;
  const int result = vld_decode_ex(data, size, picture, &details);
  // A file refused at its format byte has had its comment read: the menu
  // still offers it over the built-in picture. A file that ends right after
  // its comment has no format byte to refuse it by and leaves nothing.
  if (result == VLD_ERROR_BAD_FORMAT && details.comment_size >= 0 && details.format_byte >= 0) {
    KeepComment(data + 4, static_cast<size_t>(details.comment_size));
  }
  std::free(data);
  if (result != VLD_OK) return 0;
  KeepComment(picture->comment, picture->comment_size);
  g_viewer.anchor_x = static_cast<int32_t>(picture->anchor_x);
  g_viewer.anchor_y = static_cast<int32_t>(picture->anchor_y);
  g_viewer.picture_width = static_cast<int32_t>(picture->width);
  g_viewer.picture_height = static_cast<int32_t>(picture->height);
  g_viewer.seethrough_denied = SeethroughDenied(picture->palette[0]);
  return 1;
}
