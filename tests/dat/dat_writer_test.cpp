#include "dat/dat_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dat_test_support.h"
#include "support/fake_clock.h"
#include "support/file_size_limit.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using namespace dattest;

struct Sent {
  std::uint8_t id;
  Bytes data;
  int flag;
  bool operator==(const Sent&) const = default;
};

const Sent kCmrRequest{0x1A, {0x02, 0x00, 0x02, 0x93, 0x94}, 0};
const Sent kIonoRequest{0x38, {0x01, 0x04, 0x00}, 0};
const Sent kUtcRequest{0x38, {0x01, 0x05, 0x00}, 0};
const Sent kOscRequest{0x2D, {}, 0};
const Sent kDopRequest{0x24, {}, 0};
Sent EphemerisRequest(std::uint8_t prn) {
  return {0x38, {0x01, 0x06, prn}, 0};
}

KavoPacket EphemerisFor(std::uint8_t prn) {
  Ephemeris x;
  x.prn = prn;
  return EphemerisReply(x);
}

KavoPacket CmrPacket(std::uint8_t type, std::uint8_t count, std::size_t length) {
  Bytes d(length, 0);
  d[0] = 2;
  d[1] = 1;
  d[2] = count;
  for (std::size_t i = 3; i < length; ++i) d[i] = static_cast<std::uint8_t>(i);
  if (length > 5) d[5] = type;
  return Packet(0x1A, d);
}

// Type and sub-type of each record, as "5/1", "17", ...
std::vector<std::string> Kinds(const std::vector<Record>& records) {
  std::vector<std::string> out;
  for (const auto& r : records) {
    out.push_back(r.type == 17 || r.subType == 0 ? std::to_string(r.type)
                                                 : std::to_string(r.type) + "/" + std::to_string(r.subType));
  }
  return out;
}

class DatWriterTest : public ::testing::Test {
 protected:
  void Post(const KavoPacket& p) { writer.PostPacket(p.id, p.length, p.data, p.checksumOk); }

  std::vector<Record> DatRecords(const std::string& name) {
    bool whole = false;
    auto records = WalkRecords(ReadWholeFile(name), &whole);
    EXPECT_TRUE(whole) << name;
    return records;
  }
  std::vector<Record> DatRecords() { return DatRecords(datName); }

  std::size_t CountSent(const Sent& s) const {
    return static_cast<std::size_t>(std::count(sent.begin(), sent.end(), s));
  }

  // Runs the acquisition from StartDatLogging to the steady state with a receiver that answers
  // every request at once. Measurements carry PRNs 5 and 12; without L2 the writer has to give up
  // waiting for it after twelve L1 packets.
  void DriveToSteadyState(bool withL2 = true) {
    writer.StartDatLogging(datName);
    ASSERT_TRUE(writer.IsActive());
    Post(TimePacket(345600.5f, 2100));
    ASSERT_EQ(writer.DatStep(), 6);
    Post(IonoReply());
    ASSERT_EQ(writer.DatStep(), 8);
    Post(UtcReply());
    ASSERT_EQ(writer.DatStep(), 9);
    Post(L1Packet({{.prn = 5}, {.prn = 12}}));
    ASSERT_EQ(writer.DatStep(), 10);
    if (withL2) {
      Post(L2Packet({{.prn = 5}}));
    } else {
      for (int i = 0; i < 12; ++i) Post(L1Packet({{.prn = 5}, {.prn = 12}}));
    }
    ASSERT_EQ(writer.DatStep(), 12);
    for (std::uint8_t prn = 1; prn <= 32; ++prn) Post(EphemerisFor(prn));
    ASSERT_EQ(writer.DatStep(), 17);
    Post(TimePacket(345601.0f, 2100));
    ASSERT_EQ(writer.DatStep(), 19);
    Post(OscillatorPacket());
    ASSERT_EQ(writer.DatStep(), 21);
    Post(SelectionPacket());
    ASSERT_EQ(writer.DatStep(), 22);
    Post(VelocityPacket());
    ASSERT_EQ(writer.DatStep(), 23);
    Post(PositionPacket(345601.0, true));
    ASSERT_EQ(writer.DatStep(), CDATWriter::kSteadyState);
  }

