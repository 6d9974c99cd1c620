#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "break_detector.h"
#include "card_client.h"
#include "file_system.h"
#include "line_pacer.h"
#include "link/protocol/clock.h"
#include "link/protocol/kavo_parser.h"
#include "pty_transport.h"
#include "receiver_host.h"
#include "receiver_model.h"
#include "sim_options.h"

// One simulated receiver on a pseudo-terminal: the pty transport, the receiver model and the
// trace, driven by one poll loop (no thread of its own, no busy waiting: the loop sleeps until a
// byte, a flush event, a signal or the model's next due time).
//
// With --files it also serves the program's file transfer (CSimFileSystem), with --card-script
// it plays the receiver's remote file requests (CCardClient), and with --pace its bytes go out
// at the speed of a real line (CLinePacer).
//
// With --drop-after/--return-after the line goes away and comes back in cycles: the pty is closed
// (the program sees a hang-up) and its link removed, then a new pty is linked at the same path.
// The receiver model lives on through it, as a receiver does while its cable is out.
//
// Trace lines written here: START, STOP, TX, TX-TEXT, LINE, GARBLED, NOISE, OVERFLOW, DROP-REPLY,
// LINE-DROPPED, LINE-RETURNED.
class CSimulator final : private IReceiverHost {
 public:
  // How long after the program has taken the panel over the card script begins.
  static constexpr std::int64_t kCardStartDelayMs = 1000;

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

  // The next step of the drop/return cycle when it is due; false when the pty cannot be made.
  bool CycleLine(std::string& error);
  void OnData(const std::uint8_t* bytes, std::size_t count);
  void OnStatus(std::uint8_t status);
  // Reads the program's settings; traces a change; true when the receiver hears the program.
  bool Hears();
  void Put(const std::uint8_t* bytes, std::size_t count);
  void PutNoise();
  // The packets the file parts take, parsed from the same bytes the model hears.
  void FeedFileParts(const std::uint8_t* bytes, std::size_t count);

  SimOptions options;
  const IClock& clock;
  CPtyTransport pty;
  CBreakDetector breakDetector;
  std::unique_ptr<CReceiverModel> model;
  std::FILE* trace = nullptr;
  PortSettings lastLine;
  bool lineKnown = false;
  std::uint64_t framesSent = 0;
  std::unique_ptr<CSimFileSystem> files;
  std::unique_ptr<CCardClient> card;
  std::unique_ptr<CLinePacer> pacer;
  std::unique_ptr<CKavoParser> fileParser;
  KavoPacket filePacket;
  std::int64_t cardStartMs = -1;   // when the card script begins; -1 until the panel is shown
  std::int64_t lineToggleMs = -1;  // when the line next goes away or comes back; -1 never
  bool lineAway = false;
  std::uint32_t noiseState = 0x2545F491u;  // fixed seed: the same run makes the same noise
};
