// The relay under load on loopback: a feeder stands for the receiver's server and streams
// numbered frames to a network link with its relay on; 50 clients of the relay each must get
// every frame exactly once, in order. 10 s by default; PLOWVIEW_RELAY_LOAD_SECONDS runs longer
// (60 for the full soak).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "link/comm_link.h"
#include "link/protocol/kavo_parser.h"
#include "link/network/server_socket.h"
#include "network_test_support.h"
#include "relaying_owner.h"
#include "support/prompt_recorder.h"
#include "support/test_link_services.h"
#include "tools/relay_test_client.h"

namespace {

using namespace nettest;
using Clock = std::chrono::steady_clock;

int LoadSeconds() {
  const char* text = std::getenv("PLOWVIEW_RELAY_LOAD_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 10;
}

// A frame numbered `sequence` (big-endian in the first four payload bytes), 80 payload bytes.
Bytes NumberedFrame(std::uint32_t sequence) {
  Bytes payload(80, 0x5A);
  for (int i = 0; i < 4; ++i) payload[i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
  return Frame(Packet(0x8F, payload), 0);
}

TEST(RelayLoad, FiftyClientsFastStream_EveryFrameOnceInOrder) {
  constexpr int kClients = 50;
  constexpr int kRate = 500;  // frames per second
  const int seconds = LoadSeconds();
  const std::uint32_t total = static_cast<std::uint32_t>(kRate * seconds);

  // The feeder: a plain listening socket, served from its own thread.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::atomic<bool> feed{false};
  std::atomic<bool> fed{false};
  std::thread feeder([&] {
    const int fd = ::accept(listener, nullptr, nullptr);
    while (!feed.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto start = Clock::now();
    for (std::uint32_t i = 0; i < total; ++i) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * i / kRate));
      const Bytes frame = NumberedFrame(i);
      const Bytes message = StreamMessageFor(frame.data(), frame.size());
      if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size()))
        break;
    }
    fed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::close(fd);
  });

  CRelayingOwner owner;
  CPromptRecorder prompts;
  CCommLink link(&owner, prompts, TestLinkServices());
  owner.link = &link;
  link.SetServer("127.0.0.1", ntohs(address.sin_port));
  RelayOptions options;
  options.maxClients = 64;  // beyond the default of 32
  link.SetRelayOptions(options, nullptr);
  link.SetRelayServer(1, 0);
  link.Open(LinkType::Network, false);
  ASSERT_TRUE(WaitUntil([&] { return !owner.statuses.empty(); }));
  ASSERT_EQ(owner.statuses[0], kLinkStatusUp);
  const std::uint16_t relayPort = link.Relay().ListeningPort();

  // The clients: one thread reads them all and checks the numbering as frames arrive.
  std::vector<std::uint32_t> received(kClients, 0);
  std::vector<int> disorder(kClients, 0);
  std::atomic<int> connectedClients{0};
  std::atomic<bool> readersDone{false};
  std::thread readers([&] {
    std::vector<std::unique_ptr<CRelayTestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.push_back(std::make_unique<CRelayTestClient>());
      if (!clients.back()->Connect(relayPort, 10000)) {
        readersDone = true;
        return;
      }
      ++connectedClients;
    }
    std::vector<pollfd> fds;
    for (const auto& c : clients) fds.push_back({c->Fd(), POLLIN, 0});
    const auto limit = Clock::now() + std::chrono::seconds(seconds + 60);
    std::uint32_t done = 0;
    while (done < kClients && Clock::now() < limit) {
      if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
      done = 0;
      for (int i = 0; i < kClients; ++i) {
        CRelayTestClient& c = *clients[i];
        if (fds[i].revents) c.ReadAvailable();
        for (const Bytes& body : c.bodies) {
          KavoPacket p;
          CKavoParser parser([](CKavoParser*) {});
          for (std::uint8_t b : body) parser.FeedByte(b);
          if (!parser.TryPopPacket(p) || p.length < 4) {
            ++disorder[i];
            continue;
          }
          if (ReadBe32(p.data) != received[i]) ++disorder[i];
          received[i] = ReadBe32(p.data) + 1;
        }
        c.bodies.clear();
        if (received[i] == total) ++done;
      }
    }
    readersDone = true;
  });

  // No early return from here: the feeder and reader threads are running.
  EXPECT_TRUE(WaitUntil([&] { return link.Relay().ClientCount() == kClients; }, 20000))
      << connectedClients.load() << " clients connected";
  feed = true;
  EXPECT_TRUE(WaitUntil([&] { return readersDone.load(); }, (seconds + 70) * 1000));
  feeder.join();
  readers.join();
  ::close(listener);

  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(received[i], total) << "client " << i;
    EXPECT_EQ(disorder[i], 0) << "client " << i;
  }
  EXPECT_EQ(link.Relay().DroppedClients(), 0u);
}

}  // namespace
