#include "can_transport.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "link/can/qt_can_driver.h"
#include "link/j1939/j1939_name.h"
#include "link/j1939/kavo_can_body.h"
#include "link/j1939/software_identification.h"
#include "trace_format.h"

namespace {

// The receiver's NAME: an identity number of its own (the address and the process id, so that two
// simulators differ even on the same address and the lower NAME wins it), the program's
// manufacturer and function, free to move when it loses its claim. Never the program's 40 10.
J1939Name ReceiverName(int address) {
  J1939NameFields fields;
  fields.identityNumber =
      ((static_cast<std::uint32_t>(::getpid()) & 0x1FFFu) << 8) | static_cast<std::uint32_t>(address);
  if ((fields.identityNumber & 0xFFFFu) == 0x1040u) fields.identityNumber ^= 0x100u;
  fields.manufacturerCode = 69;
  fields.function = 28;
  fields.arbitraryAddressCapable = true;
  return MakeJ1939Name(fields);
}

}  // namespace

CSimCanTransport::CSimCanTransport(const SimOptions& opts, const IClock& clk) : options(opts), clock(clk) {}

CSimCanTransport::~CSimCanTransport() {
  if (driver && handle >= 0) {
    driver->BusOff(handle);
    driver->Close(handle);
  }
  stack.reset();
  driver.reset();
  if (trace) std::fclose(trace);
}

bool CSimCanTransport::Start(std::string& error) {
  if (!options.tracePath.empty()) {
    trace = std::fopen(options.tracePath.c_str(), "w");
    if (!trace) {
      error = "cannot write " + options.tracePath + ": " + std::strerror(errno);
      return false;
    }
  }
  const std::size_t colon = options.canBus.find(':');
  CanBusSettings settings;
  settings.plugin = options.canBus.substr(0, colon);
  settings.interfaces[0] = options.canBus.substr(colon + 1);
  driver = std::make_unique<CQtCanDriver>(settings, canThread);
  driver->Initialize();
  const CanStatus status = OpenCanChannel(*driver, 0, CanBitRate::k250K, handle);
  if (status != CanStatus::Ok) {
    const std::string detail = static_cast<CQtCanDriver&>(*driver).DeviceError(0);
    error = "cannot go on CAN bus " + options.canBus + ": " + driver->ErrorText(status) +
            (detail.empty() ? "" : " (" + detail + ")");
    handle = -1;
    return false;
  }

  J1939StackConfig config;
  config.name = ReceiverName(options.canAddress);
  config.preferredAddress = static_cast<std::uint8_t>(options.canAddress);
  // The receiver's streams and answers may come in bursts: let them wait for their turn.
  config.transport.maxPending = 512;
  SoftwareIdentification identity;
  identity.qrxFirst = 1;
  identity.hasVersion = true;
  identity.versionMajor = 1;
  identity.month = 12;
  identity.day = 9;
  identity.year = 26;
  identity.capabilities = kCapabilityJ1939 | kCapabilityKvcan;
  identity.plusMarks = kCapabilityJ1939 | kCapabilityKvcan;
  identity.hasName = true;
  identity.name = config.name;
  config.softwareIdentification = FormatSoftwareIdentification(identity);
  stack = std::make_unique<CJ1939Stack>(
      config, clock, [this](const CanFrame& frame) { return driver->Write(handle, frame) == CanStatus::Ok; },
      [this](const J1939Event& event) { OnEvent(event); });
  model = std::make_unique<CReceiverModel>(options.receiver, clock, static_cast<IReceiverHost&>(*this));
  Trace("START can " + options.canBus + " " + std::to_string(options.canAddress));
  stack->Start();
  return true;
}

int CSimCanTransport::Run(int stopFd) {
  std::int64_t nextTick = clock.NowMs();
  const auto receive = [this](const CanFrame& frame) { stack->Receive(frame); };
  for (;;) {
    pollfd stop{stopFd, POLLIN, 0};
    if (::poll(&stop, 1, 0) > 0) break;
    std::int64_t now = clock.NowMs();
    if (now >= nextTick) {
      stack->Tick();
      nextTick = now + kJ1939TickMs;
    }
    model->Tick();
    now = clock.NowMs();
    const std::int64_t wait =
        std::clamp<std::int64_t>(std::min(nextTick, model->NextDueMs()) - now, 0, kJ1939TickMs);
    const CanStatus waited = driver->WaitForEvent(handle, static_cast<int>(wait));
    if (waited == CanStatus::Ok) {
      CanStatus status = CanStatus::Ok;
      DrainCanFrames(*driver, handle, 256, receive, status);
    } else if (waited != CanStatus::Timeout) {
      ::poll(&stop, 1, static_cast<int>(wait));  // a broken channel answers at once: do not spin
    }
  }
  Trace("STOP");
  return 0;
}

// Inside the stack's Receive or Tick.
void CSimCanTransport::OnEvent(const J1939Event& event) {
  switch (event.code) {
    case J1939EventCode::AddressClaimed:
      Trace("CLAIMED " + std::to_string(event.parameter));
      stack->SendRequest(kPgnSoftwareIdentification, kJ1939GlobalAddress);
      return;
    case J1939EventCode::CannotClaimAddress:
      Trace("CANNOT-CLAIM");
      return;
    case J1939EventCode::Request:
      if (event.pgn == kPgnSoftwareIdentification) stack->SendSoftwareIdentification();
      return;
    case J1939EventCode::KavoPacket: {
      if (program != event.address) Trace("PROGRAM " + std::to_string(event.address));
      program = event.address;
      std::uint8_t frame[kKavoCanMaxReceivedStuffed + 4];
      const std::size_t length = KavoFrameFromCanBody(event.body, event.length, frame, sizeof frame);
      if (length > 0) model->FeedBytes(frame, length);
      return;
    }
    case J1939EventCode::Echo: {
      if (event.parameter != 1) return;
      if (program != event.address) Trace("PROGRAM " + std::to_string(event.address));
      program = event.address;
      const std::uint8_t body[4] = {kKavoCanCommandEcho, 0, event.body[2], event.body[3]};
      stack->Send(kPgnProprietaryA, event.address, body, sizeof body);
      return;
    }
    default:
      return;
  }
}

void CSimCanTransport::SendPacket(const KavoPacket& packet, int withChecksum) {
  std::uint8_t body[kKavoMaxFrame];
  const std::size_t length = BuildKavoCanBody(packet, withChecksum, body, sizeof body);
  J1939SendResult result = J1939SendResult::NotClaimed;
  if (program >= 0 && length > 0)
    result = stack->Send(kPgnProprietaryA, static_cast<std::uint8_t>(program), body, length);
  const bool sent = result == J1939SendResult::Sent || result == J1939SendResult::Started;
  // Traced as the other transports do: the payload as sent, checksum included, unstuffed.
  Trace(FormatSentPacketLine(sent ? "TX" : "TX-DROPPED", packet, withChecksum));
}

// The port auto-configuration never runs on CAN: there is no serial line to set up.
void CSimCanTransport::SendText(std::string_view text) {
  Trace("TX-TEXT " + QuoteText(text) + " not sent");
}

void CSimCanTransport::Trace(std::string_view line) {
  if (!trace) return;
  std::fwrite(line.data(), 1, line.size(), trace);
  std::fputc('\n', trace);
  std::fflush(trace);
}
