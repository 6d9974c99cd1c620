#include "logger/logrowan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "packet_builder.h"
#include "support/fake_clock.h"
#include "support/file_size_limit.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class CFakeHost final : public ILoggerHost {
 public:
  bool SendToReceiver(const KavoPacket& packet, int withChecksum) override {
    Bytes b{packet.id};
    b.insert(b.end(), packet.data, packet.data + packet.length);
    sent.push_back({b, withChecksum});
    return true;
  }
  void Disconnect() override { ++disconnects; }
  std::string LoggingFolder() const override { return folder; }
  std::string LoggingPrefix() const override { return prefix; }

  std::vector<std::pair<Bytes, int>> sent;
  int disconnects = 0;
  std::string folder;
  std::string prefix = "FARM";
};

class CLineRecorder final : public CLogrowanListener {
 public:
  void OnLogLine(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

// Records the archiving worker's calls, from whichever thread they come.
class CArchiveRecorder {
 public:
  ArchiveFunction Function() {
    return [this](const ClosedLogFile& closed) {
      std::lock_guard<std::mutex> hold(lock);
      calls.push_back(closed);
      threads.push_back(std::this_thread::get_id());
      changed.notify_all();
      return 1;
    };
  }
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::seconds(5), [&] { return calls.size() >= count; });
  }
  std::mutex lock;
  std::condition_variable changed;
  std::vector<ClosedLogFile> calls;
  std::vector<std::thread::id> threads;
};

class CConfigReportStub final : public IConfigurationReport {
 public:
  void RequestConfiguration(ILogLineContext&) override { ++requests; }
  bool TakePacket(const KavoPacket&, ILogLineContext&) override { return ++taken >= completeAfter; }
  int requests = 0;
  int taken = 0;
  int completeAfter = 1000;
};

KavoPacket TimePacket(float timeOfWeek, int week = 1418, float offset = 14.0f) {
  return MakePacket(0x41, CBytes().F32(timeOfWeek).U16(week).F32(offset).bytes);
}
constexpr float kHour14 = 482419.0f;  // 16 March 2007 14:00:05 UTC
constexpr float kHour15 = 486019.0f;  // 15:00:05
KavoPacket AdcPacket() {
  return MakePacket(0x53, CBytes().F32(1.5f).Fill(12).F32(2.5f).Fill(12).bytes);
}

std::size_t CountSent(const CFakeHost& host, const Bytes& packet) {
  std::size_t n = 0;
  for (const auto& s : host.sent) n += s.first == packet ? 1 : 0;
  return n;
}

class LogrowanTest : public testing::Test {
 protected:
  LogrowanTest() : logger(host, clock, prompts, archive.Function()) {
    host.folder = dir.Path().string();
    logger.AddListener(&listener);
  }

  void Tick(std::int64_t ms = 50) {
    clock.Advance(ms);
    logger.ProcessLogger();
  }

