#include "web/ui/qr_code.h"

#include <qrencode.h>

#include <algorithm>
#include <memory>

QImage QrCodeImage(const QString& text, int moduleSize) {
  if (moduleSize < 1) return {};
  const QByteArray bytes = text.toUtf8();
  const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeData(static_cast<int>(bytes.size()),
                        reinterpret_cast<const unsigned char*>(bytes.constData()), 0, QR_ECLEVEL_M),
      &QRcode_free);
  if (!code) return {};
  constexpr int kQuietZone = 4;
  const int modules = code->width + 2 * kQuietZone;
  QImage image(modules * moduleSize, modules * moduleSize, QImage::Format_Grayscale8);
  image.fill(Qt::white);
  for (int y = 0; y < code->width; ++y) {
    for (int x = 0; x < code->width; ++x) {
      // Bit 0 of each module's byte is its colour: 1 dark.
      if ((code->data[y * code->width + x] & 1) == 0) continue;
      for (int dy = 0; dy < moduleSize; ++dy) {
        uchar* line = image.scanLine((y + kQuietZone) * moduleSize + dy);
        std::fill_n(line + (x + kQuietZone) * moduleSize, moduleSize, uchar(0));
      }
    }
  }
  return image;
}
