// The link object as a network client (type 11) of a loopback server, and its relay server
// beside a network link: status reports, packets both ways, what relay clients send upstream.

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <string>
#include <vector>

#include "link/comm_link.h"
#include "link/network/server_socket.h"
#include "link_owner_recorder.h"
#include "network_test_support.h"
#include "support/prompt_recorder.h"
#include "support/test_link_services.h"

namespace {

using namespace nettest;

struct NetworkLinkFixture : ::testing::Test {
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  CCommLink link{&owner, prompts, TestLinkServices()};
  QTcpServer upstream;
  QTcpSocket* peer = nullptr;  // the server's end of the link's connection
  std::unique_ptr<Collector> fromLink;

  void SetUp() override {
    ASSERT_TRUE(upstream.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&upstream, &QTcpServer::newConnection, &upstream, [this] {
      peer = upstream.nextPendingConnection();
      fromLink = std::make_unique<Collector>(*peer);
    });
  }

  void OpenUp() {
    ASSERT_TRUE(link.SetServer("127.0.0.1", upstream.serverPort()));
    link.Open(LinkType::Network, false);
    ASSERT_TRUE(WaitUntil([&] { return owner.Statuses().size() == 1 && peer != nullptr; }));
    ASSERT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
    ASSERT_TRUE(link.IsConnected());
  }
};

TEST_F(NetworkLinkFixture, NoServerSet_OpenFailsAtOnce) {
  link.Open(LinkType::Network, false);
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusDown});
  EXPECT_EQ(link.CurrentLinkType(), LinkType::None);
}

TEST_F(NetworkLinkFixture, RefusedOrBadPort_ReportedDown) {
  const quint16 port = upstream.serverPort();
  upstream.close();
  link.SetServer("127.0.0.1", port);
  link.Open(LinkType::Network, false);
  ASSERT_TRUE(WaitUntil([&] { return !owner.Statuses().empty(); }));
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusDown});
  EXPECT_FALSE(link.IsConnected());
  EXPECT_EQ(link.CurrentLinkType(), LinkType::None);

  EXPECT_FALSE(link.SetServer("127.0.0.1", 70000));
  EXPECT_FALSE(link.SetServer("", 30000));
  EXPECT_FALSE(link.SetServer("127.0.0.1", 0));
  link.Open(LinkType::Network, false);
  EXPECT_EQ(owner.Statuses(), (std::vector<int>{kLinkStatusDown, kLinkStatusDown}));
}

TEST_F(NetworkLinkFixture, ServerMessages_FeedParser_GarbageAndOtherTypesSkipped) {
  OpenUp();
  const KavoPacket report = Packet(0x8F, {0x8C, 0x04, 0x00, 'T', 0x10, 0x00});
  const Bytes frame = Frame(report, 1);
  const Bytes stream = Concat({{0x00, 0x11}, Message(3, {0, 0, 0, 1}), Message(1, frame), Message(1, frame)});
  Write(*peer, Bytes(stream.begin(), stream.begin() + 30));
  Spin(30);
  Write(*peer, Bytes(stream.begin() + 30, stream.end()));
  // With the checksum trailer the sender added (0x8C+0x04+'T'+0x10 = 0x0F4).
  const Bytes payload{0x8C, 0x04, 0x00, 'T', 0x10, 0x00, 0x00, 0xF4};
  KavoPacket got;
  int popped = 0;
  ASSERT_TRUE(WaitUntil([&] {
    while (link.Parser().TryPopPacket(got)) {
      ++popped;
      EXPECT_EQ(got.id, 0x8F);
      EXPECT_EQ(Bytes(got.data, got.data + got.length), payload);
      EXPECT_EQ(got.checksumOk, 1);
    }
    return popped == 2;
  }));
}

TEST_F(NetworkLinkFixture, SendPacket_OneType1MessagePerFrame_LongFramesToo) {
  OpenUp();
  const KavoPacket small = Packet(0x8E, {0x8C, 0x04});
  const KavoPacket large = Packet(0x8E, Bytes(650, 0x10));  // 1,300 payload bytes on the wire
  EXPECT_TRUE(link.SendPacket(LinkType::Network, &small, 1));
  EXPECT_TRUE(link.SendPacket(LinkType::Network, &large, 0));
  const Bytes expected = Concat({Message(1, Frame(small, 1)), Message(1, Frame(large, 0))});
  ASSERT_TRUE(WaitUntil([&] { return fromLink->bytes.size() >= expected.size(); }));
  EXPECT_EQ(fromLink->bytes, expected);
}

TEST_F(NetworkLinkFixture, ServerClosesConnection_LinkReportedDown) {
  OpenUp();
  peer->disconnectFromHost();
  ASSERT_TRUE(WaitUntil([&] { return owner.Statuses().size() == 2; }));
  EXPECT_EQ(owner.Statuses()[1], kLinkStatusDown);
  EXPECT_FALSE(link.IsConnected());
  EXPECT_EQ(link.CurrentLinkType(), LinkType::None);
  EXPECT_FALSE(link.Close(LinkType::Network));
  EXPECT_EQ(owner.Statuses().size(), 2u);
}

