#include "link/serial/serial_transport.h"

#include "link/serial/comm_error.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace {

constexpr int kSettlePasses = 60;
// Troubled read rounds in a row (each followed by a retry pause) that make a lost line.
constexpr int kLossConfirmRounds = 10;
constexpr char kOpenFailedText[] = "Error: Could not open serial port.";

}  // namespace

CommLinkTiming CommLinkTiming::Scaled(int divisor) const {
  if (divisor < 1) divisor = 1;
  auto cut = [divisor](int ms) { return std::max(1, ms / divisor); };
  CommLinkTiming t;
  t.settlePassMs = cut(settlePassMs);
  t.settleConfirmMs = cut(settleConfirmMs);
  t.settleQuietMs = cut(settleQuietMs);
  t.readIdleMs = cut(readIdleMs);
  t.lineDownRetryMs = cut(lineDownRetryMs);
  t.rxIdleMs = cut(rxIdleMs);
  t.txDrainMs = cut(txDrainMs);
  t.textPollMs = cut(textPollMs);
  t.reportRetryMs = cut(reportRetryMs);
  t.breakMs = cut(breakMs);
  t.afterReportMs = cut(afterReportMs);
  t.afterSwitchMs = cut(afterSwitchMs);
  return t;
}

bool CSerialTransport::SetParams(std::uint32_t baud, char parityIn, std::uint32_t dataBitsIn,
                                 std::uint32_t stopBitsIn) {
  baudRate = baud;
  parity = parityIn;
  dataBits = dataBitsIn;
  stopBits = stopBitsIn;
  const bool parityOk = parity == 'N' || parity == 'O' || parity == 'E';
  const bool baudOk = baud == 2400 || baud == 4800 || baud == 9600 || baud == 19200 || baud == 38400;
  const bool dataOk = dataBits == 7 || dataBits == 8;
  const bool stopOk = stopBits == 1 || stopBits == 2;
  serialValid = (parityOk && baudOk && dataOk && stopOk) ? 1 : 0;
  return serialValid != 0;
}

CSerialTransport::CSerialTransport(ITransportEvents& eventsRef, IPrompts& promptsRef, const IClock& clockRef,
                                   CSerialCallLock& callLock)
    : events(eventsRef),
      prompts(promptsRef),
      serialPort(CSerialPortMap::Detected(), &clockRef, &callLock),
      line(&serialPort),
      clock(&clockRef),
      stopEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CSerialTransport::~CSerialTransport() {
  // A reader left running ends before anything it uses goes; its port closes without a restore
  // packet.
  StopReader(true);
  if (stopEvent >= 0) ::close(stopEvent);
}

void CSerialTransport::UseLineForTest(ISerialLine& testLine, const IClock& testClock,
                                      std::function<void(int ms)> pass) {
  line = &testLine;
  clock = &testClock;
  passTime = std::move(pass);
}

void CSerialTransport::Abandon() {
  StopReader(true);
}

bool CSerialTransport::SendFrame(const KavoPacket& packet, std::uint8_t withChecksum) {
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(packet, frame, frameLength, withChecksum)) return false;
  Send(frame, frameLength, 2);
  return true;
}

bool CSerialTransport::SendRaw(const std::uint8_t* bytes, std::size_t count) {
  if (count > 0xFFFF) return false;
  Send(bytes, static_cast<int>(count), 0);
  return true;
}

// Write errors are written to the debug capture by the port layer; the send is not repeated.
bool CSerialTransport::Send(const std::uint8_t* bytes, int count, int trailingNuls) {
  // A full transmit buffer would otherwise cut the frame short: wait for room, bounded by the
  // time a whole frame needs at the slowest rate the link runs at.
  constexpr int kWriteWaitMs = 8000;
  bool ok = line->WriteBufferTimed(bytes, count, kWriteWaitMs) == count;
  for (int i = 0; i < trailingNuls; ++i) ok = line->WriteCharTimed(0x00, kWriteWaitMs) >= 0 && ok;
  while (line->IsOpen() && line->IsTXEmpty() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timing.txDrainMs));
  }
  return ok;
}

