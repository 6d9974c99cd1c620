// Relay fan-out on loopback. A feeder stands for the receiver's side and streams numbered,
// time-stamped frames as type-1 stream messages to the relay under test; N plain TCP clients read
// the relay's output. The relay under test runs as its own process, so that its CPU time and
// memory can be read from /proc:
//   plowview: this program with --serve, a network link (type 11) to the feeder with the relay
//             server on, every packet drained from the parser and relayed, as the main view does;
//   str2str:  Debian's rtklib stream server relaying the same byte stream, when installed
//             (bench/run_relay_bench.sh installs it).
// Reported per client count: clients served, frames sent and lost, delivered frames/s, the
// relay's CPU, latency from the feeder's send to a client's receive (p50, p99, max; the feeder ->
// relay hop on loopback is part of it), and the relay's peak memory; then the highest rate without
// loss, and a run with one client that stops reading.
//
//   bench_relay [--seconds S] [--rate FPS] [--clients 1,32,256] [--no-str2str]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/comm_link.h"
#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// ---- the plowview relay process -----------------------------------------------------------

class CQuietPrompts final : public IPrompts {
 public:
  PromptAnswer MessageBox(const std::string& text, const std::string&, PromptIcon, PromptButtons) override {
    std::fprintf(stderr, "bench_relay: %s\n", text.c_str());
    return PromptAnswer::No;
  }
};

class CRelayingOwner final : public ILinkOwner {
 public:
  void PostLinkPacket() override {
    if (pending.exchange(true)) return;
    QMetaObject::invokeMethod(
        &context,
        [this] {
          pending = false;
          KavoPacket p;
          while (link->Parser().TryPopPacket(p)) link->RelayPacket(p);
        },
        Qt::QueuedConnection);
  }
  void PostLinkStatus(int wParam) override {
    if (wParam != kLinkStatusUp) QMetaObject::invokeMethod(&context, [] { QCoreApplication::exit(1); });
  }
  CCommLink* link = nullptr;

 private:
  QObject context;
  std::atomic<bool> pending{false};
};

int Serve(int argc, char** argv, std::uint16_t upstream, std::uint16_t relayPort) {
  QCoreApplication app(argc, argv);
  CQuietPrompts prompts;
  CRelayingOwner owner;
  CCommLink link(&owner, prompts);
  owner.link = &link;
  link.SetServer("127.0.0.1", upstream);
  // Fan-out is what is measured: no client limit short of the largest run.
  RelayOptions relayOptions;
  relayOptions.maxClients = RelayOptions::kMaxMaxClients;
  link.SetRelayOptions(relayOptions, nullptr);
  link.SetRelayServer(1, relayPort);
  link.Open(kLinkNetwork, false);
  return QCoreApplication::exec();
}

// ---- the driver ---------------------------------------------------------------------------

struct Options {
  int seconds = 5;
  int rate = 3000;
  std::vector<int> clients{1, 32, 256};
  bool str2str = true;
};

struct Result {
  int clients = 0;
  int served = 0;  // clients that received anything
  std::uint64_t sent = 0;
  std::uint64_t lost = 0;      // frames missing at served clients
  std::uint64_t disorder = 0;  // frames out of order or twice
  double feedSeconds = 0;
  double deliverSeconds = 0;  // from the first send to the last frame's arrival
  double cpuPercent = 0;
  double p50Ms = 0, p99Ms = 0, maxMs = 0;
  long peakRssKb = 0;
  bool stalledDropped = false;
};

std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

// A connection to the relay within 2 s, or -1. A relay that takes no more clients (str2str serves
// 32) leaves further attempts in a full accept queue, where a blocking connect would wait for
// minutes of SYN retries.
int ConnectTo(std::uint16_t port, int receiveBuffer = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return fd;
  pollfd p{fd, POLLOUT, 0};
  int error = 0;
  socklen_t length = sizeof error;
  if (errno == EINPROGRESS && ::poll(&p, 1, 2000) == 1 &&
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
    return fd;
  ::close(fd);
  return -1;
}

long ProcTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  return utime + stime;
}

long PeakRssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// The frame numbered `sequence`, sent at `sentNs`: `size` payload bytes (at least 12),
// sequence and time first.
std::vector<std::uint8_t> StampedMessage(std::uint32_t sequence, std::int64_t sentNs, std::uint16_t size) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.length = size;
  for (int i = 0; i < 4; ++i) p.data[i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
  for (int i = 0; i < 8; ++i)
    p.data[4 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(sentNs) >> (56 - 8 * i));
  for (int i = 12; i < size; ++i) p.data[i] = static_cast<std::uint8_t>(0x20 + i % 64);
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t length = 0;
  BuildFrame(p, frame, length, 0);
  return StreamMessageFor(frame, length);
}

// Undoes the stuffing of a frame's first `count` payload bytes; false when the frame is shorter.
bool Payload(const std::vector<std::uint8_t>& frame, std::uint8_t* out, std::size_t count) {
  std::size_t n = 0;
  for (std::size_t i = 2; i + 2 < frame.size() && n < count; ++i) {
    out[n++] = frame[i];
    if (frame[i] == kDle) ++i;
  }
  return n == count;
}

struct ClientState {
  int fd = -1;
  RingBuffer ring{kStreamReceiveRing};
  StreamMessage message;
  std::uint32_t next = 0;
  std::uint64_t received = 0;
  std::uint64_t disorder = 0;
};

