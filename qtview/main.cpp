// velinde for Linux: the viewer on an X display (or XWayland), as the Windows
// viewer behaves. The picture is chosen and decoded before Qt starts, so a
// failure there costs no window system time.
#include <QApplication>
#include <QImage>
#include <QScreen>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/mask.h"
#include "app/options.h"
#include "app/picture_file.h"
#include "app/placement.h"
#include "app/viewer_state.h"
#include "qtview/viewer.h"
#include "qtview/x11.h"
#include "res/artwork.h"
#include "vld/vld.h"

namespace {

bool Exists(const char* name) {
  struct stat info;
  return lstat(name, &info) == 0;
}

QImage BuiltinImage() {
  std::vector<uint8_t> pixels(size_t{kBuiltinWidth} * kBuiltinHeight);
  DrawBuiltinPicture(pixels.data());
  QImage image(kBuiltinWidth, kBuiltinHeight, QImage::Format_RGB32);
  for (int y = 0; y < kBuiltinHeight; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < kBuiltinWidth; ++x) {
      const uint8_t* c = kStandardPalette[pixels[size_t{kBuiltinWidth} * y + x]];
      row[x] = qRgb(c[0], c[1], c[2]);
    }
  }
  return image;
}

QImage PictureImage(const vld_picture& picture) {
  QRgb colours[4];
  for (int k = 0; k < 4; ++k) {
    uint8_t rgb[3];
    vld_rgb(picture.palette[k], rgb);
    colours[k] = qRgb(rgb[0], rgb[1], rgb[2]);
  }
  QImage image(static_cast<int>(picture.width), static_cast<int>(picture.height),
               QImage::Format_RGB32);
  for (uint32_t y = 0; y < picture.height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
    const uint8_t* indices = picture.indices + size_t{picture.width} * y;
    for (uint32_t x = 0; x < picture.width; ++x) row[x] = colours[indices[x] & 3];
  }
  return image;
}

// The background as a one-bit image of the shared mask's bits.
QImage BackgroundImage(const vld_picture& picture) {
  QImage image(static_cast<int>(picture.width), static_cast<int>(picture.height),
               QImage::Format_Mono);
  const uint32_t row_bytes = MaskRowBytes(picture.width);
  std::vector<uint8_t> bits(size_t{row_bytes} * picture.height);
  BuildMaskBits(picture.indices, picture.width, picture.width, picture.height, bits.data());
  for (uint32_t y = 0; y < picture.height; ++y) {
    std::memcpy(image.scanLine(static_cast<int>(y)), bits.data() + size_t{row_bytes} * y,
                (picture.width + 7) / 8);
  }
  // Bit 1 is the background; QBitmap takes the darker colour for it.
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  return image;
}

bool DisplayReachable() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] == 0) return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool ok = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  OpenReport();
  // Qt would abort without a display; a user is better told in one line.
  if (!DisplayReachable()) {
    std::fputs("velinde: no X display to show the picture on (DISPLAY is not set or not "
               "reachable)\n", stderr);
    return 1;
  }
  // A Wayland client can neither place its window nor keep it on top, so the
  // viewer is an X client, under XWayland there. A picture's pixels stay
  // screen pixels: Qt's own scaling is off.
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
  unsetenv("QT_SCALE_FACTOR");
  unsetenv("QT_SCREEN_SCALE_FACTORS");

  const std::string command_line = CommandLineFromWords(argc - 1, argv + 1, Exists);
  ApplyOptions(ParseOptions(command_line.c_str()));
  vld_picture picture;
  const bool loaded = LoadChosenPicture(command_line.c_str(), &picture) != 0;
  if (!loaded) TakeBuiltinRecord();
  GreySeethroughIfDenied();

  // The viewer writes nothing; Qt's own notes (a missing runtime folder, an
  // unknown font) would otherwise reach the terminal it was started from.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  // Qt reads some arguments for itself ("-reverse", "-style"); it gets none.
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication application(qt_argc, qt_argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // The menu as on Windows: a check mark for a switch that is on, nothing for
  // one that is off (other styles draw an empty box).
  QApplication::setStyle(QStringLiteral("windows"));

  const QImage image = loaded ? PictureImage(picture) : BuiltinImage();
  const QImage background =
      loaded && g_viewer.seethrough_denied == 0 ? BackgroundImage(picture) : QImage();
  vld_picture_free(&picture);

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  PlaceWindow(screen.width(), screen.height());
  ViewerWindow window(image, background, CompositorRuns());
  window.Start();
  return QApplication::exec();
}
