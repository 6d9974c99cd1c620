// The logger's DAT seam: when a session starts, reopens and stops its DAT log, and what it posts.

#include <chrono>
#include <future>
#include <memory>

#include "archive_test_support.h"
#include "logger/log_archiver.h"
#include "logrowan_dat_fixture.h"

namespace {

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

TEST(LogArchiverWriteDatFile, ReadsTheSettingAfreshUntilTheArchiverCloses) {
  CMapProfile profile;
  CPromptRecorder prompts;
  CLogArchiver archiver(profile, prompts);
  EXPECT_FALSE(archiver.WriteDatFile());  // absent: off
  profile.Set("PlowviewArchiveSettings", "m_WriteDatFile", "1");
  EXPECT_TRUE(archiver.WriteDatFile());
  profile.Set("PlowviewArchiveSettings", "m_WriteDatFile", "0");
  EXPECT_FALSE(archiver.WriteDatFile());
  profile.Set("PlowviewArchiveSettings", "m_WriteDatFile", "1");
  // At exit the archiver stops reading the settings file, which may be going away.
  archiver.WaitForArchiveWorkers(std::chrono::milliseconds(0));
  EXPECT_FALSE(archiver.WriteDatFile());
}

}  // namespace
