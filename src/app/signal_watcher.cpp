#include "app/signal_watcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <utility>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int number) {
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

CSignalWatcher::CSignalWatcher(std::function<void(int)> handler, std::vector<int> signalNumbers)
    : onSignal(std::move(handler)), watched(std::move(signalNumbers)) {
  if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
      if (onSignal) onSignal(byte);
    }
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : watched) ::sigaction(number, &action, nullptr);
}

CSignalWatcher::~CSignalWatcher() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (const int number : watched) ::sigaction(number, &action, nullptr);
}
