// Diagnostic logging end to end: plowview headless on the built-in simulator with logging on
// writes the hourly text log the receiver's reports make, and changes files with the receiver's
// hour, archiving the closed one.

#include <gtest/gtest.h>

#include <QProcess>
#include <QThread>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program_path.h"
#include "simulated_run.h"
#include "support/temp_dir.h"
#include "text_lines.h"

namespace {

namespace fs = std::filesystem;

// The text logs in `folder`, by name.
std::vector<std::string> LogFiles(const fs::path& folder, const char* extension = ".log") {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().extension() == extension) names.insert(entry.path().filename().string());
  return {names.begin(), names.end()};
}

bool HasLineStarting(const std::string& text, const std::string& start) {
  for (const auto& line : SplitLines(text))
    if (line.rfind(start, 0) == 0) return true;
  return false;
}

// The logging runs: the text log printed on standard output.
class CLoggingRun : public CSimulatedRun {
 public:
  CLoggingRun(const CTempDir& dir, const std::string& simulatorArguments, std::uint32_t logOptions = 529)
      : CSimulatedRun(dir, simulatorArguments, logOptions, "", "--print-log") {}
};

TEST(PlowviewLogging, SimulatedReceiver_LogHasHeaderSetUpAndNavigationLines) {
  CTempDir dir;
  // The set-up waits out the logger's 10 s configuration time-out, after the link's settle phase.
  CLoggingRun run(dir, "--start-time 2026-01-07T14:10:00Z --rate 2");
  ASSERT_TRUE(run.process.waitForStarted(5000));
  const fs::path logs = dir.Path() / "logs";
  std::string text;
  const bool complete = run.WaitFor(60000, [&] {
    const auto files = LogFiles(logs);
    if (files.empty()) return false;
    text = ReadWholeFile(logs / files.front());
    for (const char* code : {"P ", "V ", "X ", "G ", "T "})
      if (!HasLineStarting(text, code)) return false;
    return true;
  });
  ASSERT_TRUE(complete) << "log so far:\n" << text << "\noutput:\n" << run.out;
  EXPECT_EQ(run.Stop(), 0) << run.err;

  // One file, named by the receiver's hour (2026-01-07 14 h gives 6010714).
  EXPECT_EQ(LogFiles(logs), std::vector<std::string>{"A_6010714.log"});
  text = ReadWholeFile(logs / "A_6010714.log");
  EXPECT_EQ(text.rfind("*********************************\n"
                       "* LogRowan Version 3.20 A       *\n"
                       "* File opened                   *\n"
                       "* Station: A_                   *\n"
                       "* UTC 01/07/2026 14             *\n"
                       "*********************************\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("\n* Receiver now configured for logrowan logging.\n"), std::string::npos);
  // The receiver answered the set-up: its identity, the guidance configuration sent back.
  EXPECT_TRUE(HasLineStarting(text, "I 4.02 11/28/2026 Brisk Mote 4415A01234")) << text;
  EXPECT_TRUE(HasLineStarting(text, "SENDING GUIDANCE CONFIG"));
  // Satellites of both systems made it into the summary.
  EXPECT_TRUE(HasLineStarting(text, "G 02  1 01")) << text;
  EXPECT_TRUE(HasLineStarting(text, "G 120 1 00"));
  // The first T line already shows the receiver's time of week (Wednesday 14:10 UTC is 310218 s
  // of the GPS week), not the program's clock.
  const std::size_t firstT = text.find("\nT ");
  ASSERT_NE(firstT, std::string::npos);
  EXPECT_GT(std::stod(text.substr(firstT + 3)), 310200.0) << text.substr(firstT, 20);
  // --print-log showed the same lines as they were written.
  EXPECT_NE(run.out.find("\n* Receiver now configured for logrowan logging.\n"), std::string::npos)
      << run.out;

  // The receiver was switched to stream by the set-up and back off by the clean stop.
  const std::string trace = ReadWholeFile(dir / "trace.txt");
  const auto on = trace.find("OUTPUTS ON");
  ASSERT_NE(on, std::string::npos);
  EXPECT_NE(trace.find("OUTPUTS OFF", on), std::string::npos);
}

TEST(PlowviewLogging, ReceiverTimeAcrossAnHour_OneFilePerHourCodeClosedHoursArchived) {
  CTempDir dir;
  // Ten minutes of receiver time a second: the logger's time request every second moves the hour.
  CLoggingRun run(dir, "--start-time 2026-01-07T14:40:00Z --time-scale 600");
  ASSERT_TRUE(run.process.waitForStarted(5000));
  const fs::path logs = dir.Path() / "logs";
  // A closed hour is handed to the archiving chain, which (by default) zips its log and removes it.
  const auto hours = [&] {
    std::set<std::string> codes;
    for (const char* extension : {".log", ".zip"})
      for (const std::string& file : LogFiles(logs, extension)) codes.insert(file.substr(0, file.size() - 4));
    return codes;
  };
  const bool two = run.WaitFor(60000, [&] { return hours().size() >= 2 && !LogFiles(logs, ".zip").empty(); });
  ASSERT_TRUE(two) << run.out;
  EXPECT_EQ(run.Stop(), 0) << run.err;

  const std::regex name(R"(A_6(01)(07|08)(\d\d))");
  int previousHour = -1;
  for (const std::string& base : hours()) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(base, m, name)) << base;
    const int hour = std::stoi(m[2]) * 24 + std::stoi(m[3]);
    EXPECT_GT(hour, previousHour) << base;
    EXPECT_GE(hour, 7 * 24 + 14) << base;  // not before the simulated start
    previousHour = hour;
    // Each open file's header names its own hour.
    const std::string text = ReadWholeFile(logs / (base + ".log"));
    if (text.empty()) continue;
    char header[64];
    std::snprintf(header, sizeof header, "* UTC 01/%s/2026 %s ", m[2].str().c_str(), m[3].str().c_str());
    EXPECT_NE(text.find(header), std::string::npos) << base;
  }
  // The hour still open at the stop is not archived: a disconnect does not close an hour.
  EXPECT_FALSE(LogFiles(logs, ".log").empty());
}