TEST_F(NetworkLinkFixture, CloseOrCloseWhileConnecting_NoFurtherStatus) {
  OpenUp();
  EXPECT_TRUE(link.Close(LinkType::Network));
  EXPECT_TRUE(WaitUntil([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
  // An attempt abandoned before it completed never reports.
  link.Open(LinkType::Network, false);
  EXPECT_FALSE(link.Close(LinkType::Network));
  Spin(200);
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
}

TEST_F(NetworkLinkFixture, RelayOnNetworkLink_ClientFramesGoUpstreamAsMessages_Type2Dropped) {
  link.SetRelayServer(1, 0);
  OpenUp();
  ASSERT_TRUE(link.Relay().IsListening());
  QTcpSocket relayClient;
  ASSERT_TRUE(ConnectTo(relayClient, link.Relay().ListeningPort()));
  ASSERT_TRUE(WaitUntil([&] { return link.Relay().ClientCount() == 1; }));
  const Bytes key = Frame(Packet(0x8E, {0x8C, 0x00, 0x03, 0, 0, 0, 0}), 1);
  Write(relayClient, Concat({Message(2, {0, 0, 0, 1, 0, 0, 0, 2, 3, 4, 5, 6}), Message(1, key)}));
  ASSERT_TRUE(WaitUntil([&] { return fromLink->bytes.size() >= key.size() + kStreamHeaderSize; }));
  Spin(50);
  EXPECT_EQ(fromLink->bytes, Message(1, key));
}

TEST_F(NetworkLinkFixture, RelayPacket_ClientsGetFrameWithoutAddedChecksum_ClosedWithLink) {
  link.SetRelayServer(1, 0);
  OpenUp();
  QTcpSocket a, b;
  ASSERT_TRUE(ConnectTo(a, link.Relay().ListeningPort()));
  ASSERT_TRUE(ConnectTo(b, link.Relay().ListeningPort()));
  ASSERT_TRUE(WaitUntil([&] { return link.Relay().ClientCount() == 2; }));
  Collector ca(a), cb(b);
  // As received: the checksum that came with it is part of the payload.
  const Bytes wire = Frame(Packet(0x8F, {0x8C, 0x03, 0x02, 0, 0, 0, 0}), 1);
  Write(*peer, Message(1, wire));
  KavoPacket got;
  ASSERT_TRUE(WaitUntil([&] { return link.Parser().TryPopPacket(got); }));
  link.RelayPacket(got);
  ASSERT_TRUE(
      WaitUntil([&] { return ca.bytes.size() >= wire.size() + 16 && cb.bytes.size() >= wire.size() + 16; }));
  EXPECT_EQ(ca.bytes, Message(1, wire));
  EXPECT_EQ(cb.bytes, Message(1, wire));

  peer->disconnectFromHost();
  ASSERT_TRUE(WaitUntil([&] { return owner.Statuses().size() == 2; }));
  EXPECT_FALSE(link.Relay().IsListening());
  EXPECT_TRUE(WaitUntil([&] { return a.state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(NetworkLinkFixture, ReadOnlyRelay_ClientFramesGoNowhere_StillServesTheStream) {
  RelayOptions options;
  options.forwardToReceiver = false;
  link.SetRelayOptions(options, nullptr);
  link.SetRelayServer(1, 0);
  OpenUp();
  QTcpSocket relayClient;
  ASSERT_TRUE(ConnectTo(relayClient, link.Relay().ListeningPort()));
  ASSERT_TRUE(WaitUntil([&] { return link.Relay().ClientCount() == 1; }));
  Collector fromRelay(relayClient);
  Write(relayClient, Message(1, Frame(Packet(0x8E, {0x8C, 0x00, 0x03, 0, 0, 0, 0}), 1)));
  const Bytes wire = Frame(Packet(0x41, {1, 2, 3, 4}), 0);
  Write(*peer, Message(1, wire));
  KavoPacket got;
  ASSERT_TRUE(WaitUntil([&] { return link.Parser().TryPopPacket(got); }));
  link.RelayPacket(got);
  ASSERT_TRUE(WaitUntil([&] { return fromRelay.bytes.size() >= wire.size() + kStreamHeaderSize; }));
  Spin(100);
  EXPECT_TRUE(fromLink->bytes.empty());
}

TEST_F(NetworkLinkFixture, RelayPortTaken_MessageAndLogLine_LinkStaysUp) {
  QTcpServer squatter;
  ASSERT_TRUE(squatter.listen(QHostAddress::Any, 0));
  std::vector<std::string> lines;
  link.SetRelayOptions(RelayOptions{}, [&](const std::string& line) { lines.push_back(line); });
  link.SetRelayServer(1, squatter.serverPort());
  OpenUp();
  const std::string text =
      "Error: Could not start the relay server on port " + std::to_string(squatter.serverPort()) + ".";
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{text});
  EXPECT_EQ(lines, std::vector<std::string>{"* " + text + "\n"});
  EXPECT_FALSE(link.Relay().IsListening());
}

TEST_F(NetworkLinkFixture, RelayDisabled_RelayPacketSendsNothingAndNothingListens) {
  OpenUp();
  EXPECT_FALSE(link.Relay().IsListening());
  link.RelayPacket(Packet(0x41, {1}));
}

}  // namespace