int CSerialTransport::OpenPortForLink(int port, bool autoConfigure) {
  if (autoConfigure) return line->Open(port, 9600, 'N', 8, 1);
  return line->Open(port, static_cast<int>(baudRate), parity, static_cast<int>(dataBits),
                    static_cast<int>(stopBits));
}

bool CSerialTransport::Open(int port, bool autoConfigure, bool reopen) {
  // A reader may survive from a link that was marked closed, or from a failed start.
  StopReader(true);
  openSkipsSettle = reopen && autoConfigure;
  char captureName[64];
  std::snprintf(captureName, sizeof captureName, "v1.19DebugComm%d.txt", port + 1);
  // Each port has its own capture: a link opened again on another port moves to that port's file.
  if (line->IsLogging() && line->LogFileName() != captureName) line->StopLog();
  line->StartLog(captureName);

  if (autoConfigure && line->IsOpen()) line->Close();
  if (const int opened = OpenPortForLink(port, autoConfigure); opened < 0) {
    prompts.MessageBox(SerialOpenFailedText(kOpenFailedText, opened, serialPort.PortMap().Path(port)),
                       "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
    return false;
  }
  line->SetRTS(1);  // a pseudo-terminal has no RTS line; the port works without it

  openAutoConfigure = autoConfigure;
  openPort = port;
  portReport.valid = 0;
  stopRequested = 0;
  if (stopEvent >= 0) {
    std::uint64_t drained = 0;
    while (::read(stopEvent, &drained, sizeof drained) > 0) {
    }
  }
  worker = std::thread([this] { ReaderThread(); });
  return true;
}

bool CSerialTransport::Close() {
  if (!line->IsOpen()) {
    StopReader(false);
    return false;
  }
  StopReader(false);
  if (portReport.valid == 1) RestoreReceiverPort();
  return line->Close() >= 0;
}

void CSerialTransport::StopReader(bool closePort) {
  if (worker.joinable()) {
    RequestStop();
    worker.join();
  }
  if (closePort && line->IsOpen()) line->Close();
}

void CSerialTransport::RequestStop() {
  stopRequested = 1;
  if (stopEvent >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopEvent, &one, sizeof one);
  }
}

bool CSerialTransport::Pause(int ms) {
  if (StopRequested()) return false;
  if (passTime) {
    passTime(ms);
    return !StopRequested();
  }
  if (stopEvent < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return !StopRequested();
  }
  pollfd stop{stopEvent, POLLIN, 0};
  const std::int64_t until = clock->NowMs() + ms;
  for (;;) {
    const std::int64_t left = until - clock->NowMs();
    if (left <= 0) break;
    if (::poll(&stop, 1, static_cast<int>(left)) > 0) break;  // EINTR goes round again
  }
  return !StopRequested();
}

CSerialTransport::WaitResult CSerialTransport::WaitForByte(int ms) {
  if (StopRequested()) return WaitResult::Stopped;
  const int fd = line->GetCommHandle();
  if (fd < 0) return WaitResult::LineDown;
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopEvent, POLLIN, 0}};
  const nfds_t count = stopEvent >= 0 ? 2 : 1;
  // Waits with a limit pass test time at once; a wait without one blocks on the line either way.
  const bool passed = passTime && ms >= 0;
  const int ready = ::poll(fds, count, passed ? 0 : ms);
  if (passed && ready == 0) passTime(ms);
  if (StopRequested()) return WaitResult::Stopped;
  if (ready == 0) return WaitResult::TimedOut;
  if (ready < 0) return WaitResult::TimedOut;  // EINTR: the caller reads again
  // Callers wait only after a read found nothing, so a hang-up here means nothing is left to
  // read, though a hung-up pty also reports itself readable.
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::LineDown;
  if (fds[0].revents & POLLIN) return WaitResult::Readable;
  return WaitResult::TimedOut;
}

