// The raw side files end to end: plowview headless on the built-in simulator with "Log KAVO" and
// "Log Q0X" on keeps every frame it takes in the hour's .kavo file exactly as the simulator sent
// it, and stores the raw measurement file the simulator streams when asked; the hour's log opens
// with the receiver's configuration report, and plowview-replay of the .kavo file gives the same
// position and velocity lines as the live session.

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"
#include "program_path.h"
#include "support/temp_dir.h"
#include "text_lines.h"

namespace {

namespace fs = std::filesystem;

// The wire frames of the trace's TX lines ("TX 8F 93 14 ..."), rebuilt from the bytes traced.
std::vector<std::string> SentFrames(const std::string& trace) {
  std::vector<std::string> frames;
  std::istringstream in(trace);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("TX ", 0) != 0) continue;
    std::istringstream bytes(line.substr(3));
    std::vector<unsigned> values;
    for (std::string hex; bytes >> hex;)
      values.push_back(static_cast<unsigned>(std::stoul(hex, nullptr, 16)));
    if (values.empty()) continue;
    KavoPacket p;
    p.id = static_cast<std::uint8_t>(values[0]);
    p.length = static_cast<std::uint16_t>(values.size() - 1);
    for (std::size_t i = 1; i < values.size(); ++i) p.data[i - 1] = static_cast<std::uint8_t>(values[i]);
    std::uint8_t frame[kKavoMaxFrame];
    std::uint16_t n = 0;
    // The trailer is among the traced bytes already.
    if (!BuildFrame(p, frame, n, 0)) continue;
    frames.emplace_back(reinterpret_cast<const char*>(frame), n);
  }
  return frames;
}

// The frames of a raw packet log, as the parser splits them.
std::vector<std::string> FileFrames(const std::string& content) {
  std::vector<std::string> frames;
  CKavoParser parser(nullptr);
  KavoPacket p;
  for (char c : content) {
    parser.FeedByte(static_cast<std::uint8_t>(c));
    while (parser.TryPopPacket(p)) frames.emplace_back(reinterpret_cast<const char*>(p.raw), p.rawLength);
  }
  return frames;
}

std::size_t Find(const std::vector<std::string>& lines, const std::string& line) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == line) return i;
  return lines.size();
}

std::size_t FindPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind(prefix, 0) == 0) return i;
  return lines.size();
}

std::vector<std::string> PositionAndVelocity(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (line.rfind("P ", 0) == 0 || line.rfind("V ", 0) == 0) out.push_back(line);
  return out;
}

