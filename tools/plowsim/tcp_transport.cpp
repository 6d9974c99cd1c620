#include "tcp_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "trace_format.h"

CTcpTransport::CTcpTransport(const SimOptions& opts, const IClock& clk) : options(opts), clock(clk) {}

CTcpTransport::~CTcpTransport() {
  for (const auto& client : clients) ::close(client->fd);
  if (listenFd >= 0) ::close(listenFd);
  if (trace) std::fclose(trace);
}

bool CTcpTransport::Start(std::uint16_t wanted, std::string& error) {
  if (!options.tracePath.empty()) {
    trace = std::fopen(options.tracePath.c_str(), "w");
    if (!trace) {
      error = "cannot write " + options.tracePath + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!Listen(wanted, error)) return false;
  model = std::make_unique<CReceiverModel>(options.receiver, clock, static_cast<IReceiverHost&>(*this));
  Trace("START tcp " + std::to_string(port));
  return true;
}

bool CTcpTransport::Listen(std::uint16_t wanted, std::string& error) {
  listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int yes = 1;
  ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(wanted);
  socklen_t length = sizeof address;
  if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd, 16) != 0 ||
      ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = "cannot listen on TCP port " + std::to_string(wanted) + ": " + std::strerror(errno);
    return false;
  }
  port = ntohs(address.sin_port);
  return true;
}

bool CTcpTransport::CycleLine(std::string& error) {
  if (lineToggleMs < 0 || clock.NowMs() < lineToggleMs) return true;
  if (!lineAway) {
    for (auto& client : clients) client->gone = "DISCONNECT ";
    Sweep();
    ::close(listenFd);
    listenFd = -1;
    lineAway = true;
    lineToggleMs = clock.NowMs() + options.returnAfterMs;
    Trace("LINE-DROPPED");
    return true;
  }
  if (!Listen(port, error)) return false;
  lineAway = false;
  lineToggleMs = clock.NowMs() + options.dropAfterMs;
  Trace("LINE-RETURNED tcp " + std::to_string(port));
  return true;
}

int CTcpTransport::Run(int stopFd) {
  int result = 0;
  std::vector<pollfd> fds;
  if (options.dropAfterMs > 0)
    lineToggleMs =
        clock.NowMs() + (options.firstDropAfterMs > 0 ? options.firstDropAfterMs : options.dropAfterMs);
  for (;;) {
    std::string error;
    if (!CycleLine(error)) {
      std::fprintf(stderr, "plowsim: %s\n", error.c_str());
      result = 1;
      break;
    }
    model->Tick();
    Sweep();
    std::int64_t due = model->NextDueMs();
    if (lineToggleMs >= 0) due = std::min(due, lineToggleMs);
    const std::int64_t wait = std::clamp<std::int64_t>(due - clock.NowMs(), 0, 1000);
    fds.clear();
    fds.push_back({stopFd, POLLIN, 0});
    fds.push_back({listenFd, POLLIN, 0});  // -1 while away: not polled
    for (const auto& client : clients) {
      const bool pending = client->outSent < client->out.size();
      fds.push_back({client->fd, static_cast<short>(POLLIN | (pending ? POLLOUT : 0)), 0});
    }
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait));
    if (ready < 0) {
      if (errno == EINTR) continue;
      result = 1;
      break;
    }
    if (ready == 0) continue;
    if (fds[0].revents) break;
    if (fds[1].revents & (POLLERR | POLLNVAL)) {
      result = 1;
      break;
    }
    // The list keeps its order until the sweep: what a client sends may make the receiver
    // answer, and a broadcast only marks the clients it gives up on.
    const std::size_t polled = clients.size();
    for (std::size_t i = 0; i < polled; ++i) {
      const short events = fds[2 + i].revents;
      Client& client = *clients[i];
      if (events == 0 || !client.gone.empty()) continue;
      if ((events & (POLLIN | POLLHUP | POLLERR)) && !ReadFrom(client)) client.gone = "DISCONNECT ";
      if (client.gone.empty() && (events & POLLOUT) && !WriteTo(client)) client.gone = "DISCONNECT ";
    }
    Sweep();
    if (fds[1].revents & POLLIN) Accept();
  }
  Trace(result == 0 ? "STOP" : "STOP tcp failed");
  return result;
}

void CTcpTransport::Accept() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd =
        ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN: all taken; other errors: the next round tries again
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto client = std::make_unique<Client>();
    client->fd = fd;
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    client->name = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
    Trace("CONNECT " + client->name);
    clients.push_back(std::move(client));
  }
}

bool CTcpTransport::ReadFrom(Client& client) {
  std::uint8_t chunk[4096];
  for (;;) {
    const std::uint32_t room = std::min<std::uint32_t>(sizeof chunk, client.in.Free());
    const ssize_t got = ::recv(client.fd, chunk, room, 0);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.in.Write(chunk, static_cast<std::uint32_t>(got));
    // Emptied of whole messages before the next read, so the ring always has room (a message
    // too large for it is skipped by the extraction).
    while (ExtractStreamMessage(client.in, client.message)) {
      if (client.message.type == kStreamTypeData && !client.message.body.empty())
        model->FeedBytes(client.message.body.data(), client.message.body.size());
    }
  }
}

bool CTcpTransport::WriteTo(Client& client) {
  while (client.outSent < client.out.size()) {
    const ssize_t put = ::send(client.fd, client.out.data() + client.outSent,
                               client.out.size() - client.outSent, MSG_NOSIGNAL);
    if (put < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.outSent += static_cast<std::size_t>(put);
    if (client.outSent < client.out.size() && client.outSent >= kMaxQueued / 2) {
      // A slow reader: keep only what is still to go, so the queue's cap bounds its memory.
      client.out.erase(client.out.begin(), client.out.begin() + static_cast<std::ptrdiff_t>(client.outSent));
      client.outSent = 0;
    }
  }
  client.out.clear();
  client.outSent = 0;
  return true;
}

void CTcpTransport::Broadcast(const std::uint8_t* bytes, std::size_t count) {
  for (const auto& entry : clients) {
    Client& client = *entry;
    if (!client.gone.empty()) continue;
    if (client.out.size() - client.outSent + count > kMaxQueued) {
      client.gone = "DROPPED CLIENT ";
      continue;
    }
    client.out.insert(client.out.end(), bytes, bytes + count);
    if (!WriteTo(client)) client.gone = "DISCONNECT ";
  }
}

void CTcpTransport::Sweep() {
  const auto end = std::remove_if(clients.begin(), clients.end(), [this](const auto& client) {
    if (client->gone.empty()) return false;
    Trace(client->gone + client->name);
    ::close(client->fd);
    return true;
  });
  clients.erase(end, clients.end());
}

void CTcpTransport::SendPacket(const KavoPacket& packet, int withChecksum) {
  if (lineAway) return;  // nothing crosses a port that is not there
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(packet, frame, frameLength, withChecksum)) return;
  std::uint8_t message[kStreamMaxDataMessage];
  Broadcast(message, BuildStreamMessage(frame, frameLength, message));
  Trace(FormatSentPacketLine("TX", packet, withChecksum));
}

// Only the port auto-configuration sends text, and it never starts on TCP; a relay carries
// whole frames only, so text would have no message to travel in.
void CTcpTransport::SendText(std::string_view text) {
  Trace("TX-TEXT " + QuoteText(text) + " not sent");
}

void CTcpTransport::Trace(std::string_view line) {
  if (!trace) return;
  std::fwrite(line.data(), 1, line.size(), trace);
  std::fputc('\n', trace);
  std::fflush(trace);
}
