#include "logger/hour_manifest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "logger/logrowan.h"
#include "logger/raw_packet_log.h"
#include "packet_builder.h"
#include "support/fake_clock.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

// GPS week 2400: Wednesday 7 January 2026 is its day 3; 18 s between GPS and UTC.
KavoPacket TimeAt(int hour, int minute, int second, int week = 2400) {
  const float timeOfWeek = static_cast<float>(3 * 86400 + hour * 3600 + minute * 60 + second + 18);
  return MakePacket(0x41, CBytes().F32(timeOfWeek).U16(week).F32(18.0f).bytes);
}

// A packet whose frame was `rawLength` bytes on the line.
KavoPacket Sized(std::uint8_t id, std::uint16_t rawLength, std::uint8_t checksumOk = 0) {
  KavoPacket p = MakePacket(id, {0x01, 0x02});
  p.rawLength = rawLength;
  p.checksumOk = checksumOk;
  return p;
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

constexpr const char* kShaAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kShaEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(HourManifest, CountsByIdBytesChecksumsGapsAndLinkEvents_InTheDocumentedText) {
  CTempDir dir;
  CHourManifest m;
  m.NoteDroppedFrames(2);  // before the hour: carried into it
  m.NoteLinkLost();
  m.NotePacket(TimeAt(13, 0, 5), 90.0);  // no hour open: sets the time, counts nothing
  m.NotePacket(Sized(0x84, 10), 95.0);
  EXPECT_EQ(m.Packets(), 0u);
  m.Begin(6010714, "A_", 2026, 1, 7, 14);  // the last packet taken was no time packet
  EXPECT_EQ(m.Packets(), 0u);

  KavoPacket time = TimeAt(14, 0, 6);
  time.rawLength = 16;
  m.NotePacket(time, 101.0);
  m.NotePacket(Sized(0x8F, 30, 1), 101.5);
  m.NotePacket(Sized(0x8F, 30, 0), 103.5);  // exactly 2 s: not a gap; bad checksum
  m.NotePacket(Sized(0x89, 12, 0), 106.0);  // 2.5 s after 14:00:08.5; bad checksum
  m.NotePacket(Sized(0x5F, 9, 0), 106.1);   // sent without checksum: no failure
  KavoPacket late = TimeAt(14, 0, 20);
  late.rawLength = 16;
  m.NotePacket(late, 108.0);  // the receiver says 14:00:20: 8.9 s after the last packet
  m.NoteDroppedFrames(1);
  m.NoteLinkRestored();
  m.NoteLost(3, 200);

  EXPECT_EQ(m.Packets(), 6u);
  EXPECT_EQ(m.Bytes(), 16u + 30 + 30 + 12 + 9 + 16);
  EXPECT_EQ(m.PacketsWithId(0x8F), 2u);
  EXPECT_EQ(m.ChecksumFailures(), 2u);
  EXPECT_EQ(m.DroppedFrames(), 3u);
  ASSERT_EQ(m.GapCount(), 2u);

  Write(dir / "A_6010714.log", "abc");
  Write(dir / "A_6010714.kavo", "");
  const std::string log = (dir / "A_6010714.log");
  EXPECT_EQ(m.Text(log, CHourManifest::HourFiles(log)),
            std::string("manifest: 1\n"
                        "hour: 6010714\n"
                        "utc-hour: 2026-01-07 14\n"
                        "station: A_\n"
                        "log: A_6010714.log\n"
                        "packets: 6\n"
                        "bytes: 113\n"
                        "packets-0x41: 2\n"
                        "packets-0x5F: 1\n"
                        "packets-0x89: 1\n"
                        "packets-0x8F: 2\n"
                        "checksum-failures: 2\n"
                        "parser-dropped-frames: 3\n"
                        "gap-time: receiver UTC\n"
                        "gaps: 2\n"
                        "gap: 2026-01-07T14:00:08.500Z 2.500\n"
                        "gap: 2026-01-07T14:00:11.100Z 8.900\n"
                        "link-lost: 1\n"
                        "link-restored: 1\n"
                        "lost-lines: 3\n"
                        "lost-bytes: 200\n"
                        "sha256: ") +
                kShaAbc + "  A_6010714.log\nsha256: " + kShaEmpty + "  A_6010714.kavo\n");
}

// Only regular files are read: a device in a file's place (a link to /dev/zero) would never end,
// and a FIFO would never open.
TEST(HourManifest, DeviceOrFifoInAFilesPlace_NotReadAndFinishEnds) {
  CTempDir dir;
  const std::string log = dir / "A_6010714.log";
  Write(log, "abc");
  std::filesystem::create_symlink("/dev/zero", dir / "A_6010714.kavo");
  ASSERT_EQ(::mkfifo((dir / "A_6010714.dat").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "A_6010714.manifest");
  EXPECT_EQ(CHourManifest::Sha256OfFile(dir / "A_6010714.kavo"), "");
  EXPECT_EQ(CHourManifest::Sha256OfFile(dir / "A_6010714.dat"), "");
  EXPECT_EQ(CHourManifest::Sha256OfFile(log), kShaAbc);
  CHourManifest m;
  m.Begin(6010714, "A_", 2026, 1, 7, 14);
  ASSERT_TRUE(m.Finish(log));
  const std::string text = ReadWholeFile(dir / "A_6010714.manifest");
  EXPECT_NE(text.find(std::string("sha256: ") + kShaAbc + "  A_6010714.log\n"), std::string::npos) << text;
  EXPECT_EQ(text.find(".kavo"), std::string::npos);
  EXPECT_EQ(text.find(".dat"), std::string::npos);
}

TEST(HourManifest, NewHourStartsFromZero_GapsNeedATimeAndAreBounded) {
  CTempDir dir;
  CHourManifest m;
  m.Begin(6010714, "A_", 2026, 1, 7, 14);
  m.NotePacket(Sized(0x84, 10), 1.0);
  m.NotePacket(Sized(0x84, 10), 50.0);  // no receiver time yet: no gap can be placed
  EXPECT_EQ(m.GapCount(), 0u);
  m.NotePacket(TimeAt(14, 0, 0), 60.0);
  for (int i = 1; i <= 150; ++i) m.NotePacket(Sized(0x84, 10), 60.0 + 3.0 * i);
  EXPECT_EQ(m.GapCount(), 150u);
  EXPECT_EQ(m.Gaps().size(), CHourManifest::kMaxListedGaps);

  m.Begin(6010715, "A_", 2026, 1, 7, 15);
  EXPECT_EQ(m.Packets(), 0u);
  EXPECT_EQ(m.GapCount(), 0u);
  EXPECT_EQ(m.PacketsWithId(0x84), 0u);
  // The receiver's time carries over the hour change, the previous packet does not.
  m.NotePacket(Sized(0x84, 10), 600.0);
  EXPECT_EQ(m.GapCount(), 0u);

  // The time packet that opens a session's first hour is that hour's first packet.
  m.Finish(dir / "A.log");
  KavoPacket opening = TimeAt(16, 0, 0);
  opening.rawLength = 16;
  m.NotePacket(opening, 700.0);
  m.Begin(6010716, "A_", 2026, 1, 7, 16);
  EXPECT_EQ(m.Packets(), 1u);
  EXPECT_EQ(m.Bytes(), 16u);
  EXPECT_EQ(m.PacketsWithId(0x41), 1u);
  m.NotePacket(Sized(0x84, 10), 703.0);  // 16:00:03
  ASSERT_EQ(m.Gaps().size(), 1u);
  EXPECT_DOUBLE_EQ(m.Gaps()[0].length, 3.0);
}

TEST(HourManifest, Finish_WritesBesideTheLogOnceAndNotWithoutAnHour) {
  CTempDir dir;
  CHourManifest m;
  const std::string log = (dir / "X6010714.log");
  EXPECT_FALSE(m.Finish(log));
  EXPECT_FALSE(std::filesystem::exists(dir / "X6010714.manifest"));
  m.Begin(6010714, "X", 2026, 1, 7, 14);
  Write(dir / "X6010714.log", "abc");
  ASSERT_TRUE(m.Finish(log));
  const std::string text = ReadWholeFile(dir / "X6010714.manifest");
  EXPECT_NE(text.find(std::string("sha256: ") + kShaAbc + "  X6010714.log\n"), std::string::npos);
  EXPECT_FALSE(m.IsOpen());
  EXPECT_FALSE(m.Finish(log));  // a closed hour is not written again
  // A folder that is gone: no manifest and no leftover part file.
  m.Begin(6010715, "X", 2026, 1, 7, 15);
  EXPECT_FALSE(m.Finish((dir / "gone/X6010715.log")));
  EXPECT_EQ(CHourManifest::PathFor("/a/b.log"), "/a/b.manifest");
  EXPECT_EQ(CHourManifest::Sha256OfFile((dir / "missing")), "");
}

TEST(HourManifest, RestartedHour_CountsOfTheEarlierSessionAdded) {
  CTempDir dir;
  const std::string log = dir / "A_6010714.log";
  CHourManifest first;
  first.Begin(6010714, "A_", 2026, 1, 7, 14);
  first.NotePacket(TimeAt(14, 0, 0), 10.0);
  first.NotePacket(Sized(0x8F, 20, 0), 13.0);
  first.NoteLinkLost();
  first.NoteLost(2, 40);
  ASSERT_TRUE(first.Finish(log));

  CHourManifest second;  // a new session: a new logger
  second.Begin(6010714, "A_", 2026, 1, 7, 14);
  second.NotePacket(TimeAt(14, 30, 0), 10.0);
  second.NotePacket(Sized(0x8F, 20, 1), 14.0);
  second.NoteLost(1, 100);
  ASSERT_TRUE(second.Finish(log));
  const std::string text = ReadWholeFile(dir / "A_6010714.manifest");
  EXPECT_NE(text.find("packets: 4\n"), std::string::npos) << text;
  EXPECT_NE(text.find("packets-0x41: 2\npackets-0x8F: 2\nchecksum-failures: 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("gaps: 2\ngap: 2026-01-07T14:00:00.000Z 3.000\ngap: 2026-01-07T14:30:00.000Z 4.000\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("link-lost: 1\n"), std::string::npos);
  EXPECT_NE(text.find("lost-lines: 3\nlost-bytes: 140\n"), std::string::npos) << text;

  // A manifest of another hour under the name is not added (nor is anything that is no manifest).
  CHourManifest other;
  other.Begin(6010715, "A_", 2026, 1, 7, 15);
  ASSERT_TRUE(other.Finish(log));
  EXPECT_NE(ReadWholeFile(dir / "A_6010714.manifest").find("packets: 0\n"), std::string::npos);
}

// The logger: the manifest of a closed hour is there when its archive starts, the next hour's log
// says so, and a session's end writes the last one.
class CHost final : public ILoggerHost {
 public:
  bool SendToReceiver(const KavoPacket&, int) override { return false; }
  void Disconnect() override {}
  std::string LoggingFolder() const override { return folder; }
  std::string LoggingPrefix() const override { return "FARM"; }
  std::string folder;
};

TEST(HourManifest, Logger_HourChangeAndSessionEndWriteManifests) {
  CTempDir dir;
  CHost host;
  host.folder = dir.Path().string();
  CFakeClock clock;
  CPromptRecorder prompts;
  // The archive worker's view of the closed hour's manifest, read on its own thread.
  auto seen = std::make_shared<std::promise<std::string>>();
  CLogrowan logger(host, clock, prompts, [seen](const ClosedLogFile& closed) {
    seen->set_value(ReadWholeFile(CHourManifest::PathFor(closed.logPath)));
    return 1;
  });
  logger.SetRawPacketLog(std::make_unique<CRawPacketLog>(prompts));
  auto tick = [&] {
    clock.Advance(50);
    logger.ProcessLogger();
  };
  logger.StartLogging(kLogPassive | kLogKavo);
  tick();
  logger.QueuePacket(TimeAt(14, 59, 50));
  tick();  // the time, taken before the file opens
  tick();  // opens FARM6010714.log
  logger.NoteDroppedFrames(4);
  logger.QueuePacket(MakePacket(0x53, CBytes().Fill(32).bytes));
  logger.QueuePacket(TimeAt(15, 0, 0));  // 9.9 s later by the receiver: a gap, the packet in 14 h
  logger.QueuePacket(MakePacket(0x53, CBytes().Fill(32).bytes));
  tick();  // both taken, then Logging sees the new hour
  tick();  // closes 14 h, opens 15 h
  tick();  // the second 0x53 lands in 15 h
  logger.WriteLine("* Link lost. Last GPS time: unknown");
  logger.WriteLine("* Link restored after 1.5 s. Last GPS time: unknown\n");
  logger.WriteLine("* Link lost");
  logger.WriteLine("M * Link lost");  // not the logger's line
  logger.NoteLinkRestored();
  logger.StopLogging();

  std::future<std::string> atArchive = seen->get_future();
  ASSERT_EQ(atArchive.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  const std::string m14 = ReadWholeFile(dir / "FARM6010714.manifest");
  EXPECT_EQ(m14, atArchive.get());
  EXPECT_NE(m14.find("hour: 6010714\nutc-hour: 2026-01-07 14\nstation: FARM\nlog: FARM6010714.log\n"
                     "packets: 3\n"),
            std::string::npos)
      << m14;
  EXPECT_NE(m14.find("packets-0x41: 2\npackets-0x53: 1\n"), std::string::npos) << m14;
  EXPECT_NE(m14.find("parser-dropped-frames: 4\n"), std::string::npos);
  EXPECT_NE(m14.find("gaps: 1\ngap: 2026-01-07T14:59:50.100Z 9.900\n"), std::string::npos) << m14;
  EXPECT_NE(
      m14.find("sha256: " + CHourManifest::Sha256OfFile((dir / "FARM6010714.log")) + "  FARM6010714.log\n"),
      std::string::npos);
  EXPECT_NE(m14.find("  FARM6010714.kavo\n"), std::string::npos);

  const std::string log15 = ReadWholeFile(dir / "FARM6010715.log");
  EXPECT_NE(log15.find("*********************************\n* Manifest written\n"), std::string::npos)
      << log15;
  EXPECT_EQ(ReadWholeFile(dir / "FARM6010714.log").find("Manifest"), std::string::npos);

  const std::string m15 = ReadWholeFile(dir / "FARM6010715.manifest");
  EXPECT_NE(m15.find("packets: 1\n"), std::string::npos) << m15;
  EXPECT_NE(m15.find("parser-dropped-frames: 0\n"), std::string::npos);
  EXPECT_NE(m15.find("link-lost: 2\nlink-restored: 2\n"), std::string::npos) << m15;
  EXPECT_NE(m15.find("sha256: " + CHourManifest::Sha256OfFile((dir / "FARM6010715.log"))), std::string::npos);
}

}  // namespace
