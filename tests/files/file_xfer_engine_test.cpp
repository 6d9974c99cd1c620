#include "files/file_xfer_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "file_test_packets.h"
#include "files/file_xfer_packets.h"
#include "support/temp_dir.h"

namespace {

using namespace filetest;

const std::string kFolder = "A:\\gpsData\\";

// Receiver replies, laid out byte by byte.
KavoPacket Entry(std::uint8_t index, const std::string& text) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x00, index, 0x00}, Text(text)}));
}
KavoPacket OpenReply(std::uint32_t handle, std::uint32_t size, const std::string& path) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x01, 0x00}, Be32(handle), Be32(size), Text(path)}));
}
KavoPacket Block(std::uint32_t handle, std::uint32_t offset, const Bytes& bytes) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x01, 0x01},
                             Be32(handle),
                             Be32(offset),
                             {static_cast<std::uint8_t>(bytes.size())},
                             bytes}));
}
KavoPacket Closed(std::uint32_t handle) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x01, 0x02}, Be32(handle)}));
}
KavoPacket Failed(std::uint32_t handle) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x01, 0x03}, Be32(handle)}));
}
KavoPacket DeleteReply(std::uint8_t result, const std::string& path) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x03, result}, Text(path)}));
}

// Requests as they must leave (payload without the trailer, which the link adds).
Bytes OpenRequest(const std::string& name) {
  return Cat({{0x93, 0x15, 0x01, 0x01}, Text(kFolder + name)});
}
Bytes ReadRequest(std::uint32_t handle, std::uint32_t offset, std::uint8_t count) {
  return Cat({{0x93, 0x15, 0x01, 0x02}, Be32(handle), Be32(offset), {count}});
}
Bytes CloseRequest(std::uint32_t handle) {
  return Cat({{0x93, 0x15, 0x01, 0x03}, Be32(handle)});
}
Bytes DeleteRequest(const std::string& name) {
  return Cat({{0x93, 0x15, 0x03}, Text(kFolder + name)});
}
Bytes ListRequest() {
  return Cat({{0x93, 0x15, 0x00}, Text(kFolder)});
}

Bytes BlockBytes(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

class FileXferEngineTest : public ::testing::Test {
 protected:
  FileXferEngineTest()
      : engine([this] { return connected; }, [this](const KavoPacket& p) { sent.push_back(p); }) {
    engine.SetDownloadFolder(dir.Path().string());
    engine.SetChangedCallback([this] { ++changes; });
  }

  // Lists `names` as the receiver would and clears what was sent so far.
  void List(const std::vector<std::string>& names) {
    engine.Refresh();
    for (std::size_t i = 0; i < names.size(); ++i)
      engine.OnPacket(Entry(static_cast<std::uint8_t>(i), names[i]));
    sent.clear();
  }
  Bytes LastSent() const { return sent.empty() ? Bytes{} : Payload(sent.back()); }
  Bytes TakeOne() {
    EXPECT_EQ(sent.size(), 1u);
    Bytes b = LastSent();
    EXPECT_EQ(sent.empty() ? 0 : sent.back().id, 0x8E);
    sent.clear();
    return b;
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) engine.Tick();
  }
  std::string Local(const std::string& name) { return ReadWholeFile(dir.Path() / name); }

  CTempDir dir;
  bool connected = true;
  std::vector<KavoPacket> sent;
  int changes = 0;
  CFileXferEngine engine;
};

TEST_F(FileXferEngineTest, Refresh_SendsListRequestAndEntriesFillByIndex) {
  engine.OnPacket(Entry(0, "OLD.T02"));
  engine.Refresh();
  EXPECT_TRUE(engine.Entries().empty());
  EXPECT_EQ(TakeOne(), ListRequest());
  engine.OnPacket(Entry(0, "B.T02"));
  engine.OnPacket(Entry(0, "A.T02"));  // index 0 starts the list again
  engine.OnPacket(Entry(1, "C.T02"));
  engine.OnPacket(Entry(9, "D.T02"));  // past the end: appended
  EXPECT_EQ(engine.Entries(), (std::vector<std::string>{"A.T02", "C.T02", "D.T02"}));
  EXPECT_EQ(engine.ListReplies(), 4u);
  EXPECT_GT(changes, 0);
}

