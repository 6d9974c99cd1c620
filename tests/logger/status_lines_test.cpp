#include "logger/status_lines.h"

#include "line_case.h"

namespace {

class StatusLines : public testing::TestWithParam<LineCase> {};

TEST_P(StatusLines, PacketGivesExactLines) {
  EXPECT_EQ(RunLineCase(GetParam()), GetParam().lines);
}

CBytes Identity(const std::string& text) {
  return CBytes().U8(0x7B).Fill(21).U8(3).U8(7).U8(11).U8(28).U8(107).Fill(2).Text(text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusLines,
    testing::Values(
        LineCase{"HealthPositioningBbramOnly_NoLine", MakePacket(0x46, {0, 1}), {}},
        LineCase{"HealthPositioningDspError_NoErrorTexts", MakePacket(0x46, {0, 2}), {"H Positioning;"}},
        LineCase{"HealthWithErrorBits",
                 MakePacket(0x46, {7, 0x31}),
                 {"H Only 3 svs avail;BBRAM cleared;No antenna detected;Excessive Freq Bias;"}},
        LineCase{"HealthAllErrorBits",
                 MakePacket(0x46, {12, 0xFF}),
                 {"H Chosen sv unusable;BBRAM cleared;DSP error;Align. of ch1;Align. of ch2;No antenna "
                  "detected;Excessive Freq Bias;"}},
        LineCase{"HealthCode13_Unknown", MakePacket(0x46, {13, 0}), {"H Unk. status code 13"}},
        LineCase{"HealthWrongLength_Dropped", MakePacket(0x46, {1, 0, 0}), {}},
        LineCase{"Adc",
                 MakePacket(0x53, CBytes().F32(12.25f).Fill(12).F32(-3.5f).Fill(12).bytes),
                 {"* ADC 12.2 -3.5"}},
        LineCase{"AdcWrongLength_Dropped", MakePacket(0x53, CBytes().Fill(31).bytes), {}},
        LineCase{"DebugText_LineBreaksBecomeBlanks",
                 MakePacket(0x5F, CBytes().U8(1).Text("task\r\nstack 42").bytes),
                 {"M task  stack 42"}},
        LineCase{"DebugText_NotType1_Ignored", MakePacket(0x5F, CBytes().U8(2).Text("x").bytes), {}},
        LineCase{"DebugText_TooLong_BadDataNote",
                 MakePacket(0x5F, CBytes().U8(1).Fill(300, 'a').bytes),
                 {"* M String contained bad data"}},
        LineCase{"Identity",
                 MakeSuperOfLength(Identity("AG-9000 firmware"), 157),
                 {"I 3.07 11/28/2007 AG-9000 firmware"}},
        LineCase{"IdentityTextWithoutNul_StopsBeforeChecksum",
                 MakeSuper(Identity(std::string(126, 'z'))),
                 {"I 3.07 11/28/2007 " + std::string(126, 'z')}},
        LineCase{"IdentityWrongLength_Dropped", MakeSuperOfLength(Identity("x"), 156), {}},
        LineCase{"EngineStatus",
                 MakeSuperOfLength(CBytes()
                                       .U8(0x90)
                                       .U8(0)
                                       .F64(1234.5)
                                       .U16(0xBEEF)
                                       .U8(7)
                                       .U16(-12)
                                       .Fill(10)
                                       .F32(1.25f)
                                       .F32(-2.5f)
                                       .F32(0.5f),
                                   61),
                 {"E 1234.5 beef 07 -12 1.25 -2.50 28.65"}},
        LineCase{"EngineStatusNoTime_NoLine", MakeSuperOfLength(CBytes().U8(0x90).U8(0).F64(0.001), 61), {}}),
    CaseName);

TEST(Health, ColdResetWithOptionReconfiguresOnce) {
  CRecordingContext context;
  context.session.options = kLogColdBootReconfigure;
  context.session.coldResetSeen = true;
  DispatchPacket(MakePacket(0x46, {1, 0x01}), context);
  EXPECT_EQ(context.lines, (std::vector<std::string>{"H No GPS time yet;BBRAM cleared;",
                                                     "* Cold reset - reconfigure receiver."}));
  EXPECT_EQ(context.configureRuns, 1);
  EXPECT_FALSE(context.session.coldResetSeen);
  DispatchPacket(MakePacket(0x46, {1, 0x01}), context);
  EXPECT_EQ(context.configureRuns, 1);
}

TEST(Health, ColdResetWithoutOptionOrBitLeavesReceiverAlone) {
  CRecordingContext context;
  context.session.coldResetSeen = true;
  DispatchPacket(MakePacket(0x46, {1, 0x01}), context);
  context.session.options = kLogColdBootReconfigure;
  DispatchPacket(MakePacket(0x46, {1, 0x02}), context);
  EXPECT_EQ(context.configureRuns, 0);
  EXPECT_TRUE(context.session.coldResetSeen);
}

}  // namespace
