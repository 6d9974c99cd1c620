// The program's DAT part: a real DAT writer behind the logger's seam, on the session's files.

#include "app/dat_log_part.h"

#include "logger/logrowan_dat_fixture.h"

namespace {

class DatLogPartTest : public LogrowanDatTest {
 protected:
  // The program's DAT part behind the logger, with "Write DAT file" on.
  void UseDatPartAlwaysOn() {
    logger.SetDatLog(MakeDatLogPart(
        logger, prompts, [] { return true; }, nullptr));
  }

  // Crosses into hour 15 (its first time packet, then `next`) and returns that hour's DAT file.
  std::string CrossIntoHour15(const KavoPacket& next) {
    logger.QueuePacket(TimePacket(kHour15));
    logger.QueuePacket(next);
    Tick();
    Tick();
    Tick();
    EXPECT_EQ(logger.CurrentLogPath(), PathOf("FARM7031615.log"));
    return ReadWholeFile(PathOf("FARM7031615.dat"));
  }
};

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
  UseDatPartAlwaysOn();
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
  UseDatPartAlwaysOn();
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
  UseDatPartAlwaysOn();
  StartInHour14(0);
  const std::size_t before = CountSentWithId(0x38);
  logger.QueuePacket(TimePacket(kHour14 + 1));
  Tick();
  EXPECT_GT(CountSentWithId(0x38), before);  // CMR and ionosphere requests
  const std::size_t size14 = ReadWholeFile(PathOf("FARM7031614.dat")).size();
  EXPECT_GT(size14, 0u);

  const std::string dat15 = CrossIntoHour15(MakePacket(0x53, Bytes(32, 0)));
  ASSERT_GE(dat15.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(dat15[3]), 5u);
  EXPECT_EQ(ReadWholeFile(PathOf("FARM7031614.dat")).size(), size14);
  logger.StopLogging();
}

TEST_F(DatLogPartTest, RealWriter_FileThatCannotBeMadeIsReportedAndTheNextHourStartsAfresh) {
  std::filesystem::create_directory(PathOf("FARM7031614.dat"));  // in the way of the file
  UseDatPartAlwaysOn();
  StartInHour14(kLogPassive);
  const auto shown = prompts.Texts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Failed to open DAT logging file '" + PathOf("FARM7031614.dat") + "'\n");

  // Started on the new file: the time packet taken there opens it with the week record.
  const std::string dat15 = CrossIntoHour15(TimePacket(kHour15 + 1));
  ASSERT_GE(dat15.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(dat15[3]), 5u);
  EXPECT_EQ(static_cast<unsigned char>(dat15[2]), 1u);
  logger.StopLogging();
}

}  // namespace
