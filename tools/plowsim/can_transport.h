#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "link/can/qt_can_thread.h"
#include "link/j1939/can_driver.h"
#include "link/j1939/j1939_stack.h"
#include "link/protocol/clock.h"
#include "receiver_host.h"
#include "receiver_model.h"
#include "sim_options.h"

// One simulated receiver as a J1939 node on a CAN bus (Qt SerialBus: "virtualcan" for tests, any
// other plugin for a real adapter). It claims its address (--can-address, default 28; a node that
// loses the claim moves to a free one), answers software identification requests with a text
// naming KVCAN, asks everyone for theirs once its claim stands (so a program already searching
// hears of it), and carries KAVO packets in proprietary-A command-0x08 bodies, by the transport
// protocol above 8 bytes. Packets go to the node that last sent it a packet or an echo; until one
// did, what the receiver would send is dropped. An echo with its flag set is answered with the
// same two bytes and the flag clear.
//
// One loop (no thread of its own, no busy waiting): it waits for a frame at most until the next
// 20 ms stack tick or the model's next due time, whichever is first; the stop descriptor is
// checked each round.
//
// Trace lines written here: START, CLAIMED, CANNOT-CLAIM, PROGRAM, TX, TX-TEXT, TX-DROPPED, STOP.
class CSimCanTransport final : private IReceiverHost {
 public:
  // `clock` must outlive the transport. A QCoreApplication must exist.
  CSimCanTransport(const SimOptions& options, const IClock& clock);
  ~CSimCanTransport() override;
  CSimCanTransport(const CSimCanTransport&) = delete;
  CSimCanTransport& operator=(const CSimCanTransport&) = delete;

  // Opens the trace and goes on the bus. False with `error` set (an unknown plugin or interface).
  bool Start(std::string& error);
  // Serves until `stopFd` becomes readable. Returns 0.
  int Run(int stopFd);

 private:
  void SendPacket(const KavoPacket& packet, int withChecksum) override;
  void SendText(std::string_view text) override;
  void Trace(std::string_view line) override;
  void OnEvent(const J1939Event& event);

  SimOptions options;
  const IClock& clock;
  CQtCanThread canThread;  // hosts the driver's device; outlives it
  std::unique_ptr<ICanDriver> driver;
  int handle = -1;
  std::unique_ptr<CJ1939Stack> stack;
  std::unique_ptr<CReceiverModel> model;
  std::FILE* trace = nullptr;
  int program = -1;  // the address packets go to; -1 until the program spoke to us
};
