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

int ReadChosenPicture(const char* command_line, uint8_t** data, size_t* size) {
  char name[kPathSize];
  return ChoosePicture(command_line, name) &&
         PlatformReadFile(name, VLD_MAX_FILE_BYTES, data, size);
}

void TakePictureRecord(const vld_picture& header, const uint8_t* file) {
  KeepComment(file + 4, header.comment_size);
  g_viewer.anchor_x = static_cast<int32_t>(header.anchor_x);
  g_viewer.anchor_y = static_cast<int32_t>(header.anchor_y);
  g_viewer.picture_width = static_cast<int32_t>(header.width);
  g_viewer.picture_height = static_cast<int32_t>(header.height);
  g_viewer.seethrough_denied = SeethroughDenied(header.palette[0]);
}

void KeepRefusedComment(const uint8_t* file, int status, const vld_details& details) {
  // A file that ends right after its comment has no format byte to refuse
  // it by; it is merely cut short.
  if (status == VLD_ERROR_BAD_FORMAT && details.comment_size >= 0 && details.format_byte >= 0) {
    KeepComment(file + 4, static_cast<size_t>(details.comment_size));
  }
}

int LoadChosenPicture(const char* command_line, vld_picture* picture) {
  std::memset(picture, 0, sizeof *picture);
  uint8_t* data = nullptr;
  size_t size = 0;
  if (!ReadChosenPicture(command_line, &data, &size)) return 0;
  vld_details details;
  std::memset(&details, 0, sizeof details);
  details.size = sizeof details;
  const int result = vld_decode_ex(data, size, picture, &details);
  if (result == VLD_OK) {
    TakePictureRecord(*picture, data);
  } else {
    KeepRefusedComment(data, result, details);
  }
  std::free(data);
  return result == VLD_OK;
}
