// plowplot: the log line parser and the series it gathers, then the program as the archiving
// chain runs it, with its PDF rendered back to an image by pdftoppm.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/plowplot/strip_chart_data.h"
#include "program_path.h"
#include "support/temp_dir.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Parsing

struct ParseCase {
  const char* line;
  LogLineFacts::Kind kind;
  double time = 0, latitude = 0, longitude = 0, height = 0, speed = 0;
  int satellites = 0;
  double pdop = 0;
  FixState state = FixState::Unknown;
};

using K = LogLineFacts::Kind;

TEST(PlowplotParseTest, LogLines_GiveTheirFacts) {
  const ParseCase cases[] = {
      {"P 345600.0 28.647889757 -57.295779513 123.457 MD ON 5.250  ", K::Position, 345600.0, 28.647889757,
       -57.295779513, 123.457, 0, 0, 0, FixState::Dgps},
      {"P 5.0 1.000000000 2.000000000 -3.500 AD OF 0.100  \n", K::Position, 5.0, 1.0, 2.0, -3.5, 0, 0, 0,
       FixState::Autonomous},
      {"P 1.0 28.647889757 -57.295779513 123.457 XXXXX 5.250  ", K::Position, 1.0, 28.647889757,
       -57.295779513, 123.457, 0, 0, 0, FixState::Unknown},
      // A point on the equator at 45 degrees east, on the ellipsoid.
      {"Z 9.0 4510023.924 4510023.924 0.000 MD OF 0.000  ", K::Position, 9.0, 0.0, 45.0, 0.0, 0, 0, 0,
       FixState::Autonomous},
      {"Z 9.0 3925401.140 -82225.432 5009743.424 MD ON 0.000  ", K::Position, 9.0, 52.1, -1.2, 123.4, 0, 0, 0,
       FixState::Dgps},
      {"V 100.0 5.0000 36.9 1.500", K::Velocity, 100.0, 0, 0, 0, 5.0},
      {"X 04 A3D 1.5 0.9 5 12 17 31 ", K::Selection, 0, 0, 0, 0, 0, 4, 1.5},
      {"X 00 A0D 0.0 0.0 ", K::Selection, 0, 0, 0, 0, 0, 0, 0.0},
      {"T 604805.0", K::TimeMark, 604805.0},
      {"R RTKSTATEINFO INITIALIZED 0x01 0x02 0x03 0.0010 0.0020 0.0030", K::RtkState, 0, 0, 0, 0, 0, 0, 0,
       FixState::RtkFixed},
      {"R RTKSTATEINFO FLOAT 0x00 0.120", K::RtkState, 0, 0, 0, 0, 0, 0, 0, FixState::RtkFloat},
      {"R RTKSTATEINFO SEARCHING 0x00 0x01 0x02 0x03", K::RtkState, 0, 0, 0, 0, 0, 0, 0, FixState::RtkFloat},
      {"R RTKSTATEINFO NORTKPOSITION 0x00", K::RtkState, 0, 0, 0, 0, 0, 0, 0, FixState::Unknown},
      // Lines the chart leaves out: guidance solutions, resets, damage, other line types.
      {"P 77.0 28.647889757 -57.295779513 10.000 MD ON 0.125 T", K::Other},
      {"P -1.0 28.647889757 -57.295779513 123.457 MD ON 5.250  ", K::Other},
      {"P 100.0 28.6 -57.2", K::Other},
      {"P 100.0 28.6x -57.2 1.0 MD ON 1.0  ", K::Other},
      {"P 100.0 128.6 -57.2 1.0 MD ON 1.0  ", K::Other},
      {"P 100.0 nan -57.2 1.0 MD ON 1.0  ", K::Other},
      {"P 100.0 28.6 -57.2 1.0 QQ ON 1.0  ", K::Other},
      {"Z 5.0 0.000 0.000 0.000 MD ON 0.000  ", K::Other},
      {"V NAN 3f a a a a a a a a a a a a a a a 49 f4 24 0 ", K::Other},
      {"V 100.0 -1.0 36.9 1.500", K::Other},
      {"X 13 A3D 1.5 0.9 1 2 3 4 5 6 7 8 9 10 11 12 13 ", K::Other},
      {"R RTKROVERSTATE 0x02 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 05 0x00 0x00", K::Other},
      {"* Reset Detected - 84", K::Other},
      {"* UTC 13/16/2027 14             *", K::Other},
      {"J 1000.0 3 RTK-FIXED 0x0 0 28.6 -57.2 10.000 0.010 0.010 0.020 1.2 0.5", K::Other},
      {"", K::Other},
      {"P", K::Other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    LogLineFacts f;
    EXPECT_EQ(ParseLogLine(c.line, f), c.kind != K::Other);
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_DOUBLE_EQ(f.time, c.time);
    EXPECT_NEAR(f.latitude, c.latitude, 1e-8);
    EXPECT_NEAR(f.longitude, c.longitude, 1e-8);
    EXPECT_NEAR(f.height, c.height, 1e-3);
    EXPECT_DOUBLE_EQ(f.speed, c.speed);
    EXPECT_EQ(f.satellites, c.satellites);
    EXPECT_DOUBLE_EQ(f.pdop, c.pdop);
    EXPECT_EQ(f.state, c.state);
  }
}

TEST(PlowplotParseTest, HeaderLines_GiveStationAndUtcHour) {
  LogLineFacts f;
  ASSERT_TRUE(ParseLogLine("* Station: NORTH FIELD 2        *\n", f));
  EXPECT_EQ(f.kind, K::Station);
  EXPECT_EQ(f.station, "NORTH FIELD 2");
  ASSERT_TRUE(ParseLogLine("* UTC 03/16/2027 14             *", f));
  EXPECT_EQ(f.kind, K::UtcDate);
  EXPECT_EQ(f.year, 2027);
  EXPECT_EQ(f.month, 3);
  EXPECT_EQ(f.day, 16);
  EXPECT_EQ(f.hour, 14);
  EXPECT_FALSE(ParseLogLine("*********************************", f));
  EXPECT_FALSE(ParseLogLine("* Station:  *", f));
  EXPECT_EQ(f.kind, K::Other);  // a fuzz finding: a refused station line said it was one
}

// ---------------------------------------------------------------------------------------------
// Gathering

StripChartData Collect(const std::string& text) {
  std::istringstream in(text);
  CStripChartCollector collector;
  EXPECT_TRUE(collector.AddStream(in));
  return collector.Data();
}

std::vector<double> Xs(const std::vector<ChartPoint>& points) {
  std::vector<double> xs;
  for (const auto& p : points) xs.push_back(p.x);
  return xs;
}

TEST(PlowplotCollectTest, UntimedLines_TakeTheLastTime) {
  const StripChartData d = Collect(
      "X 05 A3D 2.0 1.0 1 2 3 4 5 \n"  // before any time: dropped
      "T 50400.0\n"
      "X 06 A3D 1.8 1.0 1 2 3 4 5 6 \n"
      "P 50401.0 1.0 2.0 3.000 MD ON 0.0  \n"
      "X 07 A3D 1.6 1.0 1 2 3 4 5 6 7 \n");
  EXPECT_EQ(Xs(d.satellites), (std::vector<double>{50400.0, 50401.0}));
  ASSERT_EQ(d.pdop.size(), 2u);
  EXPECT_DOUBLE_EQ(d.pdop[1].y, 1.6);
  EXPECT_DOUBLE_EQ(d.satellites[1].y, 7);
}

TEST(PlowplotCollectTest, MidnightAndWeekEnd_KeepTimeRunning) {
  // Saturday 23:59:58 GPS, then the first seconds of the next week.
  const StripChartData d = Collect(
      "P 604798.0 1.0 2.0 3.000 MD ON 0.0  \n"
      "V 604799.0 1.0000 0.0 0.000\n"
      "P 0.0 1.0 2.0 3.000 MD ON 0.0  \n"
      "P 1.0 1.0 2.0 3.000 MD ON 0.0  \n");
  EXPECT_EQ(Xs(d.height), (std::vector<double>{86398.0, 86400.0, 86401.0}));
  EXPECT_EQ(Xs(d.speed), (std::vector<double>{86399.0}));
}

TEST(PlowplotCollectTest, RtkState_HoldsTenSecondsThenTheDgpsModeShows) {
  const StripChartData d = Collect(
      "P 100.0 1.0 2.0 3.000 MD ON 0.0  \n"
      "R RTKSTATEINFO FLOAT 0x00 0.120\n"
      "P 105.0 1.0 2.0 3.000 MD ON 0.0  \n"
      "P 110.0 1.0 2.0 3.000 MD ON 0.0  \n"
      "P 111.0 1.0 2.0 3.000 MD OF 0.0  \n"
      "R RTKSTATEINFO INITIALIZED 0x01 0x02 0x03 0.0010 0.0020 0.0030\n"
      "P 112.0 1.0 2.0 3.000 MD ON 0.0  \n"
      "R RTKSTATEINFO NORTKPOSITION 0x00\n"
      "P 113.0 1.0 2.0 3.000 MD ON 0.0  \n");
  std::vector<FixState> states;
  for (const auto& s : d.states) states.push_back(s.state);
  EXPECT_EQ(states, (std::vector<FixState>{FixState::Dgps, FixState::RtkFloat, FixState::RtkFloat,
                                           FixState::Autonomous, FixState::RtkFixed, FixState::Dgps}));
}

TEST(PlowplotCollectTest, OverlongLineAndMissingLastLineEnd_ReadSafely) {
  const StripChartData d = Collect("* Station: A *\n" + std::string(5000, 'P') +
                                   "\n"
                                   "P 10.0 1.0 2.0 3.000 MD ON 0.0  \n"
                                   "P 11.0 1.0 2.0 4.000 MD ON 0.0  ");
  EXPECT_EQ(d.station, "A");
  EXPECT_EQ(d.linesTooLong, 1);
  ASSERT_EQ(d.height.size(), 2u);
  EXPECT_DOUBLE_EQ(d.height[1].y, 4.0);
}

// ---------------------------------------------------------------------------------------------
// The program

struct RunResult {
  bool finished = false;
  int exitCode = -1;
  std::string out, err;
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     int timeoutMs = 60000) {
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  QProcess process;
  process.start(QString::fromStdString(program), list);
  RunResult r;
  if (!process.waitForStarted(10000)) return r;
  r.finished = process.waitForFinished(timeoutMs);
  if (!r.finished) {
    process.kill();
    process.waitForFinished(5000);
  }
  r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  r.out = process.readAllStandardOutput().toStdString();
  r.err = process.readAllStandardError().toStdString();
  return r;
}

RunResult Plot(const std::vector<std::string>& args) {
  return RunProgram(ProgramPath("plowplot"), args);
}

std::vector<std::string> PlotArgs(const std::string& log, const std::string& scale = "") {
  return {"-f", log, "-s", scale, "-t", "2", "-q", "0"};
}

const char kHeader[] =
    "*********************************\n"
    "* LogRowan Version 3.20 A       *\n"
    "* File opened                   *\n"
    "* Station: NORTHFIELD           *\n"
    "* UTC 03/16/2027 14             *\n"
    "*********************************\n";

// Four minutes from 14:00:18 GPS: autonomous, then DGPS, then RTK fixed, with a slow height swing.
std::string SmallLog() {
  std::string log = kHeader;
  char line[160];
  const double start = 4 * 86400.0 + 14 * 3600.0 + 18;
  for (int i = 0; i < 240; ++i) {
    const double t = start + i;
    if (i % 5 == 0) {
      std::snprintf(line, sizeof line, "T %.1f\n", t);
      log += line;
    }
    if (i >= 160) log += "R RTKSTATEINFO INITIALIZED 0x01 0x02 0x03 0.0010 0.0020 0.0030\n";
    std::snprintf(line, sizeof line, "P %.1f 52.100000000 -1.200000000 %.3f %s 5.250  \n", t,
                  123.4 + 0.8 * std::sin(i / 30.0), i < 80 ? "MD OF" : "MD ON");
    log += line;
    std::snprintf(line, sizeof line, "V %.1f %.4f 90.0 0.010\n", t, 2.5 + 2 * std::sin(i / 40.0));
    log += line;
    std::snprintf(line, sizeof line, "X %02d A3D %.1f 0.9 1 2 3 4 5 6 7 8 \n", 8,
                  1.6 + 0.4 * std::cos(i / 50.0));
    log += line;
  }
  return log;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string PdfText(const std::string& pdf) {
  const RunResult r = RunProgram("pdftotext", {"-layout", pdf, "-"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

// An 8-bit RGB or grey PNG, non-interlaced, as pdftoppm writes it; false for anything else.
struct Image {
  int width = 0, height = 0, channels = 0;
  std::vector<std::uint8_t> pixels;
};

std::uint32_t Be32(const std::string& s, std::size_t at) {
  return (std::uint32_t(std::uint8_t(s[at])) << 24) | (std::uint32_t(std::uint8_t(s[at + 1])) << 16) |
         (std::uint32_t(std::uint8_t(s[at + 2])) << 8) | std::uint32_t(std::uint8_t(s[at + 3]));
}

bool DecodePng(const std::string& png, Image& image) {
  if (png.size() < 8 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
  QByteArray zlib;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = Be32(png, at);
    if (length > png.size() - at - 12) return false;
    const std::string type = png.substr(at + 4, 4);
    if (type == "IHDR") {
      if (length != 13 || png[at + 16] != 8 || png[at + 20] != 0 || png[at + 18] != 0 || png[at + 19] != 0)
        return false;
      image.width = static_cast<int>(Be32(png, at + 8));
      image.height = static_cast<int>(Be32(png, at + 12));
      image.channels = png[at + 17] == 2 ? 3 : png[at + 17] == 0 ? 1 : 0;
    } else if (type == "IDAT") {
      zlib.append(png.data() + at + 8, length);
    }
    at += 12 + length;
  }
  if (image.channels == 0 || image.width <= 0 || image.height <= 0 || image.width > 10000 ||
      image.height > 10000)
    return false;
  const int stride = image.width * image.channels;
  const qsizetype expected = qsizetype(image.height) * (stride + 1);
  // qUncompress wants the expected size in front of the zlib stream.
  QByteArray sized(4, '\0');
  sized[0] = char(expected >> 24), sized[1] = char(expected >> 16), sized[2] = char(expected >> 8),
  sized[3] = char(expected);
  const QByteArray raw = qUncompress(sized + zlib);
  if (raw.size() != expected) return false;
  image.pixels.assign(std::size_t(image.height) * stride, 0);
  const int bpp = image.channels;
  for (int row = 0; row < image.height; ++row) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(raw.constData()) + qsizetype(row) * (stride + 1);
    std::uint8_t* out = image.pixels.data() + std::size_t(row) * stride;
    const std::uint8_t* up = row > 0 ? out - stride : nullptr;
    for (int i = 0; i < stride; ++i) {
      const int a = i >= bpp ? out[i - bpp] : 0, b = up ? up[i] : 0, c = (up && i >= bpp) ? up[i - bpp] : 0;
      int predicted = 0;
      switch (in[0]) {
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
        case 4: {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
          break;
        }
        default:
          return false;
      }
      out[i] = std::uint8_t(in[1 + i] + predicted);
    }
  }
  return true;
}

struct PageLook {
  double inkShare = 0;  // share of pixels that are not near-white
  bool hasRed = false, hasOrange = false, hasGreen = false;
};

PageLook Render(const CTempDir& dir, const std::string& pdf) {
  PageLook look;
  const RunResult r =
      RunProgram("pdftoppm", {"-png", "-r", "40", "-f", "1", "-l", "1", "-singlefile", pdf, dir / "page"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  Image image;
  EXPECT_TRUE(DecodePng(ReadWholeFile(dir / "page.png"), image))
      << "page.png is not an image pdftoppm writes";
  if (image.channels != 3) return look;
  std::size_t ink = 0;
  for (std::size_t i = 0; i + 2 < image.pixels.size(); i += 3) {
    const int r = image.pixels[i], g = image.pixels[i + 1], b = image.pixels[i + 2];
    if (r < 230 || g < 230 || b < 230) ++ink;
    look.hasRed |= r > 180 && g < 90 && b < 90;
    look.hasOrange |= r > 220 && g > 140 && g < 200 && b < 130;
    look.hasGreen |= g > r + 60 && g > b + 30;
  }
  look.inkShare = double(ink) / (image.pixels.size() / 3);
  return look;
}

TEST(PlowplotTest, SmallLog_GivesPdfWithTitleSeriesAndStates) {
  CTempDir dir;
  const std::string log = dir / "N7031614.log";
  WriteText(log, SmallLog());
  const RunResult r = Plot(PlotArgs(log));
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pdf = dir / "N7031614.pdf";
  EXPECT_EQ(r.out, "plowplot: wrote " + pdf +
                       ": 240 positions, 240 velocities, 240 satellite selections, 240 states\n");
  ASSERT_TRUE(std::filesystem::exists(pdf));
  EXPECT_EQ(ReadWholeFile(pdf).substr(0, 5), "%PDF-");

  const std::string text = PdfText(pdf);
  EXPECT_NE(text.find("Station NORTHFIELD"), std::string::npos) << text;
  EXPECT_NE(text.find("16 Mar 2027, 14:00"), std::string::npos) << text;
  EXPECT_NE(text.find("Height (m)"), std::string::npos) << text;
  EXPECT_NE(text.find("PDOP"), std::string::npos) << text;
  EXPECT_NE(text.find("14:02"), std::string::npos) << text;  // a time-of-day tick
  EXPECT_EQ(text.find("No position lines"), std::string::npos) << text;

  const PageLook look = Render(dir, pdf);
  EXPECT_GT(look.inkShare, 0.03);
  EXPECT_TRUE(look.hasRed) << "autonomous stretch missing from the band";
  EXPECT_TRUE(look.hasOrange) << "DGPS stretch missing from the band";
  EXPECT_TRUE(look.hasGreen) << "RTK fixed stretch missing from the band";
}

TEST(PlowplotTest, WindowsStyleTokensAndScales_AllGiveAPdf) {
  CTempDir dir;
  const std::string log = dir / "N7031614.log";
  WriteText(log, SmallLog());
  const std::string pdf = dir / "N7031614.pdf";
  struct Case {
    std::vector<std::string> args;
    const char* inText;
    bool warns;
  };
  const Case cases[] = {
      {{" -f", log, " -s ", "4", " -t 2", " -q 0"}, "height scale 4 m", false},
      {{"-f", log, "-s", "-t", "2", "-q", "0"}, "height scale automatic", false},
      {{"-f", log, "-s", "xxx", "-t", "2", "-q", "1"}, "height scale automatic", true},
      {{"-f", log, "-s", "-3", "-t", "2", "-q", "0"}, "height scale automatic", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[3]);
    std::filesystem::remove(pdf);
    const RunResult r = Plot(c.args);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("plowplot: height scale"), c.warns ? 0u : std::string::npos) << r.err;
    ASSERT_TRUE(std::filesystem::exists(pdf));
    EXPECT_NE(PdfText(pdf).find(c.inText), std::string::npos);
  }
}

TEST(PlowplotTest, LogWithoutPositionLines_GivesPdfSayingSo) {
  CTempDir dir;
  const std::string log = dir / "N7031615.log";
  WriteText(log, std::string(kHeader) +
                     "T 396000.0\n* Receiver now configured for logrowan logging.\nH Positioning;\n");
  const RunResult r = Plot(PlotArgs(log));
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string pdf = dir / "N7031615.pdf";
  ASSERT_TRUE(std::filesystem::exists(pdf));
  const std::string text = PdfText(pdf);
  EXPECT_NE(text.find("No position lines in this log"), std::string::npos) << text;
  EXPECT_NE(text.find("Station NORTHFIELD"), std::string::npos) << text;
  EXPECT_GT(Render(dir, pdf).inkShare, 0.005);

  // Without even a header, the title comes from the file name: prefix and hour code.
  const std::string bare = dir / "FIELD7031609.log";
  WriteText(bare, "");
  ASSERT_EQ(Plot(PlotArgs(bare)).exitCode, 0);
  const std::string bareText = PdfText(dir / "FIELD7031609.pdf");
  EXPECT_NE(bareText.find("Station FIELD"), std::string::npos) << bareText;
  EXPECT_NE(bareText.find("16 Mar"), std::string::npos) << bareText;
  EXPECT_NE(bareText.find("09:00"), std::string::npos) << bareText;
}

TEST(PlowplotTest, AbsurdValues_StillFinishWithAPdf) {
  // Heights whose spread vanishes beside their size once hung the axis ticks; a time jump of days
  // stretches the time axis as far as it can go.
  CTempDir dir;
  std::string log = kHeader;
  for (int i = 0; i < 50; ++i)
    log += "P " + std::to_string(1000 + i) + ".0 1.0 2.0 " + (i % 2 ? "1e17" : "100000000000000001") +
           " MD ON 0.0  \n";
  log += "P 500000.0 1.0 2.0 5.0 MD ON 0.0  \nV 600000.0 1e300 0.0 0.0\nX 12 A3D 1e300 0.9 \n";
  WriteText(dir / "N7031614.log", log);
  const RunResult r = RunProgram(ProgramPath("plowplot"), PlotArgs(dir / "N7031614.log"), 20000);
  ASSERT_TRUE(r.finished) << "plowplot hung on absurd values";
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "N7031614.pdf"));
}

TEST(PlowplotTest, UnreadableLogOrBadCommandLine_ExitsNonZeroWithoutPdf) {
  CTempDir dir;
  std::filesystem::create_directory(dir / "folder.log");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const Case cases[] = {
      {PlotArgs(dir / "missing.log"), 1},          {PlotArgs(dir / "folder.log"), 1},
      {{"-s", "", "-t", "2", "-q", "0"}, 2},       {{"-f", dir / "missing.log", "-t", "3"}, 2},
      {{"-f", dir / "missing.log", "-q", "x"}, 2}, {{"-f", dir / "missing.log", "--bogus"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const RunResult r = Plot(c.args);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.err.rfind("plowplot: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.pdf"));
  EXPECT_FALSE(std::filesystem::exists(dir / "folder.pdf"));
}

}  // namespace
