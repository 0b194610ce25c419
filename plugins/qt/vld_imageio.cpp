// The Qt 6 image format plugin for four-colour pictures (keys vld and tft),
// so that QImageReader, and every Qt or KDE program reading images through
// it, opens them.
#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QSize>
#include <QVariant>

#include <climits>
#include <cstdint>
#include <cstring>

#include "vld.h"
#include "vld.hpp"
#include "vld_rows.h"

namespace {

bool looks_like_picture(QIODevice *device) {
  return device != nullptr && device->peek(4) == QByteArray("HK03", 4);
}

// Reads the rest of the device, but no more than the library would accept;
// nullptr, or why not.
const char *read_all(QIODevice *device, QByteArray *bytes) {
  const qint64 limit = static_cast<qint64>(VLD_MAX_FILE_BYTES);
  char chunk[65536];
  for (;;) {
    qint64 got = device->read(chunk, sizeof chunk);
    if (got < 0) return "cannot be read";
    if (got == 0) return nullptr;
    if (bytes->size() + got >= limit) return vld_error_text(VLD_ERROR_TOO_LARGE);
    bytes->append(chunk, static_cast<qsizetype>(got));
  }
}

int copy_row(void *user, uint32_t y, const uint8_t *indices) {
  QImage *image = static_cast<QImage *>(user);
  std::memcpy(image->scanLine(static_cast<int>(y)), indices, static_cast<size_t>(image->width()));
  return 0;
}

// Qt 6.4 gives a handler no way to set the reader's error text, so the
// library's reason goes to the log.
void warn(const char *file_name, const char *reason) {
  qWarning("Cannot read HK03 picture %s: %s", file_name, reason);
}

class VldHandler : public QImageIOHandler {
 public:
  bool canRead() const override {
    if (!looks_like_picture(device())) return false;
    setFormat("vld");
    return true;
  }

  // The size from the header alone, so that readers can plan before
  // reading; and pictures made at the size the reader asks, row by row.
  bool supportsOption(ImageOption option) const override {
    return option == Size || option == ScaledSize;
  }
  void setOption(ImageOption option, const QVariant &value) override {
    if (option == ScaledSize) scaled_size_ = value.toSize();
  }
  QVariant option(ImageOption option) const override {
    if (option == ScaledSize) return scaled_size_;
    if (option != Size || device() == nullptr) return {};
    const QByteArray head = device()->peek(64 * 1024);
    vld_picture header;
    if (vld_info(head.constData(), static_cast<size_t>(head.size()), &header) != VLD_OK) return {};
    return QSize(static_cast<int>(header.width), static_cast<int>(header.height));
  }

  bool read(QImage *image) override {
    const QByteArray name = file_name();
    QByteArray bytes;
    if (const char *reason = read_all(device(), &bytes)) {
      warn(name.constData(), reason);
      return false;
    }
    const size_t size = static_cast<size_t>(bytes.size());
    vld_details details = vld::Details();
    vld_picture header;
    if (vld_info(bytes.constData(), size, &header) != VLD_OK) {
      vld::Picture refused;
      vld_decode_ex(bytes.constData(), size, refused.get(), &details);
      warn(name.constData(), details.reason);
      return false;
    }
    const QSize full(static_cast<int>(header.width), static_cast<int>(header.height));
    QSize want = scaled_size_;
    // A reader that names one side only keeps the picture's proportions.
    if (want.isEmpty() && (want.width() > 0 || want.height() > 0))
      want = full.scaled(want.width() > 0 ? want.width() : INT_MAX,
                         want.height() > 0 ? want.height() : INT_MAX, Qt::KeepAspectRatio)
                 .expandedTo(QSize(1, 1));
    const bool scaled = !want.isEmpty() && want != full;
    // Within the reader's allocation limit, which the user may have set,
    // before anything is decoded.
    QImage result;
    if (!allocateImage(scaled ? want : full,
                       scaled ? QImage::Format_RGB888 : QImage::Format_Indexed8, &result)) {
      warn(name.constData(), "over the reader's allocation limit");
      return false;
    }
    int code;
    if (scaled) {
      code = vld_rows_to_rgb(bytes.constData(), size, static_cast<uint32_t>(result.width()),
                             static_cast<uint32_t>(result.height()), result.bits(),
                             static_cast<size_t>(result.bytesPerLine()), &details);
    } else {
      QList<QRgb> colours;
      for (uint16_t word : header.palette) {
        uint8_t rgb[3];
        vld_rgb(word, rgb);
        colours.append(qRgb(rgb[0], rgb[1], rgb[2]));
      }
      result.setColorTable(colours);
      code = vld_decode_rows(bytes.constData(), size, nullptr, copy_row, &result, &details);
    }
    if (code != VLD_OK) {
      warn(name.constData(), details.reason);
      return false;
    }
    *image = result;
    return true;
  }

 private:
  QByteArray file_name() const {
    const QFileDevice *file = qobject_cast<const QFileDevice *>(device());
    return file != nullptr ? file->fileName().toLocal8Bit() : QByteArray("(stream)");
  }

  QSize scaled_size_;
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
