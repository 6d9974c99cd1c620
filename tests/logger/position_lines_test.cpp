#include "logger/position_lines.h"

#include "line_case.h"

namespace {

CBytes LlaFix(double fixTime, bool longTime) {
  CBytes b;
  b.F64(0.5).F64(-1.0).F64(123.4567).F64(5.25);
  if (longTime)
    b.F64(fixTime);
  else
    b.F32(static_cast<float>(fixTime));
  return b;
}

CBytes Velocity(float east, float north, float fourth, double time, bool longTime) {
  CBytes b;
  b.F32(east).F32(north).F32(0.0f).F32(fourth);
  if (longTime)
    b.F64(time);
  else
    b.F32(static_cast<float>(time));
  return b;
}

class PositionLines : public testing::TestWithParam<LineCase> {};

TEST_P(PositionLines, PacketGivesExactLines) {
  EXPECT_EQ(RunLineCase(GetParam()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PositionLines,
    testing::Values(
        LineCase{"LlaLength40_DoubleFixTime",
                 MakePacket(0x84, LlaFix(345600.04, true).bytes),
                 {"P 345600.0 28.647889757 -57.295779513 123.457 MD ON 5.250  "}},
        LineCase{"LlaLength36_SingleFixTime",
                 MakePacket(0x84, LlaFix(1234.75, false).bytes),
                 {"P 1234.8 28.647889757 -57.295779513 123.457 MD ON 5.250  "}},
        LineCase{"LlaLength37_Dropped", MakePacket(0x84, LlaFix(1.0, false).U8(0).bytes), {}},
        LineCase{"LlaNegativeTime_ResetNoteFirst",
                 MakePacket(0x84, LlaFix(-1.0, true).bytes),
                 {"* Reset Detected - 84", "P -1.0 28.647889757 -57.295779513 123.457 MD ON 5.250  "}},
        LineCase{"LlaModeAboveTable_PrintsUnknown",
                 MakePacket(0x84, LlaFix(1.0, true).bytes),
                 {"P 1.0 28.647889757 -57.295779513 123.457 XXXXX 5.250  "},
                 [](LoggerSession& s) { s.dgpsMode = 9; }},
        LineCase{"XyzNegativeTime_NoResetNote",
                 MakePacket(0x83, CBytes().F64(-2.5e6).F64(1.0e6).F64(4.5e6).F64(-0.001).F64(-3.0).bytes),
                 {"Z -3.0 -2500000.000 1000000.000 4500000.000 MD ON -0.001  "}},
        LineCase{"ResetDetection4A_ShortNegative",
                 MakePacket(0x4A, CBytes().Fill(16).F32(-1.0f).bytes),
                 {"* Reset Detected - 4A"}},
        LineCase{
            "ResetDetection4A_WrongLength", MakePacket(0x4A, CBytes().Fill(16).F32(-1.0f).U8(0).bytes), {}},
        LineCase{"Velocity20_NorthEast",
                 MakePacket(0x56, Velocity(3, 4, 1.5f, 100.0, false).bytes),
                 {"V 100.0 5.0000 36.9 1.500"}},
        LineCase{"Velocity24_WestwardHeadingWraps",
                 MakePacket(0x56, Velocity(-1, 0, -0.1f, 100.25, true).bytes),
                 {"V 100.2 1.0000 270.0 -0.100"}},
        LineCase{"VelocityStill_HeadingZero",
                 MakePacket(0x56, Velocity(0.0005f, 0, 0, 5.0, false).bytes),
                 {"V 5.0 0.0005 0.0 0.000"}},
        LineCase{"VelocityTimeTooLarge_NanDump",
                 MakePacket(0x56, CBytes().U8(0x3F).Fill(15, 0x0A).F32(2.0e6f).bytes),
                 {"V NAN 3f a a a a a a a a a a a a a a a 49 f4 24 0 "}},
        LineCase{"Velocity21_Dropped", MakePacket(0x56, Velocity(3, 4, 1.5f, 100.0, false).U8(0).bytes), {}},
        LineCase{"DgpsModeBadLength_ResendNote",
                 MakePacket(0x82, {1, 2}),
                 {"* NOTE: Received bad pos type pkt, requesting a resend."}},
        LineCase{"AttitudeMatrix",
                 MakePacket(0x94, CBytes()
                                      .F64(7.0)
                                      .F32(1)
                                      .F32(0)
                                      .F32(0)
                                      .F32(0)
                                      .F32(1)
                                      .F32(0)
                                      .F32(0)
                                      .F32(0)
                                      .F32(-1.25f)
                                      .bytes),
                 {"A M 7.0 1.000 0.000 0.000 0.000 1.000 0.000 0.000 0.000 -1.250"}},
        LineCase{"AttitudeQuaternion",
                 MakePacket(0x95, CBytes().F64(8.25).F32(0.5f).F32(-0.5f).F32(0.25f).F32(1).bytes),
                 {"A Q 8.2 0.500 -0.500 0.250 1.000"}},
        LineCase{"AttitudeEuler",
                 MakePacket(0x9A, CBytes().F64(9.0).F32(1.5f).F32(2.5f).F32(-3.5f).bytes),
                 {"A E 9.0 1.500 2.500 -3.500"}},
        LineCase{
            "AttitudeEulerWrongLength", MakePacket(0x9A, CBytes().F64(9.0).F32(1.5f).F32(2.5f).bytes), {}},
        LineCase{
            "GuidancePositionLlaTypeT",
            MakeSuperOfLength(
                CBytes().U8(0x93).U8(7).U8(0).U8(2).F64(0.5).F64(-1.0).F64(10.0).F64(0.125).F64(77.0), 46),
            {"P 77.0 28.647889757 -57.295779513 10.000 MD ON 0.125 T"}},
        LineCase{"GuidancePositionXyzTypeR",
                 MakeSuperOfLength(
                     CBytes().U8(0x93).U8(7).U8(1).U8(0).F64(1.0).F64(2.0).F64(3.0).F64(4.0).F64(5.0), 46),
                 {"Z 5.0 1.000 2.000 3.000 MD ON 4.000 R"}},
        LineCase{"GuidancePositionUnknownType",
                 MakeSuperOfLength(
                     CBytes().U8(0x93).U8(7).U8(0).U8(3).F64(1.0).F64(2.0).F64(3.0).F64(4.0).F64(5.0), 46),
                 {}}),
    CaseName);

TEST(DgpsMode, ChangedModeForcesRequestsAndBadLengthAsksAgain) {
  CRecordingContext context;
  context.session.dgpsMode = 4;
  DispatchPacket(MakePacket(0x82, {2}), context);
  EXPECT_EQ(context.session.dgpsMode, 2);
  EXPECT_TRUE(context.session.forceRequests);

  context.session.forceRequests = false;
  DispatchPacket(MakePacket(0x82, {2, 0, 0, 0}), context);
  EXPECT_FALSE(context.session.forceRequests);

  DispatchPacket(MakePacket(0x82, {}), context);
  ASSERT_EQ(context.sent.size(), 1u);
  EXPECT_EQ(context.sent[0].first, (std::vector<std::uint8_t>{0x62}));
  EXPECT_EQ(context.sent[0].second, 0);
}

TEST(ResetDetection, NegativeFixTimeMarksColdReset) {
  CRecordingContext context;
  DispatchPacket(MakePacket(0x4A, CBytes().Fill(16).F64(-0.5).bytes), context);
  EXPECT_TRUE(context.session.coldResetSeen);
}

}  // namespace
