// Reads a picture as a Qt program does, through QImageReader and whatever
// image plugins Qt finds, and saves it as PNG for the tests to compare.
//   vld_qt_read FILE OUT.png   prints "FORMAT WIDTHxHEIGHT", the size as the
//                              reader tells it before reading, then as read
//   vld_qt_read --scaled WxH FILE OUT.png   the same, read at that size
//   vld_qt_read --formats      prints the formats Qt can read, one a line
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc == 2 && std::strcmp(argv[1], "--formats") == 0) {
    for (const QByteArray &format : QImageReader::supportedImageFormats())
      std::printf("%s\n", format.constData());
    return 0;
  }
  QSize scaled;
  if (argc == 5 && std::strcmp(argv[1], "--scaled") == 0) {
    int width = 0, height = 0;
    std::sscanf(argv[2], "%dx%d", &width, &height);
    scaled = QSize(width, height);
    argv += 2;
    argc -= 2;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: vld_qt_read [--scaled WxH] FILE OUT.png | --formats\n");
    return 2;
  }
  QImageReader reader(QString::fromLocal8Bit(argv[1]));
  if (scaled.isValid()) reader.setScaledSize(scaled);
  const QByteArray format = reader.format();  // what the plugins say, before reading
  const QSize size = reader.size();
  QImage image = reader.read();
  if (image.isNull()) {
    std::fprintf(stderr, "vld_qt_read: %s\n", reader.errorString().toLocal8Bit().constData());
    return 1;
  }
  if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "vld_qt_read: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s %dx%d %dx%d\n", format.constData(), size.width(), size.height(), image.width(),
              image.height());
  return 0;
}
