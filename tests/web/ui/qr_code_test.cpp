#include "web/ui/qr_code.h"

#include <gtest/gtest.h>

namespace {

// Whether the module at (x, y), counted from the image's corner, is dark.
bool Dark(const QImage& image, int moduleSize, int x, int y) {
  return qGray(image.pixel(x * moduleSize + moduleSize / 2, y * moduleSize + moduleSize / 2)) < 128;
}

// The finder pattern whose top left module is (x, y): a dark ring, a light ring, a dark 3 x 3 core.
void ExpectFinder(const QImage& image, int moduleSize, int x, int y) {
  for (int i = 0; i < 7; ++i) {
    EXPECT_TRUE(Dark(image, moduleSize, x + i, y)) << x << "," << y;
    EXPECT_TRUE(Dark(image, moduleSize, x, y + i)) << x << "," << y;
    EXPECT_TRUE(Dark(image, moduleSize, x + 6, y + i)) << x << "," << y;
    EXPECT_TRUE(Dark(image, moduleSize, x + i, y + 6)) << x << "," << y;
  }
  for (int i = 1; i < 6; ++i) {
    EXPECT_FALSE(Dark(image, moduleSize, x + i, y + 1));
    EXPECT_FALSE(Dark(image, moduleSize, x + 1, y + i));
  }
  for (int dy = 2; dy < 5; ++dy)
    for (int dx = 2; dx < 5; ++dx) EXPECT_TRUE(Dark(image, moduleSize, x + dx, y + dy));
}

TEST(QrCode, ControlAddress_IsASquareCodeWithQuietZoneAndFinderPatterns) {
  const int moduleSize = 3;
  const QImage image = QrCodeImage("http://192.168.178.20:8021/?token=Ak1LfOUZ7QstNL7OFIl08A", moduleSize);
  ASSERT_FALSE(image.isNull());
  ASSERT_EQ(image.width(), image.height());
  ASSERT_EQ(image.width() % moduleSize, 0);
  const int modules = image.width() / moduleSize;
  const int symbol = modules - 8;
  // Versions 1-40 are 21 + 4 (version - 1) modules square.
  ASSERT_GE(symbol, 21);
  ASSERT_EQ((symbol - 21) % 4, 0) << symbol;
  for (int i = 0; i < modules; ++i) {
    for (int q = 0; q < 4; ++q) {
      EXPECT_FALSE(Dark(image, moduleSize, i, q));
      EXPECT_FALSE(Dark(image, moduleSize, q, i));
      EXPECT_FALSE(Dark(image, moduleSize, i, modules - 1 - q));
      EXPECT_FALSE(Dark(image, moduleSize, modules - 1 - q, i));
    }
  }
  ExpectFinder(image, moduleSize, 4, 4);
  ExpectFinder(image, moduleSize, 4 + symbol - 7, 4);
  ExpectFinder(image, moduleSize, 4, 4 + symbol - 7);
}

TEST(QrCode, TextBeyondTheLargestCodeOrNoModuleSize_GiveNoImage) {
  EXPECT_TRUE(QrCodeImage(QString(4000, 'x'), 2).isNull());
  EXPECT_TRUE(QrCodeImage("http://127.0.0.1:8021/", 0).isNull());
  EXPECT_FALSE(QrCodeImage("http://127.0.0.1:8021/", 1).isNull());
}

}  // namespace
