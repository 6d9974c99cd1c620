#include "logger/rtk_lines.h"

#include "line_case.h"
#include "link/protocol/kavo_ids.h"

namespace {

// An RTK report 0x89 with its checksum trailer, as the parser delivers it.
KavoPacket Rtk(const CBytes& body, std::uint8_t checksumOk = 1) {
  KavoPacket p = MakeSuper(body);
  p.id = kavo::kIdRtkReport;
  p.checksumOk = checksumOk;
  return p;
}

CBytes RoverState(int state) {
  CBytes b;
  b.U8(0)
      .U8(3)
      .U8(state)
      .U8(0x11)
      .U8(0x22)
      .U8(0x33)
      .U8(0x66)
      .U8(0x77)
      .U8(0x88)
      .U32(5)
      .U8(0x0D)
      .U8(0x0E)
      .U8(0x0F)
      .U8(0x10)
      .U8(0);
  return b;
}

const char* const kRover2 = "R RTKROVERSTATE 0x02 0x11 0x22 0x33 0x0F 0x10 0x66 0x77 0x88 05 0x0D 0x0E";

CBytes OrbiHp(int state, int count, int extra = 0) {
  CBytes b;
  b.U8(0xA3).U8(0).U16(0x1234).U8(state).F32(12345.0f).F32(0.125f).PadTo(29).U8(count);
  for (int i = 0; i < count + extra; ++i) b.U32(i == 0 ? 7u : 0xFFFFFFFFu);
  return b;
}

class RtkLines : public testing::TestWithParam<LineCase> {};

TEST_P(RtkLines, PacketGivesExactLines) {
  EXPECT_EQ(RunLineCase(GetParam()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RtkLines,
    testing::Values(
        LineCase{"Rtk1", Rtk(CBytes().U8(0).U8(0).U32(123456).U16(42)), {"R RTK1 123456 42"}},
        LineCase{"Rtk1_NoChecksum_Dropped", Rtk(CBytes().U8(0).U8(0).U32(123456).U16(42), 0), {}},
        LineCase{"Rtk1_Short_Dropped", Rtk(CBytes().U8(0).U8(0).U32(123456).U8(42)), {}},
        LineCase{"RoverDisabled",
                 Rtk(RoverState(0).U8(0xAB)),
                 {"R RTKROVERSTATE 0x00 0x11 0x22 0x33 0x0F 0x10 0x66 0x77 0x88 05 0x0D 0x0E",
                  "R RTKSTATEINFO RTKDISABLED 0xAB"}},
        LineCase{"RoverNoPosition",
                 Rtk(RoverState(1).U8(0xAC)),
                 {"R RTKROVERSTATE 0x01 0x11 0x22 0x33 0x0F 0x10 0x66 0x77 0x88 05 0x0D 0x0E",
                  "R RTKSTATEINFO NORTKPOSITION 0xAC"}},
        LineCase{"RoverFloat_ThousandthsValue",
                 Rtk(RoverState(2).U8(0x04).U8(0xD2)),
                 {kRover2, "R RTKSTATEINFO FLOAT 0x04 1.234"}},
        LineCase{"RoverFloatShort_OnlyStateLine", Rtk(RoverState(2).U8(0x04)), {kRover2}},
        LineCase{"RoverSearching",
                 Rtk(RoverState(3).U8(1).U8(2).U8(3).U8(4)),
                 {"R RTKROVERSTATE 0x03 0x11 0x22 0x33 0x0F 0x10 0x66 0x77 0x88 05 0x0D 0x0E",
                  "R RTKSTATEINFO SEARCHING 0x01 0x02 0x03 0x04"}},
        LineCase{"RoverState4_OnlyStateLine",
                 Rtk(RoverState(4).Fill(30)),
                 {"R RTKROVERSTATE 0x04 0x11 0x22 0x33 0x0F 0x10 0x66 0x77 0x88 05 0x0D 0x0E"}},
        LineCase{"RoverInitialized",
                 Rtk(RoverState(5).U8(1).U8(2).U8(3).F64(0.12345).F64(-1.5).F64(2.00005)),
                 {"R RTKROVERSTATE 0x05 0x11 0x22 0x33 0x0F 0x10 0x66 0x77 0x88 05 0x0D 0x0E",
                  "R RTKSTATEINFO INITIALIZED 0x01 0x02 0x03 0.1235 -1.5000 2.0000"}},
        LineCase{"ErrorReport",
                 Rtk(CBytes().U8(0).U8(7).U8(3).U8(250).U16(65535).U16(2).U32(123999)),
                 {"R RTKERRORREPORT 3 250 65535 2 123"}},
        LineCase{"CmrStats",
                 Rtk(CBytes().U8(0).U8(8).U8(0).U8(2).U8(9).U8(11).U8(12).U8(90).U8(80).U32(1000).U32(2000)),
                 {"R RTKCMRSTATS 2 9 [11 90% 1000] [12 80% 2000]"}},
        LineCase{"CmrStatsCountBeyondPacket_Dropped",
                 Rtk(CBytes().U8(0).U8(8).U8(0).U8(3).U8(9).U8(11).U8(12).U8(90).U8(80).U32(1000).U32(2000)),
                 {}},
        LineCase{"Type9_Ignored", Rtk(CBytes().U8(0).U8(9).U32(1).U16(1)), {}},
        LineCase{
            "OrbiHpStatus", MakeSuper(OrbiHp(2, 2)), {"R ORBIHPSTATUS 0x1234 CONVERGED 12.3 0.12 2 7 -1"}},
        LineCase{"OrbiHpStatusNoValues",
                 MakeSuper(OrbiHp(0, 0)),
                 {"R ORBIHPSTATUS 0x1234 NOSOLUTION 12.3 0.12 0"}},
        LineCase{"OrbiHpStatusBadState_Dropped", MakeSuper(OrbiHp(3, 2)), {}},
        LineCase{"OrbiHpStatusCountLengthMismatch_Dropped", MakeSuper(OrbiHp(1, 2, 1)), {}},
        LineCase{"OrbiHpStatusElevenValues_Dropped", MakeSuper(OrbiHp(1, 11)), {}}),
    CaseName);

}  // namespace
