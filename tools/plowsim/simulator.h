#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "break_detector.h"
#include "link/protocol/clock.h"
#include "pty_transport.h"
#include "receiver_host.h"
#include "receiver_model.h"
#include "sim_options.h"

// One simulated receiver on a pseudo-terminal: the pty transport, the receiver model and the
// trace, driven by one poll loop (no thread of its own, no busy waiting: the loop sleeps until a
// byte, a flush event, a signal or the model's next due time).
//
// Trace lines written here: START, STOP, TX, TX-TEXT, LINE, GARBLED, NOISE, OVERFLOW.
class CSimulator final : private IReceiverHost {
 public:
  // `clock` must outlive the simulator.
  CSimulator(const SimOptions& options, const IClock& clock);
  ~CSimulator() override;
  CSimulator(const CSimulator&) = delete;
  CSimulator& operator=(const CSimulator&) = delete;

  // Opens the trace and the pty and makes the link. False with `error` set.
  bool Start(std::string& error);
  // Serves until `stopFd` becomes readable (the signal pipe). Returns 0, or 1 when the pty failed.
  int Run(int stopFd);

 private:
  void SendPacket(const KavoPacket& packet, int withChecksum) override;
  void SendText(std::string_view text) override;
  void Trace(std::string_view line) override;

  void OnData(const std::uint8_t* bytes, std::size_t count);
  void OnStatus(std::uint8_t status);
  // Reads the program's settings; traces a change; true when the receiver hears the program.
  bool Hears();
  void Put(const std::uint8_t* bytes, std::size_t count);
  void PutNoise();

  SimOptions options;
  const IClock& clock;
  CPtyTransport pty;
  CBreakDetector breakDetector;
  std::unique_ptr<CReceiverModel> model;
  std::FILE* trace = nullptr;
  PortSettings lastLine;
  bool lineKnown = false;
  std::uint64_t framesSent = 0;
  std::uint32_t noiseState = 0x2545F491u;  // fixed seed: the same run makes the same noise
};
