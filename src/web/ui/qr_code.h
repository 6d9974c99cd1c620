#pragma once

#include <QImage>
#include <QString>

// `text` as a QR code (error correction level M, 8-bit mode) in black on white with the standard
// quiet zone of four modules, each module `moduleSize` pixels square. A null image when the text
// does not fit a QR code (more than about 2,300 bytes) or `moduleSize` is below 1.
QImage QrCodeImage(const QString& text, int moduleSize);
