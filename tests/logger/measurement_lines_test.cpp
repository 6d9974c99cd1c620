#include "logger/measurement_lines.h"

#include "line_case.h"

namespace {

CBytes L1(int count, int completion, int lengthDelta = 0) {
  CBytes b;
  const int length = 21 + 27 * count + 3;
  b.U8(0x01).U8(2).U16(length - 1 + lengthDelta).F64(12345678.0).F64(0.0).U8(count);
  for (int i = 0; i < count; ++i)
    b.U8(7 + i).U8(0xA1).U8(0x02).U8(30).U16(-10).U8(45).F64(21000000.125).F64(-123456.5).F32(100.0f);
  return b.U16(0).U8(completion);
}

CBytes L2(int count) {
  CBytes b;
  b.U8(0x10).F64(1000.0).F64(0.0).U8(count);
  for (int i = 0; i < count; ++i) b.U8(14).U8(0x0C).U8(0xFF).F32(-1.5f).F64(22000000.25).F32(38.5f);
  return b.Fill(2);
}

CBytes MultiSystem(int lengthField, int groups, int frequencies) {
  CBytes b;
  b.U8(0x21).U16(lengthField).U8(0).F64(99.0).U8(groups);
  for (int g = 0; g < groups; ++g) {
    b.U8(0).U8(17).U8(2).U8(0).U8(frequencies).U16(5).U16(-3).U8(0x21).U8(0x01);
    for (int k = 0; k < frequencies; ++k)
      b.U8(1).U8(0).U16(451).F64(1.5).F64(2.25).F32(0.0f).U8(0).U8(0x33).U8(0);
  }
  return b;
}

CBytes FullPosition(int type) {
  return CBytes()
      .U8(0xA7)
      .U8(1)
      .U8(0)
      .F64(345600.0)
      .U8(3)
      .U8(5)
      .U8(9)
      .U32(0x80000001)
      .F64(0.5)
      .F64(-1.0)
      .F64(250.125)
      .F32(0.25f)
      .F32(0.5f)
      .F32(0.75f)
      .U8(type)
      .F32(1.5f)
      .F32(2.5f);
}

class MeasurementLines : public testing::TestWithParam<LineCase> {};

TEST_P(MeasurementLines, PacketGivesExactLines) {
  EXPECT_EQ(RunLineCase(GetParam()), GetParam().lines);
}

const char* const kL1Line = "# L1 007 0xA1 0x02 21000000.125 -123456.500 11.2";
const char* const kAtLine = "@ R L2 B  17 0x21 0x33  5   -3       1.500       2.250 45.1";

INSTANTIATE_TEST_SUITE_P(
    Table, MeasurementLines,
    testing::Values(
        LineCase{"L1_OneSatelliteComplete", MakePacket(0x6F, L1(1, 3).bytes), {kL1Line}},
        LineCase{"L1_TwoSatellites", MakePacket(0x6F, L1(2, 3).bytes),
                 {kL1Line, "# L1 008 0xA1 0x02 21000000.125 -123456.500 11.2"}},
        LineCase{"L1_NotComplete_NoLines", MakePacket(0x6F, L1(1, 2).bytes), {}},
        LineCase{"L1_LengthFieldWrong_Dropped", MakePacket(0x6F, L1(1, 3, 1).bytes), {}},
        LineCase{"L1_CountBeyondPacket_Dropped",
                 [] {
                   CBytes b = L1(1, 3);
                   b.bytes[20] = 5;  // claims five blocks in a one-block packet
                   return MakePacket(0x6F, b.bytes);
                 }(),
                 {}},
        LineCase{"L1_NegativeCount_Dropped",
                 [] {
                   CBytes b = L1(1, 3);
                   b.bytes[20] = 0xFF;
                   return MakePacket(0x6F, b.bytes);
                 }(),
                 {}},
        LineCase{"L2_OneSatellite", MakePacket(0x6F, L2(1).bytes),
                 {"# L2 014 0x0C 0xFF      38.500 22000000.250 -1.5"}},
        LineCase{"L2_WrongLength_Dropped", MakePacket(0x6F, L2(1).U8(0).bytes), {}},
        LineCase{"Clock_K", MakePacket(0x6F, CBytes().U8(0x20).U16(1234).F64(123456789.0).F32(0.125f).U8(7).U8(0).U8(0xAB).U8(0xCD).F32(-2.5f).U8(0x0E).bytes),
                 {"K 1234  123456.789   0.125  7 0xAB 0xCD  -2.500 0x0E"}},
        LineCase{"Clock_K_Short_Dropped", MakePacket(0x6F, CBytes().U8(0x20).U16(1234).Fill(20).bytes), {}},
        LineCase{"MultiSystem_OneBlock", MakePacket(0x6F, MultiSystem(51, 1, 1).bytes), {kAtLine}},
        LineCase{"MultiSystem_LengthFieldWrong_NoteThenLine", MakePacket(0x6F, MultiSystem(50, 1, 1).bytes),
                 {"bad packet length for 06F 0x21", kAtLine}},
        LineCase{"MultiSystem_TruncatedBlock_NoteOnly",
                 [] {
                   CBytes b = MultiSystem(51, 1, 1);
                   b.bytes.resize(40);
                   return MakePacket(0x6F, b.bytes);
                 }(),
                 {"bad packet length for 06F 0x21"}},
        LineCase{"MultiSystem_SevenGroups_NoLine", MakePacket(0x6F, CBytes().U8(0x21).U16(13).U8(0).F64(0).U8(7).bytes),
                 {}},
        LineCase{"MultiSystem_ThreeFrequencies_Stops", MakePacket(0x6F, MultiSystem(105, 1, 3).bytes), {}},
        LineCase{"J_FullPosition", MakeSuper(FullPosition(33)),
                 {"J 345600.0 3 RTK-FIXED 0x80000001 9 28.647889757 -57.295779513 250.125 0.250 0.500 0.750 1.5 2.5"}},
        LineCase{"J_UnknownPositionType", MakeSuper(FullPosition(77)),
                 {"J 345600.0 3 type:77? 0x80000001 9 28.647889757 -57.295779513 250.125 0.250 0.500 0.750 1.5 2.5"}},
        LineCase{"J_FullPositionShort_Dropped",
                 [] {
                   CBytes b = FullPosition(33);
                   b.bytes.pop_back();
                   return MakeSuper(b);
                 }(),
                 {}},
        LineCase{"J_NoPosition", MakeSuper(CBytes().U8(0xA7).U8(1).U8(1).F64(12.0).U8(4).U8(5).U32(0x10).U8(6)),
                 {"J 12.0 4 NOPOS 0x10 6"}},
        LineCase{"Bang_Report",
                 MakeSuper(CBytes().U8(0xA7).U8(1).U8(2).F64(13.5).U8(1).U8(2).F32(0.125f).F32(1.0f).F64(1.0).F64(-2.0).F64(3.5)),
                 {"! 13.5 1 2 0.12500 57.30 1.00000 -2.00000 3.50000"}},
        LineCase{"A7_NotType1_Ignored", MakeSuper(CBytes().U8(0xA7).U8(2).U8(1).F64(12.0).U8(4).U8(5).U32(0x10).U8(6)),
                 {}},
        LineCase{"A7_BadChecksum_Ignored",
                 [] {
                   KavoPacket p = MakeSuper(CBytes().U8(0xA7).U8(1).U8(1).F64(12.0).U8(4).U8(5).U32(0x10).U8(6));
                   p.data[p.length - 1] ^= 1;
                   return p;
                 }(),
                 {}}),
    CaseName);

TEST(PositionTypeText, TableAndUnknown) {
  char buffer[16];
  EXPECT_STREQ(PositionTypeText(0, buffer, sizeof buffer), "AUTONOMOUS");
  EXPECT_STREQ(PositionTypeText(49, buffer, sizeof buffer), "RTKSLAVE-FIXED");
  EXPECT_STREQ(PositionTypeText(255, buffer, sizeof buffer), "UNKNOWN");
  EXPECT_STREQ(PositionTypeText(5, buffer, sizeof buffer), "type:5?");
}

}  // namespace
