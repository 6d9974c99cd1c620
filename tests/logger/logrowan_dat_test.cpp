#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "archive_test_support.h"
#include "logger/log_archiver.h"
#include "logger/logger_parts.h"
#include "logger/logrowan.h"
#include "packet_builder.h"
#include "support/fake_clock.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class CFakeHost final : public ILoggerHost {
 public:
  bool SendToReceiver(const KavoPacket& packet, int) override {
    Bytes b{packet.id};
    b.insert(b.end(), packet.data, packet.data + packet.length);
    sent.push_back(b);
    return true;
  }
  void Disconnect() override {}
  std::string LoggingFolder() const override { return folder; }
  std::string LoggingPrefix() const override { return "FARM"; }
  std::vector<Bytes> sent;
  std::string folder;
};

// Records the logger's calls on its DAT log as text.
class CDatLogRecorder final : public IDatLog {
 public:
  explicit CDatLogRecorder(std::vector<std::string>& calls, bool wanted) : calls(calls), wanted(wanted) {}
  bool Wanted() override { return wanted; }
  void Start(const std::string& path) override { calls.push_back("start " + Name(path)); }
  void Reopen(const std::string& path) override { calls.push_back("reopen " + Name(path)); }
  void Post(const KavoPacket& packet) override { calls.push_back("post " + std::to_string(packet.id)); }
  void Stop() override { calls.push_back("stop"); }
  std::uint64_t LostBytes() const override { return lostBytes; }

  std::uint64_t lostBytes = 0;  // what the files "could not write"

 private:
  static std::string Name(const std::string& path) { return std::filesystem::path(path).filename().string(); }
  std::vector<std::string>& calls;
  bool wanted;
};

KavoPacket TimePacket(float timeOfWeek, int week = 1418) {
  return MakePacket(0x41, CBytes().F32(timeOfWeek).U16(week).F32(14.0f).bytes);
}
constexpr float kHour14 = 482419.0f;  // 16 March 2007 14:00:05 UTC
constexpr float kHour15 = 486019.0f;  // 15:00:05

class LogrowanDatTest : public testing::Test {
 protected:
  LogrowanDatTest() : logger(host, clock, prompts, ArchivePreviousFile) { host.folder = dir.Path().string(); }

