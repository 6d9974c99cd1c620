// plowsim's data folder for the file transfer and its line pacer, without a pty.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "file_system.h"
#include "line_pacer.h"
#include "support/checksummed_packet.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A request 0x8E with `payload` and its checksum trailer, as the program's parser hands it over.
KavoPacket FileRequest(Bytes payload) {
  return ChecksummedPacket(0x8E, std::move(payload));
}

class SimFileSystemTest : public ::testing::Test {
 protected:
  explicit SimFileSystemTest(int dropEvery = 0)
      : files(
            dir.Path().string(), dropEvery,
            [this](const KavoPacket& p) { replies.emplace_back(p.data, p.data + p.length); },
            [this](std::string_view line) { traces.emplace_back(line); }) {
    std::ofstream(dir / "b.T02", std::ios::binary) << std::string(300, 'x');
    std::ofstream(dir / "a.txt") << "";
    std::filesystem::create_directories(dir.Path() / "sub");
  }

  Bytes Open(const std::string& name) {
    replies.clear();
    files.Handle(FileRequest(WithText({0x93, 0x15, 0x01, 0x01}, std::string("A:\\gpsData\\") + name)));
    return replies.empty() ? Bytes{} : replies.back();
  }

  CTempDir dir;
  std::vector<Bytes> replies;
  std::vector<std::string> traces;
  CSimFileSystem files;
};

TEST_F(SimFileSystemTest, ListOpenReadClose_ExactReplies) {
  files.Handle(FileRequest(WithText({0x93, 0x15, 0x00}, "A:\\gpsData\\")));
  EXPECT_EQ(replies, (std::vector<Bytes>{WithText({0x93, 0x15, 0x00, 0x00, 0x00}, "a.txt"),
                                         WithText({0x93, 0x15, 0x00, 0x01, 0x00}, "b.T02")}));

  EXPECT_EQ(Open("b.T02"),
            WithText({0x93, 0x15, 0x01, 0x00, 0, 0, 0, 1, 0, 0, 0x01, 0x2C}, "A:\\gpsData\\b.T02"));
  replies.clear();
  files.Handle(FileRequest({0x93, 0x15, 0x01, 0x02, 0, 0, 0, 1, 0, 0, 1, 0, 44}));  // 44 bytes at 256
  Bytes block{0x93, 0x15, 0x01, 0x01, 0, 0, 0, 1, 0, 0, 1, 0, 44};
  block.insert(block.end(), 44, 'x');
  EXPECT_EQ(replies, std::vector<Bytes>{block});
  // Past the end: ask again.
  replies.clear();
  files.Handle(FileRequest({0x93, 0x15, 0x01, 0x02, 0, 0, 0, 1, 0, 0, 1, 0, 45}));
  EXPECT_EQ(replies, (std::vector<Bytes>{{0x93, 0x15, 0x01, 0x03, 0, 0, 0, 1}}));
  // Close, and a resent close, answer the same.
  replies.clear();
  files.Handle(FileRequest({0x93, 0x15, 0x01, 0x03, 0, 0, 0, 1}));
  files.Handle(FileRequest({0x93, 0x15, 0x01, 0x03, 0, 0, 0, 1}));
  EXPECT_EQ(replies,
            (std::vector<Bytes>{{0x93, 0x15, 0x01, 0x02, 0, 0, 0, 1}, {0x93, 0x15, 0x01, 0x02, 0, 0, 0, 1}}));
}

TEST_F(SimFileSystemTest, NamesOutsideTheFolder_NotFoundAndNotDeleted) {
  std::ofstream(dir.Path().parent_path() / "outside.txt") << "keep";
  for (const char* name : {"..\\outside.txt", "sub", "..", "sub\\..\\b.T02", "nothing.dat", "C:b.T02"}) {
    const Bytes reply = Open(name);
    ASSERT_GE(reply.size(), 12u) << name;
    EXPECT_EQ(Bytes(reply.begin() + 4, reply.begin() + 8), (Bytes{0, 0, 0, 0})) << name;
  }
  replies.clear();
  files.Handle(FileRequest(WithText({0x93, 0x15, 0x03}, "A:\\gpsData\\..\\outside.txt")));
  EXPECT_EQ(replies, std::vector<Bytes>{WithText({0x93, 0x15, 0x03, 0x00}, "A:\\gpsData\\..\\outside.txt")});
  EXPECT_TRUE(std::filesystem::exists(dir.Path().parent_path() / "outside.txt"));
  std::filesystem::remove(dir.Path().parent_path() / "outside.txt");
  // A bad checksum is refused without an answer.
  replies.clear();
  KavoPacket bad = FileRequest(WithText({0x93, 0x15, 0x03}, "A:\\gpsData\\a.txt"));
  bad.data[5] ^= 1;
  VerifyChecksum(bad);
  EXPECT_TRUE(files.Handle(bad));
  EXPECT_TRUE(replies.empty());
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "a.txt"));
}

class SimFileSystemDropTest : public SimFileSystemTest {
 protected:
  SimFileSystemDropTest() : SimFileSystemTest(3) {}
};

TEST_F(SimFileSystemDropTest, EveryThirdTransferAnswerLost_ListingNever) {
  for (int i = 0; i < 3; ++i) files.Handle(FileRequest(WithText({0x93, 0x15, 0x00}, "A:\\gpsData\\")));
  EXPECT_EQ(replies.size(), 6u);
  replies.clear();
  for (int i = 0; i < 6; ++i) files.Handle(FileRequest({0x93, 0x15, 0x01, 0x03, 0, 0, 0, 9}));
  EXPECT_EQ(replies.size(), 4u);
  EXPECT_EQ(traces, (std::vector<std::string>{"DROP-REPLY 3", "DROP-REPLY 6"}));
}

TEST(LinePacer, LetsOutBytesAtTheLineRate) {
  CLinePacer pacer(9600);  // 960 bytes a second
  std::size_t out = 0;
  const auto put = [&](const std::uint8_t*, std::size_t n) { out += n; };
  const Bytes frame(2000, 0x55);
  EXPECT_EQ(pacer.Push(frame.data(), frame.size(), 1000), 0u);
  pacer.Release(1000, put);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(pacer.NextDueMs(1000), 1002);  // the first byte takes 1.04 ms
  pacer.Release(1500, put);
  EXPECT_EQ(out, 480u);
  pacer.Release(4000, put);
  EXPECT_EQ(out, 2000u);
  EXPECT_TRUE(pacer.Idle());
  // An idle line saves no credit.
  pacer.Push(frame.data(), 100, 10000);
  pacer.Release(10050, put);
  EXPECT_EQ(out, 2048u);
}

}  // namespace
