// NAME layout, identifier packing and the software identification text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/j1939/j1939_id.h"
#include "link/j1939/j1939_name.h"
#include "link/j1939/software_identification.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const J1939Name& n) {
  return Bytes(n.begin(), n.end());
}

TEST(J1939Name, ProgramName_InstanceBitsInByteFourAndFirstBytes4010) {
  EXPECT_EQ(Of(ProgramJ1939Name(1)), (Bytes{0x40, 0x10, 0xA0, 0x08, 0x20, 0x1C, 0x00, 0x80}));
  EXPECT_EQ(Of(ProgramJ1939Name(0)), (Bytes{0x40, 0x10, 0xA0, 0x08, 0x00, 0x1C, 0x00, 0x80}));
  EXPECT_EQ(ProgramJ1939Name(7)[4], 0xE0);
  EXPECT_EQ(ProgramJ1939Name(9), ProgramJ1939Name(1));  // only the low three bits count
  EXPECT_TRUE(IsArbitraryAddressCapable(ProgramJ1939Name(1)));
  EXPECT_LT(J1939NameValue(ProgramJ1939Name(1)), J1939NameValue(ProgramJ1939Name(2)));
}

TEST(J1939Name, EveryFieldInItsBits) {
  J1939NameFields f;
  f.identityNumber = 0x1FFFFF;
  f.manufacturerCode = 0x7FF;
  f.ecuInstance = 7;
  f.functionInstance = 0x1F;
  f.function = 0xFF;
  f.vehicleSystem = 0x7F;
  f.vehicleSystemInstance = 0xF;
  f.industryGroup = 7;
  f.arbitraryAddressCapable = true;
  EXPECT_EQ(J1939NameValue(MakeJ1939Name(f)), 0xFFFEFFFFFFFFFFFFull);  // bit 48 reserved
}

struct IdCase {
  std::uint32_t pgn;
  std::uint8_t destination;
  std::uint32_t id;
  std::uint8_t parsedDestination;
};

TEST(J1939Id, PackAndParse) {
  const IdCase cases[] = {
      {0xEF00, 0x1C, 0x18EF1CF9, 0x1C},  // PDU1: destination in PS
      {0xEE00, 0xFF, 0x18EEFFF9, 0xFF},
      {65242, 0x1C, 0x18FEDAF9, 0xFF},    // PDU2: destination ignored
      {0x1F004, 0x00, 0x19F004F9, 0xFF},  // data page from the PGN
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeJ1939Id(6, c.pgn, c.destination, 0xF9), c.id) << c.pgn;
    const J1939Id parsed = ParseJ1939Id(c.id);
    EXPECT_EQ(parsed.priority, 6);
    EXPECT_EQ(parsed.pgn, c.pgn);
    EXPECT_EQ(parsed.destination, c.parsedDestination);
    EXPECT_EQ(parsed.source, 0xF9);
  }
  EXPECT_EQ(ParseJ1939Id(0xFFFFFFFF).priority, 7);  // bits above 28 ignored
}

TEST(SoftwareIdentification, ProgramText_ThreePiecesWithTrailingNul) {
  std::string expected = "QRXID,0,0;VER,0.00,06/22/99;COM,J1939(+),KVCAN(+);NAME,4010a008201c0080;";
  expected.push_back('\0');
  EXPECT_EQ(FormatSoftwareIdentification(ProgramSoftwareIdentification(ProgramJ1939Name(1))), expected);
}

TEST(SoftwareIdentification, CapabilityWordsFollowBothMasks) {
  SoftwareIdentification id;
  id.capabilities = kCapabilityIso11783 | kCapabilityNmea2000 | kCapabilityCanIp;
  id.plusMarks = kCapabilityCanIp | kCapabilityJ1939;
  const std::string text = FormatSoftwareIdentification(id);
  EXPECT_NE(text.find(";COM,ISO11783,NMEA2000,CANip(+);NAME,"), std::string::npos) << text;
}

TEST(SoftwareIdentification, ReadBack_FromAStarDelimitedField) {
  const std::string text =
      "GX2*QRXID,12,34;VER,1.05,03/04/21;COM,J1939,KVCAN(+),CANip;NAME,0102030405060a0b;*more";
  SoftwareIdentification id;
  ASSERT_TRUE(
      ParseSoftwareIdentification(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), id));
  EXPECT_EQ(id.qrxFirst, 12);
  EXPECT_EQ(id.qrxSecond, 34);
  ASSERT_TRUE(id.hasVersion);
  EXPECT_EQ(id.versionMajor, 1);
  EXPECT_EQ(id.versionMinor, 5);
  EXPECT_EQ(id.month, 3);
  EXPECT_EQ(id.day, 4);
  EXPECT_EQ(id.year, 21);
  EXPECT_EQ(id.capabilities, kCapabilityJ1939 | kCapabilityKvcan | kCapabilityCanIp);
  EXPECT_EQ(id.plusMarks, kCapabilityKvcan);
  ASSERT_TRUE(id.hasName);
  EXPECT_EQ(Of(id.name), (Bytes{1, 2, 3, 4, 5, 6, 0x0A, 0x0B}));
}

TEST(SoftwareIdentification, RoundTripOfTheProgramText) {
  const auto text = FormatSoftwareIdentification(ProgramSoftwareIdentification(ProgramJ1939Name(5)));
  SoftwareIdentification id;
  ASSERT_TRUE(
      ParseSoftwareIdentification(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), id));
  EXPECT_EQ(id.name, ProgramJ1939Name(5));
  EXPECT_EQ(id.capabilities, kCapabilityJ1939 | kCapabilityKvcan);
  EXPECT_EQ(id.plusMarks, kCapabilityJ1939 | kCapabilityKvcan);
  EXPECT_EQ(id.day, 22);
}

TEST(SoftwareIdentification, BadTexts) {
  auto parse = [](const std::string& text, SoftwareIdentification& id) {
    return ParseSoftwareIdentification(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), id);
  };
  SoftwareIdentification id;
  EXPECT_FALSE(parse("", id));
  EXPECT_FALSE(parse("VER,1.00;COM,KVCAN", id));
  EXPECT_FALSE(parse("QRXID,x,1;", id));
  EXPECT_FALSE(parse("QRXID,1", id));
  EXPECT_FALSE(parse(std::string("QRX\0ID,1,2;", 11), id));  // the text ends at the NUL
  ASSERT_TRUE(parse("QRXID,1,2;VER,1;NAME,0102", id));       // a field cut short is left out
  EXPECT_FALSE(id.hasVersion);
  EXPECT_FALSE(id.hasName);
  // A text cut inside the field: nothing read beyond the given length.
  const std::string full = "QRXID,1,2;NAME,0102030405060708;";
  ASSERT_TRUE(ParseSoftwareIdentification(reinterpret_cast<const std::uint8_t*>(full.data()), 20, id));
  EXPECT_FALSE(id.hasName);
}

}  // namespace
