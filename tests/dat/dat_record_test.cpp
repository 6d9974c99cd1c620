#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <numbers>

#include "dat/dat_record11.h"
#include "dat/dat_record15.h"
#include "dat/dat_record16.h"
#include "dat/dat_record17.h"
#include "dat/dat_record19.h"
#include "dat/dat_record21.h"
#include "dat/dat_record5.h"
#include "dat_test_support.h"
#include "support/temp_dir.h"

namespace {

using namespace dattest;

// A DAT file in a temp folder: records write to Fd(), Records() closes and walks it.
class DatRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir / "records.dat";
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int Fd() const { return fd; }
  std::string Contents() {
    Close();
    return ReadWholeFile(path);
  }
  std::vector<Record> Records() {
    bool whole = false;
    auto records = WalkRecords(Contents(), &whole);
    EXPECT_TRUE(whole);
    return records;
  }

  CTempDir dir;
  std::string path;
  int fd = -1;
};

// --- type 17 -------------------------------------------------------------------------------

TEST_F(DatRecordTest, Type17_SkipsPrnZeroAndAbove32_WritesOneL1Block) {
  const L1Entry entry{.prn = 5, .e1 = 0x21, .e2 = 0x13, .e3 = 200};
  CDATRecord17 record(Fd());
  ASSERT_TRUE(
      record.WriteFromPackets(L1Packet({{.prn = 0}, entry, {.prn = 40}}, 345600.5, 0.00125), nullptr, true));
  EXPECT_EQ(record.Count(), 1);
  EXPECT_EQ(record.Length(), 69);
  EXPECT_EQ(record.SlotPrn(0), 5);

  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Bytes& r = records[0].bytes;
  ASSERT_EQ(r.size(), 69u);
  EXPECT_EQ(r[0], 0x74);
  EXPECT_EQ(GetLe<std::uint16_t>(r, 1), 69);
  EXPECT_EQ(r[3], 17);
  EXPECT_EQ(GetLe<double>(r, 4), 345600.5);
  EXPECT_EQ(GetLe<double>(r, 12), -0.00125);
  EXPECT_EQ(r[20], 1);
  const std::size_t b = 21;
  EXPECT_EQ(r[b + 0], 5);
  EXPECT_EQ(r[b + 1], (0x21 & 0xFE) | 0x10);
  EXPECT_EQ(r[b + 2], 0x13 & 0xEF);
  EXPECT_EQ(r[b + 3], 1);
  EXPECT_EQ(GetLe<std::int16_t>(r, b + 4), 200 - 76);
  EXPECT_EQ(GetLe<std::int16_t>(r, b + 6), -300);
  EXPECT_EQ(GetLe<double>(r, b + 8), 2.5);  // 10 x 0.25
  EXPECT_EQ(GetLe<double>(r, b + 16), 21012345.5);
  EXPECT_EQ(GetLe<double>(r, b + 24), -1234.25);
  EXPECT_EQ(GetLe<double>(r, b + 32), 2.5);
  EXPECT_EQ(GetLe<double>(r, b + 40), 0.0);
}

TEST_F(DatRecordTest, Type17_SignalLevelUpTo127_KeptAsIs) {
  CDATRecord17 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(L1Packet({{.prn = 3, .e3 = 127}}), nullptr, true));
  EXPECT_EQ(GetLe<std::int16_t>(Records()[0].bytes, 21 + 4), 127);
}

TEST_F(DatRecordTest, Type17_WithMatchingL2Entry_Writes72ByteBlock) {
  const L1Entry entry{.prn = 5, .e1 = 0x21, .e2 = 0x13};
  const L2Entry companion{.prn = 5, .f1 = 0x40, .f2 = 0x18, .f3 = 1.75f, .f7 = 21012399.125, .f15 = -3.5f};
  const KavoPacket l2 = L2Packet({companion});
  CDATRecord17 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(L1Packet({{.prn = 0}, entry, {.prn = 40}}), &l2, true));
  EXPECT_EQ(record.Length(), 93);

  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Bytes& r = records[0].bytes;
  ASSERT_EQ(r.size(), 93u);
  const std::size_t b = 21;
  EXPECT_EQ(r[b + 1], 0x21 | 0x40 | 0x10);
  EXPECT_EQ(r[b + 2] & 0x04, 0x04);
  EXPECT_EQ(r[b + 2] & 0x10, 0);
  EXPECT_EQ(r[b + 2], (0x13 | 0x18 | 0x04) & 0xEF);
  EXPECT_EQ(GetLe<double>(r, b + 48), 1.75);
  EXPECT_EQ(GetLe<double>(r, b + 56), 21012399.125);
  EXPECT_EQ(GetLe<double>(r, b + 64), -3.5);
}

