#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "link/link_owner.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"
#include "link/protocol/prompts.h"
#include "link/receiver_port_config.h"
#include "link/relay_options.h"
#include "link/serial_port_access.h"

class CCANInterface;
class ICanDeviceSelector;
class ICanDriver;
struct CanBusSettings;
struct CanLinkParts;
struct CanLinkTiming;
class CPlowviewSocket;
class CServerSocket;

// Link type numbers: which transport a link uses.
inline constexpr int kLinkSerialFirst = 0;  // 0..8: serial port slot COM1..COM9
inline constexpr int kLinkSerialLast = 8;
inline constexpr int kLinkCan0 = 9;
inline constexpr int kLinkCan1 = 10;
inline constexpr int kLinkNetwork = 11;
inline constexpr int kLinkNone = 12;

// The number a link type hands to its transport: the serial slot, the CAN channel, 0 for network.
int TransportNumber(int linkType);

// Waits of the serial link and of the receiver port set-up, in milliseconds. Production uses the
// defaults; tests may shorten them. The counts that go with them (60 settle passes, 300 empty
// polls, 2,000 passes, 150 report bytes) are fixed.
struct CommLinkTiming {
  int settlePassMs = 100;     // one pass of the settle phase after open
  int settleConfirmMs = 100;  // between the two bytes that end the settle phase
  int settleQuietMs = 500;    // after the settle phase saw traffic
  int readIdleMs = 2;         // read loop: a read found nothing
  int lineDownRetryMs = 100;  // read loop: the device hung up
  int rxIdleMs = 10;          // before the read loop, while nothing came yet
  int txDrainMs = 10;         // send: while the transmit buffer drains
  int textPollMs = 10;        // port set-up: a read found nothing
  int reportRetryMs = 20;     // port report: a read found nothing
  int breakMs = 500;
  int afterReportMs = 200;
  int afterSwitchMs = 100;

  // Every wait divided by `divisor` (at least 1 ms each), for tests of the time-outs.
  CommLinkTiming Scaled(int divisor) const;
};

// The one link object of the program: a single class that dispatches every operation on the link
// type number (see the constants above). It owns the packet parser, the serial port and, in their
// branches, the CAN interface and the network sockets (the client link of type 11 and the relay
// server, which listens beside any open link while it is enabled).
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
class CCommLink {
 public:
  // `owner` may be null (nothing is posted); `owner` and `prompts` must outlive the link.
  CCommLink(ILinkOwner* owner, IPrompts& prompts);
  virtual ~CCommLink();
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
  CCANInterface* CanInterface() const { return canInterface; }

  // Where the link's "* " lines about itself go (a CAN send the transport aborted, without the
  // line end), called on the link's thread. UI thread.
  void SetNoticeHandler(std::function<void(const std::string&)> onNotice);

  // Opens a link of `linkType`; the outcome arrives as a link status. On a link that is up it
  // only marks the link closed and posts status 1. Serial links with `autoConfigure` take over
  // the receiver's port at high speed before the link is reported up.
  void Open(int linkType, bool autoConfigure);
  // Opens the same link again after it was lost. A serial link with `autoConfigure` goes straight
  // to the port take-over, without the settle phase: the break brings the receiver's port to a
  // known state whether it kept the high speed of the lost link or went back to its own settings,
  // and the settings from before the first take-over stay the ones a close puts back.
  void Reopen(int linkType, bool autoConfigure);
  // Closes the link; false when it was not up (then only the link type is reset) or when the
  // serial port did not close.
  bool Close(int linkType);
  bool IsConnected(int linkType = kLinkNone) const;
  // Frames the packet (with the checksum trailer when `withChecksum` is 1) and sends it; serial
  // frames are followed by two NUL bytes and the call returns once the transmit buffer drained.
  // True once handed to the transport, whatever the transport said; false for a closed link type.
  bool SendPacket(int linkType, const KavoPacket* packet, std::uint8_t withChecksum);
  // Sends bytes that are framed already; serial: no trailing NULs; network: as one type-1
  // message, the only thing the far end takes.
  bool SendRaw(int linkType, const std::uint8_t* bytes, int count);
  // Hands a packet taken from the parser to every relay client, framed again without checksum
  // (a checksum that came with it is still in the payload). Nothing without a listening relay.
  void RelayPacket(const KavoPacket& packet);

  // Receiver port set-up; all but RestoreReceiverPort run on the reader thread of an open
  // serial link (tests call them on a port opened through SerialPort()).
  bool ConfigureReceiverPort(int linkType);
  bool ReadReceiverPortReport();
  // The answered baud rate, -1 for an answer with an unsupported rate, 0 when none came.
  int WaitHighSpeedAnswer();
  // Sends the 0xBC packet that puts the receiver's port back as reported; false when the report
  // has a value without a code (nothing is sent then) or the send failed.
  bool RestoreReceiverPort();
  bool WaitForText(const char* text);

