#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/link_services.h"
#include "link/link_transport.h"
#include "link/protocol/prompts.h"

class CCANInterface;
class ICanDeviceSelector;
class ICanDriver;
struct CanBusSettings;
struct CanLinkParts;
struct CanLinkTiming;

// The CAN transport: a connect thread that searches the bus for receivers and lets the selector
// choose one, then KAVO packets both ways in command-0x08 bodies of the J1939 stack
// (CCANInterface). Received packets reach the link on the CAN reader thread; a send the J1939
// transport aborted is counted and told as a notice. The link stays up when sends abort: whether
// the receiver is still there is the watchdog's to decide.
class CCanTransport final : public ILinkTransport {
 public:
  // `events`, `prompts` and `services` must outlive the transport.
  CCanTransport(ITransportEvents& events, IPrompts& prompts, const LinkServices& services);
  ~CCanTransport() override;
  CCanTransport(const CCanTransport&) = delete;
  CCanTransport& operator=(const CCanTransport&) = delete;

  // Valid for a bus speed index 0..3, a destination address 1..254 and an instance number 1..255;
  // an open fails otherwise.
  void SetParams(std::uint32_t destinationAddress, std::uint32_t instanceNumber, std::uint32_t busSpeedIndex);
  // The adapter, who chooses among the receivers found (null: the first one; it must outlive the
  // transport) and, for tests, a driver factory (null: Qt SerialBus on the services' CAN thread)
  // and shorter search waits. Used from the next open on.
  void SetBus(const CanBusSettings& settings, ICanDeviceSelector* selector);
  void SetDriverFactory(std::function<std::unique_ptr<ICanDriver>()> factory);
  void SetTiming(const CanLinkTiming& timing);
  // The CAN interface of the open (or last) CAN link; null before the first.
  CCANInterface* Interface() const { return canInterface; }
  // Sends the J1939 transport aborted since the transport was made.
  std::uint64_t SendsAborted() const { return sendsAborted.load(); }

  // `number` is the CAN channel; the result comes from the connect thread.
  bool Open(int number, bool autoConfigure, bool reopen) override;
  // Ends a search or a connection in progress and closes the CAN interface.
  bool Close() override;
  void Abandon() override;
  bool SendFrame(const KavoPacket& packet, std::uint8_t withChecksum) override;
  // The id is taken from the frame's second byte.
  bool SendRaw(const std::uint8_t* bytes, std::size_t count) override;

 private:
  CanLinkParts& Parts();
  void ConnectThread();
  void OnPacket();
  void OnSendAborted(std::uint8_t address, const std::string& reason);
  bool Send(const std::uint8_t* body, std::size_t length);

  ITransportEvents& events;
  IPrompts& prompts;
  LinkServices services;
  CCANInterface* canInterface = nullptr;
  CanLinkParts* parts = nullptr;  // created with the first setting or open
  std::uint32_t destinationAddress = 0;
  std::uint32_t instanceNumber = 0;
  std::uint32_t busSpeed = 0;
  std::uint8_t valid = 0;
  std::atomic<std::uint64_t> sendsAborted{0};
};
