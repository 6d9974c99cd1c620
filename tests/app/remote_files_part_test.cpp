// The connection's remote file server: requests routed while "RLI_Ena" is on, answered from the
// card folder on timer 106 through the link with the checksum, and a new server for every
// connection.

#include "app/remote_files_part.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/connection_control.h"
#include "app/fake_receiver_link.h"
#include "files/remote_file_server.h"
#include "link/protocol/kavo_ids.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A receiver request 0x8F 8C op with `fields` from data 2 and its checksum trailer.
KavoPacket Request(std::uint8_t op, const Bytes& fields) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.data[0] = 0x8C;
  p.data[1] = op;
  std::copy(fields.begin(), fields.end(), p.data + 2);
  p.length = static_cast<std::uint16_t>(2 + fields.size());
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < p.length; ++i) sum = static_cast<std::uint16_t>(sum + p.data[i]);
  p.data[p.length++] = static_cast<std::uint8_t>(sum >> 8);
  p.data[p.length++] = static_cast<std::uint8_t>(sum);
  VerifyChecksum(p);
  return p;
}

// Open "name" with `mode`: mode at data 2, name from data 7.
KavoPacket OpenRequest(char mode, const std::string& name) {
  Bytes fields{static_cast<std::uint8_t>(mode), 0, 0, 0, 0};
  fields.insert(fields.end(), name.begin(), name.end());
  fields.push_back(0);
  return Request(0x11, fields);
}

class RemoteFilesPartTest : public ::testing::Test {
 protected:
  RemoteFilesPartTest()
      : part([this] { return folder; },
             [this](const KavoPacket& answer, int withChecksum) {
               return control.SendToReceiver(answer, withChecksum);
             }),
        control(link, timers, prompts) {
    control.SetRemoteFiles(&part);
    control.SetDisconnectPauseMs(0);
    control.InitialUpdate(1);
    std::filesystem::create_directories(dir.Path() / "card1");
    std::filesystem::create_directories(dir.Path() / "card2");
  }

  void Connect(bool remoteFileIo) {
    ConnectionSettings s;
    s.remoteFileIo = remoteFileIo;
    control.Connect(s);
    control.LinkStatus(0);
    Receive(KavoPacket{});  // any packet: Waiting -> Connected
    link.sent.clear();
  }

  void Receive(const KavoPacket& p) {
    link.incoming.push_back(p);
    control.LinkPacketReady();
  }

  void Timer106() {
    ASSERT_TRUE(timers.Running(kTimerRemoteFiles));
    control.OnTimer(kTimerRemoteFiles);
  }

  // The answers sent for `op`, each as id then payload.
  std::vector<CFakeReceiverLink::Sent> Answers(std::uint8_t op) const {
    std::vector<CFakeReceiverLink::Sent> out;
    for (const auto& s : link.sent)
      if (s.bytes.size() >= 3 && s.bytes[0] == 0x8E && s.bytes[1] == 0x8C && s.bytes[2] == op)
        out.push_back(s);
    return out;
  }

  CTempDir dir;
  std::string folder = (dir.Path() / "card1").string();
  CPromptRecorder prompts;
  CFakeReceiverLink link;
  CFakeTimers timers;
  CRemoteFilesPart part;
  CConnectionControl control;
};

TEST_F(RemoteFilesPartTest, CardInformation_AnsweredOnTimer106WithChecksum) {
  Connect(true);
  Receive(Request(0x1A, {0, 0, 0, 'A', 0}));
  EXPECT_TRUE(Answers(0x1A).empty());  // queued, not yet worked off
  Timer106();
  const auto answers = Answers(0x1A);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, (Bytes{0x8E, 0x8C, 0x1A, 0x02, 0x00, 0x00, 0x00, 0x01, 0x80, 0x00, 0x00,
                                     0x40, 0x00, 0,    0,    0,    0,    0,    0,    0,    0,    0}));
  EXPECT_EQ(answers[0].withChecksum, 1);
}

TEST_F(RemoteFilesPartTest, RemoteFileIoOff_RequestsNeitherServedNorQueued) {
  Connect(false);
  EXPECT_FALSE(timers.Running(kTimerRemoteFiles));  // an idle link is not woken ten times a second
  Receive(Request(0x1A, {0, 0, 0, 'A', 0}));
  control.OnTimer(kTimerRemoteFiles);
  EXPECT_TRUE(Answers(0x1A).empty());
  EXPECT_EQ(part.Server(), nullptr);
}

// A request with a wrong checksum is answered at once with error 5 (the card information carries it
// in its zero field); a packet outside the operations is not taken.
TEST_F(RemoteFilesPartTest, BadChecksumAnsweredWithIoError_OtherPacketsNotTaken) {
  Connect(true);
  KavoPacket flipped = Request(0x1A, {0, 0, 0, 'A', 0});
  flipped.data[4] ^= 1;
  VerifyChecksum(flipped);
  ASSERT_EQ(flipped.checksumOk, 0);
  Receive(flipped);
  KavoPacket other = Request(0x1C, {});  // above the operation range
  Receive(other);
  Timer106();
  ASSERT_EQ(link.sent.size(), 1u);
  EXPECT_EQ(link.sent[0].bytes, (Bytes{0x8E, 0x8C, 0x1A, 0x02, 0x00, 0x00, 0x00, 0x01, 0x80, 0x00, 0x00,
                                       0x40, 0x00, 0,    5,    0,    0,    0,    0,    0,    0,    0}));
  EXPECT_EQ(link.sent[0].withChecksum, 1);
}

TEST_F(RemoteFilesPartTest, Disconnect_ClosesFilesAndNextConnectionReadsTheFolderAgain) {
  Connect(true);
  Receive(OpenRequest('w', "A.TXT"));
  Timer106();
  ASSERT_EQ(Answers(0x11).size(), 1u);
  EXPECT_EQ(Answers(0x11)[0].bytes[3], 0x00);  // handle 0
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "card1" / "A.TXT"));
  ASSERT_NE(part.Server(), nullptr);
  EXPECT_EQ(part.Server()->OpenFiles(), 1);

  control.Disconnect();
  EXPECT_EQ(part.Server(), nullptr);

  folder = (dir.Path() / "card2").string();
  Connect(true);
  Receive(OpenRequest('w', "B.TXT"));
  Timer106();
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "card2" / "B.TXT"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "card1" / "B.TXT"));
  // A fresh server: handle 0 again.
  ASSERT_EQ(Answers(0x11).size(), 1u);
  EXPECT_EQ(Answers(0x11)[0].bytes,
            (Bytes{0x8E, 0x8C, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'B', '.', 'T', 'X', 'T', 0}));
}

}  // namespace
