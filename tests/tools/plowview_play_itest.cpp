// Playback of a raw packet log: a live session on the simulator, logged with the raw packet log
// on, is played back headless, and the panel shows the same rows at the same GPS times.

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "program_path.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The panel rows at the end of each played second: "gps: " line text -> rows when the next
// "gps: " line came. The last second of the output is left out (it may be cut short).
struct RowsBySecond {
  std::map<std::string, std::pair<std::string, std::string>> rows;
  std::vector<std::string> order;
};

RowsBySecond ParseOutput(const std::string& text) {
  RowsBySecond result;
  std::string current;
  std::string row[2];
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("gps: ", 0) == 0) {
      if (!current.empty() && line.substr(5) != current) {
        result.rows[current] = {row[0], row[1]};
        result.order.push_back(current);
      }
      current = line.substr(5);
    } else if (line.rfind("lcd 0: ", 0) == 0) {
      row[0] = line.substr(7);
    } else if (line.rfind("lcd 1: ", 0) == 0) {
      row[1] = line.substr(7);
    }
  }
  return result;
}

int CountLines(const std::string& text, const std::string& start) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) n += line.rfind(start, 0) == 0 ? 1 : 0;
  return n;
}

TEST(PlowviewPlay, PlaybackShowsTheLiveRowsAtTheSameGpsTimes) {
  CTempDir dir;
  fs::create_directories(dir.Path() / "logs");
  {
    std::ofstream ini(dir / "Plowview.ini");
    // Logging with the raw packet log (0x4000) beside the text log.
    ini << "[Connect]\nHighSpeedKavo=1\nm_LogData=1\nm_LoggingFolder=" << (dir / "logs")
        << "\nm_LoggingPrefix=A_\nm_logOptions=" << (529 | 0x4000) << "\n";
  }
  QProcess live;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PLOWVIEW_SIMULATOR_ARGS", "--start-time 2026-01-07T14:10:00Z");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  live.setProcessEnvironment(env);
  live.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  live.start(Program("plowview"), {"--headless", "--simulate", "--print-log", "--config",
                                   QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(live.waitForStarted(5000));
  // The logger's set-up waits out its 10 s configuration time-out; then a time packet a second.
  std::string liveOut;
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 60000 && live.state() != QProcess::NotRunning) {
    live.waitForReadyRead(250);
    liveOut += live.readAllStandardOutput().toStdString();
    if (CountLines(liveOut, "gps: ") >= 10) break;
  }
  ::kill(static_cast<pid_t>(live.processId()), SIGTERM);
  ASSERT_TRUE(live.waitForFinished(15000));
  liveOut += live.readAllStandardOutput().toStdString();
  ASSERT_GE(CountLines(liveOut, "gps: "), 10) << liveOut << live.readAllStandardError().toStdString();

  const fs::path kavo = dir.Path() / "logs" / "A_6010714.kavo";
  ASSERT_TRUE(fs::exists(kavo)) << liveOut;

  QProcess play;
  play.setProcessEnvironment(env);
  play.start(Program("plowview"),
             {"--headless", "--play", QString::fromStdString(kavo.string()), "--speed", "0", "--print-log"});
  ASSERT_TRUE(play.waitForFinished(30000));
  EXPECT_EQ(play.exitCode(), 0) << play.readAllStandardError().toStdString();
  const std::string playOut = play.readAllStandardOutput().toStdString();
  // The receiver's title and the log lines come back too.
  EXPECT_NE(playOut.find("title: Plowview ["), std::string::npos) << playOut;
  EXPECT_NE(playOut.find("\nP "), std::string::npos) << playOut;

  const RowsBySecond liveRows = ParseOutput(liveOut);
  const RowsBySecond playRows = ParseOutput(playOut);
  // The first played seconds may still show rows from before the recording began. A row that
  // stayed the same since before the recording started (a static title row) is never reported
  // in it: playback shows it blank, and it is left out.
  const std::string blank = "|" + std::string(16, ' ') + "|";
  int compared = 0;
  for (std::size_t i = 2; i < playRows.order.size(); ++i) {
    const std::string& second = playRows.order[i];
    const auto it = liveRows.rows.find(second);
    if (it == liveRows.rows.end()) continue;
    const auto& played = playRows.rows.at(second);
    if (played.first != blank) {
      EXPECT_EQ(played.first, it->second.first) << "row 0 at " << second;
      ++compared;
    }
    if (played.second != blank) {
      EXPECT_EQ(played.second, it->second.second) << "row 1 at " << second;
      ++compared;
    }
  }
  // The rows moved on during the recording: the comparison was not of one still screen.
  std::map<std::pair<std::string, std::string>, int> distinct;
  for (const auto& [second, rows] : playRows.rows) ++distinct[rows];
  EXPECT_GE(distinct.size(), 3u);
}

}  // namespace
