#include "logger/satellite_lines.h"

#include "line_case.h"

namespace {

class SatelliteSelection : public testing::TestWithParam<LineCase> {};

TEST_P(SatelliteSelection, PacketGivesExactLines) {
  EXPECT_EQ(RunLineCase(GetParam()), GetParam().lines);
}

CBytes Dops(int head) {
  return CBytes().U8(head).F32(1.55f).F32(0.95f).F32(2.0f).F32(3.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SatelliteSelection,
    testing::Values(
        LineCase{"FourAutomatic3D",
                 MakePacket(0x6D, Dops(0x44).U8(5).U8(12).U8(17).U8(31).bytes),
                 {"X 04 A3D 1.5 0.9 5 12 17 31 "}},
        LineCase{"ManualTwoD", MakePacket(0x6D, Dops(0x1B).U8(138).bytes), {"X 01 M2D 1.5 0.9 138 "}},
        LineCase{"NoneUnknownDimension", MakePacket(0x6D, Dops(0x05).bytes), {"X 00 A0D 1.5 0.9 "}},
        LineCase{
            "TwelveSatellites",
            MakePacket(
                0x6D,
                Dops(0xC4).U8(1).U8(2).U8(3).U8(4).U8(5).U8(6).U8(7).U8(8).U8(9).U8(10).U8(11).U8(12).bytes),
            {"X 12 A3D 1.5 0.9 1 2 3 4 5 6 7 8 9 10 11 12 "}},
        LineCase{"ThirteenSatellites_Dropped", MakePacket(0x6D, Dops(0xD4).Fill(13, 1).bytes), {}},
        LineCase{"LengthNotSeventeenPlusCount_Dropped", MakePacket(0x6D, Dops(0x44).Fill(3, 1).bytes), {}},
        LineCase{"Empty_Dropped", MakePacket(0x6D, {}), {}}),
    CaseName);

KavoPacket Tracking(int prn, int acquisition, int ephemeris, float signal, float measured, float elevation,
                    float azimuth) {
  return MakePacket(0x5C, CBytes()
                              .U8(prn)
                              .U8(3 << 3)
                              .U8(acquisition)
                              .U8(ephemeris)
                              .F32(signal)
                              .F32(measured)
                              .F32(elevation)
                              .F32(azimuth)
                              .Fill(4)
                              .bytes);
}

KavoPacket Correction(int prn, float time) {
  return MakePacket(0x85, CBytes()
                              .U8(prn)
                              .U8(0x11)
                              .U8(0x22)
                              .U8(0x33)
                              .U8(0x44)
                              .U8(0x55)
                              .F32(time)
                              .F32(1.25f)
                              .F32(-0.000123f)
                              .Fill(4)
                              .bytes);
}

TEST(SatelliteSummary, BanksAgesAcrossWeekAndAgingOut) {
  CRecordingContext context;
  context.session.lastTimeOfWeek = 604795.0;  // the summary runs 10 s later, just past the week's end
  context.session.lastTimeStamp = 90.0;
  context.now = 100.0;
  const std::vector<KavoPacket> packets = {
      Tracking(5, 1, 1, 44.5f, 604802.0f, 0.5f, -1.0f),
      Tracking(5, 1, 1, 40.0f, 604802.0f, 0.5f, -1.0f),  // same measurement time: second bank
      Tracking(12, 0, 1, 30.25f, 604795.0f, 1.2f, 3.0f),
      Tracking(9, 1, 1, 45.0f, 604700.0f, 0.1f, 0.1f),  // 105 s old: emptied
      Tracking(133, 1, 0, 40.0f, 2.0f, 0.5f, 2.0f),     // SBAS, measured in the new week
      Tracking(40, 1, 0, 40.0f, 2.0f, 0.5f, 2.0f),      // not a known PRN: dropped
      MakePacket(0x5B, CBytes().U8(5).F32(1.0f).U8(0).U8(0x3C).F32(2.0f).U8(1).F32(2.5f).bytes),
      Correction(7, 604810.0f),
      Correction(10, 604505.0f),  // 300 s old: emptied
      Correction(120, 600000.0f),
  };
  for (const auto& p : packets) DispatchPacket(p, context);
  // Lengths other than the stated ones change nothing.
  DispatchPacket(MakePacket(0x5C, CBytes().U8(6).Fill(22).bytes), context);
  DispatchPacket(MakePacket(0x85, CBytes().U8(6).Fill(20).bytes), context);

  WriteSatelliteSummary(context);
  const std::vector<std::string> expected = {
      "T 604805.0",
      "G 05  1 01  3.0 44.5 28.65 -57.30 3C",
      "G 12  0 01 10.0 30.2 68.75 171.89 00",
      "G 05  1 01  3.0 40.0 28.65 -57.30 00",
      "G 133 1 00  3.0 40.0 28.65 114.59 00",
      "C 07  11 33 44 -5.0   1.25   -1.230e-04",
  };
  EXPECT_EQ(context.lines, expected);
  EXPECT_EQ(context.session.satellites.first[9].tracking.prn, 0);
  EXPECT_EQ(context.session.satellites.first[10].correction.prn, 0);
  EXPECT_EQ(context.session.satellites.sbas[0].correction.prn, 0);
  EXPECT_EQ(context.session.satellites.first[5].tracking.channel, 3);
}

TEST(SatelliteSummary, EngineeringOptionAddsPcTime) {
  CRecordingContext context;
  context.session.options = kLogEngineeringInfo;
  context.session.lastTimeOfWeek = 1000.0;
  context.session.lastTimeStamp = 99.5;
  context.now = 100.0;
  WriteSatelliteSummary(context);
  EXPECT_EQ(context.lines, (std::vector<std::string>{"T 1000.5", "* PCTIME 100.0"}));
}

// Before any time packet there is no receiver time: no "T" line with the program's clock in it,
// and the stored satellites are neither printed nor aged out against a time that is not there.
TEST(SatelliteSummary, NoReceiverTimeYet_OnlyPcTime) {
  for (const LogOptions options : {LogOptions{0}, LogOptions{kLogEngineeringInfo}}) {
    CRecordingContext context;
    context.session.options = options;
    context.now = 9.7;
    DispatchPacket(Tracking(5, 1, 1, 44.5f, 310000.0f, 0.5f, -1.0f), context);
    WriteSatelliteSummary(context);
    EXPECT_EQ(context.lines, options ? std::vector<std::string>{"* PCTIME 9.7"} : std::vector<std::string>{});
    EXPECT_EQ(context.session.satellites.first[5].tracking.prn, 5);
  }
}

TEST(SatelliteSummary, AgeInWeek_FoldsIntoHalfWeek) {
  EXPECT_DOUBLE_EQ(AgeInWeek(3.0, 604797.0), 6.0);
  EXPECT_DOUBLE_EQ(AgeInWeek(604797.0, 3.0), -6.0);
  EXPECT_DOUBLE_EQ(AgeInWeek(302400.0, 0.0), 302400.0);
  EXPECT_DOUBLE_EQ(AgeInWeek(100.0, 40.0), 60.0);
  EXPECT_DOUBLE_EQ(AgeInWeek(3.0e7, 0.0), 3.0e7 - 50 * 604800.0);
}

}  // namespace
