#include "files/remote_file_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "file_test_packets.h"
#include "support/temp_dir.h"

namespace {

using namespace filetest;
namespace fs = std::filesystem;

// Requests as the receiver sends them (id 0x8F, 8C op ..., checksum trailer).
KavoPacket Request(std::uint8_t op, const Bytes& rest) {
  return Received(0x8F, Cat({{0x8C, op}, rest}));
}
KavoPacket ListReq(const std::string& name) {
  return Request(0x10, Cat({{0, 0}, Text(name)}));
}
KavoPacket OpenReq(char mode, const std::string& name) {
  return Request(0x11, Cat({{static_cast<std::uint8_t>(mode), 0, 0, 0, 0}, Text(name)}));
}
KavoPacket CloseReq(std::int32_t h) {
  return Request(0x12, Be32(static_cast<std::uint32_t>(h)));
}
KavoPacket WriteReq(std::int32_t h, std::uint16_t total, std::uint16_t block, const Bytes& bytes) {
  return Request(0x13, Cat({Be32(static_cast<std::uint32_t>(h)),
                            Be16(total),
                            Be16(block),
                            {static_cast<std::uint8_t>(bytes.size()), 0, 0, 0},
                            bytes}));
}
KavoPacket WriteAtReq(std::int32_t h, std::uint16_t total, std::uint16_t block, std::int32_t pos, bool save,
                      std::uint16_t origin, const Bytes& bytes) {
  return Request(0x1B, Cat({Be32(static_cast<std::uint32_t>(h)),
                            Be16(total),
                            Be16(block),
                            {static_cast<std::uint8_t>(bytes.size())},
                            Be32(static_cast<std::uint32_t>(pos)),
                            {static_cast<std::uint8_t>(save ? 1 : 0)},
                            Be16(origin),
                            {0, 0, 0},
                            bytes}));
}
KavoPacket ReadReq(std::int32_t h, std::uint16_t count) {
  return Request(0x14, Cat({Be32(static_cast<std::uint32_t>(h)), Be16(count)}));
}
KavoPacket SeekReq(std::int32_t h, std::int32_t offset, std::uint16_t origin) {
  return Request(0x15, Cat({Be32(static_cast<std::uint32_t>(h)), Be32(static_cast<std::uint32_t>(offset)),
                            Be16(origin)}));
}
KavoPacket TellReq(std::int32_t h) {
  return Request(0x16, Be32(static_cast<std::uint32_t>(h)));
}
KavoPacket RemoveReq(const std::string& name) {
  return Request(0x17, Cat({{0, 0, 0, 0}, Text(name)}));
}

// Answers as they must leave (payload without the trailer).
Bytes HandleAnswer(std::uint8_t op, std::int32_t h, std::uint16_t error) {
  return Cat({{0x8C, op}, Be32(static_cast<std::uint32_t>(h)), Be16(error), {0, 0, 0}});
}
Bytes PositionAnswer(std::uint8_t op, std::int32_t h, std::uint32_t pos, std::uint16_t error) {
  return Cat({{0x8C, op}, Be32(static_cast<std::uint32_t>(h)), Be32(pos), Be16(error), {0, 0, 0}});
}
Bytes OpenAnswer(std::int32_t h, std::uint16_t error, const std::string& name) {
  return Cat({{0x8C, 0x11}, Be32(static_cast<std::uint32_t>(h)), Be16(error), {0, 0, 0}, Text(name)});
}
Bytes EntryAnswer(std::uint16_t number, const std::string& name) {
  return Cat({{0x8C, 0x10}, Be16(number), {0, 0}, Text(name)});
}

Bytes FileBytes(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13);
  return b;
}

class RemoteFileServerTest : public ::testing::TestWithParam<CCardFolder::Resolver> {
 protected:
  RemoteFileServerTest() : card(dir.Path() / "rli") {
    fs::create_directory(card);
    server = std::make_unique<CRemoteFileServer>(
        card, [this](const KavoPacket& p) { answers.push_back(p); }, GetParam());
  }
  void SetUp() override {
    if (GetParam() == CCardFolder::Resolver::Beneath) {
      CCardFolder probe(card, CCardFolder::Resolver::Beneath);
      const int fd = probe.OpenDirectory("");
      if (fd == -ENOSYS) GTEST_SKIP() << "kernel without openat2";
      if (fd >= 0) ::close(fd);
    }
  }