  // Starts the file and gets through the time, the ionosphere and UTC answers and one epoch of
  // L1 and L2 measurements of satellite 5: the writer then asks for the ephemerides.
  void StartWithSatelliteFiveMeasured() {
    writer.StartDatLogging(datName);
    Post(TimePacket(1.0f, 2100));
    Post(IonoReply());
    Post(UtcReply());
    Post(L1Packet({{.prn = 5}}));
    Post(L2Packet({{.prn = 5}}));
  }

  // Once the ephemerides are in: the next epoch's time, oscillator, selection, velocity and
  // position complete the file's start.
  void FinishEpochAfterEphemerides() {
    Post(TimePacket(2.0f, 2100));
    Post(OscillatorPacket());
    Post(SelectionPacket());
    Post(VelocityPacket());
    Post(PositionPacket(2.0, true));
    ASSERT_EQ(writer.DatStep(), CDATWriter::kSteadyState);
  }

  CTempDir dir;
  CFakeClock clock;
  CPromptRecorder prompts;
  std::vector<Sent> sent;
  std::vector<std::string> traces;
  std::vector<std::string> lines;
  std::string datName = dir / "2120812.dat";
  std::string baseName = dir / "2120812_base.cmr";
  CDATWriter writer{[this](std::uint8_t id, std::uint16_t length, const std::uint8_t* data, int flag) {
                      sent.push_back({id, Bytes(data, data + length), flag});
                    },
                    [this](const char* text) { traces.emplace_back(text); }, clock, prompts,
                    [this](const char* text) { lines.emplace_back(text); }};
};

TEST_F(DatWriterTest, Acquisition_WritesOpeningRecordsInOrder_MeasurementsOnlyInSteadyState) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());

  std::vector<std::string> expected{"5/1", "5/2", "15"};
  for (int i = 0; i < 32; ++i) expected.push_back("21");
  for (const char* k : {"16/27", "16/43", "19/5", "11"}) expected.push_back(k);
  auto records = DatRecords();
  EXPECT_EQ(Kinds(records), expected);
  EXPECT_EQ(GetLe<std::uint16_t>(records[0].bytes, 20), 2100);
  EXPECT_EQ(records[1].bytes[40], 0x5D);
  EXPECT_EQ(records.back().length, 86u);  // type 11 lists PRNs 5 and 12
  EXPECT_EQ(records.back().bytes[84], 5);
  EXPECT_EQ(records.back().bytes[85], 12);

  std::vector<Sent> expectedSent{kCmrRequest, kIonoRequest, kUtcRequest};
  for (std::uint8_t prn = 1; prn <= 32; ++prn) expectedSent.push_back(EphemerisRequest(prn));
  expectedSent.push_back(kOscRequest);
  expectedSent.push_back(kDopRequest);
  EXPECT_EQ(sent, expectedSent);

  EXPECT_EQ(traces, (std::vector<std::string>{
                        "DAT: Setting IO Options for DAT",
                        "DAT: Constructing Type 5 sub 1",
                        "DAT: Constructing Type 5 sub 2",
                        "DAT: Requesting the CMR 93 & 94",
                        "DAT: Requesting Type 15 IONO",
                        "DAT: Constructing Type 15",
                        "DAT: Constructing Type 17    ( MEASUREMENTS )",
                        "DAT: Requesting Ephemeris",
                        "DAT: Constructing Type 16 sub 27",
                        "DAT: Constructing Type 16 sub 43",
                        "DAT: Constructing Type 19 sub 5",
                        "DAT: Requesting OSC bias",
                        "DAT: Got Osc data...",
                        "DAT: Requesting DOP",
                        "DAT: Got PDOP data...",
                        "DAT: Got Velocity Data",
                        "DAT: Received POS",
                        "DAT: Constructing Type 11  ( Position )",
                    }));

  // In the steady state an L1/L2 pair writes a type 17 record.
  traces.clear();
  Post(L1Packet({{.prn = 7}, {.prn = 9}}));
  Post(L2Packet({{.prn = 9}}));
  records = DatRecords();
  ASSERT_EQ(records.size(), expected.size() + 1);
  EXPECT_EQ(records.back().type, 17);
  EXPECT_EQ(records.back().length, 21u + 48 + 72);
  EXPECT_EQ(traces, std::vector<std::string>{"DAT: Constructing Type 17    ( MEASUREMENTS )"});
  EXPECT_EQ(writer.MeasurementRecord()->SlotPrn(1), 9);
}