TEST(PlowviewRawFiles, KavoFileHoldsTheSentFramesAndTheStreamedFileArrives) {
  CTempDir dir;
  const fs::path logs = dir.Path() / "logs";
  fs::create_directories(logs);
  std::string content;
  for (int i = 0; i < 6000; ++i) content.push_back(static_cast<char>((i * 131 + i / 3) & 0xFF));
  const std::string source = dir / "rcv0107.q02";
  std::ofstream(source, std::ios::binary) << content;
  {
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nHighSpeedKavo=1\nm_LogData=1\nm_LoggingFolder=" << logs.string()
        << "\nm_LoggingPrefix=A_\nm_logOptions=" << (0x4000 | 0x2000 | 0x0200) << "\n";
  }
  QProcess process;
  process.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PLOWVIEW_SIMULATOR_ARGS",
             QString::fromStdString("--trace " + (dir / "trace.txt") +
                                    " --start-time 2026-01-07T14:10:00Z --rate 5 --q0x " + source));
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  process.setProcessEnvironment(env);
  process.start(Program("plowview"),
                {"--headless", "--simulate", "--config", QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(process.waitForStarted(5000));

  const fs::path streamed = logs / "rcv0107.q02";
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 60000 && process.state() != QProcess::NotRunning) {
    if (ReadWholeFile(streamed) == content) break;
    process.waitForFinished(250);
  }
  // A little more logging once the stream is over.
  process.waitForFinished(1500);
  ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
  ASSERT_TRUE(process.waitForFinished(15000));
  EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

  EXPECT_EQ(ReadWholeFile(streamed), content) << "streamed file incomplete";
  const std::string trace = ReadWholeFile(dir / "trace.txt");
  EXPECT_NE(trace.find("RX 8E 93 14 01 01"), std::string::npos);
  EXPECT_EQ(trace.find("RX 8E 93 14 01 01"), trace.rfind("RX 8E 93 14 01 01")) << "asked for once";
  EXPECT_NE(trace.find("RX 8E 93 14 01 00"), std::string::npos) << "stopped at the end of logging";

  // The .kavo file: the sent frames in order, byte for byte. Frames the logger dropped when it
  // emptied its queue after the configuration report leave one gap; from there on it took every
  // frame until it stopped.
  const std::string kavo = ReadWholeFile(logs / "A_6010714.kavo");
  const std::vector<std::string> inFile = FileFrames(kavo);
  const std::vector<std::string> sent = SentFrames(trace);
  ASSERT_GT(inFile.size(), 200u);
  std::size_t at = 0, gaps = 0, lastGapAt = 0;
  std::string rebuilt;
  for (std::size_t i = 0; i < inFile.size(); ++i) {
    std::size_t next = at;
    while (next < sent.size() && sent[next] != inFile[i]) ++next;
    ASSERT_LT(next, sent.size()) << "frame " << i << " of the file was never sent";
    if (i > 0 && next != at) {
      ++gaps;
      lastGapAt = i;
    }
    rebuilt += sent[next];
    at = next + 1;
  }
  EXPECT_EQ(rebuilt, kavo);
  EXPECT_LE(gaps, 1u);
  EXPECT_GT(inFile.size() - lastGapAt, 200u) << "the logging part is one run of frames";

  // The session's log: the header, the receiver's whole configuration (the configuration block
  // closed, the PV filter reply last), the set-up line, then the logging lines.
  const std::string log = ReadWholeFile(logs / "A_6010714.log");
  const std::vector<std::string> lines = SplitLines(log);
  ASSERT_GT(lines.size(), 6u) << log;
  EXPECT_EQ(lines[6], "* Machine ID         : 90") << log;
  const auto endBlock = Find(lines, "* -- End Config Block Parameters --");
  const auto pvLevel = Find(lines, "* PV filter level    : normal (0)");
  const auto configured = Find(lines, "* Receiver now configured for logrowan logging.");
  const auto firstP = FindPrefix(lines, "P ");
  ASSERT_LT(configured, lines.size()) << log;
  EXPECT_LT(endBlock, pvLevel);
  EXPECT_EQ(pvLevel + 1, configured) << "the PV filter lines end the report";
  EXPECT_LT(configured, firstP);
  for (std::size_t i = 6; i < configured; ++i) EXPECT_EQ(lines[i].rfind("* ", 0), 0u) << lines[i];
  // Every configuration request got a plausible reply: no value outside its table.
  EXPECT_EQ(log.find("Unknown ("), std::string::npos) << log;
  EXPECT_EQ(log.find("unknown ("), std::string::npos) << log;

  // plowview-replay of the session's .kavo gives the same position and velocity lines.
  QProcess replay;
  replay.start(Program("plowview-replay"), {"--log-dir", QString::fromStdString(dir / "replayed"), "--prefix",
                                            "A_", "--options", QString::number(0x4000 | 0x2000 | 0x0200),
                                            QString::fromStdString((logs / "A_6010714.kavo").string())});
  ASSERT_TRUE(replay.waitForFinished(30000));
  ASSERT_EQ(replay.exitCode(), 0) << replay.readAllStandardError().toStdString();
  const std::vector<std::string> live = PositionAndVelocity(lines);
  EXPECT_GE(live.size(), 10u);
  EXPECT_EQ(PositionAndVelocity(SplitLines(ReadWholeFile(dir.Path() / "replayed" / "A_6010714.log"))), live);
}

}  // namespace