  // Queues and runs one request; returns the answers' payloads.
  std::vector<Bytes> Run(const KavoPacket& request) {
    answers.clear();
    EXPECT_TRUE(server->QueueRequest(request));
    server->ProcessRequests();
    std::vector<Bytes> out;
    for (const KavoPacket& a : answers) {
      EXPECT_EQ(a.id, 0x8E);
      out.push_back(Payload(a));
    }
    return out;
  }
  Bytes One(const KavoPacket& request) {
    auto all = Run(request);
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? Bytes{} : all[0];
  }
  std::int32_t OpenHandle(char mode, const std::string& name) {
    const Bytes a = One(OpenReq(mode, name));
    EXPECT_EQ(a.size(), 12 + name.size());
    EXPECT_EQ(ReadBe16(a.data() + 6), 0) << name;
    return static_cast<std::int32_t>(ReadBe32(a.data() + 2));
  }
  void Put(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
  }

  CTempDir dir;
  fs::path card;
  std::vector<KavoPacket> answers;
  std::unique_ptr<CRemoteFileServer> server;
};

TEST_P(RemoteFileServerTest, EmptyDirectory_OnlyLastFil) {
  EXPECT_EQ(Run(ListReq("*.*")), (std::vector<Bytes>{EntryAnswer(65535, "LAST.FIL")}));
  EXPECT_EQ(answers[0].length, 15);
}

TEST_P(RemoteFileServerTest, List_FilesMatchingCardPatternSortedWithoutDirsOrLinks) {
  Put(card / "b.dat", "1");
  Put(card / "a.txt", "1");
  Put(card / ".hidden.txt", "1");
  Put(card / "noext", "1");
  fs::create_directory(card / "sub.dir");
  Put(card / "sub.dir" / "in.dat", "1");
  fs::create_symlink(card / "a.txt", card / "link.txt");
  // As on the card, "*.*" is every file, a name without a dot too; a PC's hidden file is none.
  EXPECT_EQ(Run(ListReq("*.*")),
            (std::vector<Bytes>{EntryAnswer(0, "a.txt"), EntryAnswer(1, "b.dat"), EntryAnswer(2, "noext"),
                                EntryAnswer(65535, "LAST.FIL")}));
  EXPECT_EQ(Run(ListReq("*.dat")),
            (std::vector<Bytes>{EntryAnswer(0, "b.dat"), EntryAnswer(65535, "LAST.FIL")}));
  EXPECT_EQ(Run(ListReq("sub.dir\\*.*")),
            (std::vector<Bytes>{EntryAnswer(0, "in.dat"), EntryAnswer(65535, "LAST.FIL")}));
  EXPECT_EQ(Run(ListReq("a.txt")),
            (std::vector<Bytes>{EntryAnswer(0, "a.txt"), EntryAnswer(65535, "LAST.FIL")}));
  EXPECT_EQ(Run(ListReq("")).size(), 1u);
  EXPECT_EQ(Run(ListReq("missing\\*.*")).size(), 1u);
}

TEST_P(RemoteFileServerTest, Read250_ThreeBlocks120_120_10) {
  const Bytes content = FileBytes(250, 1);
  Put(card / "r.bin", std::string(content.begin(), content.end()));
  const std::int32_t h = OpenHandle('r', "r.bin");
  const auto blocks = Run(ReadReq(h, 250));
  ASSERT_EQ(blocks.size(), 3u);
  const std::size_t sizes[] = {120, 120, 10};
  std::size_t offset = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const Bytes expected = Cat({{0x8C, 0x14},
                                Be32(h),
                                Be16(0),
                                Be16(3),
                                Be16(k + 1),
                                {static_cast<std::uint8_t>(sizes[k]), 0, 0, 0},
                                Bytes(content.begin() + offset, content.begin() + offset + sizes[k])});
    EXPECT_EQ(blocks[k], expected) << k;
    offset += sizes[k];
  }
}

TEST_P(RemoteFileServerTest, Read240_TwoBlocksOf120) {
  Put(card / "r.bin", std::string(240, 'x'));
  const std::int32_t h = OpenHandle('r', "r.bin");
  const auto blocks = Run(ReadReq(h, 240));
  ASSERT_EQ(blocks.size(), 2u);
  for (const Bytes& b : blocks) {
    EXPECT_EQ(b.size(), 16u + 120);
    EXPECT_EQ(ReadBe16(b.data() + 8), 2);
    EXPECT_EQ(b[12], 120);
  }
}