TEST_F(DatWriterTest, WaitingForIono_OtherPacketsBeforeDeadlineChangeNothing_FirstAfterResends) {
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2100));
  ASSERT_EQ(writer.DatStep(), 6);
  ASSERT_EQ(CountSent(kIonoRequest), 1u);
  const auto recordsBefore = DatRecords().size();

  clock.Advance(1000);
  Post(OscillatorPacket());
  clock.Advance(1000);  // exactly at the deadline: not yet later than it
  Post(UtcReply());
  EXPECT_EQ(writer.DatStep(), 6);
  EXPECT_EQ(CountSent(kIonoRequest), 1u);

  clock.Advance(1);
  Post(OscillatorPacket());
  EXPECT_EQ(writer.DatStep(), 6);
  EXPECT_EQ(CountSent(kIonoRequest), 2u);
  EXPECT_EQ(DatRecords().size(), recordsBefore);

  // The new deadline runs from the resend.
  clock.Advance(1999);
  Post(OscillatorPacket());
  EXPECT_EQ(CountSent(kIonoRequest), 2u);
  Post(IonoReply());
  EXPECT_EQ(writer.DatStep(), 8);
  EXPECT_EQ(CountSent(kUtcRequest), 1u);
}

TEST_F(DatWriterTest, ElevenL1WithoutL2KeepWaiting_TwelfthSwitchesToL1Only) {
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2100));
  Post(IonoReply());
  Post(UtcReply());
  Post(L1Packet({{.prn = 5}}));
  ASSERT_EQ(writer.DatStep(), 10);
  for (int i = 0; i < 11; ++i) Post(L1Packet({{.prn = 5}, {.prn = 6}}));
  EXPECT_EQ(writer.DatStep(), 10);
  EXPECT_EQ(writer.L1Streak(), 11);
  EXPECT_FALSE(writer.L1OnlyMode());
  EXPECT_EQ(writer.MeasurementRecord(), nullptr);

  Post(L1Packet({{.prn = 5}, {.prn = 6}, {.prn = 7}}));
  EXPECT_TRUE(writer.L1OnlyMode());
  EXPECT_EQ(writer.DatStep(), 12);
  ASSERT_NE(writer.MeasurementRecord(), nullptr);
  EXPECT_EQ(writer.MeasurementRecord()->Count(), 3);
  // Composed in memory only.
  for (const auto& r : DatRecords()) EXPECT_NE(r.type, 17);
}

TEST_F(DatWriterTest, InState10_BadL1LengthOrBadL2Checksum_BackToWaitingForL1) {
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2100));
  Post(IonoReply());
  Post(UtcReply());
  Post(L1Packet({{.prn = 5}}));
  KavoPacket lying = L1Packet({{.prn = 5}});
  lying.data[3] ^= 1;  // its own length field no longer matches
  Post(lying);
  EXPECT_EQ(writer.DatStep(), 9);

  Post(L1Packet({{.prn = 5}}));
  Post(L2Packet({{.prn = 5}}, /*checksumOk=*/0));
  EXPECT_EQ(writer.DatStep(), 9);
  EXPECT_EQ(writer.MeasurementRecord(), nullptr);

  Post(L1Packet({{.prn = 5}}));
  Post(L2Packet({{.prn = 5}}));
  EXPECT_EQ(writer.DatStep(), 12);
}