  // Runs a session from StartLogging to Logging on the 14 h time packet.
  void StartInHour14(LogOptions options) {
    logger.StartLogging(options);
    Tick();  // RequestTime
    logger.QueuePacket(TimePacket(kHour14));
    Tick();  // AwaitTime takes the time
    Tick();  // OpenFile
    if (!(options & kLogPassive)) {
      Tick();        // RequestConfig
      Tick(10'100);  // AwaitConfig times out
      Tick();        // ConfigureReceiver
    }
    ASSERT_EQ(logger.State(), LogState::Logging);
  }

  std::string LogPath(const std::string& name) const { return (dir.Path() / name).string(); }

  CTempDir dir;
  CFakeHost host;
  CFakeClock clock;
  CPromptRecorder prompts;
  CArchiveRecorder archive;
  CLineRecorder listener;
  CLogrowan logger;
};

const std::string kHeader14 =
    "*********************************\n"
    "* LogRowan Version 3.20 A       *\n"
    "* File opened                   *\n"
    "* Station: FARM                 *\n"
    "* UTC 03/16/2007 14             *\n"
    "*********************************\n";

TEST_F(LogrowanTest, TimePacket_OpensHourFileWithHeader) {
  StartInHour14(kLogPassive);
  EXPECT_EQ(logger.CurrentLogPath(), LogPath("FARM7031614.log"));
  EXPECT_EQ(logger.CurrentZipName(), "FARM7031614.zip");
  EXPECT_EQ(ReadWholeFile(LogPath("FARM7031614.log")), kHeader14);
  ASSERT_EQ(listener.lines.size(), 1u);
  EXPECT_EQ(listener.lines[0], kHeader14);
}

TEST_F(LogrowanTest, NewHour_ClosesFileStartsArchiveWorkerAndOpensNewName) {
  StartInHour14(kLogPassive);
  logger.QueuePacket(AdcPacket());
  logger.QueuePacket(TimePacket(kHour15));
  logger.QueuePacket(AdcPacket());
  // One step per queued packet: the ADC line, the 15 h time, then Logging sees the new hour.
  Tick();
  EXPECT_EQ(logger.State(), LogState::OpenFile);
  EXPECT_EQ(logger.QueuedPackets(), 1u);
  Tick();  // OpenFile closes 14 h and opens 15 h
  Tick();  // the queued ADC packet lands in the new file
  ASSERT_TRUE(archive.WaitFor(1));
  {
    std::lock_guard<std::mutex> hold(archive.lock);
    EXPECT_EQ(archive.calls[0].logPath, LogPath("FARM7031614.log"));
    EXPECT_EQ(archive.calls[0].zipName, "FARM7031614.zip");
    EXPECT_NE(archive.threads[0], std::this_thread::get_id());
  }
  EXPECT_EQ(logger.CurrentLogPath(), LogPath("FARM7031615.log"));
  EXPECT_EQ(ReadWholeFile(LogPath("FARM7031614.log")), kHeader14 + "* ADC 1.5 2.5\n");
  const std::string file15 = ReadWholeFile(LogPath("FARM7031615.log"));
  EXPECT_NE(file15.find("* UTC 03/16/2007 15             *\n"), std::string::npos);
  EXPECT_EQ(file15.substr(file15.size() - 14), "* ADC 1.5 2.5\n");
}

// A disk that fills up costs the lines it could not take and no more: the first failure is told,
// half a line never stays in the file, the listeners miss nothing, and once writing works again
// one line says how many were lost; the hour's manifest counts them.
TEST_F(LogrowanTest, LogFileFull_ToldOnceCountedAndNotedWhenWritingWorksAgain) {
  StartInHour14(kLogPassive);
  const std::string path = LogPath("FARM7031614.log");
  const std::vector<std::string> lost = {"* lost one, longer than the room left", "* lost two",
                                         "* lost three"};
  std::uint64_t lostBytes = 0;
  {
    CFileSizeLimit full(std::filesystem::file_size(path) + 10);
    for (const std::string& line : lost) {
      logger.WriteLine(line.c_str());
      lostBytes += line.size() + 1;
    }
    EXPECT_EQ(ReadWholeFile(path), kHeader14);
  }
  logger.WriteLine("* back");
  logger.WriteLine("* and on");
  EXPECT_EQ(ReadWholeFile(path), kHeader14 + "* 3 log lines could not be written\n* back\n* and on\n");
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"cannot write " + path + ": File too large"}));
  EXPECT_EQ(listener.lines.size(), 1u + 3u + 2u);
  EXPECT_TRUE(logger.WriteFailed());
  logger.StopLogging();
  const std::string manifest = ReadWholeFile(LogPath("FARM7031614.manifest"));
  EXPECT_NE(manifest.find("lost-lines: 3\nlost-bytes: " + std::to_string(lostBytes) + "\n"),
            std::string::npos)
      << manifest;
}

