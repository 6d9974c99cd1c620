#include "logger/q0x_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "packet_builder.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

KavoPacket NameRecord(const std::string& name) {
  return MakeSuper(CBytes().U8(0x93).U8(0x14).U8(2).U8(0).Text(name).U8(0));
}
KavoPacket DataRecord(const std::string& bytes) {
  return MakeSuper(CBytes().U8(0x93).U8(0x14).U8(0).U8(static_cast<int>(bytes.size())).Text(bytes));
}
KavoPacket Filler() {
  return MakePacket(0x41, Bytes(10, 0));
}

class Q0xWriterTest : public testing::Test {
 protected:
  Q0xWriterTest()
      : writer([this](const KavoPacket& p, int ck) {
          Bytes b{p.id};
          b.insert(b.end(), p.data, p.data + p.length);
          sent.push_back({b, ck});
          return true;
        }) {
    writer.SetFolder(dir.Path().string());
  }
  CTempDir dir;
  std::vector<std::pair<Bytes, int>> sent;
  CQ0xWriter writer;
};

const std::pair<Bytes, int> kStart{{0x8E, 0x93, 0x14, 0x01, 0x01}, 0};
const std::pair<Bytes, int> kStop{{0x8E, 0x93, 0x14, 0x01, 0x00}, 0};

TEST_F(Q0xWriterTest, StreamAskedAfterMoreThan100PacketsOncePerSession) {
  writer.ResetPacketCount();
  for (int i = 0; i < 100; ++i) writer.TakePacket(Filler());
  EXPECT_TRUE(sent.empty());
  writer.TakePacket(Filler());
  EXPECT_EQ(sent, (std::vector<std::pair<Bytes, int>>{kStart}));
  for (int i = 0; i < 300; ++i) writer.TakePacket(Filler());
  EXPECT_EQ(sent.size(), 1u);

  // The next session asks again only after its own 100 packets.
  writer.StopStream();
  writer.ResetPacketCount();
  for (int i = 0; i < 100; ++i) writer.TakePacket(Filler());
  EXPECT_EQ(sent, (std::vector<std::pair<Bytes, int>>{kStart, kStop}));
  writer.TakePacket(Filler());
  EXPECT_EQ(sent.back(), kStart);
}

TEST_F(Q0xWriterTest, DataBeforeAnyName_Dropped_ThenNameOpensAndRepeatAppends) {
  writer.TakePacket(DataRecord("lost"));
  EXPECT_FALSE(writer.IsOpen());
  writer.TakePacket(NameRecord("rcv01.q02"));
  writer.TakePacket(DataRecord("abc"));
  writer.TakePacket(NameRecord("rcv01.q02"));  // same name: same file goes on
  writer.TakePacket(DataRecord(std::string("\x10\x00z", 3)));
  writer.TakePacket(NameRecord("rcv02.q02"));
  writer.TakePacket(DataRecord("next"));
  writer.Close();
  EXPECT_EQ(ReadWholeFile(dir.Path() / "rcv01.q02"), std::string("abc\x10\x00z", 6));
  EXPECT_EQ(ReadWholeFile(dir.Path() / "rcv02.q02"), "next");
  EXPECT_EQ(writer.CurrentName(), (dir.Path() / "rcv02.q02").string());
}

TEST_F(Q0xWriterTest, ExistingFileIsAppendedNotTruncated) {
  writer.TakePacket(NameRecord("keep.q02"));
  writer.TakePacket(DataRecord("one"));
  writer.Close();
  CQ0xWriter again(nullptr);
  again.SetFolder(dir.Path().string());
  again.TakePacket(NameRecord("keep.q02"));
  again.TakePacket(DataRecord("two"));
  again.Close();
  EXPECT_EQ(ReadWholeFile(dir.Path() / "keep.q02"), "onetwo");
}

TEST_F(Q0xWriterTest, BadRecords_Dropped) {
  writer.TakePacket(NameRecord("f.q02"));
  KavoPacket badSum = DataRecord("xx");
  badSum.data[badSum.length - 1] ^= 1;
  writer.TakePacket(badSum);
  KavoPacket notVerified = DataRecord("yy");
  notVerified.checksumOk = 0;
  writer.TakePacket(notVerified);
  // A count reaching into the checksum trailer and past the packet.
  writer.TakePacket(MakeSuper(CBytes().U8(0x93).U8(0x14).U8(0).U8(5).Text("abc")));
  writer.TakePacket(MakeSuper(CBytes().U8(0x93).U8(0x14).U8(1).U8(1).Text("k")));  // kind 1 ignored
  writer.TakePacket(MakeSuper(CBytes().U8(0x93).U8(0x15).U8(0).U8(1).Text("s")));  // other stream
  writer.TakePacket(DataRecord("ok"));
  writer.Close();
  EXPECT_EQ(ReadWholeFile(dir.Path() / "f.q02"), "ok");
}