TEST_F(DatWriterTest, EphemerisRound_ResendsOnlyMissingAfterTimeout_PrnAbove32WrittenNotCounted) {
  StartWithSatelliteFiveMeasured();
  ASSERT_EQ(writer.DatStep(), 12);
  for (std::uint8_t prn = 1; prn <= 30; ++prn) Post(EphemerisFor(prn));
  Post(EphemerisFor(40));
  EXPECT_EQ(writer.DatStep(), 12);
  EXPECT_FALSE(writer.HasEphemeris(31));

  KavoPacket shortReply = EphemerisFor(31);
  shortReply.length = 170;
  clock.Advance(3600);
  Post(shortReply);  // an ephemeris reply of the wrong length is ignored, even past the deadline
  EXPECT_EQ(writer.DatStep(), 12);
  EXPECT_FALSE(writer.HasEphemeris(31));

  sent.clear();
  traces.clear();
  Post(OscillatorPacket());
  EXPECT_EQ(writer.DatStep(), 12);
  EXPECT_EQ(sent, (std::vector<Sent>{EphemerisRequest(31), EphemerisRequest(32)}));
  EXPECT_EQ(traces, std::vector<std::string>{"DAT: Requesting Ephemeris"});

  Ephemeris noWeek;  // the receiver's answer for a satellite it has no data for
  noWeek.prn = 31;
  noWeek.week = -1;
  Post(EphemerisReply(noWeek));
  Post(EphemerisFor(32));
  EXPECT_EQ(writer.DatStep(), 17);
  auto kinds = Kinds(DatRecords());
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "21"), 32);  // 1-30, 40, 32
}

TEST_F(DatWriterTest, SteadyState_PositionEpochNeedsAllFour_ShortVelocityIsFreed) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  const auto before = DatRecords().size();
  sent.clear();
  traces.clear();

  Post(PositionPacket(345602.0, false));
  EXPECT_EQ(sent, (std::vector<Sent>{kDopRequest, kOscRequest}));
  Post(OscillatorPacket());
  Post(SelectionPacket());
  Post(VelocityPacket(22));
  EXPECT_EQ(DatRecords().size(), before);

  Post(VelocityPacket(24));
  auto records = DatRecords();
  ASSERT_EQ(records.size(), before + 1);
  EXPECT_EQ(records.back().type, 11);
  EXPECT_EQ(GetLe<std::int32_t>(records.back().bytes, 76), 345602000);
  EXPECT_EQ(traces.back(), "WRITING POSITION MESSAGE\n");

  // Oscillator and selection carry over: the next position and velocity make the next epoch.
  Post(PositionPacket(345603.0, true));
  Post(VelocityPacket());
  records = DatRecords();
  ASSERT_EQ(records.size(), before + 2);
  EXPECT_EQ(GetLe<std::int32_t>(records.back().bytes, 76), 345603000);
}

TEST_F(DatWriterTest, SteadyState_RepliesWriteTheirRecords) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  traces.clear();
  const auto before = DatRecords().size();
  Post(EphemerisFor(3));
  Post(IonoReply());
  Post(UtcReply(2101));
  Post(TimePacket(2.0f, 2100));  // no time tag wanted
  auto records = DatRecords();
  ASSERT_EQ(records.size(), before + 3);
  EXPECT_EQ(records[before].type, 21);
  EXPECT_EQ(records[before + 1].type, 15);
  EXPECT_EQ(records[before + 2].type, 15);
  EXPECT_EQ(records[before + 1].bytes[116], 52);
  EXPECT_EQ(records[before + 2].bytes[116], 53);
  EXPECT_EQ(traces, (std::vector<std::string>{"DAT: Constructing Type 21   ( Ephemeris )",
                                              "DAT: Constructing Type 15 (Got New Iono)",
                                              "DAT: Constructing Type 15 (Got New UTC)"}));
}

TEST_F(DatWriterTest, SteadyState_L2WithBadChecksumDropsPendingL1) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  const auto before = DatRecords().size();
  Post(L1Packet({{.prn = 5}}));
  Post(L2Packet({{.prn = 5}}, 0));
  Post(L2Packet({{.prn = 5}}));
  EXPECT_EQ(DatRecords().size(), before);
  KavoPacket lying = L1Packet({{.prn = 5}});
  lying.length = static_cast<std::uint16_t>(lying.length - 1);
  Post(lying);
  Post(L2Packet({{.prn = 5}}));
  EXPECT_EQ(DatRecords().size(), before);
}