pid_t StartRelay(const std::string& self, bool plowview, std::uint16_t upstream, std::uint16_t relayPort) {
  std::vector<std::string> args;
  if (plowview) {
    args = {self, "--serve", std::to_string(upstream), std::to_string(relayPort)};
  } else {
    args = {"str2str", "-in", "tcpcli://127.0.0.1:" + std::to_string(upstream), "-out",
            "tcpsvr://:" + std::to_string(relayPort)};
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = plowview ? posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                          : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

Result RunOnce(const std::string& self, bool plowview, int clientCount, int rate, double seconds,
               bool stalled, std::uint16_t payload = 60) {
  Result r;
  r.clients = clientCount;
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener, 1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::uint16_t relayPort = FreePort();
  const pid_t pid = StartRelay(self, plowview, ntohs(address.sin_port), relayPort);
  if (pid < 0) return r;
  pollfd accepting{listener, POLLIN, 0};
  if (::poll(&accepting, 1, 10000) <= 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(listener);
    return r;
  }
  const int feed = ::accept(listener, nullptr, nullptr);
  const int yes = 1;
  ::setsockopt(feed, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

  // The relay may still be starting: wait until it takes a connection.
  for (int i = 0; i < 50; ++i) {
    const int probe = ConnectTo(relayPort);
    if (probe >= 0) {
      ::close(probe);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // One client after the other, each given 2 s; after three failures in a row the relay is taken
  // to serve no more (str2str stops at 32), and the rest count as not served.
  std::vector<std::unique_ptr<ClientState>> clients;
  for (int i = 0, failures = 0; i < clientCount && failures < 3; ++i) {
    const int fd = ConnectTo(relayPort);
    if (fd < 0) {
      ++failures;
      continue;
    }
    failures = 0;
    auto c = std::make_unique<ClientState>();
    c->fd = fd;
    clients.push_back(std::move(c));
  }
  const int stalledFd = stalled ? ConnectTo(relayPort, 4096) : -1;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the relay accept them all

  const std::uint64_t total = static_cast<std::uint64_t>(rate * seconds);
  std::vector<std::int64_t> latencies;
  latencies.reserve(std::min<std::uint64_t>(total * clients.size(), 40'000'000));
  std::atomic<bool> feeding{true};
  std::int64_t lastArrivalNs = 0;  // written by the reader, read after it ended

  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  for (std::size_t i = 0; i < clients.size(); ++i) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = i;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, clients[i]->fd, &e);
  }
  std::thread reader([&] {
    std::vector<epoll_event> events(512);
    std::uint8_t chunk[65536];
    std::int64_t quietSince = 0;
    lastArrivalNs = NowNs();
    for (;;) {
      const int n = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 50);
      const std::int64_t now = NowNs();
      if (n <= 0) {
        if (feeding.load()) continue;
        if (quietSince == 0) quietSince = now;
        if (now - quietSince > 1'000'000'000LL) break;  // a second without data after the feed
        bool all = true;
        for (const auto& c : clients) all = all && c->received >= total;
        if (all) break;
        continue;
      }
      quietSince = 0;
      for (int k = 0; k < n; ++k) {
        ClientState& c = *clients[events[k].data.u64];
        for (;;) {
          const std::uint32_t room = std::min<std::uint32_t>(sizeof chunk, c.ring.Free());
          const ssize_t got = ::recv(c.fd, chunk, room, 0);
          if (got <= 0) {
            // Closed or reset by the relay (str2str turns away clients beyond its 32): out of
            // the set, or it would report itself ready for ever.
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
              ::epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
            break;
          }
          c.ring.Write(chunk, static_cast<std::uint32_t>(got));
          while (ExtractStreamMessage(c.ring, c.message)) {
            std::uint8_t head[12];
            if (c.message.type != kStreamTypeData || !Payload(c.message.body, head, sizeof head)) continue;
            const std::uint32_t sequence = ReadBe32(head);
            const std::int64_t sentNs = static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(ReadBe32(head + 4)) << 32) | ReadBe32(head + 8));
            if (sequence != c.next) ++c.disorder;
            c.next = sequence + 1;
            ++c.received;
            lastArrivalNs = now;
            if (latencies.size() < latencies.capacity()) latencies.push_back(now - sentNs);
          }
        }
      }
    }
  });

  const long ticksBefore = ProcTicks(pid);
  const auto start = Clock::now();
  std::uint64_t sent = 0;
  while (sent < total) {
    const auto due = start + std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 * sent / rate));
    std::this_thread::sleep_until(due);
    // Everything due by now goes out, so a late wake-up does not lower the rate.
    const std::uint64_t dueCount = std::min<std::uint64_t>(
        total, static_cast<std::uint64_t>((Clock::now() - start).count() * 1e-9 * rate) + 1);
    for (; sent < dueCount; ++sent) {
      const auto message = StampedMessage(static_cast<std::uint32_t>(sent), NowNs(), payload);
      if (::send(feed, message.data(), message.size(), MSG_NOSIGNAL) < 0) break;
    }
  }
  r.feedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  feeding = false;
  reader.join();
  r.deliverSeconds =
      static_cast<double>(
          lastArrivalNs -
          std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count()) *
      1e-9;
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpuPercent = 100.0 * static_cast<double>(ProcTicks(pid) - ticksBefore) /
                 static_cast<double>(sysconf(_SC_CLK_TCK)) / elapsed;
  r.peakRssKb = PeakRssKb(pid);
  r.sent = sent;
  for (const auto& c : clients) {
    if (c->received == 0) continue;
    ++r.served;
    r.lost += sent > c->received ? sent - c->received : 0;
    r.disorder += c->disorder;
  }
  r.lost += static_cast<std::uint64_t>(clientCount - r.served) * sent;
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    r.p50Ms = latencies[latencies.size() / 2] / 1e6;
    r.p99Ms = latencies[latencies.size() * 99 / 100] / 1e6;
    r.maxMs = latencies.back() / 1e6;
  }
  if (stalledFd >= 0) {
    // Dropped by the relay: reading what is left ends in an end of stream or a reset.
    std::uint8_t chunk[65536];
    for (int i = 0; i < 10000; ++i) {
      const ssize_t got = ::recv(stalledFd, chunk, sizeof chunk, 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        r.stalledDropped = true;
        break;
      }
      if (got < 0) break;
    }
    ::close(stalledFd);
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  for (const auto& c : clients) ::close(c->fd);
  ::close(epoll);
  ::close(feed);
  ::close(listener);
  return r;
}

