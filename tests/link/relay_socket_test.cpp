// The relay server and its clients on loopback: fan-out of whole stream messages, what clients
// may send, and what becomes of clients that leave or stop reading.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "link/network/server_socket.h"
#include "network_test_support.h"

namespace {

using namespace nettest;

struct RelayFixture : ::testing::Test {
  std::vector<Bytes> fromClients;
  CServerSocket server{[this](const std::uint8_t* b, std::size_t n) { fromClients.emplace_back(b, b + n); }};

  void SetUp() override { ASSERT_TRUE(server.Listen(0)); }

  std::unique_ptr<QTcpSocket> Client() {
    auto socket = std::make_unique<QTcpSocket>();
    const std::size_t before = server.ClientCount();
    EXPECT_TRUE(ConnectTo(*socket, server.ListeningPort()));
    EXPECT_TRUE(WaitUntil([&] { return server.ClientCount() == before + 1; }));
    return socket;
  }
};

TEST_F(RelayFixture, TwoClients_EachGetsEveryFrameAsOneMessage_LargestFrameIncluded) {
  auto a = Client();
  auto b = Client();
  Collector ca(*a), cb(*b);
  // A payload of 699 DLE bytes makes the largest frame there is (far beyond 1,007 bytes).
  const Bytes small = Frame(Packet(0x8F, {0x8C, 0x01, 0x10}), 0);
  const Bytes largest = Frame(Packet(0x8F, Bytes(kKavoMaxData - 1, kDle)), 1);
  ASSERT_GT(largest.size(), 1400u);
  EXPECT_EQ(server.Send(small.data(), small.size()), 1);
  EXPECT_EQ(server.Send(largest.data(), largest.size()), 1);
  const Bytes expected = Concat({Message(1, small), Message(1, largest)});
  ASSERT_TRUE(
      WaitUntil([&] { return ca.bytes.size() >= expected.size() && cb.bytes.size() >= expected.size(); }));
  EXPECT_EQ(ca.bytes, expected);
  EXPECT_EQ(cb.bytes, expected);
}

TEST_F(RelayFixture, ClientMessages_OnlyType1BodiesPassed_Type2And3GarbageAndOversizeIgnored) {
  auto a = Client();
  const Bytes key = Frame(Packet(0x8E, {0x8C, 0x00, 0x02, 0, 0, 0, 0}), 1);
  // A header announcing a body larger than the receive ring: skipped, not waited for.
  Bytes oversize = Message(1, {});
  oversize[10] = 0xFF;
  oversize[11] = 0xF0;
  const Bytes stream = Concat({{0x01, 0xA3, 0xFF},
                               Message(2, {0, 0, 0, 1, 0, 0, 0, 2, 3, 4, 5, 6}),
                               Message(3, {0, 0, 0, 9}),
                               oversize,
                               Message(1, key)});
  // The type-1 message arrives in two pieces; it counts once, when whole.
  Write(*a, Bytes(stream.begin(), stream.end() - 5));
  Spin(100);
  EXPECT_TRUE(fromClients.empty());
  Write(*a, Bytes(stream.end() - 5, stream.end()));
  ASSERT_TRUE(WaitUntil([&] { return !fromClients.empty(); }));
  Spin(50);
  ASSERT_EQ(fromClients.size(), 1u);
  EXPECT_EQ(fromClients[0], key);
}

TEST_F(RelayFixture, Type2MessageAlone_HasNoEffect) {
  auto a = Client();
  Collector ca(*a);
  Write(*a, Message(2, {0, 0, 0, 1, 0, 0, 0, 2, 3, 4, 5, 6}));
  Spin(150);
  EXPECT_TRUE(fromClients.empty());
  EXPECT_EQ(server.ClientCount(), 1u);
  EXPECT_TRUE(ca.bytes.empty());
}

TEST_F(RelayFixture, ClientThatLeaves_RemovedOthersStillServed) {
  auto a = Client();
  auto b = Client();
  Collector cb(*b);
  a->disconnectFromHost();
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 1; }));
  const Bytes frame = Frame(Packet(0x41, {1, 2, 3}), 0);
  server.Send(frame.data(), frame.size());
  ASSERT_TRUE(WaitUntil([&] { return cb.bytes.size() == frame.size() + kStreamHeaderSize; }));
  EXPECT_EQ(server.DroppedClients(), 0u);
}