TEST_F(DatWriterTest, L1OnlyMode_EachL1WrittenAlone_UntilAnL2Arrives) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState(/*withL2=*/false));
  ASSERT_TRUE(writer.L1OnlyMode());
  for (const auto& r : DatRecords()) ASSERT_NE(r.type, 17);
  traces.clear();
  const auto before = DatRecords().size();

  Post(L1Packet({{.prn = 8}}));
  auto records = DatRecords();
  ASSERT_EQ(records.size(), before + 1);
  EXPECT_EQ(records.back().type, 17);
  EXPECT_EQ(records.back().length, 69u);
  EXPECT_EQ(traces, std::vector<std::string>{"DAT: Constructing L1Only Type 17    ( MEASUREMENTS )"});

  Post(L2Packet({{.prn = 8}}));
  EXPECT_FALSE(writer.L1OnlyMode());
  Post(L1Packet({{.prn = 8}}));
  EXPECT_EQ(DatRecords().size(), before + 1);
  Post(L2Packet({{.prn = 8}}));
  records = DatRecords();
  ASSERT_EQ(records.size(), before + 2);
  EXPECT_EQ(records.back().length, 93u);
}

TEST_F(DatWriterTest, CmrRelay_AppendsMessageAndOneLogLine_InEveryState) {
  writer.StartDatLogging(datName);
  const KavoPacket cmr = CmrPacket(0x93, 40, 44);
  const Bytes message(cmr.data + 3, cmr.data + 43);

  Post(cmr);  // state 0
  EXPECT_EQ(writer.DatStep(), 0);
  Post(TimePacket(1.0f, 2100));
  ASSERT_EQ(writer.DatStep(), 6);
  Post(cmr);  // waiting for the ionosphere
  EXPECT_EQ(writer.DatStep(), 6);
  std::string base = ReadWholeFile(baseName);
  ASSERT_EQ(base.size(), 80u);
  EXPECT_EQ(Bytes(base.begin(), base.begin() + 40), message);
  EXPECT_EQ(lines, (std::vector<std::string>{"R CMR Type:0x93 Len:40", "R CMR Type:0x93 Len:40"}));

  writer.StopDatLogging();
  lines.clear();
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  Post(CmrPacket(0x94, 40, 43));
  EXPECT_EQ(ReadWholeFile(baseName).size(), 40u);
  EXPECT_EQ(lines, std::vector<std::string>{"R CMR Type:0x94 Len:40"});
}

// A full disk: a record the disk takes only in part is cut away again, so the file stays a run of
// whole records; the bytes lost are counted, the first failure is told once, and records go on
// once there is room again.
TEST_F(DatWriterTest, DiskFull_RecordsLostWholeToldOnceAndWritingGoesOn) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  const std::size_t records = DatRecords().size();
  const auto size = std::filesystem::file_size(datName);
  {
    CFileSizeLimit full(size + 10);
    Post(EphemerisFor(7));
    Post(EphemerisFor(8));
    EXPECT_EQ(std::filesystem::file_size(datName), size);
  }
  Post(EphemerisFor(9));
  const std::vector<Record> after = DatRecords();
  ASSERT_EQ(after.size(), records + 1);
  EXPECT_EQ(after.back().type, 21);
  EXPECT_EQ(writer.LostBytes(), 2 * kDatLength21);
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"cannot write " + datName + ": File too large"});
}