void Print(const char* relay, int rate, const Result& r) {
  const double delivered = r.deliverSeconds > 0 ? static_cast<double>(r.sent) / r.deliverSeconds : 0;
  std::printf("%-9s %7d %5d/%-5d %8llu %9llu %9.0f %7.1f %8.3f %8.3f %9.3f %9ld\n", relay, rate, r.served,
              r.clients, static_cast<unsigned long long>(r.sent),
              static_cast<unsigned long long>(r.lost + r.disorder), r.lost == 0 ? delivered : 0.0,
              r.cpuPercent, r.p50Ms, r.p99Ms, r.maxMs, r.peakRssKb);
  std::fflush(stdout);
}

bool HaveStr2str() {
  return std::system("command -v str2str >/dev/null 2>&1") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--serve") == 0)
    return Serve(argc, argv, static_cast<std::uint16_t>(std::atoi(argv[2])),
                 static_cast<std::uint16_t>(std::atoi(argv[3])));
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      o.seconds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--rate" && i + 1 < argc) {
      o.rate = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--clients" && i + 1 < argc) {
      o.clients.clear();
      std::istringstream list(argv[++i]);
      for (std::string n; std::getline(list, n, ',');) o.clients.push_back(std::max(1, std::atoi(n.c_str())));
    } else if (arg == "--no-str2str") {
      o.str2str = false;
    } else {
      std::fprintf(stderr,
                   "usage: bench_relay [--seconds S] [--rate FPS] [--clients 1,32,256] [--no-str2str]\n");
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  const std::string self = "/proc/self/exe";
  char path[4096];
  const ssize_t n = ::readlink(self.c_str(), path, sizeof path - 1);
  const std::string program = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string(argv[0]);
  std::vector<std::pair<const char*, bool>> relays{{"plowview", true}};
  if (o.str2str && HaveStr2str()) relays.push_back({"str2str", false});
  if (o.str2str && relays.size() == 1) std::printf("str2str not installed: plowview's relay only\n");

  std::printf(
      "relay        rate served/of   frames lost+dis  frames/s    cpu%%  p50 ms   p99 ms    max ms  peak "
      "KiB\n");
  std::printf("-- fixed rate %d frames/s for %d s\n", o.rate, o.seconds);
  // str2str's TCP server takes 32 clients; more leave this driver waiting on refused clients.
  auto skip = [](bool ours, int clients) {
    if (ours || clients <= 32) return false;
    std::printf("str2str   serves at most 32 clients: %d skipped\n", clients);
    return true;
  };
  for (int clients : o.clients)
    for (const auto& [name, ours] : relays)
      if (!skip(ours, clients))
        Print(name, o.rate, RunOnce(program, ours, clients, o.rate, o.seconds, false));

  std::printf("-- highest rate kept up with (no loss, p99 under 100 ms; 2 s per step)\n");
  for (int clients : o.clients) {
    for (const auto& [name, ours] : relays) {
      if (skip(ours, clients)) continue;
      int best = 0;
      Result bestResult;
      for (int rate : {1000, 3000, 6000, 12000, 24000, 48000}) {
        const Result r = RunOnce(program, ours, clients, rate, 2, false);
        // Kept up: nothing lost and no backlog piling up in the TCP streams.
        if (r.lost + r.disorder != 0 || r.served == 0 || r.p99Ms > 100) break;
        best = rate;
        bestResult = r;
      }
      if (best > 0)
        Print(name, best, bestResult);
      else
        std::printf("%-9s loses frames at 1000 frames/s with %d clients\n", name, clients);
    }
  }

  // Frames of 400 bytes, so that the stalled client's backlog outgrows the kernel's socket buffers
  // (several MiB on loopback) within the run.
  std::printf("-- 32 reading clients and one that stops reading, %d frames/s of 400 bytes for %d s\n", o.rate,
              o.seconds * 2);
  for (const auto& [name, ours] : relays) {
    const Result r = RunOnce(program, ours, 32, o.rate, o.seconds * 2, true, 400);
    Print(name, o.rate, r);
    std::printf("          the stalled client was %s\n",
                r.stalledDropped ? "disconnected by the relay" : "kept");
  }
  return 0;
}
