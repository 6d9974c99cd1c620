#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "link/comm_link.h"
#include "link/link_owner_recorder.h"
#include "support/prompt_recorder.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "support/test_link_services.h"

namespace {

using namespace std::chrono_literals;

// A serial link on a pseudo-terminal whose far end (the master) the test may close, as a pulled
// adapter or a simulator that went away would. The link's debug capture goes to a folder of the
// test's own.
class CommLinkLossTest : public ::testing::Test {
 protected:
  CommLinkLossTest() : oldCwd(std::filesystem::current_path()) {
    std::filesystem::current_path(folder.Path());
    CSerialPortMap map;
    map.SetPath(0, pty.SlavePath());
    link.SerialPort().SetPortMap(map);
    link.SetTiming(CommLinkTiming{}.Scaled(50));
    link.SetSerialParams(9600, 'N', 8, 1);
  }
  ~CommLinkLossTest() override { std::filesystem::current_path(oldCwd); }

  void OpenUp() {
    link.Open(LinkType::Com1, false);
    ASSERT_TRUE(owner.WaitStatuses(1, 3s));
    ASSERT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
  }

  CTempDir folder;
  std::filesystem::path oldCwd;
  CPtyPair pty;
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  CCommLink link{&owner, prompts, TestLinkServices()};
};

TEST_F(CommLinkLossTest, FarEndClosedWhileUp_PacketsBeforeKeptThenDownOnceWithoutMessage) {
  OpenUp();
  ASSERT_TRUE(pty.Send(std::vector<std::uint8_t>{0x10, 0x41, 0x01, 0x02, 0x10, 0x03}));
  ASSERT_TRUE(owner.WaitPackets(1, 2s));
  pty.CloseMaster();
  ASSERT_TRUE(owner.WaitStatuses(2, 2s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(owner.Statuses(), (std::vector<int>{kLinkStatusUp, kLinkStatusDown}));
  EXPECT_TRUE(prompts.Texts().empty());
  EXPECT_FALSE(link.IsConnected());
  KavoPacket packet;
  ASSERT_TRUE(link.Parser().TryPopPacket(packet));
  EXPECT_EQ(packet.id, 0x41);
  // Close frees the hung-up port; a later open of a device that is still away fails as usual.
  EXPECT_FALSE(link.Close(LinkType::Com1));
  EXPECT_FALSE(link.SerialPort().IsOpen());
}

TEST_F(CommLinkLossTest, QuietLine_NoLoss) {
  OpenUp();
  // Reads that find nothing are no loss, however long the receiver says nothing.
  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(link.IsConnected());
  ASSERT_TRUE(pty.Send(std::vector<std::uint8_t>{0x10, 0x41, 0x01, 0x10, 0x03}));
  ASSERT_TRUE(owner.WaitPackets(1, 2s));
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
  EXPECT_TRUE(link.Close(LinkType::Com1));
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
}

TEST_F(CommLinkLossTest, LostThenReopenedOnTheSameSlot_UpAgain) {
  OpenUp();
  {
    CPtyPair second;  // the device comes back under another node; the map points the slot there
    pty.CloseMaster();
    ASSERT_TRUE(owner.WaitStatuses(2, 2s));
    link.Close(LinkType::Com1);
    CSerialPortMap map;
    map.SetPath(0, second.SlavePath());
    link.SerialPort().SetPortMap(map);
    link.Open(LinkType::Com1, false);
    ASSERT_TRUE(owner.WaitStatuses(3, 3s));
    EXPECT_EQ(owner.Statuses(), (std::vector<int>{kLinkStatusUp, kLinkStatusDown, kLinkStatusUp}));
    EXPECT_TRUE(link.Close(LinkType::Com1));
  }
  EXPECT_TRUE(prompts.Texts().empty());
}

}  // namespace
