#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "link/j1939/can_frame.h"
#include "link/j1939/j1939_id.h"
#include "link/j1939/j1939_name.h"
#include "link/j1939/j1939_stack.h"
#include "link/j1939/memory_can_driver.h"
#include "support/fake_clock.h"

using Bytes = std::vector<std::uint8_t>;

inline CanFrame MakeFrame(std::uint32_t id, const Bytes& data) {
  CanFrame f;
  f.id = id;
  f.length = static_cast<std::uint8_t>(data.size());
  for (std::size_t i = 0; i < data.size() && i < 8; ++i) f.data[i] = data[i];
  return f;
}

inline CanFrame J1939Frame(std::uint32_t pgn, std::uint8_t destination, std::uint8_t source,
                           const Bytes& data) {
  return MakeFrame(MakeJ1939Id(6, pgn, destination, source), data);
}

inline Bytes DataOf(const CanFrame& f) {
  return Bytes(f.data, f.data + f.length);
}

// An event with its body copied out of the callback.
struct RecordedEvent {
  J1939EventCode code;
  std::uint8_t address;
  std::uint32_t parameter;
  std::uint32_t pgn;
  Bytes body;
  bool hasIdentification;
  SoftwareIdentification identification;
  bool byPeer;
};

inline std::vector<RecordedEvent> Only(const std::vector<RecordedEvent>& events, J1939EventCode code) {
  std::vector<RecordedEvent> out;
  for (const auto& e : events)
    if (e.code == code) out.push_back(e);
  return out;
}

inline std::vector<CanFrame> WithPgn(const std::vector<CanFrame>& frames, std::uint32_t pgn) {
  std::vector<CanFrame> out;
  for (const auto& f : frames)
    if (ParseJ1939Id(f.id).pgn == pgn) out.push_back(f);
  return out;
}

// A NAME lower than the program's (no arbitrary-address bit), for contenders that must win.
inline J1939Name LowName(std::uint32_t identity) {
  J1939NameFields f;
  f.identityNumber = identity;
  f.manufacturerCode = 1;
  return MakeJ1939Name(f);
}

// A stack whose frames are collected in `sent` instead of going to a bus, so tests feed raw
// frames to Receive and look at the exact answers.
struct RawStack {
  explicit RawStack(J1939StackConfig config = DefaultConfig())
      : stack(
            std::move(config), clock,
            [this](const CanFrame& f) { return (refuse && refuse(f)) ? false : (sent.push_back(f), true); },
            [this](const J1939Event& e) { Record(e); }) {}

  static J1939StackConfig DefaultConfig() {
    J1939StackConfig c;
    c.name = ProgramJ1939Name(1);
    return c;
  }

  // Start, let the claim stand, and forget what was sent so far.
  void Claim() {
    stack.Start();
    clock.Advance(250);
    stack.Tick();
    sent.clear();
    events.clear();
  }

  void Record(const J1939Event& e) {
    RecordedEvent r{e.code,
                    e.address,
                    e.parameter,
                    e.pgn,
                    Bytes(e.body, e.body + e.length),
                    e.identification != nullptr,
                    e.identification ? *e.identification : SoftwareIdentification{},
                    e.byPeer};
    events.push_back(r);
  }

  void At(std::int64_t ms) {
    clock.Set(ms);
    stack.Tick();
  }

  CFakeClock clock;
  std::function<bool(const CanFrame&)> refuse;  // frames the "driver" does not take
  std::vector<CanFrame> sent;
  std::vector<RecordedEvent> events;
  CJ1939Stack stack;
};

// Several stacks on one in-memory bus, all on one fake clock.
class CBusFixture {
 public:
  struct Node {
    std::unique_ptr<CMemoryCanDriver> driver;
    int handle = -1;
    std::unique_ptr<CJ1939Stack> stack;
    std::vector<RecordedEvent> events;
  };

  Node& Add(J1939StackConfig config) {
    auto node = std::make_unique<Node>();
    Node* n = node.get();
    n->driver = std::make_unique<CMemoryCanDriver>(std::vector<CMemoryCanBus*>{&bus});
    n->driver->Initialize();
    OpenCanChannel(*n->driver, 0, CanBitRate::k250K, n->handle);
    n->stack = std::make_unique<CJ1939Stack>(
        std::move(config), clock,
        [n](const CanFrame& f) { return n->driver->Write(n->handle, f) == CanStatus::Ok; },
        [n](const J1939Event& e) {
          n->events.push_back(RecordedEvent{e.code, e.address, e.parameter, e.pgn,
                                            Bytes(e.body, e.body + e.length), e.identification != nullptr,
                                            e.identification ? *e.identification : SoftwareIdentification{},
                                            e.byPeer});
        });
    nodes.push_back(std::move(node));
    return *n;
  }

  // Delivers every frame waiting on the bus, and what the answers cause, until all is quiet.
  void Pump() {
    for (bool any = true; any;) {
      any = false;
      for (auto& n : nodes) {
        CanFrame f;
        while (n->driver->Read(n->handle, f) == CanStatus::Ok) {
          n->stack->Receive(f);
          any = true;
        }
      }
    }
  }

  // Moves the clock in 20 ms ticks, ticking every stack and pumping after each.
  void Run(std::int64_t ms) {
    for (std::int64_t t = 0; t < ms; t += kJ1939TickMs) {
      clock.Advance(kJ1939TickMs);
      for (auto& n : nodes) n->stack->Tick();
      Pump();
    }
  }

  CFakeClock clock;
  CMemoryCanBus bus;
  std::vector<std::unique_ptr<Node>> nodes;
};

inline J1939StackConfig ConfigWithName(const J1939Name& name, std::uint8_t preferred = 249) {
  J1939StackConfig c;
  c.name = name;
  c.preferredAddress = preferred;
  return c;
}