TEST_F(DatRecordTest, Type17_MixedBlocks_EachWrittenAtItsOwnLength) {
  // PRN 9 has L2 data (the first of two PRN 9 entries wins), PRN 3 has not; L2 for PRN 30 is unused.
  const KavoPacket l2 = L2Packet({{.prn = 30}, {.prn = 9, .f3 = 4.0f}, {.prn = 9, .f3 = 8.0f}});
  CDATRecord17 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(L1Packet({{.prn = 3}, {.prn = 9}}), &l2, true));
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Bytes& r = records[0].bytes;
  ASSERT_EQ(r.size(), 21u + 48 + 72);
  EXPECT_EQ(r[20], 2);
  EXPECT_EQ(r[21], 3);
  EXPECT_EQ(r[21 + 48], 9);
  EXPECT_EQ(GetLe<double>(r, 21 + 48 + 48), 4.0);
  EXPECT_EQ(record.SlotPrn(1), 9);
}

TEST_F(DatRecordTest, Type17_MoreThan12UsableEntries_KeepsTheFirst12) {
  std::vector<L1Entry> entries;
  for (std::uint8_t prn = 1; prn <= 14; ++prn) entries.push_back({.prn = prn});
  CDATRecord17 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(L1Packet(entries), nullptr, true));
  EXPECT_EQ(record.Count(), 12);
  EXPECT_EQ(record.SlotPrn(11), 12);
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].length, 21u + 12 * 48);
}

TEST_F(DatRecordTest, Type17_ComposedWithoutWrite_KeepsSlotsAndWritesNothing) {
  CDATRecord17 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(L1Packet({{.prn = 0}, {.prn = 17}, {.prn = 2}}), nullptr, false));
  EXPECT_EQ(record.Count(), 2);
  EXPECT_EQ(record.SlotPrn(0), 17);
  EXPECT_EQ(record.SlotPrn(1), 2);
  EXPECT_EQ(record.SlotPrn(2), 0);
  EXPECT_TRUE(Contents().empty());
}

TEST_F(DatRecordTest, Type17_ShortOrLyingPackets_WriteNothing) {
  KavoPacket shortL1 = L1Packet({});
  shortL1.length = 20;
  KavoPacket lyingL2 = L2Packet({{.prn = 5}});
  lyingL2.data[17] = 3;  // says three entries, holds one
  KavoPacket shortL2 = L2Packet({});
  shortL2.length = 17;
  CDATRecord17 record(Fd());
  EXPECT_FALSE(record.WriteFromPackets(shortL1, nullptr, true));
  EXPECT_FALSE(record.WriteFromPackets(L1Packet({{.prn = 5}}), &lyingL2, true));
  EXPECT_FALSE(record.WriteFromPackets(L1Packet({{.prn = 5}}), &shortL2, true));
  EXPECT_TRUE(Contents().empty());
}

// --- type 11 -------------------------------------------------------------------------------

struct TimeOfFixCase {
  double seconds;
  bool asDouble;
  std::int32_t milliseconds;
};

class DatRecord11Time : public DatRecordTest, public ::testing::WithParamInterface<TimeOfFixCase> {};

TEST_P(DatRecord11Time, TimeOfFix_TruncatedToMilliseconds) {
  CDATRecord17 measurements(-1);
  ASSERT_TRUE(measurements.WriteFromPackets(L1Packet({{.prn = 4}, {.prn = 22}}), nullptr, false));
  CDATRecord11 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(PositionPacket(GetParam().seconds, GetParam().asDouble),
                                      VelocityPacket(), OscillatorPacket(), SelectionPacket(), measurements));
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(GetLe<std::int32_t>(records[0].bytes, 76), GetParam().milliseconds);
}

INSTANTIATE_TEST_SUITE_P(Cases, DatRecord11Time,
                         ::testing::Values(TimeOfFixCase{12.3456, false, 12345},
                                           TimeOfFixCase{12.3456, true, 12345},
                                           TimeOfFixCase{345600.9999, true, 345600999},
                                           TimeOfFixCase{-0.0019, true, -1}));