TEST_F(FileXferEngineTest, ThreeHundredByteFile_ReadInBlocksOf128And44ThenDone) {
  engine.SetDeleteWhenDone(false);
  List({"DATA.T02"});
  engine.GetFiles({0});
  EXPECT_FALSE(engine.ControlsEnabled());
  EXPECT_STREQ(engine.Button1Caption(), "Cancel");
  EXPECT_EQ(TakeOne(), OpenRequest("DATA.T02"));
  EXPECT_EQ(engine.Entries()[0], "DATA.T02 [Starting...]");

  const Bytes content = BlockBytes(300, 3);
  engine.OnPacket(OpenReply(7, 300, kFolder + "DATA.T02"));
  EXPECT_EQ(TakeOne(), ReadRequest(7, 0, 128));
  engine.OnPacket(Block(7, 0, Bytes(content.begin(), content.begin() + 128)));
  EXPECT_EQ(TakeOne(), ReadRequest(7, 128, 128));
  engine.OnPacket(Block(7, 128, Bytes(content.begin() + 128, content.begin() + 256)));
  EXPECT_EQ(TakeOne(), ReadRequest(7, 256, 44));
  engine.OnPacket(Block(7, 256, Bytes(content.begin() + 256, content.end())));
  EXPECT_EQ(TakeOne(), CloseRequest(7));
  EXPECT_EQ(engine.Entries()[0], "DATA.T02 [Closing]");
  engine.OnPacket(Closed(7));

  EXPECT_EQ(engine.Entries()[0], "DATA.T02 [Done]");
  EXPECT_EQ(Local("DATA.T02"), std::string(content.begin(), content.end()));
  EXPECT_TRUE(engine.Progress().empty());
  EXPECT_TRUE(engine.ControlsEnabled());
  EXPECT_STREQ(engine.Button1Caption(), "Close");
  EXPECT_FALSE(engine.IsBusy());
  EXPECT_TRUE(sent.empty());
}

TEST_F(FileXferEngineTest, EmptyFile_ClosedAtOnceAndDoneWithEmptyLocalFile) {
  engine.SetDeleteWhenDone(false);
  std::ofstream(dir.Path() / "ZERO.T02") << "stale";
  List({"ZERO.T02"});
  engine.GetFiles({0});
  sent.clear();
  engine.OnPacket(OpenReply(3, 0, kFolder + "ZERO.T02"));
  EXPECT_EQ(TakeOne(), CloseRequest(3));
  engine.OnPacket(Closed(3));
  EXPECT_EQ(engine.Entries()[0], "ZERO.T02 [Done]");
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "ZERO.T02"));
  EXPECT_EQ(std::filesystem::file_size(dir.Path() / "ZERO.T02"), 0u);
}

TEST_F(FileXferEngineTest, BadBlocks_IgnoredAndWatchdogResendsExpectedRead) {
  List({"F.T02"});
  engine.GetFiles({0});
  engine.OnPacket(OpenReply(9, 1000, kFolder + "F.T02"));
  engine.OnPacket(Block(9, 0, BlockBytes(128, 1)));
  sent.clear();

  const KavoPacket bad[] = {
      Block(9, 0, BlockBytes(128, 1)),    // offset already received
      Block(9, 256, BlockBytes(128, 1)),  // offset ahead
      Block(8, 128, BlockBytes(128, 1)),  // another handle
  };
  for (const KavoPacket& p : bad) EXPECT_FALSE(engine.OnPacket(p));
  // A block claiming more bytes than the packet holds.
  KavoPacket shortBlock = Block(9, 128, BlockBytes(16, 1));
  shortBlock.data[12] = 200;
  VerifyChecksum(shortBlock);
  EXPECT_FALSE(engine.OnPacket(shortBlock));
  // A bad checksum.
  KavoPacket flipped = Block(9, 128, BlockBytes(128, 1));
  flipped.checksumOk = 0;
  EXPECT_FALSE(engine.OnPacket(flipped));
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(engine.Progress()[0].received, 128u);

  // The tick that sees the progress restarts the count; 100 silent ticks later the read goes again.
  Ticks(100);
  EXPECT_TRUE(sent.empty());
  Ticks(1);
  EXPECT_EQ(TakeOne(), ReadRequest(9, 128, 128));
}

