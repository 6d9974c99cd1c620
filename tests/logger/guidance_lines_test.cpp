#include "logger/guidance_lines.h"

#include "line_case.h"

namespace {

KavoPacket Event(const CBytes& body) {
  return MakeSuper(body);
}
CBytes Key(int setFlag, int key) {
  return CBytes().U8(0x93).U8(4).U8(0).U8(setFlag).U8(key);
}
CBytes Attitude() {
  CBytes b;
  b.U8(0x93).U8(5).U8(0);
  for (double v : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.125}) b.F64(v);
  return b;
}
CBytes Debug(const std::string& text, int countDelta = 0) {
  return CBytes().U8(0x93).U8(6).U16(static_cast<int>(text.size()) + countDelta).Text(text);
}

class GuidanceLines : public testing::TestWithParam<LineCase> {};

TEST_P(GuidanceLines, PacketGivesExactLines) {
  EXPECT_EQ(RunLineCase(GetParam()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GuidanceLines,
    testing::Values(
        LineCase{"KeySetPause", Event(Key(1, 3)), {"F PAUSE"}},
        LineCase{"KeySetNavB", Event(Key(1, 9)), {"F NAVWPTB"}},
        LineCase{"KeyClearReset", Event(Key(0, 7)), {"F RESET"}},
        LineCase{"KeyOutOfTable", Event(Key(0, 8)), {"F key:8?"}},
        LineCase{"KeyOtherSetFlag", Event(Key(2, 1)), {"F key:1?"}},
        LineCase{"KeyWrongLength_Dropped", Event(Key(1, 3).U8(0)), {}},
        LineCase{"KeyByte2NotZero_Dropped", Event(CBytes().U8(0x93).U8(4).U8(1).U8(1).U8(3)), {}},
        LineCase{"Attitude", Event(Attitude()), {"A 1.0 2.00 3.00 4.00 5.00 6.00 7.00 8.00 9.00 10.12"}},
        LineCase{"AttitudeShort_Dropped",
                 [] {
                   CBytes b = Attitude();
                   b.bytes.pop_back();
                   return Event(b);
                 }(),
                 {}},
        LineCase{"DebugString", Event(Debug("pid\r\nok")), {"M pid  ok"}},
        LineCase{"DebugStringCountWrong", Event(Debug("pid", 1)), {"M Bad length on debug string"}},
        LineCase{"DebugStringNoChecksumFlag",
                 [] {
                   KavoPacket p = Event(Debug("pid"));
                   p.checksumOk = 0;
                   return p;
                 }(),
                 {"M Bad checksum on debug string"}},
        LineCase{"EventText", Event(CBytes().U8(0x93).U8(0x12).Text("Boom\r\nlowered")), {"* Boom  lowered"}},
        LineCase{"EventTextCutAt100",
                 Event(CBytes().U8(0x93).U8(0x12).Fill(150, 'e')),
                 {"* " + std::string(100, 'e')}},
        LineCase{"OtherEvent_Ignored", Event(CBytes().U8(0x93).U8(0x13).Text("x")), {}}),
    CaseName);

TEST(GuidanceDebug, CountOf255_BadLengthMatch) {
  // Too long for the super-packet route; the formatter still refuses it on its own.
  CRecordingContext context;
  CBytes b = Debug(std::string(255, 'd'));
  b.Fill(2);
  KavoPacket p = MakePacket(0x8F, b.bytes, 1);
  LogGuidanceEvents(p, context);
  EXPECT_EQ(context.lines, (std::vector<std::string>{"M Bad length match on debug string"}));
}

KavoPacket GuidanceConfig(int fill) {
  CBytes b;
  b.U8(0x91);
  for (int i = 1; i <= 34; ++i) b.U8(fill + i);
  return MakeSuper(b);
}

TEST(GuidanceConfig, FirstConfigResentWithRateOnce_SecondIgnored) {
  CRecordingContext context;
  context.session.options = kLogVerbose;
  RequestGuidanceConfig(context, true);
  ASSERT_EQ(context.sent.size(), 1u);
  EXPECT_EQ(context.sent[0].first, (std::vector<std::uint8_t>{0x8E, 0x91}));
  EXPECT_EQ(context.sent[0].second, 1);

  DispatchPacket(GuidanceConfig(0), context);
  ASSERT_EQ(context.sent.size(), 2u);
  std::vector<std::uint8_t> expected{0x8E, 0x91};
  for (int i = 1; i <= 34; ++i) expected.push_back(static_cast<std::uint8_t>(i));
  // Data bytes 16-19 carry the output rate: 200 ms in verbose mode.
  expected[1 + 16] = 0;
  expected[1 + 17] = 0;
  expected[1 + 18] = 0;
  expected[1 + 19] = 200;
  EXPECT_EQ(context.sent[1].first, expected);
  EXPECT_EQ(context.sent[1].second, 1);
  EXPECT_EQ(context.lines, (std::vector<std::string>{"SENDING GUIDANCE CONFIG"}));
  EXPECT_FALSE(context.session.guidanceRateChangePending);

  DispatchPacket(GuidanceConfig(50), context);
  RequestGuidanceConfig(context, true);
  EXPECT_EQ(context.sent.size(), 2u);
  EXPECT_EQ(context.lines.size(), 1u);
  EXPECT_EQ(context.session.savedGuidanceConfig[1], 1);
}

TEST(GuidanceConfig, NormalRateAndRateOff) {
  CRecordingContext normal;
  RequestGuidanceConfig(normal, true);
  DispatchPacket(GuidanceConfig(0), normal);
  ASSERT_EQ(normal.sent.size(), 2u);
  EXPECT_EQ(normal.sent[1].first[1 + 18], 0x03);  // 1000 = 0x03E8
  EXPECT_EQ(normal.sent[1].first[1 + 19], 0xE8);

  CRecordingContext off;
  RequestGuidanceConfig(off, false);
  DispatchPacket(GuidanceConfig(0), off);
  ASSERT_EQ(off.sent.size(), 2u);
  EXPECT_EQ(off.sent[1].first[1 + 19], 0x00);

  CRecordingContext unasked;
  DispatchPacket(GuidanceConfig(0), unasked);
  EXPECT_TRUE(unasked.sent.empty());
  EXPECT_TRUE(unasked.session.guidanceConfigReceived);
}

}  // namespace