TEST_F(DatRecordTest, Type11_ComposesEveryField) {
  CDATRecord17 measurements(-1);
  ASSERT_TRUE(measurements.WriteFromPackets(L1Packet({{.prn = 4}, {.prn = 0}, {.prn = 22}}), nullptr, false));
  CDATRecord11 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(PositionPacket(100.0, true, 0.8, -1.6), VelocityPacket(24),
                                      OscillatorPacket(12.75f), SelectionPacket(4, 0x0B, 1.75f),
                                      measurements));
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Bytes& r = records[0].bytes;
  ASSERT_EQ(r.size(), 86u);
  EXPECT_EQ(r[1], 86);
  EXPECT_EQ(r[2], 0);
  EXPECT_EQ(r[3], 11);
  EXPECT_DOUBLE_EQ(GetLe<double>(r, 4), 0.8 / std::numbers::pi);
  EXPECT_DOUBLE_EQ(GetLe<double>(r, 12), -1.6 / std::numbers::pi);
  EXPECT_EQ(GetLe<double>(r, 20), 245.5);
  EXPECT_EQ(GetLe<double>(r, 28), 1234.5);
  EXPECT_EQ(GetLe<double>(r, 36), 12.75);
  EXPECT_EQ(GetLe<double>(r, 44), 1.75);
  EXPECT_EQ(GetLe<double>(r, 52), -2.5);  // north
  EXPECT_EQ(GetLe<double>(r, 60), 1.5);   // east
  EXPECT_EQ(GetLe<double>(r, 68), 0.25);  // up
  EXPECT_EQ(GetLe<std::int32_t>(r, 76), 100000);
  EXPECT_EQ(r[80], 0x0B & 7);
  EXPECT_EQ(r[81], 2);
  EXPECT_EQ((Bytes{r[82], r[83], r[84], r[85]}), (Bytes{0, 1, 4, 22}));
}

TEST_F(DatRecordTest, Type11_BadPositionLengthOrShortCompanions_WriteNothing) {
  CDATRecord17 measurements(-1);
  ASSERT_TRUE(measurements.WriteFromPackets(L1Packet({{.prn = 4}}), nullptr, false));
  KavoPacket position38 = PositionPacket(1.0, true);
  position38.length = 38;
  KavoPacket shortVelocity = VelocityPacket();
  shortVelocity.length = 11;
  KavoPacket shortSelection = SelectionPacket();
  shortSelection.length = 4;
  CDATRecord11 record(Fd());
  EXPECT_FALSE(record.WriteFromPackets(position38, VelocityPacket(), OscillatorPacket(), SelectionPacket(),
                                       measurements));
  EXPECT_FALSE(record.WriteFromPackets(PositionPacket(1.0, true), shortVelocity, OscillatorPacket(),
                                       SelectionPacket(), measurements));
  EXPECT_FALSE(record.WriteFromPackets(PositionPacket(1.0, true), VelocityPacket(), OscillatorPacket(),
                                       shortSelection, measurements));
  EXPECT_FALSE(record.WriteFromPackets(PositionPacket(std::nan(""), true), VelocityPacket(),
                                       OscillatorPacket(), SelectionPacket(), measurements));
  EXPECT_FALSE(record.WriteFromPackets(PositionPacket(3.0e6, true), VelocityPacket(), OscillatorPacket(),
                                       SelectionPacket(), measurements));
  EXPECT_TRUE(Contents().empty());
}

// --- type 21 -------------------------------------------------------------------------------

TEST_F(DatRecordTest, Type21_ConvertsEveryField) {
  const Ephemeris x;
  CDATRecord21 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(EphemerisReply(x)));
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Bytes& r = records[0].bytes;
  ASSERT_EQ(r.size(), 190u);
  EXPECT_EQ((Bytes{r[0], r[1], r[2], r[3]}), (Bytes{0x74, 190, 0, 21}));
  EXPECT_EQ(r[4], 7);
  EXPECT_EQ(r[5], 0);
  EXPECT_EQ(GetLe<std::int16_t>(r, 6), 2100);
  EXPECT_EQ(GetLe<std::int16_t>(r, 8), 333);
  EXPECT_EQ(r[10], 0);
  EXPECT_EQ(r[11], 77);
  EXPECT_EQ(GetLe<std::int32_t>(r, 12), 86400);
  EXPECT_EQ(GetLe<std::int32_t>(r, 16), 93600);
  EXPECT_EQ(GetLe<std::int32_t>(r, 20), 93600);

  // Expected values computed here from the inputs: radians to semicircles for the angle terms.
  const double pi = std::numbers::pi;
  struct Term {
    std::size_t offset;
    double expected;
  };
  const Term terms[] = {
      {24, double(x.tgd)},
      {32, double(x.af2)},
      {40, double(x.af1)},
      {48, double(x.af0)},
      {56, double(x.crs)},
      {64, double(x.deltaN) / pi},
      {72, x.m0 / pi},
      {80, double(x.cuc) / pi},
      {88, x.e},
      {96, double(x.cus) / pi},
      {104, x.sqrtA},
      {112, double(x.cic) / pi},
      {120, x.omega0 / pi},
      {128, double(x.cis) / pi},
      {136, x.i0 / pi},
      {144, double(x.crc)},
      {152, x.omega / pi},
      {160, double(x.omegaDot) / pi},
      {168, double(x.idot) / pi},
  };
  for (const Term& t : terms)
    EXPECT_DOUBLE_EQ(GetLe<double>(r, t.offset), t.expected) << "offset " << t.offset;
  // fit 1, health 0x15, L2 code 2, L2 P flag 1: ((((1 << 6) | 0x15) << 3 | 2) << 1) | 1
  EXPECT_EQ(GetLe<std::uint32_t>(r, 176), ((((1u << 6) | 0x15u) << 3 | 2u) << 1) | 1u);
  EXPECT_EQ(Bytes(r.begin() + 180, r.end()), Bytes(10, 0));
}