TEST_F(RelayFixture, Close_DisconnectsEveryClientAndStopsListening) {
  auto a = Client();
  auto b = Client();
  server.Close();
  EXPECT_FALSE(server.IsListening());
  EXPECT_EQ(server.ClientCount(), 0u);
  EXPECT_TRUE(WaitUntil([&] {
    return a->state() == QAbstractSocket::UnconnectedState && b->state() == QAbstractSocket::UnconnectedState;
  }));
}

TEST_F(RelayFixture, ClientThatStopsReading_DroppedAtQueueCapAndCounted_ReaderGetsEverything) {
  // A plain socket with a small receive buffer that the test never reads.
  const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(stalled, 0);
  const int small = 4096;
  ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(server.ListeningPort());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 1; }));
  auto reader = Client();
  Collector cr(*reader);

  const Bytes frame = Frame(Packet(0x8F, Bytes(600, 0x55)), 0);
  std::size_t sent = 0;
  for (int i = 0; i < 40000 && server.DroppedClients() == 0; ++i) {
    server.Send(frame.data(), frame.size());
    ++sent;
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(server.DroppedClients(), 1u);
  EXPECT_EQ(server.ClientCount(), 1u);
  const std::size_t expected = sent * (frame.size() + kStreamHeaderSize);
  ASSERT_TRUE(WaitUntil([&] { return cr.bytes.size() >= expected; }, 10000));
  EXPECT_EQ(cr.bytes.size(), expected);
  ::close(stalled);
}

TEST_F(RelayFixture, ReaderBusyForAMoment_KeptBeyondSlowMark_StalledOneDroppedAfterPatience) {
  std::vector<std::string> events;
  server.SetEventHandler([&](const std::string& line) { events.push_back(line); });
  server.SetSlowClientLimits(64 * 1024, 64 * 1024 * 1024, std::chrono::milliseconds(400));
  // Two plain sockets: one reads late, the other (with a small receive buffer) never.
  auto plain = [&](int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server.ListeningPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    return fd;
  };
  const int late = plain(0);
  const int stalled = plain(4096);
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 2; }));

  // Both fall beyond the slow mark; the late reader starts reading within the patience.
  const Bytes frame = Frame(Packet(0x8F, Bytes(600, 0x55)), 0);
  std::size_t drained = 0;
  QElapsedTimer clock;
  clock.start();
  std::int64_t sent = 0;
  while (clock.elapsed() < 1500) {
    // About 1.8 MB/s: far more than the kernel's buffers hold in the 250 ms of the reader's pause.
    for (; sent < clock.elapsed() * 3; ++sent) server.Send(frame.data(), frame.size());
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (clock.elapsed() < 250) continue;
    std::uint8_t chunk[65536];
    ssize_t n;
    while ((n = ::recv(late, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) drained += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(server.DroppedClients(), 1u);
  EXPECT_EQ(server.ClientCount(), 1u);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].rfind("* Relay client 127.0.0.1:", 0), 0u) << events[0];
  EXPECT_NE(events[0].find(" dropped: "), std::string::npos);
  EXPECT_GT(drained, 1024u * 1024u);
  ::close(late);
  ::close(stalled);
}

