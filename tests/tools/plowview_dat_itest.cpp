// The DAT file end to end: plowview headless on the built-in simulator with "Write DAT file" on
// writes, beside the hour's text log, a DAT file in the writer's record order that goes on into
// measurement and position epochs, and continues in the next hour's file after the rotation.

#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "program_path.h"
#include "simulated_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The record kinds of a DAT file ("type/sub-type" for types 5 and 16), walked by the records'
// headers: sync 0x74, a length (two bytes for type 17, else one byte and the sub-type), the type.
// A record cut off at the end (the writer may be mid-write) ends the walk; a bad sync fails it.
std::vector<std::string> RecordKinds(const std::string& file, bool& synced) {
  std::vector<std::string> kinds;
  synced = true;
  std::size_t at = 0;
  while (file.size() - at >= 4) {
    if (static_cast<std::uint8_t>(file[at]) != 0x74) {
      synced = false;
      break;
    }
    const unsigned type = static_cast<std::uint8_t>(file[at + 3]);
    std::size_t length = static_cast<std::uint8_t>(file[at + 1]);
    std::string kind = std::to_string(type);
    if (type == 17)
      length |= static_cast<std::size_t>(static_cast<std::uint8_t>(file[at + 2])) << 8;
    else if (type == 5 || type == 16)
      kind += "/" + std::to_string(static_cast<std::uint8_t>(file[at + 2]));
    if (length < 4) {
      synced = false;
      break;
    }
    if (at + length > file.size()) break;
    kinds.push_back(kind);
    at += length;
  }
  return kinds;
}

std::vector<std::string> Kinds(const fs::path& file) {
  bool synced = false;
  auto kinds = RecordKinds(ReadWholeFile(file), synced);
  EXPECT_TRUE(synced) << file;
  return kinds;
}

std::vector<std::string> Files(const fs::path& folder, const char* extension) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().extension() == extension) names.insert(entry.path().filename().string());
  return {names.begin(), names.end()};
}

// The acquisition's records, up to the first position epoch.
std::vector<std::string> OpeningRecords(const std::vector<std::string>& kinds) {
  std::vector<std::string> opening;
  for (const std::string& kind : kinds) {
    opening.push_back(kind);
    if (kind == "11") break;
  }
  return opening;
}

// The DAT runs: m_WriteDatFile on, the writer's progress on standard error. The DAT row is off, so
// the closed hours' DAT files stay in the folder to be read (it would zip them away with the hour).
class CDatRun : public CSimulatedRun {
 public:
  CDatRun(const CTempDir& dir, const std::string& simulatorArguments, std::uint32_t logOptions = 529)
      : CSimulatedRun(dir, simulatorArguments, logOptions,
                      "[PlowviewArchiveSettings]\nm_WriteDatFile=1\nm_ZipQ0xFiles=0\n", "--verbose") {}
};

