// The file commands of a headless run, against a receiver played by the test.

#include "app/headless_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>

#include "support/checksummed_packet.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

KavoPacket Reply(Bytes data) {
  return ChecksummedPacket(0x8F, std::move(data));
}

class HeadlessFilesTest : public ::testing::Test {
 protected:
  ~HeadlessFilesTest() override {
    files.reset();
    std::fclose(out);
    std::free(text);
  }

  void Make(HeadlessFileCommand command) {
    files = std::make_unique<CHeadlessFiles>(
        command, dir.Path().string(), [] { return true; },
        [this](const KavoPacket& p) { requests.emplace_back(p.data, p.data + p.length); },
        [this](int code) { exitCode = code; }, out);
    files->Start();
  }

  void Entry(std::uint8_t index, const std::string& name) {
    files->OnPacket(Reply(WithText({0x93, 0x15, 0x00, index, 0x00}, name)));
  }

  void Ticks(int n) {
    for (int i = 0; i < n && exitCode < 0; ++i) files->Tick();
  }

  // Answers every request of a one-file receiver holding `content` as "X.T02".
  void Serve(const std::string& content, bool answerDeletes) {
    while (!requests.empty()) {
      const Bytes r = requests.front();
      requests.pop_front();
      if (r[2] == 0x01 && r[3] == 0x01) {
        Bytes reply{0x93, 0x15, 0x01, 0x00, 0, 0, 0, 7, 0, 0, 0, static_cast<std::uint8_t>(content.size())};
        files->OnPacket(Reply(WithText(reply, "A:\\gpsData\\X.T02")));
      } else if (r[2] == 0x01 && r[3] == 0x02) {
        Bytes reply(r.begin(), r.begin() + 13);
        reply[3] = 0x01;
        reply.insert(reply.end(), content.begin() + r[11], content.begin() + r[11] + r[12]);
        files->OnPacket(Reply(reply));
      } else if (r[2] == 0x01 && r[3] == 0x03) {
        files->OnPacket(Reply({0x93, 0x15, 0x01, 0x02, 0, 0, 0, 7}));
      } else if (r[2] == 0x03 && answerDeletes) {
        files->OnPacket(Reply(WithText({0x93, 0x15, 0x03, 0x01}, "A:\\gpsData\\X.T02")));
      }
    }
  }

  std::string Output() {
    std::fflush(out);
    return std::string(text, size);
  }

  CTempDir dir;
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  std::deque<Bytes> requests;
  std::unique_ptr<CHeadlessFiles> files;
  int exitCode = -1;
};

TEST_F(HeadlessFilesTest, List_WaitsForAQuietSecondThenPrintsTheEntries) {
  Make({HeadlessFileCommand::Mode::List, {}, false});
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], WithText({0x93, 0x15, 0x00}, "A:\\gpsData\\"));
  Entry(0, "A.T02");
  Ticks(99);
  Entry(1, "b.txt");
  Ticks(99);
  EXPECT_EQ(exitCode, -1);
  Ticks(1);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(Output(), "A.T02\nb.txt\n");
}

TEST_F(HeadlessFilesTest, List_ControlBytesInAnEntryPrintedAsQuestionMarks) {
  Make({HeadlessFileCommand::Mode::List, {}, false});
  Entry(0, "A\nB.T02");
  Entry(1, "\x1b[2J\x7f\xe9.txt");
  Ticks(100);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(Output(), "A?B.T02\n?[2J?\xe9.txt\n");
}

TEST_F(HeadlessFilesTest, EmptyFolder_ListedAfterFiveSecondsAndGetFails) {
  Make({HeadlessFileCommand::Mode::Get, {"*"}, false});
  Ticks(499);
  EXPECT_EQ(exitCode, -1);
  Ticks(1);
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(Output(), "");
}

TEST_F(HeadlessFilesTest, GetDeleteAfter_DoneThenDeletedAndExitZero) {
  Make({HeadlessFileCommand::Mode::Get, {"x.t02"}, true});
  Entry(0, "X.T02");
  Entry(1, "other.T02");
  requests.clear();
  Ticks(100);
  Serve("hello", true);
  Ticks(1);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(Output(),
            "X.T02: Starting...\nX.T02: Downloading - 0.0%\nX.T02: Closing\nX.T02: Done\n"
            "X.T02: Deleting...\nX.T02: Deleted\n");
  EXPECT_EQ(ReadWholeFile(dir.Path() / "X.T02"), "hello");
}

TEST_F(HeadlessFilesTest, DeleteNeverAnswered_GivesUpAfterTenSeconds) {
  Make({HeadlessFileCommand::Mode::Get, {"*"}, true});
  Entry(0, "X.T02");
  requests.clear();
  Ticks(100);
  Serve("abc", false);
  Ticks(999);
  EXPECT_EQ(exitCode, -1);
  Ticks(1);
  EXPECT_EQ(exitCode, 1);
}

}  // namespace
