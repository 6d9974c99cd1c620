// plowsim: a simulated receiver on a pseudo-terminal. See README.md and --help.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "can_transport.h"
#include "link/protocol/clock.h"
#include "sim_options.h"
#include "simulator.h"
#include "tcp_transport.h"

namespace {

int stopPipe[2] = {-1, -1};

// Self-pipe: the handler only writes one byte; the poll loop sees it and ends cleanly.
void OnSignal(int) {
  const int saved = errno;
  const char b = 1;
  [[maybe_unused]] ssize_t n = ::write(stopPipe[1], &b, 1);
  errno = saved;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "plowsim: %s\nTry 'plowsim --help'.\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(SimUsage(), stdout);
    return 0;
  }
  if (!options.startTimeGiven) {
    options.receiver.startUtcMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
  }
  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("plowsim: pipe");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  if (!options.canBus.empty()) {
    // The Qt CAN plugins need an application object; its event loop is not used here.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    CSimCanTransport can(options, CSteadyClock::Instance());
    if (!can.Start(error)) {
      std::fprintf(stderr, "plowsim: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", options.canBus.c_str());
    std::fflush(stdout);
    return can.Run(stopPipe[0]);
  }
  if (options.tcpPort >= 0) {
    CTcpTransport tcp(options, CSteadyClock::Instance());
    if (!tcp.Start(static_cast<std::uint16_t>(options.tcpPort), error)) {
      std::fprintf(stderr, "plowsim: %s\n", error.c_str());
      return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(tcp.Port()));
    std::fflush(stdout);
    return tcp.Run(stopPipe[0]);
  }
  CSimulator simulator(options, CSteadyClock::Instance());
  if (!simulator.Start(error)) {
    std::fprintf(stderr, "plowsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", options.ptyPath.c_str());
  std::fflush(stdout);
  return simulator.Run(stopPipe[0]);
}
