#include "simulator.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trace_format.h"

CSimulator::CSimulator(const SimOptions& opts, const IClock& clk) : options(opts), clock(clk) {}

CSimulator::~CSimulator() {
  if (trace) std::fclose(trace);
}

bool CSimulator::Start(std::string& error) {
  if (!options.tracePath.empty()) {
    trace = std::fopen(options.tracePath.c_str(), "w");
    if (!trace) {
      error = "cannot write " + options.tracePath + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!pty.Open(options.ptyPath, options.receiver.port, error)) return false;
  model = std::make_unique<CReceiverModel>(options.receiver, clock, static_cast<IReceiverHost&>(*this));
  auto sendChecked = [this](const KavoPacket& packet) { SendPacket(packet, 1); };
  auto trace = [this](std::string_view line) { Trace(line); };
  if (!options.filesDir.empty())
    files = std::make_unique<CSimFileSystem>(options.filesDir, options.dropEvery, sendChecked, trace);
  if (!options.cardScript.empty()) {
    card = std::make_unique<CCardClient>(
        [this](const KavoPacket& packet, int withChecksum) { SendPacket(packet, withChecksum); }, stderr);
    if (!card->Load(options.cardScript, error)) return false;
  }
  if (files || card) fileParser = std::make_unique<CKavoParser>(nullptr);
  if (options.paceBaud > 0) pacer = std::make_unique<CLinePacer>(options.paceBaud);
  Trace("START " + pty.SlavePath() + " " + FormatPortSettings(model->Port()));
  lastLine = pty.LineSettings();
  lineKnown = true;
  return true;
}

int CSimulator::Run(int stopFd) {
  int result = 0;
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
    std::int64_t due = model->NextDueMs();
    if (lineToggleMs >= 0) due = std::min(due, lineToggleMs);
    if (card) {
      // The script begins once the program has taken the panel over, and ends the run.
      if (cardStartMs < 0 && model->RemoteDisplayActive()) cardStartMs = clock.NowMs() + kCardStartDelayMs;
      if (cardStartMs >= 0 && clock.NowMs() >= cardStartMs) card->Start(clock.NowMs());
      card->Tick(clock.NowMs());
      if (card->Finished()) {
        result = card->Failures() == 0 ? 0 : 3;
        break;
      }
      due = std::min(due, cardStartMs >= 0 && !card->Started() ? cardStartMs : card->NextDueMs());
    }
    if (pacer) {
      pacer->Release(clock.NowMs(), [this](const std::uint8_t* b, std::size_t n) { Put(b, n); });
      due = std::min(due, pacer->NextDueMs(clock.NowMs()));
    }
    const std::int64_t wait = std::clamp<std::int64_t>(due - clock.NowMs(), 0, 1000);
    pollfd fds[2] = {{stopFd, POLLIN, 0},
                     // Away, the pty is closed: a negative descriptor is not polled.
                     {pty.Fd(), static_cast<short>(POLLIN | (pty.WantsWrite() ? POLLOUT : 0)), 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(wait));
    if (ready < 0) {
      if (errno == EINTR) continue;
      result = 1;
      break;
    }
    if (fds[0].revents) break;
    if (fds[1].revents & (POLLIN | POLLPRI)) {
      if (!pty.Read([this](const std::uint8_t* b, std::size_t n) { OnData(b, n); },
                    [this](std::uint8_t s) { OnStatus(s); })) {
        result = 1;
        break;
      }
    }
    if ((fds[1].revents & POLLOUT) && !pty.Flush()) {
      result = 1;
      break;
    }
    if (fds[1].revents & (POLLERR | POLLNVAL)) {
      result = 1;
      break;
    }
  }
  Trace(result == 0 ? "STOP" : result == 3 ? "STOP card script failed" : "STOP pty failed");
  return result;
}

bool CSimulator::CycleLine(std::string& error) {
  if (lineToggleMs < 0 || clock.NowMs() < lineToggleMs) return true;
  if (!lineAway) {
    // Between frames: what was sent reaches the program before the line goes.
    constexpr int kDrainMs = 1000;
    const std::size_t unread = pty.Close(kDrainMs);
    lineAway = true;
    lineToggleMs = clock.NowMs() + options.returnAfterMs;
    Trace(unread == 0 ? std::string("LINE-DROPPED") : "LINE-DROPPED UNREAD " + std::to_string(unread));
    return true;
  }
  if (!pty.Open(options.ptyPath, model->Port(), error)) return false;
  lineAway = false;
  lineKnown = false;
  lineToggleMs = clock.NowMs() + options.dropAfterMs;
  Trace("LINE-RETURNED " + pty.SlavePath());
  return true;
}

void CSimulator::OnData(const std::uint8_t* bytes, std::size_t count) {
  if (!Hears()) {
    Trace("GARBLED RX " + std::to_string(count));
    return;
  }
  model->FeedBytes(bytes, count);
  if (fileParser) FeedFileParts(bytes, count);
}

void CSimulator::FeedFileParts(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) fileParser->FeedByte(bytes[i]);
  while (fileParser->TryPopPacket(filePacket)) {
    if (files && files->Handle(filePacket)) continue;
    if (card) card->OnPacket(filePacket, clock.NowMs());
  }
}

