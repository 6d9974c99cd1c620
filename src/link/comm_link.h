#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/link_owner.h"
#include "link/link_services.h"
#include "link/link_transport.h"
#include "link/link_type.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"
#include "link/protocol/prompts.h"
#include "link/relay_options.h"
#include "link/serial/receiver_port_config.h"
#include "link/serial/serial_port_access.h"
#include "link/serial/serial_transport.h"

class CCANInterface;
class CCanTransport;
class CNetworkTransport;
class CServerSocket;
class ICanDeviceSelector;
class ICanDriver;
struct CanBusSettings;
struct CanLinkTiming;

// The one link object of the program: a façade over three transports (serial/, network/, can/),
// each behind ILinkTransport; the link type picks the transport. It owns the packet parser, the
// transports and the relay server, which listens beside any open link while it is enabled.
//
// Threading: the public members are called from one (the UI) thread. An open serial link runs a
// reader thread that reads the port, feeds the parser (which calls owner.PostLinkPacket) and
// reports the outcome of the open with owner.PostLinkStatus; it also runs the receiver port
// set-up and shows that set-up's failure messages through `prompts` from the reader thread,
// before the failure status. Close, Open and destruction wait for the reader to end, so the owner
// must not call them from inside such a message (a nested event loop); the reader shows nothing
// once a stop is requested, and no status is posted then either. The network sockets work on the
// thread that created the link, which must run a Qt event loop: they feed the parser and post
// the link status from there. A link that was up and loses its server is reported down (1), and
// so, once, is a serial link whose device hangs up (its reader then ends; Close or the next Open
// closes the port).
class CCommLink final : private ITransportEvents {
 public:
  // `owner` may be null (nothing is posted); `owner`, `prompts` and `services` must outlive the
  // link.
  CCommLink(ILinkOwner* owner, IPrompts& prompts, const LinkServices& services);
  ~CCommLink() override;
  CCommLink(const CCommLink&) = delete;
  CCommLink& operator=(const CCommLink&) = delete;

  // Stores the serial settings and returns whether they are usable: baud 2400, 4800, 9600,
  // 19200 or 38400; parity 'N', 'O' or 'E'; 7 or 8 data bits; 1 or 2 stop bits.
  bool SetSerialParams(std::uint32_t baud, char parity, std::uint32_t dataBits, std::uint32_t stopBits);
  // Store the settings of the CAN and network branches. The CAN settings are valid for a bus speed
  // index 0..3, a destination address 1..254 and an instance number 1..255; a CAN open fails
  // otherwise. Returns true either way.
  bool SetCanParams(std::uint32_t destinationAddress, std::uint32_t instanceNumber,
                    std::uint32_t busSpeedIndex);
  // The network client's target (a name or a numeric address); false for an empty address or a
  // port outside 1..65535, and a network open then fails.
  bool SetServer(const std::string& address, std::uint32_t port);
  // The relay server's switch and listening port; it listens while a link is open.
  void SetRelayServer(std::uint8_t enabled, std::uint32_t port);
  // How the relay meets a shared network (from the next Open), and where its "* " lines for the
  // log go: a client refused or dropped, a port that could not be opened. UI thread.
  void SetRelayOptions(const RelayOptions& options, std::function<void(const std::string&)> onEvent);

  // The CAN adapter (plugin and interfaces), who chooses among the receivers found (null: the
  // first one; it must outlive the link) and, for tests, a driver factory (null: Qt SerialBus)
  // and shorter search waits. Used from the next CAN open on. UI thread. In comm_link_can.cpp.
  void SetCanBus(const CanBusSettings& settings, ICanDeviceSelector* selector);
  void SetCanDriverFactory(std::function<std::unique_ptr<ICanDriver>()> factory);
  void SetCanTiming(const CanLinkTiming& timing);
  // The CAN interface of the open (or last) CAN link; null before the first.
  CCANInterface* CanInterface() const;

  // Where the link's "* " lines about itself go (a CAN send the transport aborted, without the
  // line end), called on the link's thread. UI thread.
  void SetNoticeHandler(std::function<void(const std::string&)> onNotice);

