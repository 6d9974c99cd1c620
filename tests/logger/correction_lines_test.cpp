#include "logger/correction_lines.h"

#include "line_case.h"

namespace {

CBytes Source(int source) {
  return CBytes().U8(0x9A).U16(source).U16(-5).F64(1545.25).U8(7).U8(0xAB).U8(42);
}
CBytes Quality(int quality, int source, int flags) {
  return CBytes().U8(0xA2).U8(quality).U8(source).U16(17).U8(3).U8(flags).F32(4.5f);
}
CBytes Decoder(std::uint32_t count, int type) {
  return CBytes().U8(0x82).F32(2.5f).U16(7).U16(65535).U32(count).U8(type);
}
CBytes Stations(int count) {
  CBytes b;
  b.U8(0x81).U8(count);
  for (int i = 0; i < count; ++i) b.U16(i == 0 ? 101 : 7).U8(i == 0 ? 1 : 2);
  return b.Fill(6);  // total 3n + 10 with the checksum
}

// One 30-byte correction status entry.
CBytes& Entry(CBytes& b, double timeMs, int type, int mode, int b10, int b11, int b12, int b14,
              std::int32_t value, int b19, int b20) {
  b.F64(timeMs)
      .U8(type)
      .U8(mode)
      .U8(b10)
      .U8(b11)
      .U8(b12)
      .U8(0)
      .U8(b14)
      .U32(static_cast<std::uint32_t>(value))
      .U8(b19)
      .U8(b20)
      .Fill(3)
      .U16(0)
      .Fill(4);
  return b;
}

KavoPacket StatusBlock(int countByte, const std::vector<std::function<void(CBytes&)>>& entries) {
  CBytes b;
  b.U8(0x85).U8(0).U8(countByte);
  for (const auto& e : entries) e(b);
  return MakeSuper(b);
}

const auto kBeacon = [](CBytes& b) { Entry(b, 123456.0, 1, 3, 7, 25, 9, 16, -123, 0, 255); };
const auto kSecond = [](CBytes& b) { Entry(b, 2000.0, 2, 0, 1, 25, 9, 16, 50, 0, 51); };
const auto kSatellite = [](CBytes& b) { Entry(b, 5000.0, 5, 4, 2, 10, 2, 32, 7, 123, 0); };
const auto kUnused = [](CBytes& b) { Entry(b, 0.0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0); };

const std::string kBeaconText = "123.5 2.5 4.5 1.0 1.000 -12.3 7 ";
const std::string kSecondText = "2.0 0.0 0.0 0.0 0.200   5.0 1 ";
const std::string kSatelliteText = "5.0 1.0 1.0 2.0 12.3   0.7 2 ";

class CorrectionLines : public testing::TestWithParam<LineCase> {};

TEST_P(CorrectionLines, PacketGivesExactLines) {
  EXPECT_EQ(RunLineCase(GetParam()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CorrectionLines,
    testing::Values(
        LineCase{"Source", MakeSuperOfLength(Source(6), 25), {"L ORHP -005 042 7 0xab 1545.2"}},
        LineCase{"SourceOutOfTable", MakeSuperOfLength(Source(20), 25), {"L src:20? -005 042 7 0xab 1545.2"}},
        LineCase{"SourceWrongLength_Dropped", MakeSuperOfLength(Source(6), 26), {}},
        LineCase{"QualityDoubtfulSatelliteService",
                 MakeSuperOfLength(Quality(2, 6, 0), 20),
                 {"Q 4.5 DGPS? ORHP 017 03 0x00"}},
        LineCase{"QualitySolutionFlagSet",
                 MakeSuperOfLength(Quality(4, 13, 1), 20),
                 {"Q 4.5 RTK   ORL1 017 03 0x01"}},
        LineCase{"QualityBeaconNoMarker",
                 MakeSuperOfLength(Quality(2, 1, 0), 20),
                 {"Q 4.5 DGPS  BCN  017 03 0x00"}},
        LineCase{"QualityOutOfTables",
                 MakeSuperOfLength(Quality(9, 14, 0), 20),
                 {"Q 4.5 qual:9?  src:14? 017 03 0x00"}},
        LineCase{"DecoderR", MakeSuperOfLength(Decoder(12345, 3), 19), {"D R 2.5      7  65535  12345"}},
        LineCase{"DecoderO_NoBlankAfterLetter",
                 MakeSuperOfLength(Decoder(99999, 4), 19),
                 {"D O2.5      7  65535  99999"}},
        LineCase{"DecoderAbove99999",
                 MakeSuperOfLength(Decoder(100000, 3), 19),
                 {"D R 2.5      7  65535  99999  "}},
        LineCase{"DecoderOtherType", MakeSuperOfLength(Decoder(0, 9), 19), {"D ?2.5      7  65535      0"}},
        LineCase{"DecoderWrongLength_Dropped", MakeSuperOfLength(Decoder(0, 3), 20), {}},
        LineCase{"TwoStations", MakeSuper(Stations(2)), {"N  2 101 YN   7 NY "}},
        LineCase{"NoStations", MakeSuper(Stations(0)), {"N  0 "}},
        LineCase{"TwentyStations",
                 MakeSuper(Stations(20)),
                 {"N 20 101 YN " +
                  [] {
                    std::string s;
                    for (int i = 1; i < 20; ++i) s += "  7 NY ";
                    return s;
                  }()}},
        LineCase{"TwentyOneStations_TooMany", MakeSuper(Stations(21)), {"Too many spot stations\r"}},
        LineCase{"StationsWrongLength_Dropped", MakeSuper(Stations(2).U8(0)), {}},
        LineCase{"StatusTwoBeaconEntries_OneLine",
                 StatusBlock(0, {kBeacon, kSecond}),
                 {"B " + kBeaconText + kSecondText}},
        LineCase{
            "StatusSatelliteFirst_CountOne", StatusBlock(0, {kSatellite, kBeacon}), {"S " + kSatelliteText}},
        LineCase{"StatusSecondUnused_FirstWaitsForever", StatusBlock(0, {kBeacon, kUnused}), {}},
        LineCase{"StatusCounted_SatelliteThenBeacons",
                 StatusBlock(3, {kSatellite, kBeacon, kSecond}),
                 {"S " + kSatelliteText, "B " + kBeaconText, "B " + kSecondText}},
        LineCase{"StatusCountedSingleBeacon_NoLine", StatusBlock(1, {kBeacon}), {}},
        LineCase{"StatusWrongLength_Dropped", StatusBlock(2, {kBeacon}), {}}),
    CaseName);

KavoPacket Subscription(int type) {
  CBytes b;
  b.U8(0x8B).U8(type).Fill(24, 0x5A).Fill(3).U8(0).U8(0).U8(0).U8(6).U8(15).U8(124).U8(1).U8(2);
  return MakeSuperOfLength(b, 42);
}
KavoPacket Service(int letter, int state, int type) {
  return MakeSuperOfLength(CBytes().U8(0x80).U8(letter).U32(123).U32(999).U8(state).U8(type).U16(0xAB), 17);
}

TEST(Subscription, StoredBlocksFeedServiceLines) {
  CRecordingContext context;
  DispatchPacket(Service(1, 7, 3), context);  // before any record: zero date
  DispatchPacket(Subscription(3), context);
  DispatchPacket(Subscription(5), context);  // other types ignored
  DispatchPacket(Service(1, 7, 3), context);
  DispatchPacket(Service(0, 9, 4), context);  // block O still empty
  DispatchPacket(Service(3, 10, 3), context);
  DispatchPacket(Service(0, 0, 5), context);  // no line
  const std::vector<std::string> expected = {
      "U R    123 D Data 0x00ab 0/0/1900 0",
      "U R    123 D Data 0x00ab 6/15/2024 259784962",
      "U O    123 U Nohw 0x00ab 0/0/1900 0",
      "U R    123 ? state:10? 0x00ab 6/15/2024 259784962",
  };
  EXPECT_EQ(context.lines, expected);
  EXPECT_EQ(context.session.subscriptionR.data[0], 0x5A);
  EXPECT_EQ(context.session.subscriptionO.type, 0);
}

TEST(CorrectionSource, StoredForPeriodicRequests) {
  CRecordingContext context;
  DispatchPacket(MakeSuperOfLength(Source(7), 25), context);
  EXPECT_EQ(context.session.correction.source, 7);
  EXPECT_EQ(context.session.correction.value, -5);
}

}  // namespace