TEST_F(FileXferEngineTest, BlockPastSize_Ignored) {
  List({"S.T02"});
  engine.GetFiles({0});
  engine.OnPacket(OpenReply(2, 100, kFolder + "S.T02"));
  sent.clear();
  EXPECT_FALSE(engine.OnPacket(Block(2, 0, BlockBytes(101, 0))));
  EXPECT_TRUE(engine.OnPacket(Block(2, 0, BlockBytes(100, 0))));
  EXPECT_EQ(TakeOne(), CloseRequest(2));
}

TEST_F(FileXferEngineTest, SilentReceiver_BacksOffThenTimesOutAtSixthExpiry) {
  List({"T.T02", "U.T02"});
  engine.GetFiles({0, 1});
  EXPECT_EQ(TakeOne(), OpenRequest("T.T02"));
  // The first tick sees the job started; then the gaps grow.
  Ticks(1);
  const int gaps[] = {100, 200, 500, 1000, 1700};
  for (int gap : gaps) {
    Ticks(gap - 1);
    EXPECT_TRUE(sent.empty()) << gap;
    Ticks(1);
    EXPECT_EQ(TakeOne(), OpenRequest("T.T02")) << gap;
    EXPECT_EQ(engine.Entries()[0], "T.T02 [Starting...]");
  }
  Ticks(2599);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(engine.Progress()[0].state, XferState::Starting);
  Ticks(1);
  EXPECT_EQ(engine.Progress()[0].state, XferState::TimedOut);
  EXPECT_EQ(engine.Entries()[0], "T.T02 [Timed Out]");
  // The next job starts at once.
  EXPECT_EQ(TakeOne(), OpenRequest("U.T02"));
  EXPECT_EQ(engine.Entries()[1], "U.T02 [Starting...]");
}

TEST_F(FileXferEngineTest, LinkDown_NothingSentAndJobTimesOut) {
  List({"T.T02"});
  connected = false;
  engine.GetFiles({0});
  Ticks(1 + 100 + 200 + 500 + 1000 + 1700 + 2600);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(engine.Entries()[0], "T.T02 [Timed Out]");
  EXPECT_TRUE(engine.ControlsEnabled());
}

TEST_F(FileXferEngineTest, Progress_ShowsPercentOfSize) {
  List({"P.T02"});
  engine.GetFiles({0});
  engine.OnPacket(OpenReply(5, 2048, kFolder + "P.T02"));
  for (std::uint32_t off = 0; off < 512; off += 128) engine.OnPacket(Block(5, off, BlockBytes(128, 9)));
  EXPECT_EQ(engine.Entries()[0], "P.T02 [Downloading - 25.0%]");
  ASSERT_EQ(engine.Progress().size(), 1u);
  const FileXferProgress p = engine.Progress()[0];
  EXPECT_EQ(p.listIndex, 0);
  EXPECT_EQ(p.name, "P.T02");
  EXPECT_EQ(p.received, 512u);
  EXPECT_EQ(p.size, 2048u);
}