// An hour's log that can take nothing (a link to a device that is always full) is told once and
// closed in time; the next hour's file is written and says, after its header, what went missing.
TEST_F(LogrowanTest, HourFileAlwaysFull_NextHourWrittenAndToldTheLoss) {
  std::filesystem::create_symlink("/dev/full", LogPath("FARM7031614.log"));
  StartInHour14(kLogPassive);
  logger.QueuePacket(AdcPacket());
  logger.QueuePacket(TimePacket(kHour15));
  logger.QueuePacket(AdcPacket());
  Tick();
  Tick();
  Tick();
  ASSERT_TRUE(archive.WaitFor(1));  // the worker is done with the fixture's recorder
  std::string header15 = kHeader14;
  header15.replace(header15.find("2007 14"), 7, "2007 15");
  EXPECT_EQ(ReadWholeFile(LogPath("FARM7031615.log")),
            header15 + "* 7 log lines could not be written\n* Manifest written\n* ADC 1.5 2.5\n");
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"cannot write " + LogPath("FARM7031614.log") +
                                                       ": No space left on device"}));
  const std::string manifest = ReadWholeFile(LogPath("FARM7031614.manifest"));
  EXPECT_NE(manifest.find("lost-lines: 7\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("sha256:"), std::string::npos) << "a device is no file of the hour";
}

// The set-up right after the time packet that opened the file keeps that time: the session's
// first "T" line already shows the receiver's time of week, not the program's clock.
TEST_F(LogrowanTest, FirstTimeLine_ShowsTheReceiversTime) {
  StartInHour14(0);
  listener.lines.clear();
  logger.QueuePacket(AdcPacket());
  Tick();
  const auto t = std::find_if(listener.lines.begin(), listener.lines.end(),
                              [](const std::string& line) { return line.rfind("T ", 0) == 0; });
  ASSERT_NE(t, listener.lines.end());
  // Taken at 0.1 s of the program clock, the summary runs at 10.4 s.
  EXPECT_EQ(*t, "T 482429.3\n");
}

TEST_F(LogrowanTest, RestartWithinHour_AppendsAfterNewHeaderWithoutArchiving) {
  StartInHour14(kLogPassive);
  logger.QueuePacket(AdcPacket());
  Tick();
  logger.StopLogging();
  EXPECT_EQ(logger.State(), LogState::Idle);
  StartInHour14(kLogPassive);
  EXPECT_EQ(ReadWholeFile(LogPath("FARM7031614.log")), kHeader14 + "* ADC 1.5 2.5\n" + kHeader14);
  std::lock_guard<std::mutex> hold(archive.lock);
  EXPECT_TRUE(archive.calls.empty());
}

TEST_F(LogrowanTest, EmptyQueueInLogging_DoesNothingNotEvenPeriodicRequests) {
  StartInHour14(0);
  const auto sent = host.sent.size();
  const auto lines = listener.lines.size();
  Tick(70'000);
  Tick(70'000);
  EXPECT_EQ(host.sent.size(), sent);
  EXPECT_EQ(listener.lines.size(), lines);
}

TEST_F(LogrowanTest, PacketInLogging_RunsDueGroupsInOrder) {
  StartInHour14(kLogEngineeringInfo);
  host.sent.clear();
  listener.lines.clear();
  logger.QueuePacket(AdcPacket());
  Tick();
  const std::vector<std::pair<Bytes, int>> expected = {
      {{0x8E, 0xA3, 0x02}, 1},  // source 8 after the set-up
      {{0x65, 0x00}, 0},
      {{0x3C, 0x00}, 0},
      {{0x21}, 0},
      {{0x8E, 0x85}, 1},
      {{0x33}, 0},
      {{0x8E, 0x8B, 0x03, 0x00, 0x00}, 1},
      {{0x8E, 0x8B, 0x04, 0x00, 0x00}, 1},
      {{0x8E, 0x80, 0x03, 0x00, 0x00}, 1},
      {{0x8E, 0x80, 0x04, 0x00, 0x00}, 1},
      {{0x8E, 0x81}, 1},
  };
  EXPECT_EQ(host.sent, expected);
  ASSERT_GE(listener.lines.size(), 3u);
  EXPECT_EQ(listener.lines[0], "* ADC 1.5 2.5\n");
  EXPECT_EQ(listener.lines[1].substr(0, 2), "T ");
  EXPECT_EQ(listener.lines[2].substr(0, 9), "* PCTIME ");

  // Half a second later only the packet's line: no group is due.
  host.sent.clear();
  logger.QueuePacket(AdcPacket());
  Tick(500);
  EXPECT_TRUE(host.sent.empty());

  // An RTK correction source switches the 1 s group to the 0x69 requests.
  logger.Session().correction.source = 7;
  logger.QueuePacket(AdcPacket());
  Tick(600);
  const std::vector<std::pair<Bytes, int>> rtk = {
      {{0x69, 0x32, 0x03, 0x00}, 1},
      {{0x69, 0x32, 0x08, 0x00}, 1},
      {{0x69, 0x32, 0x07, 0x00}, 1},
      {{0x65, 0x00}, 0},
      {{0x3C, 0x00}, 0},
      {{0x21}, 0},
      {{0x8E, 0x85}, 1},
  };
  EXPECT_EQ(host.sent, rtk);
}

TEST_F(LogrowanTest, SetUp_SendsConfigurationInOrder) {
  logger.StartLogging(kLogMslHeight | kLogEcefFixes | kLogNmea | kLogRawFixes | kLogReferenceFixes |
                      kLogWidePortMask | kLogTiltAdjustments | kLogSyncMeasurements);
  Tick();
  logger.QueuePacket(TimePacket(kHour14));
  Tick();
  Tick();
  host.sent.clear();
  Tick();  // RequestConfig: outputs off
  const std::vector<std::pair<Bytes, int>> disable = {
      {{0x3F, 0x02, 0x00}, 0},
      {{0x8E, 0x88, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 1},
      {{0x8E, 0x88, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 1},
      {{0x6A, 0x01, 0x00, 0x02, 0x00}, 0},
      {{0x8E, 0x9A}, 1},
      {{0x7A, 0x07, 0xFF, 0x00, 0x00, 0x00}, 0},
  };
  EXPECT_EQ(host.sent, disable);
  host.sent.clear();
  Tick(10'100);
  Tick();  // ConfigureReceiver
  const std::vector<std::pair<Bytes, int>> configure = {
      {{0x35, 0x1D, 0x02, 0x18, 0x58}, 0},
      {{0x7A, 0x07, 0xFF, 0x01, 0x00, 0x00}, 0},
      {{0x6A, 0x01, 0x00, 0x03, 0x00}, 0},
      {{0x8E, 0x9A}, 1},
      {{0x62}, 0},
      {{0x8E, 0x8B, 0x03, 0x00, 0x00}, 1},
      {{0x8E, 0x8B, 0x04, 0x00, 0x00}, 1},
      {{0x3B, 0x00}, 0},
      {{0x3F, 0x02, 0x01}, 0},
      {{0x8E, 0x91}, 1},
      {{0x8E, 0x88, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00}, 1},
      {{0x8E, 0x88, 0x01, 0x0F, 0x00, 0x00, 0x00, 0x00}, 1},
      {{0x6E, 0x01, 0x03, 0x01}, 0},
      {{0x8E, 0x7B}, 1},
      {{0x8E, 0x91}, 1},
  };
  EXPECT_EQ(host.sent, configure);
  EXPECT_EQ(listener.lines.back(), "* Receiver now configured for logrowan logging.\n");
  EXPECT_EQ(logger.State(), LogState::Logging);
  EXPECT_EQ(logger.Session().dgpsMode, kDgpsModeUnknown);
  EXPECT_EQ(logger.Session().correction.source, kCorrectionSourceNone);
}

TEST_F(LogrowanTest, ConfigurationReport_EndsWaitWhenComplete) {
  auto report = std::make_unique<CConfigReportStub>();
  CConfigReportStub* stub = report.get();
  stub->completeAfter = 2;
  logger.SetConfigurationReport(std::move(report));
  logger.StartLogging(0);
  Tick();
  logger.QueuePacket(TimePacket(kHour14));
  Tick();
  Tick();
  Tick();  // RequestConfig
  EXPECT_EQ(stub->requests, 1);
  logger.QueuePacket(AdcPacket());
  logger.QueuePacket(AdcPacket());
  Tick();
  EXPECT_EQ(logger.State(), LogState::AwaitConfig);
  Tick();
  EXPECT_EQ(logger.State(), LogState::ConfigureReceiver);
}

TEST_F(LogrowanTest, PassiveSession_SendsNothingReadsNoConfigurationNoPeriodicRequests) {
  auto report = std::make_unique<CConfigReportStub>();
  CConfigReportStub* stub = report.get();
  logger.SetConfigurationReport(std::move(report));
  StartInHour14(kLogPassive | kLogNmea | kLogColdBootReconfigure);
  for (int i = 0; i < 5; ++i) {
    logger.QueuePacket(AdcPacket());
    logger.QueuePacket(MakePacket(0x82, {1, 2}));  // bad DGPS mode: would ask again
    logger.QueuePacket(MakePacket(0x46, {1, 1}));  // health with BBRAM cleared
    Tick(61'000);
  }
  logger.StopLogging();
  EXPECT_TRUE(host.sent.empty());
  EXPECT_EQ(stub->requests, 0);
  for (const auto& line : listener.lines) EXPECT_NE(line.substr(0, 2), "T ") << line;
}

TEST_F(LogrowanTest, SameListenerTwice_KeptOnce_AndLineEndsInOneNewline) {
  logger.AddListener(&listener);
  StartInHour14(kLogPassive);
  listener.lines.clear();
  logger.WriteLine("abc\n");
  logger.WriteLine("def");
  EXPECT_EQ(listener.lines, (std::vector<std::string>{"abc\n", "def\n"}));
  logger.RemoveListener(&listener);
  logger.WriteLine("ghi");
  EXPECT_EQ(listener.lines.size(), 2u);
}

TEST_F(LogrowanTest, FiveFailedOpens_MessageDisconnectAndIdle) {
  host.folder = (dir.Path() / "missing" / "folder").string();
  logger.StartLogging(0);
  Tick();
  logger.QueuePacket(TimePacket(kHour14));
  Tick();
  for (int i = 0; i < 4; ++i) {
    Tick();
    EXPECT_EQ(logger.State(), LogState::OpenFile);
  }
  Tick();
  EXPECT_EQ(logger.State(), LogState::Failed);
  EXPECT_TRUE(prompts.Texts().empty());
  host.sent.clear();
  Tick();
  EXPECT_EQ(
      prompts.Texts(),
      (std::vector<std::string>{"Unable to open logging file.\n Is someone else using the same file?"}));
  EXPECT_EQ(host.disconnects, 1);
  EXPECT_EQ(logger.State(), LogState::Idle);
  EXPECT_FALSE(logger.FileLogging());
  // The receiver's logging outputs were switched off on the way out.
  EXPECT_EQ(CountSent(host, {0x3F, 0x02, 0x00}), 1u);
}

TEST_F(LogrowanTest, FileHeldByAnotherWriter_OpenFails) {
  CLogFile other;
  ASSERT_TRUE(other.Open(LogPath("FARM7031614.log")));
  logger.StartLogging(kLogPassive);
  Tick();
  logger.QueuePacket(TimePacket(kHour14));
  Tick();
  for (int i = 0; i < 6; ++i) Tick();
  EXPECT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(host.disconnects, 1);
}

TEST_F(LogrowanTest, NoTimeAfterFiveRequests_SessionWithoutFile) {
  logger.StartLogging(0);
  for (int i = 0; i < 12; ++i) Tick(2'100);
  EXPECT_EQ(CountSent(host, {0x21}), 5u);
  EXPECT_EQ(logger.State(), LogState::AwaitConfig);
  Tick(10'100);
  Tick();
  EXPECT_EQ(logger.State(), LogState::Logging);
  logger.QueuePacket(AdcPacket());
  Tick();
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  EXPECT_NE(std::find(listener.lines.begin(), listener.lines.end(), "* ADC 1.5 2.5\n"), listener.lines.end());
}

TEST_F(LogrowanTest, DisplayOnly_StartsByItselfSendsNothingAndKeepsDispatching) {
  logger.QueuePacket(AdcPacket());  // no session yet: dropped
  Tick();
  EXPECT_TRUE(logger.DisplayOnly());
  EXPECT_EQ(logger.QueuedPackets(), 0u);
  logger.QueuePacket(TimePacket(kHour14));
  Tick();  // AwaitTime
  Tick();  // OpenFile without a file
  EXPECT_EQ(logger.State(), LogState::Logging);
  for (int i = 0; i < 3; ++i) {
    logger.QueuePacket(AdcPacket());
    Tick();
  }
  EXPECT_EQ(std::count(listener.lines.begin(), listener.lines.end(), "* ADC 1.5 2.5\n"), 3);
  EXPECT_TRUE(host.sent.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  // A file session replaces the display-only one.
  logger.StartLogging(kLogPassive);
  EXPECT_FALSE(logger.DisplayOnly());
  EXPECT_TRUE(logger.FileLogging());
  EXPECT_EQ(logger.State(), LogState::RequestTime);
}

TEST_F(LogrowanTest, ColdResetInHealth_ReconfiguresWithOption) {
  StartInHour14(kLogColdBootReconfigure);
  logger.QueuePacket(MakePacket(0x84, CBytes().Fill(32).F32(-1.0f).bytes));
  logger.QueuePacket(MakePacket(0x46, {1, 0x01}));
  host.sent.clear();
  Tick(100);
  EXPECT_EQ(CountSent(host, {0x35, 0x1A, 0x02, 0x18, 0x08}), 1u);
  EXPECT_FALSE(logger.Session().coldResetSeen);
  EXPECT_NE(std::find(listener.lines.begin(), listener.lines.end(), "* Cold reset - reconfigure receiver.\n"),
            listener.lines.end());
}

}  // namespace