TEST_P(RemoteFileServerTest, ReadPastEnd_KeepsRequestedSizeWithZeros) {
  Put(card / "short.bin", std::string(100, '\xAA'));
  const std::int32_t h = OpenHandle('r', "short.bin");
  // A stale answer buffer must not leak: poison what the previous answer left behind.
  Run(ReadReq(h, 100));
  const auto blocks = Run(ReadReq(h, 130));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0][12], 120);
  EXPECT_EQ(blocks[1][12], 10);
  EXPECT_EQ(Bytes(blocks[0].begin() + 16, blocks[0].end()), Bytes(120, 0));
  EXPECT_EQ(ReadBe16(blocks[0].data() + 6), 0);
  // Partly past the end.
  One(SeekReq(h, 90, 0));
  const Bytes partial = One(ReadReq(h, 20));
  EXPECT_EQ(Bytes(partial.begin() + 16, partial.end()), Cat({Bytes(10, 0xAA), Bytes(10, 0)}));
}

TEST_P(RemoteFileServerTest, ReadBadHandleOrNothing_OneAnswerWithZeroCounts) {
  EXPECT_EQ(One(ReadReq(5, 100)), Cat({{0x8C, 0x14}, Be32(5), Be16(9), Bytes(8, 0)}));
  EXPECT_EQ(One(ReadReq(-1, 100)), Cat({{0x8C, 0x14}, Be32(0xFFFFFFFF), Be16(9), Bytes(8, 0)}));
  Put(card / "f", "abc");
  const std::int32_t h = OpenHandle('r', "f");
  EXPECT_EQ(One(ReadReq(h, 0)), Cat({{0x8C, 0x14}, Be32(h), Be16(0), Bytes(8, 0)}));
}

TEST_P(RemoteFileServerTest, WriteThreeBlocks_OneAnswerAfterLast) {
  const std::int32_t h = OpenHandle('w', "w.bin");
  const Bytes b1 = FileBytes(120, 1), b2 = FileBytes(120, 2), b3 = FileBytes(5, 3);
  EXPECT_TRUE(Run(WriteReq(h, 3, 1, b1)).empty());
  EXPECT_TRUE(Run(WriteReq(h, 3, 2, b2)).empty());
  EXPECT_EQ(One(WriteReq(h, 3, 3, b3)), HandleAnswer(0x13, h, 0));
  One(CloseReq(h));
  const Bytes all = Cat({b1, b2, b3});
  EXPECT_EQ(ReadWholeFile(card / "w.bin"), std::string(all.begin(), all.end()));
}

TEST_P(RemoteFileServerTest, WriteBlockRules) {
  Put(card / "ro", "x");
  const std::int32_t ro = OpenHandle('r', "ro");
  const std::int32_t h = OpenHandle('w', "w.bin");
  const Bytes full = FileBytes(120, 0);
  struct Step {
    KavoPacket request;
    std::vector<Bytes> answers;
  } steps[] = {
      // A last block that does not follow block 1 would leave a hole.
      {WriteReq(h, 3, 1, full), {}},
      {WriteReq(h, 3, 3, FileBytes(5, 0)), {HandleAnswer(0x13, h, 9)}},
      // The sequence ended with that error: a middle block now is out of sequence.
      {WriteReq(h, 3, 2, full), {HandleAnswer(0x13, h, 9)}},
      {WriteReq(h, 3, 1, full), {}},
      {WriteReq(h, 3, 4, full), {HandleAnswer(0x13, h, 4)}},
      {WriteReq(h, 3, 1, FileBytes(119, 0)), {HandleAnswer(0x13, h, 8)}},
      {WriteReq(h, 1, 1, FileBytes(121, 0)), {HandleAnswer(0x13, h, 8)}},
      {WriteReq(h, 4, 1, full), {}},
      {WriteReq(h, 4, 2, FileBytes(60, 0)), {HandleAnswer(0x13, h, 8)}},
      {WriteReq(7, 1, 1, full), {HandleAnswer(0x13, 7, 6)}},
      {WriteReq(ro, 1, 1, full), {HandleAnswer(0x13, ro, 4)}},
      {WriteReq(h, 1, 1, FileBytes(3, 0)), {HandleAnswer(0x13, h, 0)}},
  };
  int i = 0;
  for (const Step& s : steps) EXPECT_EQ(Run(s.request), s.answers) << "step " << i++;
  // A count larger than the packet carries.
  KavoPacket lying = WriteReq(h, 1, 1, FileBytes(10, 0));
  lying.data[10] = 100;
  Reseal(lying);
  EXPECT_EQ(Run(lying), (std::vector<Bytes>{HandleAnswer(0x13, h, 8)}));
}