TEST(FileXferJob, StatusTexts) {
  struct Case {
    int state;
    std::uint32_t received, size;
    const char* text;
  } cases[] = {
      {0, 0, 0, "Queued"},
      {1, 0, 0, "Starting..."},
      {2, 512, 2048, "Downloading - 25.0%"},
      {2, 1, 3, "Downloading - 33.3%"},
      {2, 0, 4000000000u, "Downloading - 0.0%"},
      {2, 4000000000u, 4000000000u, "Downloading - 100.0%"},
      {2, 0, 0, "Downloading - 100.0%"},
      {3, 0, 0, "Closing"},
      {4, 0, 0, "File Open Failed"},
      {5, 0, 0, "File Not Found"},
      {6, 0, 0, "Done"},
      {7, 0, 0, "File Truncated"},
      {8, 0, 0, "Timed Out"},
      {9, 0, 0, "Unknown Error"},
      {-1, 0, 0, "Unknown Error"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CFileXferJob::StatusText(static_cast<XferState>(c.state), c.received, c.size), c.text)
        << c.state;
}

TEST(FileXferEngine, EntryNameAndStatus) {
  struct Case {
    const char* text;
    const char* name;
    const char* status;
  } cases[] = {
      {"DATA.T02 [Done]", "DATA.T02", "Done"},
      {"DATA.T02", "DATA.T02", ""},
      {"DATA.T02 [Downloading - 25.0%]", "DATA.T02", "Downloading - 25.0%"},
      {"DATA[1].T02", "DATA[1].T02", ""},
      {"DATA[1].T02 [Queued]", "DATA[1].T02", "Queued"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CFileXferEngine::EntryFileName(c.text), c.name) << c.text;
    EXPECT_EQ(CFileXferEngine::EntryStatus(c.text), c.status) << c.text;
  }
}

TEST_F(FileXferEngineTest, EntryWithStatus_DownloadsBareName) {
  engine.SetDeleteWhenDone(false);
  List({"DATA.T02"});
  engine.GetFiles({0});
  engine.OnPacket(OpenReply(1, 0, kFolder + "DATA.T02"));
  engine.OnPacket(Closed(1));
  ASSERT_EQ(engine.Entries()[0], "DATA.T02 [Done]");
  sent.clear();
  engine.GetFiles({0});  // the entry now carries its status
  EXPECT_EQ(TakeOne(), OpenRequest("DATA.T02"));
  EXPECT_EQ(engine.Entries()[0], "DATA.T02 [Starting...]");
}

TEST_F(FileXferEngineTest, Cancel_ForgetsJobsAndDeletesAndEnablesControls) {
  List({"A.T02", "B.T02", "C.T02"});
  engine.GetFiles({0, 1});
  engine.OnPacket(OpenReply(4, 1000, kFolder + "A.T02"));
  engine.OnPacket(Block(4, 0, BlockBytes(128, 0)));
  engine.DeleteFiles({2});
  sent.clear();
  EXPECT_TRUE(engine.IsBusy());

  engine.Cancel();
  EXPECT_TRUE(engine.Progress().empty());
  EXPECT_EQ(engine.PendingDeletes(), 0u);
  EXPECT_FALSE(engine.IsBusy());
  EXPECT_TRUE(engine.ControlsEnabled());
  EXPECT_STREQ(engine.Button1Caption(), "Close");
  // Only a refresh goes out: no close for the receiver's handle.
  EXPECT_EQ(TakeOne(), ListRequest());
  EXPECT_TRUE(engine.Entries().empty());
  // Late replies for the cancelled work change nothing.
  EXPECT_FALSE(engine.OnPacket(Block(4, 128, BlockBytes(128, 0))));
  EXPECT_FALSE(engine.OnPacket(DeleteReply(1, kFolder + "C.T02")));
  Ticks(10000);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(Local("A.T02").size(), 128u);
}

TEST_F(FileXferEngineTest, DownloadFolderNotWritable_FileOpenFailedAndNextJobRuns) {
  std::ofstream(dir.Path() / "plain") << "x";
  engine.SetDownloadFolder((dir.Path() / "plain").string());  // a file, not a folder
  List({"A.T02", "B.T02"});
  engine.GetFiles({0, 1});
  sent.clear();
  engine.OnPacket(OpenReply(6, 10, kFolder + "A.T02"));
  EXPECT_EQ(engine.Entries()[0], "A.T02 [File Open Failed]");
  // The receiver's handle is given back; the remote file is not deleted.
  EXPECT_EQ(TakeOne(), CloseRequest(6));
  EXPECT_EQ(engine.PendingDeletes(), 0u);
  EXPECT_EQ(engine.Entries()[1], "B.T02 [Queued]");
  // The next job is the front job now and starts on the watchdog.
  Ticks(99);
  EXPECT_TRUE(sent.empty());
  Ticks(1);
  EXPECT_EQ(TakeOne(), OpenRequest("B.T02"));
  EXPECT_EQ(ReadWholeFile(dir.Path() / "plain"), "x");
}

TEST_F(FileXferEngineTest, ReceiverNameLeavingTheFolder_FileOpenFailedAndNothingWritten) {
  const std::filesystem::path inner = dir.Path() / "in";
  std::filesystem::create_directory(inner);
  engine.SetDownloadFolder(inner.string());
  std::filesystem::create_symlink(dir.Path() / "target", inner / "LINK.T02");
  const char* names[] = {"..", "../ESCAPE.T02", "..\\ESCAPE.T02", "LINK.T02"};
  engine.SetDeleteWhenDone(false);
  List({names[0], names[1], names[2], names[3]});
  for (int i = 0; i < 4; ++i) {
    sent.clear();
    engine.GetFiles({i});
    engine.OnPacket(OpenReply(10 + i, 5, kFolder + names[i]));
    EXPECT_EQ(CFileXferEngine::EntryStatus(engine.Entries()[i]), "File Open Failed") << names[i];
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "ESCAPE.T02"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "target"));
}