TEST_F(RelayFixture, ThirtyThirdClient_RefusedAtOnceAndTold_PlaceFreedByALeaverIsTaken) {
  std::vector<std::string> events;
  server.SetEventHandler([&](const std::string& line) { events.push_back(line); });
  std::vector<std::unique_ptr<QTcpSocket>> first;
  for (int i = 0; i < RelayOptions::kDefaultMaxClients; ++i) first.push_back(Client());
  QTcpSocket extra;
  extra.connectToHost(QStringLiteral("127.0.0.1"), server.ListeningPort());
  ASSERT_TRUE(WaitUntil([&] { return server.RefusedClients() == 1; }));
  EXPECT_TRUE(WaitUntil([&] { return extra.state() == QAbstractSocket::UnconnectedState; }, 2000));
  EXPECT_EQ(server.ClientCount(), 32u);
  EXPECT_EQ(server.RefusedClients(), 1u);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find(" refused: 32 clients connected\n"), std::string::npos) << events[0];

  first[0]->disconnectFromHost();
  ASSERT_TRUE(WaitUntil([&] { return server.ClientCount() == 31; }));
  auto again = Client();
  EXPECT_EQ(server.ClientCount(), 32u);

  // A lower limit from the settings applies to the next connection.
  RelayOptions options;
  options.maxClients = 0;  // clamped to one: a relay that serves nobody is not a relay
  server.SetOptions(options);
  QTcpSocket refused;
  refused.connectToHost(QStringLiteral("127.0.0.1"), server.ListeningPort());
  ASSERT_TRUE(WaitUntil([&] { return server.RefusedClients() == 2; }));
  EXPECT_TRUE(WaitUntil([&] { return refused.state() == QAbstractSocket::UnconnectedState; }, 2000));
}

TEST_F(RelayFixture, JoiningClient_GetsLatestTitleRowsAndPanelFirst_InThatOrder) {
  auto sendPacket = [&](const KavoPacket& p) {
    const Bytes f = Frame(p, 0);
    server.Send(f.data(), f.size(), CServerSocket::CatchUpSlotOf(p));
    return f;
  };
  auto checked = [](KavoPacket p) {
    p.checksumOk = 1;
    return p;
  };
  Bytes row(31, 0x20);
  row[0] = 0x8C;
  row[1] = 0x01;
  row[5] = 1;
  const Bytes oldRow1 = sendPacket(checked(Packet(0x8F, row)));
  row[6] = 'A';
  const Bytes row1 = sendPacket(checked(Packet(0x8F, row)));
  row[5] = 0;
  const Bytes row0 = sendPacket(checked(Packet(0x8F, row)));
  row[5] = 2;  // not a row the panel takes
  sendPacket(checked(Packet(0x8F, row)));
  const Bytes panel = sendPacket(checked(Packet(0x8F, {0x8C, 0x03, 0x05, 0, 0})));
  const Bytes title = sendPacket(checked(Packet(0x8F, {0x8C, 0x04, 0x05, 'R', 'X', 0, 0, 0})));
  sendPacket(Packet(0x8F, {0x8C, 0x04, 0x05, 'B', 'A', 'D', 0, 0}));  // checksum bad: not kept
  sendPacket(checked(Packet(0x41, {1, 2, 3, 4})));

  auto late = Client();
  Collector got(*late);
  const Bytes expected = Concat({Message(1, title), Message(1, row0), Message(1, row1), Message(1, panel)});
  ASSERT_TRUE(WaitUntil([&] { return got.bytes.size() >= expected.size(); }));
  Spin(50);
  EXPECT_EQ(got.bytes, expected);
  EXPECT_NE(oldRow1, row1);

  // A relay that closes forgets them: the next link may be another receiver.
  server.Close();
  ASSERT_TRUE(server.Listen(0));
  auto next = Client();
  Collector none(*next);
  Spin(100);
  EXPECT_TRUE(none.bytes.empty());
}

TEST(RelaySocket, BindAddress_ListensThereOnly_BadAddressFails) {
  CServerSocket server{nullptr};
  RelayOptions options;
  options.bindAddress = "127.0.0.1";
  server.SetOptions(options);
  ASSERT_TRUE(server.Listen(0));
  EXPECT_EQ(server.Listener()->serverAddress(), QHostAddress(QHostAddress::LocalHost));
  options.bindAddress = "not-an-address";
  server.SetOptions(options);
  EXPECT_FALSE(server.Listen(0));
}

TEST(RelaySocket, PortOutOfRangeOrTaken_ListenFails) {
  CServerSocket first{nullptr};
  ASSERT_TRUE(first.Listen(0));
  CServerSocket second{nullptr};
  EXPECT_FALSE(second.Listen(first.ListeningPort()));
  EXPECT_FALSE(second.Listen(70000));
  EXPECT_EQ(second.ListeningPort(), 0);
}

}  // namespace