// Each new file pair counts its own losses and tells its own first failure, base file included.
TEST_F(DatWriterTest, DiskFull_NewFilePairCountsAndTellsItsOwn) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  const std::string full = dir / "full.dat";
  const std::string fullBase = dir / "full_base.cmr";
  std::filesystem::create_symlink("/dev/full", full);
  std::filesystem::create_symlink("/dev/full", fullBase);
  writer.ReopenDatFile(full);  // its two type 5 records are lost
  Post(CmrPacket(0x93, 40, 44));
  Post(CmrPacket(0x94, 40, 44));
  EXPECT_EQ(writer.LostBytes(), kDatLength5Sub1 + kDatLength5Sub2 + 80);
  EXPECT_EQ(prompts.Texts(),
            (std::vector<std::string>{"cannot write " + full + ": No space left on device",
                                      "cannot write " + fullBase + ": No space left on device"}));
  EXPECT_EQ(lines.size(), 2u);  // the CMR notes still reach the log
  writer.ReopenDatFile(datName);
  EXPECT_EQ(writer.LostBytes(), 0u);
  EXPECT_TRUE(writer.IsActive());
}

TEST_F(DatWriterTest, CmrRelay_OtherOrLyingPackets_WriteNothing) {
  writer.StartDatLogging(datName);
  KavoPacket wrongType = CmrPacket(0x95, 40, 44);
  KavoPacket wrongSub = CmrPacket(0x93, 40, 44);
  wrongSub.data[1] = 2;
  Post(wrongType);
  Post(wrongSub);
  Post(CmrPacket(0x93, 40, 42));  // says 40 bytes, holds 39
  Post(CmrPacket(0x93, 3, 5));    // too short to hold its type byte
  EXPECT_TRUE(ReadWholeFile(baseName).empty());
  EXPECT_TRUE(lines.empty());
}

TEST_F(DatWriterTest, StartFails_ShowsMessageAndStaysAsItWas) {
  const std::string missing = dir / "no/such/folder/x.dat";
  writer.StartDatLogging(missing);
  EXPECT_FALSE(writer.IsActive());
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Failed to open DAT logging file '" + missing + "'\n"});

  // The base file's name taken by a folder.
  const std::string blocked = dir / "blocked.dat";
  std::filesystem::create_directory(dir / "blocked_base.cmr");
  writer.StartDatLogging(blocked);
  EXPECT_FALSE(writer.IsActive());
  EXPECT_EQ(prompts.Texts().back(),
            "Failed to open base DAT logging file '" + (dir / "blocked_base.cmr") + "'\n");

  // A running session survives a failed restart.
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2100));
  ASSERT_EQ(writer.DatStep(), 6);
  writer.StartDatLogging(missing);
  EXPECT_TRUE(writer.IsActive());
  EXPECT_EQ(writer.DatStep(), 6);
  Post(CmrPacket(0x93, 40, 43));
  EXPECT_EQ(ReadWholeFile(baseName).size(), 40u);
}

TEST_F(DatWriterTest, StartAppending_KeepsEarlierRecordsAndCutsARecordLeftHalfWritten) {
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2100));
  Post(CmrPacket(0x93, 40, 43));
  writer.StopDatLogging();
  const std::string earlier = ReadWholeFile(datName);
  ASSERT_EQ(Kinds(DatRecords()), (std::vector<std::string>{"5/1", "5/2"}));
  // A writer killed in the middle of a record: its header and part of its body.
  {
    std::ofstream cut(datName, std::ios::binary | std::ios::app);
    cut << std::string("\x74\x41\x01\x05\x00\x00", 6);
  }

  writer.StartDatLogging(datName, /*append=*/true);
  ASSERT_TRUE(writer.IsActive());
  EXPECT_EQ(writer.DatStep(), 0);
  Post(TimePacket(1.0f, 2200));
  Post(CmrPacket(0x94, 40, 43));
  const std::string now = ReadWholeFile(datName);
  EXPECT_EQ(now.substr(0, earlier.size()), earlier);
  EXPECT_EQ(Kinds(DatRecords()), (std::vector<std::string>{"5/1", "5/2", "5/1", "5/2"}));
  EXPECT_EQ(ReadWholeFile(baseName).size(), 80u);

  // Without appending the files start empty.
  writer.StartDatLogging(datName);
  EXPECT_TRUE(ReadWholeFile(datName).empty());
  EXPECT_TRUE(ReadWholeFile(baseName).empty());
}