TEST_F(FileXferEngineTest, NotFound_EndsJobAndNextStartsOnWatchdog) {
  List({"GONE.T02", "HERE.T02"});
  engine.GetFiles({0, 1});
  sent.clear();
  engine.OnPacket(OpenReply(0, 0, kFolder + "GONE.T02"));
  EXPECT_EQ(engine.Entries()[0], "GONE.T02 [File Not Found]");
  EXPECT_TRUE(sent.empty());
  Ticks(100);
  EXPECT_EQ(TakeOne(), OpenRequest("HERE.T02"));
}

TEST_F(FileXferEngineTest, FailedReply_ResendsCurrentRequest) {
  List({"R.T02"});
  engine.GetFiles({0});
  EXPECT_EQ(TakeOne(), OpenRequest("R.T02"));
  engine.OnPacket(Failed(0));
  EXPECT_EQ(TakeOne(), OpenRequest("R.T02"));
  engine.OnPacket(OpenReply(3, 200, kFolder + "R.T02"));
  EXPECT_EQ(TakeOne(), ReadRequest(3, 0, 128));
  engine.OnPacket(Failed(3));
  EXPECT_EQ(TakeOne(), ReadRequest(3, 0, 128));
  EXPECT_FALSE(engine.OnPacket(Failed(99)));
  EXPECT_TRUE(sent.empty());
}

TEST_F(FileXferEngineTest, ClosedBeforeTheEnd_FileTruncated) {
  List({"C.T02"});
  engine.GetFiles({0});
  engine.OnPacket(OpenReply(3, 200, kFolder + "C.T02"));
  engine.OnPacket(Block(3, 0, BlockBytes(128, 0)));
  engine.OnPacket(Closed(3));
  EXPECT_EQ(engine.Entries()[0], "C.T02 [File Truncated]");
  EXPECT_EQ(engine.PendingDeletes(), 0u);  // only finished downloads are deleted
}

TEST_F(FileXferEngineTest, DeleteWhenDone_DeletesEachFinishedFileAndWaitsForReply) {
  List({"A.T02", "B.T02"});
  engine.GetFiles({0, 1});
  sent.clear();
  engine.OnPacket(OpenReply(1, 0, kFolder + "A.T02"));
  engine.OnPacket(Closed(1));
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_EQ(LastSent(), DeleteRequest("A.T02"));
  sent.clear();
  EXPECT_EQ(engine.Entries()[0], "A.T02 [Deleting...]");
  engine.OnPacket(DeleteReply(1, kFolder + "A.T02"));
  EXPECT_EQ(engine.Entries()[0], "A.T02 [Deleted]");
  EXPECT_FALSE(engine.ControlsEnabled());  // B is still queued

  Ticks(100);
  EXPECT_EQ(TakeOne(), OpenRequest("B.T02"));
  engine.OnPacket(OpenReply(2, 0, kFolder + "B.T02"));
  engine.OnPacket(Closed(2));
  EXPECT_EQ(LastSent(), DeleteRequest("B.T02"));
  EXPECT_TRUE(engine.IsBusy());
  EXPECT_FALSE(engine.ControlsEnabled());
  engine.OnPacket(DeleteReply(0, kFolder + "B.T02"));
  EXPECT_EQ(engine.Entries()[1], "B.T02 [Could not delete]");
  EXPECT_TRUE(engine.ControlsEnabled());
  EXPECT_FALSE(engine.IsBusy());
}

TEST_F(FileXferEngineTest, DeleteSelected_SendsEachAndReenablesAfterLastReply) {
  List({"A.T02", "B.T02", "C.T02"});
  engine.DeleteFiles({2, 0, 7});
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Payload(sent[0]), DeleteRequest("A.T02"));
  EXPECT_EQ(Payload(sent[1]), DeleteRequest("C.T02"));
  EXPECT_FALSE(engine.ControlsEnabled());
  EXPECT_FALSE(engine.OnPacket(DeleteReply(1, kFolder + "B.T02")));  // not asked for
  engine.OnPacket(DeleteReply(1, kFolder + "C.T02"));
  EXPECT_FALSE(engine.ControlsEnabled());
  engine.OnPacket(DeleteReply(1, kFolder + "A.T02"));
  EXPECT_EQ(engine.Entries(), (std::vector<std::string>{"A.T02 [Deleted]", "B.T02", "C.T02 [Deleted]"}));
  EXPECT_TRUE(engine.ControlsEnabled());
}