TEST_P(RemoteFileServerTest, WriteAtWithSaveFlag_RestoresPosition) {
  const std::int32_t h = OpenHandle('w', "at.bin");
  const std::string digits = "0123456789";
  One(WriteReq(h, 1, 1, Bytes(digits.begin(), digits.end())));
  EXPECT_EQ(One(WriteAtReq(h, 1, 1, 2, true, 0, {'A', 'B'})), HandleAnswer(0x1B, h, 0));
  EXPECT_EQ(One(TellReq(h)), PositionAnswer(0x16, h, 10, 0));
  // Several blocks, positioned from the end, position restored after the last.
  EXPECT_TRUE(Run(WriteAtReq(h, 2, 1, -4, true, 2, Bytes(120, 'x'))).empty());
  EXPECT_EQ(One(TellReq(h)), PositionAnswer(0x16, h, 126, 0));
  EXPECT_EQ(One(WriteAtReq(h, 2, 2, 0, true, 0, {'y'})), HandleAnswer(0x1B, h, 0));
  EXPECT_EQ(One(TellReq(h)), PositionAnswer(0x16, h, 10, 0));
  // Without the flag the position stays after the written bytes.
  One(WriteAtReq(h, 1, 1, 1, false, 0, {'C'}));
  EXPECT_EQ(One(TellReq(h)), PositionAnswer(0x16, h, 2, 0));
  One(CloseReq(h));
  EXPECT_EQ(ReadWholeFile(card / "at.bin"), "0CAB45" + std::string(120, 'x') + "y");
}

TEST_P(RemoteFileServerTest, WriteAtErrorEndsSequenceAndRestores) {
  const std::int32_t h = OpenHandle('w', "e.bin");
  One(WriteReq(h, 1, 1, Bytes(20, 'a')));
  EXPECT_EQ(One(WriteAtReq(h, 3, 1, 5, true, 0, Bytes(50, 'b'))), HandleAnswer(0x1B, h, 8));
  EXPECT_EQ(One(TellReq(h)), PositionAnswer(0x16, h, 20, 0));
  EXPECT_EQ(One(WriteAtReq(h, 1, 1, -100, true, 0, {'z'})), HandleAnswer(0x1B, h, 22));
  EXPECT_EQ(One(TellReq(h)), PositionAnswer(0x16, h, 20, 0));
}

TEST_P(RemoteFileServerTest, OpenModesAndAnswerLayout) {
  EXPECT_EQ(One(OpenReq('x', "f.txt")), OpenAnswer(-1, 28, "f.txt"));
  EXPECT_EQ(One(OpenReq('r', "f.txt")), OpenAnswer(-1, 2, "f.txt"));
  EXPECT_EQ(One(OpenReq('w', "f.txt")), OpenAnswer(0, 0, "f.txt"));
  // Opens are exclusive.
  EXPECT_EQ(One(OpenReq('r', "f.txt")), OpenAnswer(-1, 30, "f.txt"));
  EXPECT_EQ(One(OpenReq('w', "f.txt")), OpenAnswer(-1, 30, "f.txt"));
  One(WriteReq(0, 1, 1, {'h', 'i'}));
  EXPECT_EQ(One(CloseReq(0)), HandleAnswer(0x12, 0, 0));
  EXPECT_EQ(One(CloseReq(0)), HandleAnswer(0x12, 0, 9));
  EXPECT_EQ(One(CloseReq(100)), HandleAnswer(0x12, 100, 9));
  // 'a' keeps the content and writes at the end; 'w' empties.
  const std::int32_t a = OpenHandle('a', "f.txt");
  One(WriteReq(a, 1, 1, {'!'}));
  One(CloseReq(a));
  EXPECT_EQ(ReadWholeFile(card / "f.txt"), "hi!");
  One(CloseReq(OpenHandle('w', "f.txt")));
  EXPECT_EQ(ReadWholeFile(card / "f.txt"), "");
  fs::create_directory(card / "d");
  EXPECT_EQ(One(OpenReq('r', "d")), OpenAnswer(-1, 13, "d"));
  EXPECT_EQ(One(OpenReq('w', "nodir\\f.txt")), OpenAnswer(-1, 2, "nodir\\f.txt"));
  EXPECT_EQ(One(OpenReq('w', "d\\in.txt")), OpenAnswer(0, 0, "d\\in.txt"));
  EXPECT_TRUE(fs::exists(card / "d" / "in.txt"));
}