TEST_F(DatWriterTest, StartAppending_FileThatIsNoDatFile_LeftAsItIs) {
  { std::ofstream(datName, std::ios::binary) << "not records"; }
  writer.StartDatLogging(datName, true);
  Post(TimePacket(1.0f, 2100));
  const std::string now = ReadWholeFile(datName);
  EXPECT_EQ(now.substr(0, 11), "not records");
  EXPECT_EQ(now.size(), 11u + 65 + 64);
}

TEST_F(DatWriterTest, Reopen_NewFileGetsOpeningRecordsAndRequests_StateKept) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  const std::string oldFile = ReadWholeFile(datName);
  const std::string nextName = dir / "2120813.dat";
  sent.clear();
  traces.clear();
  writer.ReopenDatFile(nextName);
  EXPECT_EQ(writer.DatStep(), CDATWriter::kSteadyState);
  EXPECT_TRUE(writer.NeedTimeTag());
  EXPECT_EQ(sent, (std::vector<Sent>{EphemerisRequest(5), EphemerisRequest(12), kIonoRequest, kUtcRequest}));
  EXPECT_FALSE(writer.HasEphemeris(5));
  EXPECT_TRUE(writer.HasEphemeris(6));

  Post(TimePacket(3.0f, 2100));
  Post(TimePacket(4.0f, 2100));  // only one time tag
  Post(EphemerisFor(5));
  Post(CmrPacket(0x93, 40, 43));
  EXPECT_EQ(Kinds(DatRecords(nextName)), (std::vector<std::string>{"5/1", "5/2", "19/5", "21"}));
  EXPECT_EQ(GetLe<std::uint16_t>(DatRecords(nextName)[0].bytes, 20), 2100);
  EXPECT_EQ(ReadWholeFile(dir / "2120813_base.cmr").size(), 40u);
  EXPECT_EQ(ReadWholeFile(datName), oldFile);
}

TEST_F(DatWriterTest, Reopen_DuringAcquisition_NewFileStillGetsIonoUtcAndEveryEphemeris) {
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2100));
  Post(IonoReply());
  Post(UtcReply());
  ASSERT_EQ(writer.DatStep(), 9);  // type 15 is in the first file

  const std::string nextName = dir / "2120813.dat";
  sent.clear();
  writer.ReopenDatFile(nextName);
  EXPECT_EQ(writer.DatStep(), 9);
  EXPECT_EQ(sent, (std::vector<Sent>{kIonoRequest, kUtcRequest}));  // no ephemeris yet

  Post(L1Packet({{.prn = 5}}));
  Post(L2Packet({{.prn = 5}}));
  ASSERT_EQ(writer.DatStep(), 12);
  EXPECT_EQ(CountSent(EphemerisRequest(1)), 1u);  // the round asks for every satellite
  EXPECT_EQ(CountSent(EphemerisRequest(32)), 1u);
  for (std::uint8_t prn = 1; prn <= 32; ++prn) Post(EphemerisFor(prn));
  ASSERT_EQ(writer.DatStep(), 17);
  ASSERT_NO_FATAL_FAILURE(FinishEpochAfterEphemerides());

  std::vector<std::string> expected{"5/1", "5/2", "15"};
  for (int i = 0; i < 32; ++i) expected.push_back("21");
  for (const char* k : {"16/27", "16/43", "19/5", "11"}) expected.push_back(k);
  EXPECT_EQ(Kinds(DatRecords(nextName)), expected);
}

TEST_F(DatWriterTest, Reopen_AfterEphemerisRound_RequestedEphemerisGoesIntoTheNewFile) {
  StartWithSatelliteFiveMeasured();
  for (std::uint8_t prn = 1; prn <= 32; ++prn) Post(EphemerisFor(prn));
  ASSERT_EQ(writer.DatStep(), 17);
  Post(EphemerisFor(5));  // a late second answer, not asked for again: not written
  const auto firstFile = DatRecords().size();

  const std::string nextName = dir / "2120813.dat";
  sent.clear();
  writer.ReopenDatFile(nextName);
  EXPECT_EQ(sent, (std::vector<Sent>{EphemerisRequest(5), kIonoRequest, kUtcRequest}));
  Post(EphemerisFor(6));  // not asked for
  Post(EphemerisFor(5));
  Post(EphemerisFor(5));  // once is enough
  EXPECT_EQ(writer.DatStep(), 17);
  ASSERT_NO_FATAL_FAILURE(FinishEpochAfterEphemerides());
  EXPECT_EQ(Kinds(DatRecords(nextName)), (std::vector<std::string>{"5/1", "5/2", "15", "21", "19/5", "11"}));
  EXPECT_EQ(DatRecords(nextName)[3].bytes[4], 5);
  EXPECT_EQ(DatRecords().size(), firstFile);
}