// The hour's log, raw packet log and DAT file all on a device that is always full: each is said
// once on stderr, the session goes on (the DAT writer's base file fills), the losses are in the
// hour's manifest, and the stop ends promptly (the manifest does not read the device for ever).
TEST(PlowviewLogging, HourFilesThatCannotBeWritten_SaidOnceEachSessionGoesOnStopEnds) {
  CTempDir dir;
  const fs::path logs = dir.Path() / "logs";
  fs::create_directories(logs);
  for (const char* extension : {".log", ".kavo", ".dat"})
    fs::create_symlink("/dev/full", logs / (std::string("A_6010714") + extension));
  CSimulatedRun run(dir, "--start-time 2026-01-07T14:10:00Z --rate 2", 529 | 0x4000,
                    "[PlowviewArchiveSettings]\nm_WriteDatFile=1\n", "--print-log");
  ASSERT_TRUE(run.process.waitForStarted(5000));
  const fs::path base = logs / "A_6010714_base.cmr";
  std::error_code ec;
  ASSERT_TRUE(run.WaitFor(60000, [&] { return fs::file_size(base, ec) > 0 && !ec; })) << run.out;
  EXPECT_EQ(run.Stop(), 0) << run.err;
  for (const char* extension : {".log", ".kavo", ".dat"}) {
    const std::string line =
        "plowview: cannot write " + (logs / "A_6010714").string() + extension + ": No space left on device\n";
    const std::size_t at = run.err.find(line);
    EXPECT_NE(at, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(line, at + 1), std::string::npos) << "said twice: " << line;
  }
  const std::string manifest = ReadWholeFile(logs / "A_6010714.manifest");
  EXPECT_EQ(manifest.find("lost-lines: 0\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("lost-bytes: 0\n"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("  A_6010714_base.cmr\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("  A_6010714.log\n"), std::string::npos) << manifest;
}

}  // namespace