  void Tick(std::int64_t ms = 50) {
    clock.Advance(ms);
    logger.ProcessLogger();
  }
  void StartInHour14(LogOptions options) {
    logger.StartLogging(options);
    Tick();
    logger.QueuePacket(TimePacket(kHour14));
    Tick();
    Tick();
    if (!(options & kLogPassive)) {
      Tick();
      Tick(10'100);
      Tick();
    }
    ASSERT_EQ(logger.State(), LogState::Logging);
  }
  std::string PathOf(const std::string& name) const { return (dir.Path() / name).string(); }
  std::size_t CountSentWithId(std::uint8_t id) const {
    std::size_t n = 0;
    for (const Bytes& b : host.sent) n += b[0] == id ? 1 : 0;
    return n;
  }

  CTempDir dir;
  CFakeHost host;
  CFakeClock clock;
  CPromptRecorder prompts;
  CLogrowan logger;
  std::vector<std::string> calls;
};

TEST_F(LogrowanDatTest, FileSession_StartsOnFirstFileReopensEachHourPostsTakenPacketsStopsWithSession) {
  logger.SetDatLog(std::make_unique<CDatLogRecorder>(calls, true));
  StartInHour14(kLogPassive);
  // The time packet that opened the file was taken before the file existed.
  EXPECT_EQ(calls, std::vector<std::string>{"start FARM7031614.dat"});
  logger.QueuePacket(MakePacket(0x53, Bytes(32, 0)));
  logger.QueuePacket(TimePacket(kHour15));
  logger.QueuePacket(MakePacket(0x53, Bytes(32, 0)));
  Tick();
  Tick();  // Logging sees the new hour
  Tick();  // the new hour's file
  logger.StopLogging();
  logger.StopLogging();  // a second stop leaves the DAT log alone
  const std::vector<std::string> expected{"start FARM7031614.dat", "post 83", "post 65",
                                          "reopen FARM7031615.dat",
                                          // the packet queued after the hour change
                                          "post 83", "stop"};
  EXPECT_EQ(calls, expected);
}

// The hour's DAT pair is archived with the hour, and what its files could not take is counted in
// the hour's manifest.
TEST_F(LogrowanDatTest, HourChange_ArchiveGetsTheDatPairAndTheManifestItsLosses) {
  auto closed = std::make_shared<std::promise<ClosedLogFile>>();
  CLogrowan archived(host, clock, prompts, [closed](const ClosedLogFile& c) {
    closed->set_value(c);
    return 1;
  });
  auto recorder = std::make_unique<CDatLogRecorder>(calls, true);
  CDatLogRecorder* dat = recorder.get();
  archived.SetDatLog(std::move(recorder));
  archived.StartLogging(kLogPassive);
  archived.ProcessLogger();
  archived.QueuePacket(TimePacket(kHour14));
  for (int i = 0; i < 3; ++i) archived.ProcessLogger();
  dat->lostBytes = 123;
  archived.QueuePacket(TimePacket(kHour15));
  archived.QueuePacket(MakePacket(0x53, Bytes(32, 0)));
  for (int i = 0; i < 3; ++i) archived.ProcessLogger();
  std::future<ClosedLogFile> atArchive = closed->get_future();
  ASSERT_EQ(atArchive.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  const ClosedLogFile c = atArchive.get();
  EXPECT_EQ(c.logPath, PathOf("FARM7031614.log"));
  EXPECT_TRUE(c.datFiles);
  EXPECT_NE(ReadWholeFile(PathOf("FARM7031614.manifest")).find("lost-lines: 0\nlost-bytes: 123\n"),
            std::string::npos);
  EXPECT_TRUE(archived.WriteFailed());
  archived.StopLogging();
}

TEST_F(LogrowanDatTest, SettingOffOrDisplayOnly_NoDatCalls) {
  logger.SetDatLog(std::make_unique<CDatLogRecorder>(calls, false));
  StartInHour14(kLogPassive);
  logger.QueuePacket(TimePacket(kHour14));
  Tick();
  logger.StopLogging();
  EXPECT_TRUE(calls.empty());

  CLogrowan display(host, clock, prompts, ArchivePreviousFile);
  display.SetDatLog(std::make_unique<CDatLogRecorder>(calls, true));
  display.ProcessLogger();
  display.QueuePacket(TimePacket(kHour14));
  for (int i = 0; i < 5; ++i) display.ProcessLogger();
  EXPECT_TRUE(calls.empty());
}

TEST_F(LogrowanDatTest, SettingIsReadAtEachSessionStart) {
  bool wanted = false;
  logger.SetDatLog(MakeDatLogPart(logger, prompts, [&wanted] { return wanted; }));
  StartInHour14(kLogPassive);
  logger.StopLogging();
  EXPECT_FALSE(std::filesystem::exists(PathOf("FARM7031614.dat")));
  wanted = true;
  StartInHour14(kLogPassive);
  EXPECT_TRUE(std::filesystem::exists(PathOf("FARM7031614.dat")));
  EXPECT_TRUE(std::filesystem::exists(PathOf("FARM7031614_base.cmr")));
}

TEST_F(LogrowanDatTest, RealWriter_PassiveSessionWritesOpeningRecordsAndSendsNothing) {
  logger.SetDatLog(MakeDatLogPart(logger, prompts, [] { return true; }));
  StartInHour14(kLogPassive);
  logger.QueuePacket(TimePacket(kHour14 + 1));
  Tick();
  EXPECT_TRUE(host.sent.empty());
  const std::string dat = ReadWholeFile(PathOf("FARM7031614.dat"));
  ASSERT_GE(dat.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(dat[0]), 0x74u);  // a record's sync byte
  EXPECT_EQ(static_cast<unsigned char>(dat[3]), 5u);     // the week record opens the file
  logger.StopLogging();
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(LogrowanDatTest, RealWriter_SessionRestartedWithinTheHour_ContinuesTheHoursDatFile) {
  logger.SetDatLog(MakeDatLogPart(logger, prompts, [] { return true; }));
  StartInHour14(kLogPassive);
  logger.QueuePacket(TimePacket(kHour14 + 1));
  Tick();
  logger.StopLogging();
  const std::string first = ReadWholeFile(PathOf("FARM7031614.dat"));
  ASSERT_EQ(first.size(), 65u + 64u);  // the week record and type 5 sub-type 2

  // As the text log beside it, the file is continued, not emptied.
  StartInHour14(kLogPassive);
  logger.QueuePacket(TimePacket(kHour14 + 2));
  Tick();
  logger.StopLogging();
  const std::string both = ReadWholeFile(PathOf("FARM7031614.dat"));
  EXPECT_EQ(both.size(), 2 * first.size());
  EXPECT_EQ(both.substr(0, first.size()), first);
}

TEST_F(LogrowanDatTest, RealWriter_ActiveSessionSendsItsRequestsAndReopensOnTheNextHour) {
  logger.SetDatLog(MakeDatLogPart(logger, prompts, [] { return true; }));
  StartInHour14(0);
  const std::size_t before = CountSentWithId(0x38);
  logger.QueuePacket(TimePacket(kHour14 + 1));
  Tick();
  EXPECT_GT(CountSentWithId(0x38), before);  // CMR and ionosphere requests
  const std::size_t size14 = ReadWholeFile(PathOf("FARM7031614.dat")).size();
  EXPECT_GT(size14, 0u);

  logger.QueuePacket(TimePacket(kHour15));
  logger.QueuePacket(MakePacket(0x53, Bytes(32, 0)));
  Tick();
  Tick();
  Tick();
  EXPECT_EQ(logger.CurrentLogPath(), PathOf("FARM7031615.log"));
  const std::string dat15 = ReadWholeFile(PathOf("FARM7031615.dat"));
  ASSERT_GE(dat15.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(dat15[3]), 5u);
  EXPECT_EQ(ReadWholeFile(PathOf("FARM7031614.dat")).size(), size14);
  logger.StopLogging();
}

TEST_F(LogrowanDatTest, RealWriter_FileThatCannotBeMadeIsReportedAndTheNextHourStartsAfresh) {
  std::filesystem::create_directory(PathOf("FARM7031614.dat"));  // in the way of the file
  logger.SetDatLog(MakeDatLogPart(logger, prompts, [] { return true; }));
  StartInHour14(kLogPassive);
  const auto shown = prompts.Texts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Failed to open DAT logging file '" + PathOf("FARM7031614.dat") + "'\n");

  logger.QueuePacket(TimePacket(kHour15));
  logger.QueuePacket(TimePacket(kHour15 + 1));
  Tick();
  Tick();
  Tick();
  EXPECT_EQ(logger.CurrentLogPath(), PathOf("FARM7031615.log"));
  // Started on the new file: the time packet taken there opens it with the week record.
  const std::string dat15 = ReadWholeFile(PathOf("FARM7031615.dat"));
  ASSERT_GE(dat15.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(dat15[3]), 5u);
  EXPECT_EQ(static_cast<unsigned char>(dat15[2]), 1u);
  logger.StopLogging();
}

TEST(ProgramWritesDatFile, ReadsTheSettingOfTheLivingArchiverAfreshUntilItCloses) {
  EXPECT_FALSE(ProgramWritesDatFile());
  CMapProfile profile;
  CPromptRecorder prompts;
  {
    CLogArchiver archiver(profile, prompts);
    EXPECT_FALSE(ProgramWritesDatFile());  // absent: off
    profile.Set("PlowviewArchiveSettings", "m_WriteDatFile", "1");
    EXPECT_TRUE(ProgramWritesDatFile());
    profile.Set("PlowviewArchiveSettings", "m_WriteDatFile", "0");
    EXPECT_FALSE(ProgramWritesDatFile());
    profile.Set("PlowviewArchiveSettings", "m_WriteDatFile", "1");
    // At exit the archiver stops reading the settings file, which may be going away.
    archiver.WaitForArchiveWorkers(std::chrono::milliseconds(0));
    EXPECT_FALSE(ProgramWritesDatFile());
  }
  EXPECT_FALSE(ProgramWritesDatFile());
}

}  // namespace
