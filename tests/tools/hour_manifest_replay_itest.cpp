// The hour manifest of a raw packet log of known content, replayed with plowview-replay: its counts
// are those of the file, its checksums those of the hour's files, and with --archive it is in the
// hour's zip.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QProcess>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"
#include "program_path.h"
#include "support/kavo_frame.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ProgramRun {
  int exitCode = -1;
  std::string out, err;
};

ProgramRun Start(const QString& program, const QStringList& arguments) {
  QProcess p;
  p.start(program, arguments);
  ProgramRun r;
  if (!p.waitForFinished(30000)) return r;
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

Bytes Frame(std::uint8_t id, const Bytes& payload, int withChecksum = 0) {
  return KavoFrame(id, payload, withChecksum);
}

// Time packet of GPS week 2400 (7 January 2026 is its day 3) for a UTC time of that day.
Bytes TimeFrame(int hour, int minute, int second) {
  const float timeOfWeek = static_cast<float>(3 * 86400 + hour * 3600 + minute * 60 + second + 18);
  std::uint32_t bits;
  std::memcpy(&bits, &timeOfWeek, 4);
  const float offset = 18.0f;
  std::uint32_t offsetBits;
  std::memcpy(&offsetBits, &offset, 4);
  Bytes d;
  for (int i = 3; i >= 0; --i) d.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  d.push_back(2400 >> 8);
  d.push_back(2400 & 0xFF);
  for (int i = 3; i >= 0; --i) d.push_back(static_cast<std::uint8_t>(offsetBits >> (8 * i)));
  return Frame(0x41, d);
}

Bytes Lla() {
  return Frame(0x84, Bytes(40, 0x20));
}

std::string Sha256(const std::string& bytes) {
  return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

std::string ZipMember(const std::string& zip, const std::string& name) {
  return Start("unzip", {"-p", QString::fromStdString(zip), QString::fromStdString(name)}).out;
}

// Two hours of known content. 14 h: a fix held until the first time packet, fixes, a super-packet
// with a good and one with a bad checksum, a malformed frame the parser drops, a debug text, a
// silence of 5 s between two time packets and two steps of exactly 2 s (no gap); the time packet
// of 15 h ends it. 15 h: two fixes and a time packet.
struct KnownLog {
  Bytes kavo;
  std::size_t bytes14 = 0, bytes15 = 0;

  void Add(const Bytes& frame, std::size_t& hourBytes) {
    kavo.insert(kavo.end(), frame.begin(), frame.end());
    hourBytes += frame.size();
  }

  KnownLog() {
    Add(Lla(), bytes14);
    Add(TimeFrame(14, 59, 50), bytes14);
    Add(Lla(), bytes14);
    Add(Lla(), bytes14);
    const Bytes good = Frame(0x8F, {0xA2, 0x01, 0x02, 0x03}, 1);
    Add(good, bytes14);
    Bytes bad = good;
    bad[3] = 0x05;  // a payload byte changed after the checksum was made (no 0x10 near it)
    Add(bad, bytes14);
    kavo.push_back(kDle);  // DLE ETX where an identifier belongs: dropped by the parser
    kavo.push_back(kEtx);
    Add(TimeFrame(14, 59, 51), bytes14);
    Add(Frame(0x5F, {0x01, 'o', 'k', '\r', '\n'}), bytes14);
    Add(TimeFrame(14, 59, 56), bytes14);
    Add(TimeFrame(14, 59, 58), bytes14);
    Add(TimeFrame(15, 0, 0), bytes14);
    Add(Lla(), bytes15);
    Add(TimeFrame(15, 0, 1), bytes15);
    Add(Lla(), bytes15);
  }
};

void WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
}

// Everything of a manifest but its checksum lines, which depend on the log's text.
std::string Counts(const std::string& manifest) {
  return manifest.substr(0, manifest.find("sha256: "));
}

TEST(HourManifestReplay, CountsMatchTheReplayedFile_ChecksumsMatchTheHoursFiles) {
  CTempDir dir;
  const KnownLog known;
  WriteBytes(dir / "known.kavo", known.kavo);
  const ProgramRun r = Start(Program("plowview-replay"), {"--log-dir", QString::fromStdString(dir / "logs"),
                                                          QString::fromStdString(dir / "known.kavo")});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  const std::string m14 = ReadWholeFile(dir / "logs/A_6010714.manifest");
  EXPECT_EQ(Counts(m14),
            "manifest: 1\n"
            "hour: 6010714\n"
            "utc-hour: 2026-01-07 14\n"
            "station: A_\n"
            "log: A_6010714.log\n"
            "packets: 11\n"
            "bytes: " +
                std::to_string(known.bytes14) +
                "\n"
                "packets-0x41: 5\n"
                "packets-0x5F: 1\n"
                "packets-0x84: 3\n"
                "packets-0x8F: 2\n"
                "checksum-failures: 1\n"
                "parser-dropped-frames: 1\n"
                "gap-time: receiver UTC\n"
                "gaps: 1\n"
                "gap: 2026-01-07T14:59:51.000Z 5.000\n"
                "link-lost: 0\n"
                "link-restored: 0\n"
                "lost-lines: 0\n"
                "lost-bytes: 0\n");
  EXPECT_EQ(m14.substr(m14.find("sha256: ")),
            "sha256: " + Sha256(ReadWholeFile(dir / "logs/A_6010714.log")) + "  A_6010714.log\n");

  // The last hour, closed by the end of the replay.
  const std::string m15 = ReadWholeFile(dir / "logs/A_6010715.manifest");
  EXPECT_NE(m15.find("packets: 3\nbytes: " + std::to_string(known.bytes15) +
                     "\npackets-0x41: 1\npackets-0x84: 2\nchecksum-failures: 0\nparser-dropped-frames: 0\n"),
            std::string::npos)
      << m15;
  EXPECT_NE(m15.find("gaps: 0\n"), std::string::npos);
  EXPECT_NE(m15.find("sha256: " + Sha256(ReadWholeFile(dir / "logs/A_6010715.log")) + "  A_6010715.log\n"),
            std::string::npos);
  // The next hour's log says the manifest of the hour before was written.
  EXPECT_NE(ReadWholeFile(dir / "logs/A_6010715.log").find("*\n* Manifest written\n"), std::string::npos);
}

TEST(HourManifestReplay, Archive_ManifestZippedWithTheHoursLogAndRemovedWithIt) {
  CTempDir dir;
  const KnownLog known;
  WriteBytes(dir / "known.kavo", known.kavo);
  for (const char* remove : {"1", "0"}) {
    const std::string logs = dir / (std::string("logs") + remove);
    std::ofstream(dir / "Plowview.ini")
        << "[PlowviewArchiveSettings]\nm_ZipLogFiles=1\nm_RemoveLogPostZip=" << remove << "\n";
    const ProgramRun r =
        Start(Program("plowview-replay"),
              {"--log-dir", QString::fromStdString(logs), "--archive", "--config",
               QString::fromStdString(dir / "Plowview.ini"), QString::fromStdString(dir / "known.kavo")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string zip = logs + "/A_6010714.zip";
    EXPECT_EQ(Start("unzip", {"-Z1", QString::fromStdString(zip)}).out,
              "A_6010714.log\nA_6010714.manifest\n");
    // The zipped manifest is the one written, with the checksum of the zipped log.
    const std::string manifest = ZipMember(zip, "A_6010714.manifest");
    EXPECT_NE(manifest.find("packets: 11\nbytes: " + std::to_string(known.bytes14) + "\n"), std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("sha256: " + Sha256(ZipMember(zip, "A_6010714.log")) + "  A_6010714.log\n"),
              std::string::npos)
        << manifest;
    EXPECT_EQ(std::filesystem::exists(logs + "/A_6010714.manifest"), remove[0] == '0') << remove;
    EXPECT_EQ(std::filesystem::exists(logs + "/A_6010714.log"), remove[0] == '0') << remove;
    // The last hour was not archived: its manifest stays beside its log.
    EXPECT_TRUE(std::filesystem::exists(logs + "/A_6010715.manifest"));
  }
}

}  // namespace