TEST_F(DatWriterTest, Reopen_AppendsToAnExistingFile) {
  ASSERT_NO_FATAL_FAILURE(DriveToSteadyState());
  const auto before = DatRecords().size();
  writer.ReopenDatFile(datName);
  auto records = DatRecords();
  ASSERT_EQ(records.size(), before + 2);
  EXPECT_EQ(records[before].type, 5);
}

TEST_F(DatWriterTest, Reopen_BeforeAnyWeek_WritesSub2OnlyAndSaysWhy) {
  writer.StartDatLogging(datName);
  traces.clear();
  writer.ReopenDatFile(datName);
  EXPECT_EQ(Kinds(DatRecords()), std::vector<std::string>{"5/2"});
  EXPECT_EQ(traces,
            (std::vector<std::string>{"DAT: No GPS week yet, Type 5 sub 1 not written",
                                      "DAT: Constructing Type 5 sub 2", "DAT: Requesting Type 15 IONO"}));
  // Nothing to ask for: no measurement epoch is held.
  EXPECT_EQ(sent, (std::vector<Sent>{kIonoRequest, kUtcRequest}));
}

TEST_F(DatWriterTest, WeekRecord_KeptAcrossStarts_DroppedByStop) {
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2100));
  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2200));
  EXPECT_EQ(GetLe<std::uint16_t>(DatRecords()[0].bytes, 20), 2100);

  writer.StopDatLogging();
  EXPECT_FALSE(writer.IsActive());
  EXPECT_EQ(writer.WeekRecord(), nullptr);
  Post(CmrPacket(0x93, 40, 43));
  EXPECT_TRUE(lines.empty());

  writer.StartDatLogging(datName);
  Post(TimePacket(1.0f, 2200));
  EXPECT_EQ(GetLe<std::uint16_t>(DatRecords()[0].bytes, 20), 2200);
}

TEST_F(DatWriterTest, PostPacket_LongerThanPacketArea_Ignored) {
  writer.StartDatLogging(datName);
  Bytes big(kKavoMaxData + 1, 0);
  big[0] = 2;
  big[1] = 1;
  big[2] = 40;
  big[5] = 0x93;
  writer.PostPacket(0x1A, static_cast<std::uint16_t>(big.size()), big.data(), 0);
  EXPECT_TRUE(lines.empty());
}

TEST(DatWriterDummies, MissingFunctions_WriterRunsOnTheDummies) {
  CTempDir dir;
  CFakeClock clock;
  CPromptRecorder prompts;
  CDATWriter writer(
      nullptr, [](const char*) { FAIL() << "a lone trace function is replaced too"; }, clock, prompts);
  writer.StartDatLogging(dir / "a.dat");
  const KavoPacket time = TimePacket(1.0f, 2100);
  writer.PostPacket(time.id, time.length, time.data, 0);
  EXPECT_EQ(writer.DatStep(), 6);
  CDATWriter::DummySend(0x2D, 0, nullptr, 0);
  CDATWriter::DummyTrace("x");
}

TEST(DatWriterNames, BaseFileName_ReplacesOnlyTheEnding) {
  EXPECT_EQ(CDATWriter::BaseFileName("/logs/2120812.dat"), "/logs/2120812_base.cmr");
  EXPECT_EQ(CDATWriter::BaseFileName("/logs.dat/2120812.dat"), "/logs.dat/2120812_base.cmr");
  EXPECT_EQ(CDATWriter::BaseFileName("/logs/plain"), "/logs/plain_base.cmr");
}

}  // namespace