  // Opens a link of `linkType`; the outcome arrives as a link status. On a link that is up it
  // only marks the link closed and posts status 1. Serial links with `autoConfigure` take over
  // the receiver's port at high speed before the link is reported up.
  void Open(LinkType linkType, bool autoConfigure);
  // Opens the same link again after it was lost. A serial link with `autoConfigure` goes straight
  // to the port take-over, without the settle phase: the break brings the receiver's port to a
  // known state whether it kept the high speed of the lost link or went back to its own settings,
  // and the settings from before the first take-over stay the ones a close puts back.
  void Reopen(LinkType linkType, bool autoConfigure);
  // Closes the link; false when it was not up (then only the link type is reset) or when the
  // serial port did not close.
  bool Close(LinkType linkType);
  bool IsConnected(LinkType linkType = LinkType::None) const;
  // Frames the packet (with the checksum trailer when `withChecksum` is 1) and sends it; serial
  // frames are followed by two NUL bytes and the call returns once the transmit buffer drained.
  // True once handed to the transport, whatever the transport said; false for a closed link type.
  bool SendPacket(LinkType linkType, const KavoPacket* packet, std::uint8_t withChecksum);
  // Sends bytes that are framed already; serial: no trailing NULs; network: as one type-1
  // message, the only thing the far end takes.
  bool SendRaw(LinkType linkType, const std::uint8_t* bytes, int count);
  // Hands a packet taken from the parser to every relay client, framed again without checksum
  // (a checksum that came with it is still in the payload). Nothing without a listening relay.
  void RelayPacket(const KavoPacket& packet);
  // Replaces the contents of `batch` with the packets received since the last take.
  std::size_t TakePackets(CPacketBatch& batch) { return parser->TakePackets(batch); }

  // Receiver port set-up; all but RestoreReceiverPort run on the reader thread of an open
  // serial link (tests call them on a port opened through SerialPort()).
  bool ConfigureReceiverPort(int port);
  bool ReadReceiverPortReport();
  // The answered baud rate, -1 for an answer with an unsupported rate, 0 when none came.
  int WaitHighSpeedAnswer();
  // Sends the 0xBC packet that puts the receiver's port back as reported; false when the report
  // has a value without a code (nothing is sent then) or the send failed.
  bool RestoreReceiverPort();
  bool WaitForText(const char* text);

  LinkType CurrentLinkType() const { return linkType.load(); }
  // Sends the CAN transport aborted (time-out, abort from the receiver) since the link was made.
  std::uint64_t CanSendsAborted() const;
  // 1 after the receiver's port was taken over; closing the serial link then restores it.
  std::uint32_t HighSpeedActive() const;
  const ReceiverPortReport& PortReport() const;
  CKavoParser& Parser() { return *parser; }
  SerialPortAccess& SerialPort();
  // The relay server, for diagnostics and tests (its port, its clients, clients dropped).
  const CServerSocket& Relay() const { return *relay; }
  // Only while no serial link is open.
  void SetTiming(const CommLinkTiming& newTiming);
  // For tests, while no serial link is open: serial links run on `line` with their waits passed
  // on a fake clock (see CSerialTransport::UseLineForTest).
  void UseSerialLineForTest(ISerialLine& line, const IClock& clock, std::function<void(int ms)> passTime);

 private:
  // The transport of `type`; null for none.
  ILinkTransport* TransportFor(LinkType type) const;
  // Ends whatever any transport left running.
  void AbandonAll();
  void MarkClosed();
  void CloseRelay();
  void PostStatus(int wParam);
  void StartRelay();
  void OpenAny(LinkType type, bool autoConfigure, bool reopen);
  // Runs `call` on the link's thread after the current call has returned; dropped when the link
  // is gone by then.
  void PostToLinkThread(std::function<void()> call);
  void OnRelayClientFrame(const std::uint8_t* bytes, std::size_t count);

  // ITransportEvents
  void TransportUp() override;
  void TransportDown() override;
  void TransportBytes(const std::uint8_t* bytes, std::size_t count) override;
  void TransportNotice(const std::string& line) override;
  bool LinkUp() const override { return connected.load() != 0; }
  bool IsCurrent(const ILinkTransport& transport) const override;

  CKavoParser* parser = nullptr;
  std::atomic<std::uint8_t> connected{0};
  std::atomic<LinkType> linkType{LinkType::None};
  ILinkOwner* owner;
  IPrompts& prompts;
  LinkServices services;

  std::function<void(const std::string&)> noticeHandler;
  // Counts Open and Close calls.
  std::atomic<std::uint64_t> openGeneration{0};

  std::uint8_t relayEnabled = 0;
  std::uint32_t relayPort = 30000;
  std::atomic<std::uint8_t> relayForward{1};
  CServerSocket* relay = nullptr;
  // Counts relay starts, so that a close queued by a reader thread for an earlier link leaves a
  // relay started since alone.
  std::atomic<std::uint64_t> relayGeneration{0};

  std::unique_ptr<CSerialTransport> serial;
  std::unique_ptr<CNetworkTransport> network;
  std::unique_ptr<CCanTransport> can;
};