TEST_F(DatRecordTest, Type21_InvalidEphemerides_WriteNothing) {
  Ephemeris negativeWeek;
  negativeWeek.week = -1;
  Ephemeris negativeTime;
  negativeTime.tEphem = -0.5f + -1.0f;
  Ephemeris hugeToe;
  hugeToe.toe = 1.0e12f;
  KavoPacket shortReply = EphemerisReply(Ephemeris{});
  shortReply.length = 130;
  CDATRecord21 record(Fd());
  EXPECT_FALSE(record.WriteFromPackets(EphemerisReply(negativeWeek)));
  EXPECT_FALSE(record.WriteFromPackets(EphemerisReply(negativeTime)));
  EXPECT_FALSE(record.WriteFromPackets(EphemerisReply(hugeToe)));
  EXPECT_FALSE(record.WriteFromPackets(shortReply));
  EXPECT_TRUE(Contents().empty());
}

TEST_F(DatRecordTest, Type21_TEphemJustBelowOne_TruncatesToZeroAndIsWritten) {
  Ephemeris x;
  x.tEphem = -0.75f;  // truncates toward zero, so not negative
  CDATRecord21 record(Fd());
  EXPECT_TRUE(record.WriteFromPackets(EphemerisReply(x)));
  EXPECT_EQ(GetLe<std::int32_t>(Records()[0].bytes, 12), 0);
}

// --- types 5, 15, 16, 19 -------------------------------------------------------------------

TEST_F(DatRecordTest, Type5_KnownSubTypesWrittenFromMemory_OthersRefused) {
  CDATRecord5 record(Fd());
  record.SetGpsWeek(2100);
  EXPECT_TRUE(record.WriteFromPackets(1));
  EXPECT_FALSE(record.WriteFromPackets(3));
  EXPECT_FALSE(record.WriteFromImage(Bytes(64, 0).data(), 64, 3));
  EXPECT_TRUE(record.WriteFromPackets(5));
  auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].length, 65u);
  EXPECT_EQ(records[0].subType, 1);
  EXPECT_EQ(records[0].type, 5);
  EXPECT_EQ(GetLe<std::uint16_t>(records[0].bytes, 20), 2100);
  Bytes others = records[0].bytes;
  others[20] = others[21] = 0;
  EXPECT_EQ(Bytes(others.begin() + 4, others.end()), Bytes(61, 0));
  EXPECT_EQ(records[1].length, 32u);
  EXPECT_EQ(records[1].subType, 5);
}

TEST_F(DatRecordTest, Type5Sub2_FromZeroImage_CarriesConstant) {
  CDATRecord5 record(Fd());
  const Bytes image(60, 0);
  EXPECT_TRUE(record.WriteFromImage(image.data(), image.size(), 2));
  EXPECT_FALSE(record.WriteFromImage(image.data(), 59, 2));
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  Bytes expected(64, 0);
  expected[0] = 0x74;
  expected[1] = 64;
  expected[2] = 2;
  expected[3] = 5;
  expected[40] = 0x5D;
  EXPECT_EQ(records[0].bytes, expected);
}

