// plowview-replay as a user runs it: raw packet logs made here frame by frame, the hourly text
// logs it writes checked line by line.

#include <gtest/gtest.h>

#include <QProcess>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"
#include "program_path.h"
#include "support/kavo_frame.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ReplayRun {
  int exitCode = -1;
  std::string out, err;
};

ReplayRun Replay(const QStringList& arguments) {
  QProcess p;
  p.start(Program("plowview-replay"), arguments);
  ReplayRun r;
  if (!p.waitForFinished(30000)) return r;
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

void PutBe(Bytes& b, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutF32(Bytes& b, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  PutBe(b, bits, 4);
}
void PutF64(Bytes& b, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  PutBe(b, bits, 8);
}

// The frame of a packet as the link received it (and the raw packet log keeps it).
Bytes Frame(std::uint8_t id, const Bytes& payload, int withChecksum = 0) {
  return KavoFrame(id, payload, withChecksum);
}

// GPS week 2400 (Wednesday 7 January 2026 is its day 3); UTC hour, minute, second of that day.
Bytes TimeFrame(int hour, int minute, int second) {
  const double utc = 3 * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
  Bytes d;
  PutF32(d, static_cast<float>(utc + 18.0));
  PutBe(d, 2400, 2);
  PutF32(d, 18.0f);
  return Frame(0x41, d);
}

Bytes LlaFrame(double fixTime) {
  Bytes d;
  PutF64(d, 0.9);
  PutF64(d, 0.2);
  PutF64(d, 101.5);
  PutF64(d, 3.25);
  PutF64(d, fixTime);
  return Frame(0x84, d);
}

std::string PLine(const char* fixTime) {
  return std::string("P ") + fixTime + " 51.566201562 11.459155903 101.500 XXXXX 3.250  \n";
}

Bytes DebugFrame(const std::string& text) {
  Bytes d{0x01};
  d.insert(d.end(), text.begin(), text.end());
  return Frame(0x5F, d);
}

void Append(Bytes& to, const Bytes& b) {
  to.insert(to.end(), b.begin(), b.end());
}

void WriteFile(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
}

std::string Header(const char* station, const char* utc) {
  char text[512];
  std::snprintf(text, sizeof text,
                "*********************************\n"
                "* LogRowan Version 3.20 A       *\n"
                "* File opened                   *\n"
                "* Station: %-20s *\n"
                "* UTC %s             *\n"
                "*********************************\n",
                station, utc);
  return text;
}

// Across an hour: a fix before the first time packet, the 14 h hour with a debug line, the time
// packet of 15 h and a fix after it. A fix time containing the byte 0x10 checks the unstuffing.
Bytes TwoHours() {
  Bytes kavo;
  Append(kavo, LlaFrame(313200.0));  // before any time: held for the first hour
  Append(kavo, TimeFrame(14, 59, 58));
  Append(kavo, LlaFrame(313216.0));
  Append(kavo, DebugFrame("antenna ok\r\n"));
  Append(kavo, TimeFrame(15, 0, 1));
  Append(kavo, LlaFrame(313219.5));
  return kavo;
}

TEST(PlowviewReplay, TwoHours_FilesNamedByHourCodeWithTheLiveLines) {
  CTempDir dir;
  Bytes kavo = TwoHours();
  // A frame cut off at the end of the file, as a killed session leaves it.
  const Bytes last = LlaFrame(313220.0);
  kavo.insert(kavo.end(), last.begin(), last.begin() + 20);
  WriteFile(dir / "A_6010714.kavo", kavo);

  const ReplayRun r = Replay(
      {"--log-dir", QString::fromStdString(dir / "logs"), QString::fromStdString(dir / "A_6010714.kavo")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, (dir / "logs/A_6010714.log") + "\n" + (dir / "logs/A_6010715.log") + "\n");
  EXPECT_EQ(ReadWholeFile(dir / "logs/A_6010714.log"),
            Header("A_", "01/07/2026 14") + PLine("313200.0") + PLine("313216.0") + "M antenna ok  \n");
  EXPECT_EQ(ReadWholeFile(dir / "logs/A_6010715.log"),
            Header("A_", "01/07/2026 15") + "* Manifest written\n" + PLine("313219.5"));
  EXPECT_EQ(r.err, "");
}

TEST(PlowviewReplay, SecondReplayOfAnHour_AppendsAfterANewHeader) {
  CTempDir dir;
  Bytes kavo;
  Append(kavo, TimeFrame(9, 10, 0));
  Append(kavo, LlaFrame(1.5));
  WriteFile(dir / "one.kavo", kavo);
  ASSERT_EQ(Replay({"--log-dir", QString::fromStdString(dir.Path().string()), "--prefix", "RS",
                    QString::fromStdString(dir / "one.kavo")})
                .exitCode,
            0);
  const ReplayRun again = Replay({"--log-dir", QString::fromStdString(dir.Path().string()), "--prefix", "RS",
                                  "--archive", QString::fromStdString(dir / "one.kavo")});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  const std::string once = Header("RS", "01/07/2026 09") + PLine("1.5");
  EXPECT_EQ(ReadWholeFile(dir / "RS6010709.log"), once + once);
}

TEST(PlowviewReplay, Archive_ClosedHourZippedOpenHourLeft) {
  CTempDir dir;
  WriteFile(dir / "two.kavo", TwoHours());
  // No settings file: the archive defaults zip the log and remove it after zipping.
  const ReplayRun r =
      Replay({"--log-dir", QString::fromStdString(dir / "logs"), "--archive", "--config",
              QString::fromStdString(dir / "Plowview.ini"), QString::fromStdString(dir / "two.kavo")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, (dir / "logs/A_6010714.log") + "\n" + (dir / "logs/A_6010715.log") + "\n");
  EXPECT_FALSE(ReadWholeFile(dir / "logs/A_6010714.zip").empty()) << r.err;
  EXPECT_TRUE(ReadWholeFile(dir / "logs/A_6010714.log").empty());
  // The last hour was not closed by another one: it stays, as a disconnect leaves it.
  EXPECT_EQ(ReadWholeFile(dir / "logs/A_6010715.log"),
            Header("A_", "01/07/2026 15") + "* Manifest written\n" + PLine("313219.5"));
}

TEST(PlowviewReplay, OptionsWord_NmeaKeptOnlyWithItsBit) {
  CTempDir dir;
  const std::string sentence = "$GPGGA,120000.00,5231.1232,N,01324.5678,E,2,08,0.9,74.2,M,40.1,M,,*5A\r\n";
  Bytes nmea{0x01, static_cast<std::uint8_t>(sentence.size())};
  nmea.insert(nmea.end(), sentence.begin(), sentence.end());
  Bytes kavo;
  Append(kavo, TimeFrame(12, 0, 0));
  Append(kavo, Frame(0x1A, nmea));
  WriteFile(dir / "n.kavo", kavo);
  const QString input = QString::fromStdString(dir / "n.kavo");
  ASSERT_EQ(Replay({"--log-dir", QString::fromStdString(dir / "off"), input}).exitCode, 0);
  ASSERT_EQ(Replay({"--log-dir", QString::fromStdString(dir / "on"), "--options", "0x100", input}).exitCode,
            0);
  EXPECT_EQ(ReadWholeFile(dir / "off/A_6010712.log"), Header("A_", "01/07/2026 12"));
  EXPECT_EQ(ReadWholeFile(dir / "on/A_6010712.log"),
            Header("A_", "01/07/2026 12") + sentence.substr(0, sentence.size() - 2) + "\n");
}

TEST(PlowviewReplay, BadInputAndCommandLine_ExitTwoAndWriteNothing) {
  CTempDir dir;
  WriteFile(dir / "good.kavo", TwoHours());
  const QString good = QString::fromStdString(dir / "good.kavo");
  const QString logs = QString::fromStdString(dir / "logs");

  const ReplayRun missing = Replay({"--log-dir", logs, good, QString::fromStdString(dir / "missing.kavo")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("missing.kavo: no such file"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out, "");
  EXPECT_TRUE(ReadWholeFile(dir / "logs/A_6010714.log").empty()) << "nothing written before the check";

  const ReplayRun folder = Replay({"--log-dir", logs, QString::fromStdString(dir.Path().string())});
  EXPECT_EQ(folder.exitCode, 2);
  EXPECT_NE(folder.err.find("not a regular file"), std::string::npos) << folder.err;

  for (const QStringList& bad : {QStringList{good}, QStringList{"--log-dir", logs}, QStringList{"--log-dir"},
                                 QStringList{"--log-dir", logs, "--options", "many", good},
                                 QStringList{"--log-dir", logs, "--prefix", "a/b", good},
                                 QStringList{"--log-dir", logs, "--frobnicate", good}}) {
    const ReplayRun r = Replay(bad);
    EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
    EXPECT_NE(r.err.find("Try 'plowview-replay --help'"), std::string::npos) << r.err;
  }
  const ReplayRun help = Replay({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--log-dir", "--prefix", "--options", "--archive", "--config"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST(PlowviewReplay, LogFolderCannotBeMade_ExitOne) {
  CTempDir dir;
  WriteFile(dir / "good.kavo", TwoHours());
  // A file where the folder would go: the folder cannot be made.
  WriteFile(dir / "taken", Bytes{1});
  const ReplayRun r =
      Replay({"--log-dir", QString::fromStdString(dir / "taken"), QString::fromStdString(dir / "good.kavo")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot make the log folder"), std::string::npos) << r.err;
}

// An hour's log that takes nothing (a link to a device that is always full): the replay says so
// once, writes the next hour, counts the loss in the hour's manifest, ends, and exits 1.
TEST(PlowviewReplay, LogThatCannotBeWritten_SaidCountedOtherHoursWrittenExitOne) {
  CTempDir dir;
  WriteFile(dir / "two.kavo", TwoHours());
  std::filesystem::create_directories(dir.Path() / "logs");
  const std::string full = dir / "logs/A_6010714.log";
  std::filesystem::create_symlink("/dev/full", full);
  const ReplayRun r =
      Replay({"--log-dir", QString::fromStdString(dir / "logs"), QString::fromStdString(dir / "two.kavo")});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err, "plowview-replay: cannot write " + full + ": No space left on device\n");
  const std::string manifest = ReadWholeFile(dir / "logs/A_6010714.manifest");
  EXPECT_NE(manifest.find("lost-lines: 9\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("sha256:"), std::string::npos) << manifest;
  EXPECT_EQ(ReadWholeFile(dir / "logs/A_6010715.log"),
            Header("A_", "01/07/2026 15") + "* 9 log lines could not be written\n* Manifest written\n" +
                PLine("313219.5"));
}

TEST(PlowviewReplay, NoTimePacket_NoFileAndTheLossReported) {
  CTempDir dir;
  Bytes kavo;
  Append(kavo, LlaFrame(10.0));
  Append(kavo, LlaFrame(11.0));
  WriteFile(dir / "notime.kavo", kavo);
  const ReplayRun r = Replay(
      {"--log-dir", QString::fromStdString(dir / "logs"), QString::fromStdString(dir / "notime.kavo")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("2 packets came before any time packet"), std::string::npos) << r.err;
}

}  // namespace