bool CSerialTransport::IdleWait(int tickMs, std::int64_t& idleMs) {
  const std::int64_t start = clock->NowMs();
  WaitResult result = WaitForByte(tickMs);
  if (result == WaitResult::Stopped) return false;
  if (result == WaitResult::LineDown) {
    // The port gives no readiness to wait on (hung up): pace the retries by the clock instead.
    const std::int64_t left = tickMs - (clock->NowMs() - start);
    if (left > 0 && !Pause(static_cast<int>(left))) return false;
  }
  idleMs += clock->NowMs() - start;
  return !StopRequested();
}

// Silent once a stop is requested: the owner is closing the link or opening another.
void CSerialTransport::FailFromReader() {
  if (StopRequested()) return;
  events.TransportDown();
}

void CSerialTransport::ReaderThread() {
  portReport.valid = 0;
  // A reopen with the take-over needs no settling: the break that starts it resets the line.
  if (!openSkipsSettle && !SettlePhase()) return;
  if (openAutoConfigure && !ConfigureReceiverPort(openPort)) {
    FailFromReader();
    return;
  }
  if (StopRequested()) return;
  events.TransportUp();
  ReadLoop();
}

// Lets the line settle after the open: a receiver already talking is met on a freshly opened
// port, a silent one is accepted after the last pass. False when the thread is to end.
bool CSerialTransport::SettlePhase() {
  for (int pass = 0; pass < kSettlePasses; ++pass) {
    if (!Pause(timing.settlePassMs)) return false;
    const int first = line->ReadChar();
    if (first == kCommHangUp) {
      // The device went away while settling: no link to report up.
      FailFromReader();
      return false;
    }
    if (first < 0) continue;
    if (pass == 0) {
      line->Close();
      if (OpenPortForLink(openPort, openAutoConfigure) < 0) {
        FailFromReader();
        return false;
      }
      continue;
    }
    if (!Pause(timing.settleConfirmMs)) return false;
    if (line->ReadChar() >= 0) return Pause(timing.settleQuietMs);
  }
  return !StopRequested();
}

void CSerialTransport::ReadLoop() {
  // Nothing to do until the receiver sends: wait on the port, not on a timer. A stop request
  // wakes every wait, so no tick is needed to see it.
  std::uint8_t bytes[256];
  bool readableButEmpty = false;
  int badRounds = 0;  // rounds in a row that read nothing while the port reported trouble
  while (!StopRequested()) {
    const int got = line->ReadBuffer(bytes, static_cast<int>(sizeof bytes));
    if (got > 0) {
      events.TransportBytes(bytes, static_cast<std::size_t>(got));
      readableButEmpty = false;
      badRounds = 0;
      continue;
    }
    // End of file, EIO or ENXIO: the device is gone (a pulled adapter, the far pty end closed).
    // A read that merely found nothing (0) is not a loss.
    if (got == kCommHangUp || got == kCommNotOpen) {
      LoseLine();
      return;
    }
    // Other errors, and a port that polls as hung up or readable but gives nothing, are retried
    // at a slow pace (the descriptor never stops being "ready") and taken as a loss only when
    // they persist.
    const bool lineDown = got < 0 || readableButEmpty;
    const WaitResult result = lineDown ? WaitResult::LineDown : WaitForByte(-1);
    if (result == WaitResult::Stopped) return;
    readableButEmpty = result == WaitResult::Readable;
    if (result != WaitResult::LineDown) continue;
    if (++badRounds >= kLossConfirmRounds) {
      LoseLine();
      return;
    }
    if (!Pause(timing.lineDownRetryMs)) return;
  }
}

// Reported once: the reader ends here, so a dead descriptor is neither polled nor read again.
// The port stays open (hung up) until the owner's Close or the next Open closes it.
void CSerialTransport::LoseLine() {
  if (StopRequested()) return;
  FailFromReader();
}