TEST_F(DatRecordTest, Type5Sub1Image_NumbersReversedBlocksCopied) {
  Bytes image(61, 0);
  PutBe<std::uint16_t>(image, 0, 0x0102);  // field 1
  image[2] = 0xA1;                         // 6-byte block at record offset 6
  image[7] = 0xA6;
  PutBe<std::uint16_t>(image, 16, 2100);  // week at record offset 20
  PutBe(image, 40, 3.25);                 // f64 at record offset 44
  image[48] = 0xB1;                       // 4-byte block at record offset 52
  CDATRecord5 record(Fd());
  EXPECT_TRUE(record.WriteFromImage(image.data(), image.size(), 1));
  EXPECT_EQ(record.GpsWeek(), 2100);
  const Bytes r = Records()[0].bytes;
  EXPECT_EQ(GetLe<std::uint16_t>(r, 4), 0x0102);
  EXPECT_EQ(r[6], 0xA1);
  EXPECT_EQ(r[11], 0xA6);
  EXPECT_EQ(GetLe<double>(r, 44), 3.25);
  EXPECT_EQ(r[52], 0xB1);
}

TEST_F(DatRecordTest, Type15_ConvertsAndKeepsLowBytesOfWeeks) {
  CDATRecord15 record(Fd());
  ASSERT_TRUE(record.WriteFromPackets(IonoReply(), UtcReply(2100, 2101, 7)));
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Bytes& r = records[0].bytes;
  ASSERT_EQ(r.size(), 124u);
  EXPECT_EQ((Bytes{r[0], r[1], r[2], r[3]}), (Bytes{0x74, 124, 0, 15}));
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(GetLe<double>(r, 4 + 8 * i), static_cast<double>(static_cast<float>(1.0e-8 * (i + 1))));
  }
  EXPECT_EQ(GetLe<double>(r, 68), static_cast<double>(2.5e-15f));
  EXPECT_EQ(GetLe<double>(r, 76), 1.5e-9);
  EXPECT_EQ(GetLe<double>(r, 84), 405504.0);
  EXPECT_EQ(GetLe<double>(r, 92), 18.0);
  EXPECT_EQ(GetLe<double>(r, 100), 19.0);
  EXPECT_EQ(GetLe<double>(r, 108), 0.0);
  EXPECT_EQ(r[116], 52);  // 2100 = 0x0834
  EXPECT_EQ(r[117], 53);
  EXPECT_EQ(r[118], 7);
  EXPECT_EQ(Bytes(r.begin() + 119, r.end()), Bytes(5, 0));
}

TEST_F(DatRecordTest, Type15_ShortReply_WritesNothing) {
  KavoPacket utc = UtcReply();
  utc.length = 42;
  CDATRecord15 record(Fd());
  EXPECT_FALSE(record.WriteFromPackets(IonoReply(), utc));
  EXPECT_TRUE(Contents().empty());
}

TEST_F(DatRecordTest, Type16_BlocksCopiedUnchanged) {
  const Bytes block{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  CDATRecord16 record(Fd());
  EXPECT_TRUE(record.WriteFromImage(block.data(), 16, 27));
  EXPECT_TRUE(record.WriteFromImage(block.data(), 9, 43));
  EXPECT_FALSE(record.WriteFromImage(block.data(), 16, 28));
  EXPECT_FALSE(record.WriteFromImage(block.data(), 8, 43));
  auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ((Bytes{records[0].bytes[1], records[0].bytes[2], records[0].bytes[3]}), (Bytes{20, 27, 16}));
  EXPECT_EQ(Bytes(records[0].bytes.begin() + 4, records[0].bytes.end()), block);
  EXPECT_EQ((Bytes{records[1].bytes[1], records[1].bytes[2], records[1].bytes[3]}), (Bytes{13, 43, 16}));
  EXPECT_EQ(Bytes(records[1].bytes.begin() + 4, records[1].bytes.end()),
            Bytes(block.begin(), block.begin() + 9));
}

TEST_F(DatRecordTest, Type19_FromTimePacket_WeekAndMilliseconds) {
  CDATRecord19 record(Fd());
  EXPECT_TRUE(record.WriteFromTimePacket(TimePacket(345600.5f, 2100)));
  EXPECT_FALSE(record.WriteFromImage(Bytes(10, 0).data(), 10, 4));
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Bytes& r = records[0].bytes;
  EXPECT_EQ((Bytes{r[0], r[1], r[2], r[3]}), (Bytes{0x74, 14, 5, 19}));
  EXPECT_EQ(GetLe<std::uint16_t>(r, 4), 2100);
  EXPECT_EQ(GetLe<double>(r, 6), 345600500.0);
}

}  // namespace
