// The Qt 6 image format plugin for four-colour pictures (keys vld and tft),
// so that QImageReader, and every Qt or KDE program reading images through
// it, opens them.
#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QSize>
#include <QVariant>

#include <cstdint>
#include <cstring>

#include "vld.h"

namespace {

bool looks_like_picture(QIODevice *device) {
  return device != nullptr && device->peek(4) == QByteArray("HK03", 4);
}

// Reads the rest of the device, but no more than the library would accept.
bool read_all(QIODevice *device, QByteArray *bytes) {
  const qint64 limit = static_cast<qint64>(VLD_MAX_FILE_BYTES);
  char chunk[65536];
  for (;;) {
    qint64 got = device->read(chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    if (bytes->size() + got >= limit) return false;
    bytes->append(chunk, static_cast<qsizetype>(got));
  }
}

class VldHandler : public QImageIOHandler {
 public:
  bool canRead() const override {
    if (!looks_like_picture(device())) return false;
    setFormat("vld");
    return true;
  }

  // The size from the header alone, so that readers can plan before reading:
  // magic, comment up to 0x1A, format byte, anchor x and y, width, height.
  bool supportsOption(ImageOption option) const override { return option == Size; }
  QVariant option(ImageOption option) const override {
    if (option != Size || device() == nullptr) return {};
    const QByteArray head = device()->peek(64 * 1024);
    const qsizetype end = head.indexOf('\x1a', 4);
    if (!head.startsWith("HK03") || end < 0 || head.size() < end + 10) return {};
    auto word = [&](qsizetype at) {
      return (static_cast<uchar>(head[at]) << 8) | static_cast<uchar>(head[at + 1]);
    };
    return QSize(word(end + 6), word(end + 8));
  }

  bool read(QImage *image) override {
    QByteArray bytes;
    if (!read_all(device(), &bytes)) return false;
    vld_picture picture;
    if (vld_decode(bytes.constData(), static_cast<size_t>(bytes.size()), &picture) != VLD_OK)
      return false;
    // Within the reader's allocation limit, which the user may have set.
    QImage result;
    if (!allocateImage(QSize(static_cast<int>(picture.width), static_cast<int>(picture.height)),
                       QImage::Format_Indexed8, &result)) {
      vld_picture_free(&picture);
      return false;
    }
    QList<QRgb> colours;
    for (uint16_t word : picture.palette) {
      uint8_t rgb[3];
      vld_rgb(word, rgb);
      colours.append(qRgb(rgb[0], rgb[1], rgb[2]));
    }
    result.setColorTable(colours);
    for (uint32_t y = 0; y < picture.height; y++)
      std::memcpy(result.scanLine(static_cast<int>(y)),
                  picture.indices + static_cast<size_t>(y) * picture.width, picture.width);
    vld_picture_free(&picture);
    *image = result;
    return true;
  }
};

}  // namespace

class VldPlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "vld.json")

 public:
  Capabilities capabilities(QIODevice *device, const QByteArray &format) const override {
    if (format == "vld" || format == "tft") return CanRead;
    if (!format.isEmpty()) return {};
    if (device != nullptr && device->isReadable() && looks_like_picture(device)) return CanRead;
    return {};
  }

  QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override {
    QImageIOHandler *handler = new VldHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("vld") : format);
    return handler;
  }
};

#include "vld_imageio.moc"