  int LinkType() const { return linkType.load(); }
  // Sends the CAN transport aborted (time-out, abort from the receiver) since the link was made.
  std::uint64_t CanSendsAborted() const;
  // 1 after the receiver's port was taken over; closing the serial link then restores it.
  std::uint32_t HighSpeedActive() const { return portReport.valid; }
  const ReceiverPortReport& PortReport() const { return portReport; }
  CKavoParser& Parser() { return *parser; }
  SerialPortAccess& SerialPort() { return serialPort; }
  // The relay server, for diagnostics and tests (its port, its clients, clients dropped).
  const CServerSocket& Relay() const { return *relay; }
  // Only while no serial link is open.
  void SetTiming(const CommLinkTiming& newTiming) { timing = newTiming; }

 private:
  enum class WaitResult { Readable, TimedOut, Stopped, LineDown };

  // The CAN branch (comm_link_can.cpp).
  CanLinkParts& Can();
  bool OpenCan(int channel);
  // Ends a search or a connection in progress and closes the CAN interface.
  void CloseCan();
  void DestroyCan();
  void CanConnectThread();
  void OnCanPacket();
  // On the CAN reader or tick thread: counted there, told on the link's thread.
  void OnCanSendAborted(std::uint8_t address, const std::string& reason);
  bool CanSend(const std::uint8_t* body, std::size_t length);

  bool OpenSerial(int port, bool autoConfigure);
  bool CloseSerial();
  // The serial layer's result of opening the port: negative on failure.
  int OpenPortForLink(int port, bool autoConfigure);
  // Ends a reader thread left from an earlier serial link and, with `closePort`, its port.
  void StopSerialReader(bool closePort);
  void ReaderThread();
  bool SettlePhase();
  void ReadLoop();
  void LoseLine();
  void FailFromReader();
  void MarkClosed();
  void CloseRelay();
  void PostStatus(int wParam);
  bool SerialSend(const std::uint8_t* bytes, int count, int trailingNuls);
  bool OpenNetwork();
  void StartRelay();
  void OpenAny(int type, bool autoConfigure);
  // Runs `call` on the link's thread after the current call has returned; dropped when the link
  // is gone by then.
  void PostToLinkThread(std::function<void()> call);
  void OnNetworkConnect(bool up);
  void OnNetworkClosed();
  void OnRelayClientFrame(const std::uint8_t* bytes, std::size_t count);

  bool StopRequested() const { return stopRequested.load() != 0; }
  void RequestStop();
  // Sleeps `ms` unless a stop is requested first; false when stopped.
  bool Pause(int ms);
  // Waits until the port has a byte to read, the stop request or `ms` (negative: no limit).
  WaitResult WaitForByte(int ms);
  // After a read that found nothing: waits up to one tick and adds the ms waited to `idleMs`.
  // False when stopped.
  bool IdleWait(int tickMs, std::int64_t& idleMs);

  CKavoParser* parser = nullptr;
  CCANInterface* canInterface = nullptr;  // the CAN branch comes with its transport
  std::atomic<std::uint8_t> connected{0};
  std::atomic<std::int32_t> linkType{kLinkNone};
  ILinkOwner* owner;
  IPrompts& prompts;
  SerialPortAccess serialPort;
  std::uint32_t baudRate = 0;
  char parity = 'N';
  std::uint32_t dataBits = 8;
  std::uint32_t stopBits = 1;
  std::uint8_t serialValid = 0;
  std::thread worker;
  std::atomic<std::uint32_t> stopRequested{0};
  int stopEvent = -1;  // eventfd: wakes the reader's waits when a stop is requested

  // Read by the reader thread; set at each serial open.
  bool openAutoConfigure = false;
  bool openSkipsSettle = false;  // a reopen after a loss
  int openPort = 0;

  // Written by the reader thread during the port set-up, read by the UI thread only after the
  // reader ended (CloseSerial joins it first).
  ReceiverPortReport portReport;
  // The receiver's settings before the last take-over and the rate it was switched to: a receiver
  // that reports exactly that rate (it kept what we set when the line went) still owes the
  // earlier settings to the close.
  ReceiverPortReport reportBeforeSwitch;
  int switchedRate = 0;

  std::function<void(const std::string&)> noticeHandler;
  std::atomic<std::uint64_t> canSendsAborted{0};
  // Counts Open and Close calls, so a message queued for an earlier attempt is dropped.
  std::atomic<std::uint64_t> openGeneration{0};

  std::uint32_t canDestinationAddress = 0;
  std::uint32_t canInstanceNumber = 0;
  std::uint32_t canBusSpeed = 0;
  std::uint8_t canValid = 0;
  CanLinkParts* can = nullptr;  // created with the first CAN setting or open

  CPlowviewSocket* client = nullptr;
  std::string serverAddress;
  std::uint32_t serverPort = 30000;
  std::uint8_t serverSet = 0;
  std::uint8_t relayEnabled = 0;
  std::uint32_t relayPort = 30000;
  std::atomic<std::uint8_t> relayForward{1};
  CServerSocket* relay = nullptr;
  // Counts relay starts, so that a close queued by the reader thread for an earlier link leaves
  // a relay started since alone.
  std::atomic<std::uint64_t> relayGeneration{0};

  CommLinkTiming timing;
};
