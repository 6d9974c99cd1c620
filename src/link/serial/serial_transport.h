#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "link/link_transport.h"
#include "link/protocol/prompts.h"
#include "link/serial/receiver_port_config.h"
#include "link/serial/serial_line.h"
#include "link/serial/serial_port_access.h"

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

// The serial transport: a port of the serial access layer, a reader thread that lets the line
// settle after the open, takes over the receiver's port when asked (and gives it back at the
// close), reports the link up and then hands every read to the link. Sends come from the link's
// thread; every frame is followed by two NUL bytes and waits for the transmit buffer to drain.
//
// Threading: the reader calls the events (and shows the take-over's failure messages through
// `prompts`) from its own thread; nothing once a stop is requested. Close, Abandon and
// destruction wait for the reader to end, so they must not be called from inside such a message.
// A device that hangs up while the link is up is reported down once; the reader then ends and
// the port stays open (hung up) until Close or Abandon.
class CSerialTransport final : public ILinkTransport {
 public:
  // `events`, `prompts`, `clock` and `callLock` must outlive the transport.
  CSerialTransport(ITransportEvents& events, IPrompts& prompts, const IClock& clock,
                   CSerialCallLock& callLock);
  ~CSerialTransport() override;
  CSerialTransport(const CSerialTransport&) = delete;
  CSerialTransport& operator=(const CSerialTransport&) = delete;

  // Stores the settings and returns whether they are usable: baud 2400, 4800, 9600, 19200 or
  // 38400; parity 'N', 'O' or 'E'; 7 or 8 data bits; 1 or 2 stop bits.
  bool SetParams(std::uint32_t baud, char parity, std::uint32_t dataBits, std::uint32_t stopBits);

  // `number` is the port slot. With `autoConfigure` the port opens at 9600 8N1 and the reader
  // takes over the receiver's port before the link is up; a `reopen` with it skips the settle
  // phase (the take-over's break resets the line).
  bool Open(int number, bool autoConfigure, bool reopen) override;
  // Ends the reader, gives the receiver's port back when it was taken over and closes the port;
  // false when the port was not open or did not close.
  bool Close() override;
  void Abandon() override;
  bool SendFrame(const KavoPacket& packet, std::uint8_t withChecksum) override;
  bool SendRaw(const std::uint8_t* bytes, std::size_t count) override;

  // Receiver port set-up; all but RestoreReceiverPort run on the reader thread (tests call them
  // on a port opened through Port()).
  bool ConfigureReceiverPort(int port);
  bool ReadReceiverPortReport();
  // The answered baud rate, -1 for an answer with an unsupported rate, 0 when none came.
  int WaitHighSpeedAnswer();
  // Sends the 0xBC packet that puts the receiver's port back as reported; false when the report
  // has a value without a code (nothing is sent then) or the send failed.
  bool RestoreReceiverPort();
  bool WaitForText(const char* text);

  std::uint32_t HighSpeedActive() const { return portReport.valid; }
  const ReceiverPortReport& PortReport() const { return portReport; }
  SerialPortAccess& Port() { return serialPort; }
  // Only while no reader runs.
  void SetTiming(const CommLinkTiming& newTiming) { timing = newTiming; }
  // For tests, while no reader runs: the transport works on `testLine` instead of its port and
  // keeps time by `testClock`; a wait with a limit calls `passTime` (which moves that clock) at
  // once instead of sleeping. A wait for the next byte without a limit still blocks until one
  // comes or a stop. Both must outlive the transport.
  void UseLineForTest(ISerialLine& testLine, const IClock& testClock, std::function<void(int ms)> passTime);

 private:
  enum class WaitResult { Readable, TimedOut, Stopped, LineDown };

  // The serial layer's result of opening the port: negative on failure.
  int OpenPortForLink(int port, bool autoConfigure);
  // Ends a reader thread left from an earlier link and, with `closePort`, its port.
  void StopReader(bool closePort);
  void ReaderThread();
  bool SettlePhase();
  void ReadLoop();
  void LoseLine();
  void FailFromReader();
  bool Send(const std::uint8_t* bytes, int count, int trailingNuls);

  bool StopRequested() const { return stopRequested.load() != 0; }
  void RequestStop();
  // Sleeps `ms` unless a stop is requested first; false when stopped.
  bool Pause(int ms);
  // Waits until the port has a byte to read, the stop request or `ms` (negative: no limit).
  WaitResult WaitForByte(int ms);
  // After a read that found nothing: waits up to one tick and adds the ms waited to `idleMs`.
  // False when stopped.
  bool IdleWait(int tickMs, std::int64_t& idleMs);

  ITransportEvents& events;
  IPrompts& prompts;
  SerialPortAccess serialPort;
  ISerialLine* line;  // the port, or a test's line
  const IClock* clock;
  std::function<void(int ms)> passTime;  // tests only
  std::uint32_t baudRate = 0;
  char parity = 'N';
  std::uint32_t dataBits = 8;
  std::uint32_t stopBits = 1;
  std::uint8_t serialValid = 0;
  std::thread worker;
  std::atomic<std::uint32_t> stopRequested{0};
  int stopEvent = -1;  // eventfd: wakes the reader's waits when a stop is requested

  // Read by the reader thread; set at each open.
  bool openAutoConfigure = false;
  bool openSkipsSettle = false;  // a reopen after a loss
  int openPort = 0;

  // Written by the reader thread during the port set-up, read by the link's thread only after
  // the reader ended (Close joins it first).
  ReceiverPortReport portReport;
  // The receiver's settings before the last take-over and the rate it was switched to: a receiver
  // that reports exactly that rate (it kept what we set when the line went) still owes the
  // earlier settings to the close.
  ReceiverPortReport reportBeforeSwitch;
  int switchedRate = 0;

  CommLinkTiming timing;
};
