// The program's DAT part: a real DAT writer behind the logger's seam, on the session's files.

#include "app/dat_log_part.h"

#include "logger/logrowan_dat_fixture.h"

namespace {

using DatLogPartTest = LogrowanDatTest;

TEST_F(DatLogPartTest, SettingIsReadAtEachSessionStart) {
  bool wanted = false;
  logger.SetDatLog(MakeDatLogPart(
      logger, prompts, [&wanted] { return wanted; }, nullptr));
  StartInHour14(kLogPassive);
  logger.StopLogging();
  EXPECT_FALSE(std::filesystem::exists(PathOf("FARM7031614.dat")));
  wanted = true;
  StartInHour14(kLogPassive);
  EXPECT_TRUE(std::filesystem::exists(PathOf("FARM7031614.dat")));
  EXPECT_TRUE(std::filesystem::exists(PathOf("FARM7031614_base.cmr")));
}

TEST_F(DatLogPartTest, RealWriter_PassiveSessionWritesOpeningRecordsAndSendsNothing) {
  logger.SetDatLog(MakeDatLogPart(
      logger, prompts, [] { return true; }, nullptr));
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

TEST_F(DatLogPartTest, RealWriter_SessionRestartedWithinTheHour_ContinuesTheHoursDatFile) {
  logger.SetDatLog(MakeDatLogPart(
      logger, prompts, [] { return true; }, nullptr));
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

TEST_F(DatLogPartTest, RealWriter_ActiveSessionSendsItsRequestsAndReopensOnTheNextHour) {
  logger.SetDatLog(MakeDatLogPart(
      logger, prompts, [] { return true; }, nullptr));
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

TEST_F(DatLogPartTest, RealWriter_FileThatCannotBeMadeIsReportedAndTheNextHourStartsAfresh) {
  std::filesystem::create_directory(PathOf("FARM7031614.dat"));  // in the way of the file
  logger.SetDatLog(MakeDatLogPart(
      logger, prompts, [] { return true; }, nullptr));
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

}  // namespace