TEST_P(RemoteFileServerTest, HundredAndFirstOpen_NoFreeHandle) {
  for (int i = 0; i < 100; ++i) EXPECT_EQ(OpenHandle('w', "f" + std::to_string(i)), i);
  EXPECT_EQ(One(OpenReq('w', "one.more")), OpenAnswer(-1, 24, "one.more"));
  EXPECT_FALSE(fs::exists(card / "one.more"));
  One(CloseReq(42));
  EXPECT_EQ(One(OpenReq('r', "f7")), OpenAnswer(-1, 30, "f7"));  // still open
  EXPECT_EQ(OpenHandle('w', "again"), 42);
  EXPECT_EQ(server->OpenFiles(), 100);
}

TEST_P(RemoteFileServerTest, SeekAndTell) {
  Put(card / "s.bin", std::string(50, 's'));
  const std::int32_t h = OpenHandle('r', "s.bin");
  EXPECT_EQ(One(SeekReq(h, 10, 0)), PositionAnswer(0x15, h, 10, 0));
  EXPECT_EQ(One(SeekReq(h, -3, 1)), PositionAnswer(0x15, h, 7, 0));
  EXPECT_EQ(One(SeekReq(h, -5, 2)), PositionAnswer(0x15, h, 45, 0));
  EXPECT_EQ(One(SeekReq(h, 1, 7)), PositionAnswer(0x15, h, 1, 0));  // unknown origin: from the start
  EXPECT_EQ(One(SeekReq(h, -1, 0)), PositionAnswer(0x15, h, 1, 22));
  EXPECT_EQ(One(TellReq(h)), PositionAnswer(0x16, h, 1, 0));
  EXPECT_EQ(One(SeekReq(55, 0, 0)), PositionAnswer(0x15, 55, 0, 9));
  EXPECT_EQ(One(TellReq(-7)), PositionAnswer(0x16, -7, 0, 9));
}

TEST_P(RemoteFileServerTest, Remove_AnswersTheOutcome) {
  Put(card / "gone.txt", "x");
  fs::create_directory(card / "d");
  EXPECT_EQ(One(RemoveReq("gone.txt")), Cat({{0x8C, 0x17}, Be16(0), {0, 0, 0}}));
  EXPECT_FALSE(fs::exists(card / "gone.txt"));
  EXPECT_EQ(One(RemoveReq("gone.txt")), Cat({{0x8C, 0x17}, Be16(2), {0, 0, 0}}));
  EXPECT_EQ(One(RemoveReq("d")), Cat({{0x8C, 0x17}, Be16(13), {0, 0, 0}}));
  EXPECT_TRUE(fs::exists(card / "d"));
}

TEST_P(RemoteFileServerTest, CardInformation_Constants) {
  EXPECT_EQ(One(Request(0x1A, Cat({{0, 0, 0}, Text("A:")}))),
            Cat({{0x8C, 0x1A}, Be32(0x02000000), Be32(0x01800000), Be16(0x4000), Bytes(9, 0)}));
}

TEST_P(RemoteFileServerTest, TraversalSet_RefusedAndNothingOutsideTouched) {
  const fs::path sibling = dir.Path() / "rli2";
  fs::create_directory(sibling);
  Put(sibling / "secret.txt", "secret");
  Put(dir.Path() / "outside.txt", "outside");
  fs::create_symlink(sibling, card / "dirlink");
  fs::create_symlink(dir.Path() / "outside.txt", card / "filelink");
  fs::create_symlink(dir.Path() / "new.txt", card / "dangling");
  const std::string absolute = (dir.Path() / "outside.txt").string();
  const std::string names[] = {
      "..\\outside.txt",
      "..\\rli2\\secret.txt",
      "../rli2/secret.txt",
      "sub\\..\\..\\outside.txt",
      absolute,
      "\\..\\outside.txt",
      "A:\\..\\outside.txt",
      "C:\\outside.txt",
      "C:outside.txt",
      "dirlink\\secret.txt",
      "filelink",
      "dangling",
      std::string(300, 'a'),
      std::string("inside.txt\0../outside.txt", 25),
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    for (char mode : {'r', 'w', 'a'}) {
      const Bytes a = One(OpenReq(mode, name));
      ASSERT_GE(a.size(), 8u);
      EXPECT_EQ(ReadBe32(a.data() + 2), 0xFFFFFFFFu);
      const std::uint16_t error = ReadBe16(a.data() + 6);
      EXPECT_TRUE(error == 2 || error == 13) << error;
    }
    if (name != "filelink" && name != "dangling") {
      const Bytes r = One(RemoveReq(name));
      EXPECT_TRUE(ReadBe16(r.data() + 2) == 2 || ReadBe16(r.data() + 2) == 13);
    }
    EXPECT_EQ(Run(ListReq(name + "\\*")).size(), 1u);
  }
  EXPECT_EQ(Run(ListReq("..\\*")).size(), 1u);
  EXPECT_EQ(Run(ListReq("dirlink\\*.*")).size(), 1u);
  EXPECT_EQ(server->OpenFiles(), 0);
  EXPECT_EQ(ReadWholeFile(sibling / "secret.txt"), "secret");
  EXPECT_EQ(ReadWholeFile(dir.Path() / "outside.txt"), "outside");
  EXPECT_FALSE(fs::exists(dir.Path() / "new.txt"));
  EXPECT_FALSE(fs::exists(card / "inside.txt"));
  // The links themselves are the card's own entries: removing one leaves its target alone.
  EXPECT_EQ(One(RemoveReq("filelink")), Cat({{0x8C, 0x17}, Be16(0), {0, 0, 0}}));
  const std::uint16_t throughLink = ReadBe16(One(RemoveReq("dirlink\\secret.txt")).data() + 2);
  EXPECT_TRUE(throughLink == 2 || throughLink == 13) << throughLink;
  EXPECT_FALSE(fs::is_symlink(card / "filelink"));
  EXPECT_EQ(ReadWholeFile(dir.Path() / "outside.txt"), "outside");
  EXPECT_EQ(ReadWholeFile(sibling / "secret.txt"), "secret");
}