TEST(PlowviewDat, WriteDatFileOn_DatFileHasTheAcquisitionRecordsThenEpochs) {
  CTempDir dir;
  // With the raw packet log (0x4000), which plowview-replay --dat reads back below.
  CDatRun run(dir, "--start-time 2026-01-07T14:10:00Z --rate 2", 529 | 0x4000);
  ASSERT_TRUE(run.process.waitForStarted(5000));
  const fs::path dat = dir.Path() / "logs" / "A_6010714.dat";
  // Done once the acquisition is over and both kinds of epoch followed it a few times.
  const bool steady = run.WaitFor(90000, [&] {
    bool synced = false;
    const auto kinds = RecordKinds(ReadWholeFile(dat), synced);
    const std::size_t opened = OpeningRecords(kinds).size();
    int measurements = 0, positions = 0;
    for (std::size_t i = opened; i < kinds.size(); ++i) {
      measurements += kinds[i] == "17";
      positions += kinds[i] == "11";
    }
    return measurements >= 3 && positions >= 3;
  });
  const auto kinds = Kinds(dat);
  ASSERT_TRUE(steady) << "records: " << ::testing::PrintToString(kinds);
  EXPECT_EQ(run.Stop(), 0) << run.err;

  // 5/1, 5/2, 15, one 21 per satellite with an orbit, 16/27, 16/43, 19, then the first 11.
  const auto opening = OpeningRecords(kinds);
  ASSERT_GE(opening.size(), 8u) << ::testing::PrintToString(kinds);
  EXPECT_EQ(std::vector<std::string>(opening.begin(), opening.begin() + 3),
            (std::vector<std::string>{"5/1", "5/2", "15"}));
  std::size_t at = 3;
  while (at < opening.size() && opening[at] == "21") ++at;
  EXPECT_GE(at - 3, 1u) << ::testing::PrintToString(kinds);
  EXPECT_EQ(std::vector<std::string>(opening.begin() + static_cast<long>(at), opening.end()),
            (std::vector<std::string>{"16/27", "16/43", "19", "11"}));
  // The file ends in epochs: its last records are measurement and position records.
  std::set<std::string> tail(kinds.end() - 4, kinds.end());
  for (const std::string& kind : tail) EXPECT_TRUE(kind == "17" || kind == "11") << kind;
  EXPECT_EQ(kinds.back(), kinds.back() == "17" ? "17" : "11");
  // --verbose: the writer's progress lines on stderr.
  EXPECT_NE(run.err.find("DAT: Constructing Type 11  ( Position )\n"), std::string::npos) << run.err;
  // The relay packets went to the base file beside it.
  EXPECT_GT(fs::file_size(dir.Path() / "logs" / "A_6010714_base.cmr"), 0u);
  // The writer's requests reached the receiver (the session is not passive).
  const std::string trace = ReadWholeFile(dir / "trace.txt");
  EXPECT_NE(trace.find("RX 38 01 06"), std::string::npos);

  // The replay of the session's raw packet log writes a DAT file with the same acquisition.
  const fs::path again = dir.Path() / "again";
  QProcess replay;
  replay.start(Program("plowview-replay"),
               {"--log-dir", QString::fromStdString(again.string()), "--prefix", "A_", "--options", "529",
                "--dat", QString::fromStdString((dir.Path() / "logs" / "A_6010714.kavo").string())});
  ASSERT_TRUE(replay.waitForFinished(60000));
  EXPECT_EQ(replay.exitCode(), 0) << replay.readAllStandardError().toStdString();
  EXPECT_EQ(OpeningRecords(Kinds(again / "A_6010714.dat")), opening);
}

TEST(PlowviewDat, HourlyRotation_NextFileOpensWithItsOwnRecords) {
  CTempDir dir;
  // Ten minutes of receiver time a second: the hour turns every six seconds.
  CDatRun run(dir, "--start-time 2026-01-07T14:40:00Z --time-scale 600");
  ASSERT_TRUE(run.process.waitForStarted(5000));
  const fs::path logs = dir.Path() / "logs";
  // Three hours done: a later file has its opening records and more behind them, and the one
  // before the last was opened in the steady state.
  const bool rotated = run.WaitFor(90000, [&] {
    const auto files = Files(logs, ".dat");
    if (files.size() < 4) return false;
    bool synced = false;
    return RecordKinds(ReadWholeFile(logs / files[1]), synced).size() >= 3;
  });
  const auto files = Files(logs, ".dat");
  ASSERT_TRUE(rotated) << ::testing::PrintToString(files);
  EXPECT_EQ(run.Stop(), 0) << run.err;

  // The first file holds the session's start; every later one starts with the week records.
  const auto first = Kinds(logs / files[0]);
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(first[0], "5/1");
  for (std::size_t i = 1; i < files.size(); ++i) {
    const auto kinds = Kinds(logs / files[i]);
    if (kinds.empty()) continue;  // the file opened just before the stop
    ASSERT_GE(kinds.size(), 2u) << files[i];
    EXPECT_EQ(std::vector<std::string>(kinds.begin(), kinds.begin() + 2),
              (std::vector<std::string>{"5/1", "5/2"}))
        << files[i];
  }
  // The next file goes on with the session: more records than the two it opened with.
  EXPECT_GE(Kinds(logs / files[1]).size(), 3u);
  // A whole hour in the steady state (the last closed one) carries what a reader needs from its
  // own records: ionosphere and UTC, the ephemerides of the satellites in view, a time tag, and
  // then the epochs.
  const auto hour = Kinds(logs / files[files.size() - 2]);
  const std::set<std::string> present(hour.begin(), hour.end());
  for (const char* kind : {"15", "21", "19", "17", "11"})
    EXPECT_EQ(present.count(kind), 1u)
        << kind << " in " << files[files.size() - 2] << ": " << ::testing::PrintToString(hour);
  EXPECT_EQ(std::count(hour.begin(), hour.end(), "5/1"), 1) << ::testing::PrintToString(hour);
}

}  // namespace
