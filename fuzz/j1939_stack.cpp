// J1939 reception and transport reassembly on any frame sequence. A stack with a fake clock sits
// on an in-memory bus; the fuzz input is the traffic of other nodes, written to the bus frame by
// frame with pauses between. What the stack reports is used as the CAN link uses it: packet
// bodies are turned back into wire frames and parsed; requests get a long answer, so that our
// own transport sessions meet the fuzzed replies too.
//
// Input: records of 14 bytes: pause (x 10 ms), identifier (4, big-endian), length code, 8 data.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "link/j1939/can_frame.h"
#include "link/j1939/j1939_name.h"
#include "link/j1939/j1939_stack.h"
#include "link/j1939/kavo_can_body.h"
#include "link/protocol/kavo_parser.h"
#include "support/can/memory_can_bus.h"
#include "support/can/memory_can_driver.h"
#include "support/fake_clock.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CMemoryCanBus bus;
  CMemoryCanDriver ours({&bus});
  CMemoryCanDriver others({&bus});
  int ourHandle = -1;
  int otherHandle = -1;
  ours.Initialize();
  others.Initialize();
  Check(OpenCanChannel(ours, 0, CanBitRate::k250K, ourHandle) == CanStatus::Ok);
  Check(OpenCanChannel(others, 0, CanBitRate::k250K, otherHandle) == CanStatus::Ok);

  CFakeClock clock;
  CKavoParser parser(nullptr);
  std::vector<std::uint8_t> answer(600);
  for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<std::uint8_t>(i);
  J1939StackConfig config;
  config.name = ProgramJ1939Name(1);
  CJ1939Stack* self = nullptr;
  CJ1939Stack stack(
      config, clock, [&](const CanFrame& f) { return ours.Write(ourHandle, f) == CanStatus::Ok; },
      [&](const J1939Event& e) {
        Check(e.length == 0 || e.body != nullptr);
        Check(e.length <= 1785);
        if (e.code == J1939EventCode::KavoPacket) {
          std::uint8_t frame[400];
          const std::size_t n = KavoFrameFromCanBody(e.body, e.length, frame, sizeof frame);
          Check(n <= sizeof frame);
          for (std::size_t i = 0; i < n; ++i) parser.FeedByte(frame[i]);
          KavoPacket packet;
          while (parser.TryPopPacket(packet)) {
          }
        } else if (e.code == J1939EventCode::Request && self != nullptr) {
          self->Send(e.pgn == kPgnSoftwareIdentification ? 0xEF00 : e.pgn, e.address, answer.data(),
                     (e.pgn & 0xFF) + 9);
          self->SendSoftwareIdentification();
        }
      });
  self = &stack;
  stack.Start();
  clock.Advance(250);
  stack.Tick();

  CanFrame frame;
  for (std::size_t offset = 0; offset + 14 <= size; offset += 14) {
    const std::uint8_t* r = data + offset;
    clock.Advance(static_cast<std::int64_t>(r[0]) * 10);
    stack.Tick();
    CanFrame f;
    f.id = (static_cast<std::uint32_t>(r[1]) << 24 | static_cast<std::uint32_t>(r[2]) << 16 |
            static_cast<std::uint32_t>(r[3]) << 8 | r[4]) &
           kCanExtendedIdMask;
    f.length = r[5];
    for (int i = 0; i < 8; ++i) f.data[i] = r[6 + i];
    // The bus refuses a length code above 8; a driver might not, so the stack gets it directly.
    if (f.length > kCanMaxLength)
      stack.Receive(f);
    else
      others.Write(otherHandle, f);
    while (ours.Read(ourHandle, frame) == CanStatus::Ok) stack.Receive(frame);
    while (others.Read(otherHandle, frame) == CanStatus::Ok) {
    }
  }
  // Let every session run out its timers.
  for (int i = 0; i < 200; ++i) {
    clock.Advance(50);
    stack.Tick();
    while (others.Read(otherHandle, frame) == CanStatus::Ok) {
    }
  }
  stack.Stop();
  return 0;
}