// The receiver's card has no case, and its reply may carry the path in a form of its own.
TEST_F(FileXferEngineTest, DeleteReply_PathInAnotherForm_CompletesTheEntryNamedInIt) {
  const char* replies[] = {"a:\\GPSDATA\\log1.t02", "LOG1.T02", "\\gpsData\\Log1.T02", "A:/gpsData/LOG1.T02",
                           "A:\\gpsData\\LOG1.T02 "};
  for (const char* reply : replies) {
    SCOPED_TRACE(reply);
    List({"LOG1.T02", "LOG11.T02"});
    engine.DeleteFiles({0, 1});
    // The longer name holds the shorter one: the reply naming it must not complete the other.
    ASSERT_TRUE(engine.OnPacket(DeleteReply(1, "A:\\GPSDATA\\log11.T02")));
    EXPECT_EQ(engine.Entries()[1], "LOG11.T02 [Deleted]");
    EXPECT_EQ(engine.Entries()[0], "LOG1.T02 [Deleting...]");
    EXPECT_FALSE(engine.OnPacket(DeleteReply(1, "A:\\gpsData\\OTHER.T02")));
    ASSERT_TRUE(engine.OnPacket(DeleteReply(0, reply)));
    EXPECT_EQ(engine.Entries()[0], "LOG1.T02 [Could not delete]");
    EXPECT_TRUE(engine.ControlsEnabled());
    EXPECT_FALSE(engine.IsBusy());
  }
}

// A delete the receiver never answers ends after the watchdog's six silent periods, unsent again.
TEST_F(FileXferEngineTest, DeleteWithoutReply_TimesOutAndEnablesTheControls) {
  List({"A.T02", "B.T02"});
  engine.DeleteFiles({0});
  ASSERT_EQ(TakeOne(), DeleteRequest("A.T02"));
  Ticks(CFileXferEngine::kDeleteTimeoutTicks - 1);
  EXPECT_EQ(engine.Entries()[0], "A.T02 [Deleting...]");
  EXPECT_FALSE(engine.ControlsEnabled());
  EXPECT_STREQ(engine.Button1Caption(), "Cancel");
  Ticks(1);
  EXPECT_EQ(engine.Entries()[0], "A.T02 [Timed Out]");
  EXPECT_EQ(engine.PendingDeletes(), 0u);
  EXPECT_TRUE(engine.ControlsEnabled());
  EXPECT_STREQ(engine.Button1Caption(), "Close");
  EXPECT_TRUE(sent.empty());
  // A reply coming after that changes nothing.
  EXPECT_FALSE(engine.OnPacket(DeleteReply(1, kFolder + "A.T02")));
  EXPECT_EQ(engine.Entries()[0], "A.T02 [Timed Out]");
}

TEST_F(FileXferEngineTest, MatchingEntries_ShellPatternOnFileNames) {
  List({"A.T02", "B.DAT", "C.T02 [Done]"});
  EXPECT_EQ(engine.MatchingEntries("*.T02"), (std::vector<int>{0, 2}));
  EXPECT_EQ(engine.MatchingEntries("*"), (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(engine.MatchingEntries("*.t02").empty());
}

TEST_F(FileXferEngineTest, NoSelection_ControlsStayEnabled) {
  List({"A.T02"});
  engine.GetFiles({});
  engine.GetFiles({5, -1});
  EXPECT_TRUE(engine.ControlsEnabled());
  EXPECT_TRUE(sent.empty());
}

TEST_F(FileXferEngineTest, ForeignPackets_Ignored) {
  List({"A.T02"});
  const KavoPacket others[] = {
      Received(0x8E, {0x93, 0x15, 0x00, 0x00, 0x00, 'X', 0}),  // our own request id
      Received(0x8F, {0x8C, 0x10, 0x00, 0x00}),                // a remote file request
      Received(0x8F, {0x93, 0x15}),                            // too short
      Received(0x8F, {0x93, 0x15, 0x01, 0x00, 0, 0, 0}),       // open reply without its fields
      Received(0x8F, {0x93, 0x15, 0x02, 0x00}),                // unknown kind
  };
  for (const KavoPacket& p : others) EXPECT_FALSE(engine.OnPacket(p));
  EXPECT_EQ(engine.Entries(), (std::vector<std::string>{"A.T02"}));
}

}  // namespace
