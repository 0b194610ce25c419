// The chosen file read and decoded for both viewers: what reaches the record
// for a good file, a damaged one, and things that are no file at all.
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "app/picture_file.h"
#include "app/viewer_state.h"
#include "tests/app/test_tree.h"

namespace {

// A 3 x 1 picture at anchor (5, 6) of indices 1, 2, 3; `format` is the byte
// after the comment's end.
std::string PictureBytes(const std::string& comment, char format = 2) {
  return "HK03" + comment + "\x1a" + format +
         std::string("\0\5\0\6\0\3\0\1\0\0\0\2\0\4\0\6\0\xa0\x60", 19);
}

class LoadChosenPictureTest : public TestTree {};

TEST_F(LoadChosenPictureTest, Table) {
  const struct {
    std::string bytes;
    int loaded;
    uint32_t comment_item;
    std::string comment;
  } cases[] = {
      {PictureBytes("hello"), 1, kItemEnabled, "hello"},
      {PictureBytes("ok"), 1, kItemGrayed, "ok"},
      // The comment's cut and a refusal at the format byte: the display tests,
      // through the same functions.
      {PictureBytes("short").substr(0, 25), 0, kItemGrayed, ""},
  };
  for (const auto& c : cases) {
    std::ofstream("p.vld", std::ios::binary) << c.bytes;
    g_viewer = ViewerState{};
    vld_picture picture;
    EXPECT_EQ(LoadChosenPicture("p.vld", &picture), c.loaded) << c.bytes;
    EXPECT_EQ(g_viewer.comment_item, c.comment_item);
    EXPECT_EQ(std::string(g_viewer.comment), c.comment);
    if (c.loaded) {
      EXPECT_EQ(g_viewer.picture_width, 3);
      EXPECT_EQ(g_viewer.anchor_y, 6);
      EXPECT_EQ(picture.indices[2], 3);
      EXPECT_EQ(g_viewer.seethrough_denied, 0);
    }
    vld_picture_free(&picture);
  }
  g_viewer = ViewerState{};
}

#ifndef _WIN32
// A FIFO would hold a reader until someone writes to it; a folder has no bytes.
TEST_F(LoadChosenPictureTest, RefusesWhatIsNoRegularFile) {
  ASSERT_EQ(mkfifo("fifo.vld", 0600), 0);
  Directory("folder.vld");
  vld_picture picture;
  EXPECT_EQ(LoadChosenPicture("fifo.vld", &picture), 0);
  EXPECT_EQ(LoadChosenPicture("\"folder.vld/\"", &picture), 0);
}
#endif

}  // namespace