TEST_P(RemoteFileServerTest, HarmlessNames_MapBackslashesAndDots) {
  fs::create_directories(card / "gpsData");
  Put(card / "gpsData" / "x.t02", "data");
  for (const std::string name : {"gpsData\\x.t02", "gpsData/x.t02", ".\\gpsData\\\\x.t02"}) {
    SCOPED_TRACE(name);
    const std::int32_t h = OpenHandle('r', name);
    const Bytes block = One(ReadReq(h, 4));
    EXPECT_EQ(std::string(block.begin() + 16, block.end()), "data");
    One(CloseReq(h));
  }
}

// The card is a FAT card: case does not count, and of two PC names that differ only in case the
// first in byte order is the receiver's.
TEST_P(RemoteFileServerTest, NamesMatchedWithoutCase_InOpensListsAndRemoves) {
  Put(card / "log002.t02", "lower");
  Put(card / "Twin.TXT", "upper");
  Put(card / "twin.txt", "second");
  fs::create_directory(card / "gpsData");
  Put(card / "gpsData" / "x.t02", "deep");
  struct Case {
    std::string name;
    std::string content;
  } reads[] = {{"LOG002.T02", "lower"},
               {"log002.t02", "lower"},
               {"TWIN.txt", "upper"},
               {"twin.TXT", "upper"},
               {"GPSDATA\\X.T02", "deep"}};
  for (const Case& c : reads) {
    SCOPED_TRACE(c.name);
    const std::int32_t h = OpenHandle('r', c.name);
    const Bytes block = One(ReadReq(h, static_cast<std::uint16_t>(c.content.size())));
    EXPECT_EQ(std::string(block.begin() + 16, block.end()), c.content);
    One(CloseReq(h));
  }
  EXPECT_EQ(Run(ListReq("*.T02")),
            (std::vector<Bytes>{EntryAnswer(0, "log002.t02"), EntryAnswer(65535, "LAST.FIL")}));
  EXPECT_EQ(Run(ListReq("T*")),
            (std::vector<Bytes>{EntryAnswer(0, "Twin.TXT"), EntryAnswer(65535, "LAST.FIL")}));
  EXPECT_EQ(Run(ListReq("gpsdata\\*.*")),
            (std::vector<Bytes>{EntryAnswer(0, "x.t02"), EntryAnswer(65535, "LAST.FIL")}));

  // A write goes to the file that is there; a new name keeps the receiver's spelling.
  One(CloseReq(OpenHandle('w', "LOG002.T02")));
  EXPECT_EQ(ReadWholeFile(card / "log002.t02"), "");
  EXPECT_FALSE(fs::exists(card / "LOG002.T02"));
  One(CloseReq(OpenHandle('w', "New.Txt")));
  EXPECT_TRUE(fs::exists(card / "New.Txt"));

  EXPECT_EQ(One(RemoveReq("TWIN.TXT")), Cat({{0x8C, 0x17}, Be16(0), {0, 0, 0}}));
  EXPECT_FALSE(fs::exists(card / "Twin.TXT"));
  EXPECT_EQ(ReadWholeFile(card / "twin.txt"), "second");
  EXPECT_EQ(One(RemoveReq("GPSDATA\\x.T02")), Cat({{0x8C, 0x17}, Be16(0), {0, 0, 0}}));
  EXPECT_FALSE(fs::exists(card / "gpsData" / "x.t02"));
}