void CSimulator::OnStatus(std::uint8_t status) {
  Hears();  // a status event often comes with new settings: trace them first
  if (breakDetector.OnFlush(status & TIOCPKT_FLUSHREAD, status & TIOCPKT_FLUSHWRITE, clock.NowMs()))
    model->OnBreak();
}

bool CSimulator::Hears() {
  const PortSettings line = pty.LineSettings();
  if (!lineKnown || !(line == lastLine)) {
    lastLine = line;
    lineKnown = true;
    Trace("LINE " + FormatPortSettings(line));
  }
  return CPtyTransport::Hears(line, model->Port());
}

void CSimulator::SendPacket(const KavoPacket& packet, int withChecksum) {
  if (lineAway) return;  // nothing crosses a line that is not there
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(packet, frame, frameLength, withChecksum)) return;
  if (!Hears()) {
    Trace("GARBLED TX " + std::to_string(frameLength));
    return;
  }
  if (options.garbageEvery > 0 && ++framesSent % static_cast<std::uint64_t>(options.garbageEvery) == 0)
    PutNoise();
  if (pacer) {
    const std::size_t dropped = pacer->Push(frame, frameLength, clock.NowMs());
    if (dropped > 0) Trace("OVERFLOW " + std::to_string(dropped));
    pacer->Release(clock.NowMs(), [this](const std::uint8_t* b, std::size_t n) { Put(b, n); });
  } else {
    Put(frame, frameLength);
  }
  // The traced payload is what crossed the line: the checksum trailer included.
  Trace(FormatSentPacketLine("TX", packet, withChecksum));
}

void CSimulator::SendText(std::string_view text) {
  if (lineAway) return;
  if (!Hears()) {
    Trace("GARBLED TX " + std::to_string(text.size()));
    return;
  }
  Put(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  Trace("TX-TEXT " + QuoteText(text));
}

void CSimulator::Trace(std::string_view line) {
  if (!trace) return;
  std::fwrite(line.data(), 1, line.size(), trace);
  std::fputc('\n', trace);
  std::fflush(trace);
}

void CSimulator::Put(const std::uint8_t* bytes, std::size_t count) {
  const std::size_t dropped = pty.Queue(bytes, count);
  if (dropped > 0) Trace("OVERFLOW " + std::to_string(dropped));
  if (!pty.Flush()) Trace("OVERFLOW pty failed");
}

// 1 to 16 bytes of noise between frames. Never a DLE, so the program's parser stays idle
// through it, as it would through line noise that happens not to look like a frame start.
void CSimulator::PutNoise() {
  std::uint8_t noise[16];
  noiseState ^= noiseState << 13;
  noiseState ^= noiseState >> 17;
  noiseState ^= noiseState << 5;
  const std::size_t count = 1 + noiseState % 16;
  for (std::size_t i = 0; i < count; ++i) {
    noiseState ^= noiseState << 13;
    noiseState ^= noiseState >> 17;
    noiseState ^= noiseState << 5;
    std::uint8_t b = static_cast<std::uint8_t>(noiseState >> 24);
    noise[i] = b == kDle ? 0x11 : b;
  }
  Put(noise, count);
  Trace("NOISE " + std::to_string(count));
}
