// plowview's window on the built-in simulator, saved with --screenshot: the picture must show the
// panel with its LCD lit by the receiver.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_path.h"
#include "support/temp_dir.h"

namespace {

// Just enough PNG to read what Qt writes: 8-bit RGB or RGBA, not interlaced.
struct Picture {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<std::uint8_t> pixels;  // rows of width * channels bytes

  struct Rgb {
    int r, g, b;
  };
  Rgb At(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * channels;
    return {pixels[i], pixels[i + 1], pixels[i + 2]};
  }
};

std::uint32_t Be32(const QByteArray& d, int at) {
  return (std::uint32_t(std::uint8_t(d[at])) << 24) | (std::uint32_t(std::uint8_t(d[at + 1])) << 16) |
         (std::uint32_t(std::uint8_t(d[at + 2])) << 8) | std::uint8_t(d[at + 3]);
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

bool ReadPng(const std::string& file, Picture& out) {
  const std::string bytes = ReadWholeFile(file);
  const QByteArray d(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (d.size() < 8 || !d.startsWith("\x89PNG\r\n\x1a\n")) return false;
  QByteArray idat;
  int at = 8;
  while (at + 12 <= d.size()) {
    const int length = static_cast<int>(Be32(d, at));
    const QByteArray type = d.mid(at + 4, 4);
    if (length < 0 || at + 12 + length > d.size()) return false;
    if (type == "IHDR") {
      out.width = static_cast<int>(Be32(d, at + 8));
      out.height = static_cast<int>(Be32(d, at + 12));
      const int depth = std::uint8_t(d[at + 16]);
      const int colour = std::uint8_t(d[at + 17]);
      const int interlace = std::uint8_t(d[at + 20]);
      if (depth != 8 || (colour != 2 && colour != 6) || interlace != 0) return false;
      out.channels = colour == 6 ? 4 : 3;
    } else if (type == "IDAT") {
      idat += d.mid(at + 8, length);
    }
    at += 12 + length;
  }
  if (out.width <= 0 || out.height <= 0) return false;
  const std::size_t stride = static_cast<std::size_t>(out.width) * out.channels;
  const std::size_t expected = (stride + 1) * out.height;
  // qUncompress takes the zlib stream behind a big-endian length.
  QByteArray framed(4, 0);
  for (int i = 0; i < 4; ++i) framed[i] = static_cast<char>((expected >> (24 - 8 * i)) & 0xFF);
  const QByteArray raw = qUncompress(framed + idat);
  if (static_cast<std::size_t>(raw.size()) != expected) return false;
  out.pixels.assign(stride * out.height, 0);
  const int bpp = out.channels;
  for (int y = 0; y < out.height; ++y) {
    const auto* line = reinterpret_cast<const std::uint8_t*>(raw.constData()) + y * (stride + 1);
    const int filter = line[0];
    std::uint8_t* row = out.pixels.data() + y * stride;
    const std::uint8_t* up = y > 0 ? row - stride : nullptr;
    for (std::size_t x = 0; x < stride; ++x) {
      const int a = x >= static_cast<std::size_t>(bpp) ? row[x - bpp] : 0;
      const int b = up ? up[x] : 0;
      const int c = (up && x >= static_cast<std::size_t>(bpp)) ? up[x - bpp] : 0;
      int predicted = 0;
      switch (filter) {
        case 0:
          predicted = 0;
          break;
        case 1:
          predicted = a;
          break;
        case 2:
          predicted = b;
          break;
        case 3:
          predicted = (a + b) / 2;
          break;
        case 4:
          predicted = Paeth(a, b, c);
          break;
        default:
          return false;
      }
      row[x] = static_cast<std::uint8_t>(line[1 + x] + predicted);
    }
  }
  return true;
}

QProcessEnvironment Environment(const CTempDir& dir) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // A real display (Xvfb) when there is one, else the offscreen platform.
  if (!env.contains("QT_QPA_PLATFORM") && !env.contains("DISPLAY"))
    env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.Path().string()));
  return env;
}

TEST(PlowviewScreenshot, SimulatedReceiver_PictureShowsTheLitLcd) {
  CTempDir dir;
  const std::string png = dir / "out.png";
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(Environment(dir));
  plowview.start(Program("plowview"), {"--simulate", "--screenshot", QString::fromStdString(png), "--config",
                                       QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(plowview.waitForStarted(5000));
  // The link comes up after the settle phase and the port take-over (about 7 s).
  ASSERT_TRUE(plowview.waitForFinished(30000)) << "no screenshot within 30 s";
  EXPECT_EQ(plowview.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(plowview.exitCode(), 0) << plowview.readAllStandardError().toStdString();

  Picture picture;
  ASSERT_TRUE(ReadPng(png, picture));
  // The window is the panel (422 x 187) below the menu bar.
  ASSERT_EQ(picture.width, 422);
  ASSERT_GE(picture.height, 187);
  const int top = picture.height - 187;
  long long sumR = 0, sumG = 0, sumB = 0, litDots = 0, pixels = 0;
  for (int y = 62; y < 62 + 63; ++y) {
    for (int x = 90; x < 90 + 242; ++x) {
      const auto c = picture.At(x, top + y);
      sumR += c.r;
      sumG += c.g;
      sumB += c.b;
      ++pixels;
      if (c.g > 200 && c.r < 100 && c.b < 100) ++litDots;
    }
  }
  // A lit, green glass, and the receiver's text on it in bright green dots.
  EXPECT_GT(sumG / pixels, 60);
  EXPECT_GT(sumG, 2 * sumR);
  EXPECT_GT(sumG, 2 * sumB);
  EXPECT_GT(litDots, 300) << "too few lit dots: the LCD shows no text";
  // The housing around it is dark.
  const auto corner = picture.At(30, top + 120);
  EXPECT_LT(corner.r + corner.g + corner.b, 3 * 110);
}

TEST(PlowviewScreenshot, UnwritablePath_ExitsNonZero) {
  CTempDir dir;
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(Environment(dir));
  plowview.start(Program("plowview"), {"--screenshot", QString::fromStdString(dir / "no/such/folder/out.png"),
                                       "--config", QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(plowview.waitForStarted(5000));
  // Nothing to connect to: the picture is taken after 3 s.
  ASSERT_TRUE(plowview.waitForFinished(15000));
  EXPECT_NE(plowview.exitCode(), 0);
  EXPECT_NE(plowview.readAllStandardError().indexOf("cannot write the screenshot"), -1);
}

}  // namespace