// A leading "\\" or the card's drive names the card folder's root.
TEST_P(RemoteFileServerTest, RootAndDrive_NameTheCardFolder) {
  Put(card / "a.txt", "root");
  for (const std::string name : {"\\a.txt", "/a.txt", "A:\\a.txt", "a:\\A.TXT", "A:a.txt", "\\\\a.txt"}) {
    SCOPED_TRACE(name);
    const std::int32_t h = OpenHandle('r', name);
    const Bytes block = One(ReadReq(h, 4));
    EXPECT_EQ(std::string(block.begin() + 16, block.end()), "root");
    One(CloseReq(h));
  }
  for (const std::string pattern : {"\\*.*", "A:\\*.*", "A:*.*", "a:\\*.TXT"}) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(Run(ListReq(pattern)),
              (std::vector<Bytes>{EntryAnswer(0, "a.txt"), EntryAnswer(65535, "LAST.FIL")}));
  }
  EXPECT_EQ(One(RemoveReq("A:\\A.TXT")), Cat({{0x8C, 0x17}, Be16(0), {0, 0, 0}}));
  EXPECT_TRUE(fs::is_empty(card));
  for (const std::string name : {"B:\\a.txt", "\\..\\a.txt", "A:..\\a.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadBe16(One(OpenReq('w', name)).data() + 6), 13);
  }
  EXPECT_TRUE(fs::is_empty(card));
}