// A refused name ends the file before it, so the next file's data never lands in it; the data
// records after it are dropped and counted until a name is accepted, and one line says so.
TEST(Q0xWriterRefusal, RefusedName_ClosesTheFileDropsCountsAndSaysSo) {
  const std::string longName = std::string(100, 'n') + "/";
  struct Case {
    std::string name;
    std::string shown;
  } cases[] = {
      {"../escape.q02", "../escape.q02"},
      {"sub/x.q02", "sub/x.q02"},
      {"a\\b.q02", "a\\b.q02"},
      {".", "."},
      {"..", ".."},
      {"", ""},
      {"tab\t/\"", "tab?/?"},
      {longName, std::string(CQ0xWriter::kShownNameLength, 'n') + "..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    CTempDir dir;
    std::vector<std::string> lines;
    CQ0xWriter writer(nullptr, [&](const char* text) { lines.push_back(text); });
    writer.SetFolder(dir.Path().string());
    writer.TakePacket(NameRecord("f.q02"));
    writer.TakePacket(DataRecord("ok"));
    writer.TakePacket(NameRecord(c.name));
    EXPECT_FALSE(writer.IsOpen());
    writer.TakePacket(DataRecord("not f's"));
    writer.TakePacket(NameRecord(c.name));  // repeated: the same run
    writer.TakePacket(DataRecord("nor this"));
    EXPECT_TRUE(lines.empty());
    writer.TakePacket(NameRecord("g.q02"));
    writer.TakePacket(DataRecord("next"));
    writer.Close();
    EXPECT_EQ(ReadWholeFile(dir.Path() / "f.q02"), "ok");
    EXPECT_EQ(ReadWholeFile(dir.Path() / "g.q02"), "next");
    EXPECT_EQ(writer.RefusedRecords(), 2u);
    EXPECT_EQ(lines, (std::vector<std::string>{"* Q0x name record \"" + c.shown +
                                               "\" refused: 2 data records dropped"}));
    EXPECT_FALSE(std::filesystem::exists(dir.Path().parent_path() / "escape.q02"));
  }
}

// The end of the stream ends a run of dropped records too.
TEST(Q0xWriterRefusal, StreamStoppedWhileRefusing_LineWritten) {
  std::vector<std::string> lines;
  CQ0xWriter writer(nullptr, [&](const char* text) { lines.push_back(text); });
  writer.TakePacket(NameRecord(".."));
  writer.TakePacket(DataRecord("x"));
  writer.StopStream();
  writer.TakePacket(DataRecord("y"));  // no refused name any more: dropped as data without a file
  EXPECT_EQ(lines, (std::vector<std::string>{"* Q0x name record \"..\" refused: 1 data records dropped"}));
  EXPECT_EQ(writer.RefusedRecords(), 1u);
}

TEST_F(Q0xWriterTest, NameThatCannotBeOpened_DropsDataUntilNextName) {
  writer.SetFolder((dir.Path() / "absent").string());
  writer.TakePacket(NameRecord("a.q02"));
  writer.TakePacket(DataRecord("lost"));
  EXPECT_FALSE(writer.IsOpen());
  writer.SetFolder(dir.Path().string());
  writer.TakePacket(NameRecord("a.q02"));
  writer.TakePacket(DataRecord("kept"));
  writer.Close();
  EXPECT_EQ(ReadWholeFile(dir.Path() / "a.q02"), "kept");
}

TEST_F(Q0xWriterTest, WriteFailure_FileGivenUpButStreamNotAskedAgain) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  writer.ResetPacketCount();
  for (int i = 0; i < 101; ++i) writer.TakePacket(Filler());
  ASSERT_EQ(sent, (std::vector<std::pair<Bytes, int>>{kStart}));
  // Every write to /dev/full fails as on a full disk.
  writer.SetFolder("/dev");
  writer.TakePacket(NameRecord("full"));
  ASSERT_TRUE(writer.IsOpen());
  writer.TakePacket(DataRecord("lost"));
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_TRUE(writer.Streaming());
  for (int i = 0; i < 300; ++i) writer.TakePacket(Filler());
  EXPECT_EQ(sent.size(), 1u) << "the stream was asked for twice in one session";
  // The receiver naming the same file again gets it opened again.
  writer.TakePacket(NameRecord("full"));
  EXPECT_TRUE(writer.IsOpen());
  writer.Close();
}

}  // namespace