// A request whose checksum is wrong is answered at once with error 5, and nothing is done for it.
TEST_P(RemoteFileServerTest, BadChecksum_AnsweredWithIoErrorAndNothingDone) {
  Put(card / "keep.txt", "keep");
  const std::int32_t h = OpenHandle('a', "keep.txt");
  auto damaged = [](KavoPacket p) {
    p.data[p.length - 1] ^= 0x01;
    VerifyChecksum(p);
    return p;
  };
  struct Case {
    KavoPacket request;
    Bytes answer;
  } cases[] = {
      {ListReq("*.*"), Cat({{0x8C, 0x10}, Be16(65535), Be16(5), Text("LAST.FIL")})},
      {OpenReq('w', "new.txt"), Cat({{0x8C, 0x11}, Be32(0xFFFFFFFF), Be16(5), {0, 0, 0, 0}})},
      {CloseReq(h), HandleAnswer(0x12, h, 5)},
      {WriteReq(h, 1, 1, Bytes{'x', 'y'}), HandleAnswer(0x13, h, 5)},
      {WriteAtReq(h, 1, 1, 0, false, 0, Bytes{'z'}), HandleAnswer(0x1B, h, 5)},
      {ReadReq(h, 4), Cat({{0x8C, 0x14}, Be32(static_cast<std::uint32_t>(h)), Be16(5), Bytes(8, 0)})},
      {SeekReq(h, 0, 0), PositionAnswer(0x15, h, 0, 5)},
      {TellReq(h), PositionAnswer(0x16, h, 0, 5)},
      {RemoveReq("keep.txt"), Cat({{0x8C, 0x17}, Be16(5), {0, 0, 0}})},
      {Request(0x1A, Cat({{0, 0, 0}, Text("A:")})),
       Cat({{0x8C, 0x1A}, Be32(0x02000000), Be32(0x01800000), Be16(0x4000), Be16(5), Bytes(7, 0)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.request.data[1]));
    const KavoPacket bad = damaged(c.request);
    ASSERT_EQ(bad.checksumOk, 0);
    EXPECT_EQ(One(bad), c.answer);
  }
  EXPECT_TRUE(Run(damaged(Request(0x18, {1, 2, 3}))).empty());
  EXPECT_EQ(ReadWholeFile(card / "keep.txt"), "keep");
  EXPECT_FALSE(fs::exists(card / "new.txt"));
  EXPECT_EQ(server->OpenFiles(), 1);
  One(CloseReq(h));
}

TEST(CardPattern, DosRules) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.*", "LOG001.T02", true},
      {"*.*", "README", true},
      {"*.*", "a.b.c", true},
      {"*", "README", true},
      {"*.T02", "log001.t02", true},
      {"*.T02", "log001.t03", false},
      {"LOG???.T02", "LOG001.T02", true},
      {"LOG???.T02", "LOG01.T02", false},
      {"*.", "README", true},
      {"*.", "a.txt", false},
      {"?*", "", false},
      {"*.*", ".hidden", false},
      {".h*", ".hidden", true},
      {"[ab].txt", "[ab].txt", true},
      {"[ab].txt", "a.txt", false},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"LOG*.*", "log7", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CCardFolder::PatternMatches(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

INSTANTIATE_TEST_SUITE_P(Resolvers, RemoteFileServerTest,
                         ::testing::Values(CCardFolder::Resolver::Beneath, CCardFolder::Resolver::Walk),
                         [](const auto& info) {
                           return std::string(info.param == CCardFolder::Resolver::Beneath ? "Beneath"
                                                                                           : "Walk");
                         });

TEST(RemoteFileRequest, AcceptanceTest) {
  struct Case {
    KavoPacket packet;
    bool accepted;
  } cases[] = {
      {Received(0x8F, {0x8C, 0x10, 0, 0}), true}, {Received(0x8F, {0x8C, 0x1B}), true},
      {Received(0x8F, {0x8C, 0x18}), true},       {Received(0x8F, {0x8C, 0x0F}), false},
      {Received(0x8F, {0x8C, 0x1C}), false},      {Received(0x8F, {0x93, 0x15, 0x00}), false},
      {Received(0x8E, {0x8C, 0x10}), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsRemoteFileRequest(c.packet), c.accepted);
  KavoPacket tooShort = Received(0x8F, {0x8C, 0x10});
  tooShort.length = 3;
  EXPECT_FALSE(IsRemoteFileRequest(tooShort));
  // Taken, to be answered with an error instead of left to the receiver's time-out.
  KavoPacket flipped = Received(0x8F, {0x8C, 0x17, 0, 0, 0, 0, 'a', 0});
  flipped.checksumOk = 0;
  EXPECT_TRUE(IsRemoteFileRequest(flipped));
}

TEST(RemoteFileServer, QueueOrderUnansweredOpsAndShortRequests) {
  CTempDir dir;
  std::vector<KavoPacket> answers;
  CRemoteFileServer server(dir.Path(), [&](const KavoPacket& p) { answers.push_back(p); });
  EXPECT_FALSE(server.QueueRequest(Received(0x8F, {0x93, 0x15, 0, 0})));
  EXPECT_TRUE(server.QueueRequest(Request(0x18, {1, 2, 3})));
  EXPECT_TRUE(server.QueueRequest(Request(0x12, {0, 0})));  // too short for its handle
  EXPECT_TRUE(server.QueueRequest(Request(0x1A, {})));
  EXPECT_TRUE(server.QueueRequest(CloseReq(3)));
  EXPECT_EQ(server.QueuedRequests(), 4u);
  server.ProcessRequests();
  EXPECT_EQ(server.QueuedRequests(), 0u);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].data[1], 0x1A);
  EXPECT_EQ(Payload(answers[1]), HandleAnswer(0x12, 3, 9));
  EXPECT_EQ(server.DroppedRequests(), 1u);
  for (std::size_t i = 0; i < CRemoteFileServer::kMaxQueued; ++i) server.QueueRequest(CloseReq(1));
  EXPECT_FALSE(server.QueueRequest(CloseReq(1)));
  EXPECT_EQ(server.DroppedRequests(), 2u);
}

TEST(RemoteFileServer, GarbageRequests_NeverTouchOutside) {
  CTempDir dir;
  fs::create_directory(dir.Path() / "card");
  std::ofstream(dir.Path() / "keep.txt") << "keep";
  std::size_t answers = 0;
  CRemoteFileServer server(dir.Path() / "card", [&](const KavoPacket& p) {
    ASSERT_LE(p.length, kKavoMaxData - 3);
    ++answers;
  });
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, static_cast<std::uint8_t>(seed >> 16); };
  for (int i = 0; i < 3000; ++i) {
    Bytes body(next() % 40 + next() % 2 * 650);
    for (auto& b : body) b = next() % 4 == 0 ? '.' : (next() % 4 == 0 ? '\\' : next());
    server.QueueRequest(Request(static_cast<std::uint8_t>(0x10 + next() % 12), body));
    server.ProcessRequests();
  }
  EXPECT_GT(answers, 0u);
  EXPECT_EQ(ReadWholeFile(dir.Path() / "keep.txt"), "keep");
  std::size_t outside = 0;
  for (const auto& e : fs::directory_iterator(dir.Path())) outside += e.path().filename() != "card";
  EXPECT_EQ(outside, 1u);
}

}  // namespace
