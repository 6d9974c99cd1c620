#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "link/protocol/clock.h"
#include "link/serial/comm_error.h"
#include "link/serial/debug_file.h"
#include "link/serial/serial_call_lock.h"
#include "link/serial/serial_line.h"
#include "link/serial/serial_port_map.h"

// The one way the program touches a serial port: a POSIX termios device opened raw and
// non-blocking, with the port's events recorded in a debug capture (CDebugFile) while logging
// is on. Ports are numbered by slot, 0 = COM1 ... 8 = COM9, each mapped to a device path by a
// CSerialPortMap; every log text names the port as "COM" and the slot plus one.
//
// Results: 0 or positive is success or the value asked for; negative is a code of comm_error.h
// (kCommNotOpen for any call on a closed port, with nothing logged). With logging on, each
// operation writes its success or error text to the capture after the port call; bytes moved
// are logged as bytes. kCommNoCharAvailable is never logged.
//
// Threading: any member may be called from any thread (the serial reader thread and the main
// thread share one object). Every device call runs under a call lock shared by the objects
// given the same CSerialCallLock (the program gives all of its ports one); waits (the timed operations,
// WaitReadable) poll with that lock released, so one thread's timed read never stalls another's write. Close
// from one thread ends another's wait at once (kCommClosedWhileWaiting).
class SerialPortAccess final : public ISerialLine {
 public:
  // Line status bits returned by GetLineStatus (the 8250 line status register layout).
  static constexpr int kLineOverrunError = 0x02;
  static constexpr int kLineParityError = 0x04;
  static constexpr int kLineFramingError = 0x08;
  static constexpr int kLineBreakDetected = 0x10;
  // Modem status bits returned by GetModemStatus (the 8250 modem status register layout).
  static constexpr int kModemCtsSet = 0x10;
  static constexpr int kModemDsrSet = 0x20;
  static constexpr int kModemRiSet = 0x40;
  static constexpr int kModemCdSet = 0x80;
  // The size assumed for the driver's receive and transmit buffers in the space queries.
  static constexpr int kRxBufferSize = 4096;
  static constexpr int kTxBufferSize = 4096;
  // For ReadString/WriteString: no termination sequence.
  static constexpr int kNoTermination = -1;

  // Slots map to the devices found on this machine (CSerialPortMap::Detected()).
  SerialPortAccess();
  // `clock` stamps the capture lines and `callLock` serialises the device calls with the other
  // ports given it; both must outlive this object. Null: a steady clock and a lock of its own.
  explicit SerialPortAccess(const CSerialPortMap& map, const IClock* clock = nullptr,
                            CSerialCallLock* callLock = nullptr);
  // Closes the port if open, then stops logging.
  ~SerialPortAccess() override;
  SerialPortAccess(const SerialPortAccess&) = delete;
  SerialPortAccess& operator=(const SerialPortAccess&) = delete;

  // Replaces the slot map; takes effect at the next Open.
  void SetPortMap(const CSerialPortMap& map);
  CSerialPortMap PortMap() const;

  // Opens slot `port` raw with the given settings (baud 50..4000000 among the standard rates;
  // parity 'N', 'O', 'E', 'M', 'S'; 5..8 data bits; 1 or 2 stop bits). kCommAlreadyOpen at once
  // when open; kCommNoSuchPort for a slot out of range or unmapped. A pseudo-terminal always
  // runs 8 data bits without parity: there, settings that differ only in those are accepted.
  int Open(int port, int baud, char parity, int wordLength, int stopBits) override;
  // 0; also 0 when already closed (then nothing is logged).
  int Close() override;

  int SetAll(int baud, char parity, int wordLength, int stopBits) override;
  int SetBaudRate(int baud);
  int SetParity(char parity);
  int SetWordLength(int bits);
  int SetStopBits(int bits);

  // The next received byte (0..255) without waiting; kCommNoCharAvailable when none is waiting,
  // kCommHangUp when the device hung up.
  int ReadChar() override;
  // Waits up to `ms` for a byte; kCommTimeout when none came.
  int ReadCharTimed(int ms);
  // Reads up to `count` bytes that are waiting, without waiting; the number read (0 when none).
  int ReadBuffer(std::uint8_t* buffer, int count) override;
  // Waits up to `ms` for `count` bytes; the number read (fewer when the time ran out after some
  // came), kCommTimeout when none came.
  int ReadBufferTimed(std::uint8_t* buffer, int count, int ms);
  // Reads a string ending in `termination` into `buffer` (room for `count` chars including the
  // closing NUL): a byte value 0..255, or two bytes (hi << 8 | lo, e.g. 0x0D0A for CR LF) when
  // above 255, or kNoTermination. Reads byte by byte so nothing past the terminator is taken.
  // The terminator is removed; the result is the string's length. Stops early when nothing more
  // is waiting (the untimed form) or the time runs out (the timed form); then it logs that no
  // terminator was found. kCommNoCharAvailable (untimed, not logged) or kCommTimeout (timed)
  // when no byte came at all.
  int ReadString(char* buffer, int count, int termination);
  int ReadStringTimed(char* buffer, int count, int termination, int ms);

  // Queues bytes without waiting. WriteChar: 0 or kCommTxBufferFull. WriteBuffer: the number
  // the driver accepted (possibly fewer than `count`), kCommTxBufferFull when none.
  int WriteChar(std::uint8_t b) override;
  int WriteBuffer(const std::uint8_t* buffer, int count) override;
  // Waits up to `ms` until the byte(s) are queued: 0 / the number queued, kCommTimeout when
  // none could be.
  int WriteCharTimed(std::uint8_t b, int ms) override;
  int WriteBufferTimed(const std::uint8_t* buffer, int count, int ms) override;
  // Writes the NUL-terminated `text` followed by the termination bytes (see ReadString); the
  // number of bytes queued (the untimed form does not wait for room).
  int WriteString(const char* text, int termination);
  int WriteStringTimed(const char* text, int termination, int ms);

  // Holds the line in break for about `ms` (tcsendbreak; a pseudo-terminal ignores it).
  int SendBreak(int ms) override;
  // Break, framing, overrun and parity state since Open or the last ClearLineStatus, from the
  // driver's line counters (TIOCGICOUNT); kCommNotSupported where the device has none (a pty).
  int GetBreakDetect();  // 1 when a break came
  int ClearLineStatus();
  int GetLineStatus();  // kLine* bits
  int GetFramingError();
  int GetOverrunError();
  int GetParityError();

  int ClearRXBuffer() override;  // discards received bytes not yet read
  int IsRXEmpty();               // 1 empty, 0 not
  int IsRXFull();
  int RXSpaceFree();             // bytes
  int RXSpaceUsed();             // bytes waiting to be read
  int ClearTXBuffer() override;  // discards queued bytes not yet sent
  int IsTXEmpty() override;      // 1 when every queued byte left the driver, 0 not (errors are not logged)
  int IsTXFull();
  int TXSpaceFree();
  int TXSpaceUsed();

  // Line control; `control` 0 clears, anything else sets. kCommNotSupported on a pty.
  int SetRTS(int control) override;
  int SetDTR(int control);
  int GetModemStatus();  // kModem* bits
  int GetCd();           // 1 asserted, 0 not
  int GetCts();
  int GetDsr();
  // Flow control switches; `control` 0 off, else on. DTR/DSR flow control has no termios
  // equivalent: switching it on fails with kCommNotSupported.
  int SetDtrDsrFlow(int control);
  int SetRtsCtsFlow(int control);
  int SetXonXoffFlow(int control);

  // Waits up to `ms` (negative: no limit) for received bytes without taking them and without
  // logging: 1 readable, 0 time-out, kCommHangUp, kCommClosedWhileWaiting, kCommNotOpen.
  int WaitReadable(int ms);

  // Stored settings of the open port; kCommNotOpen when closed (GetParity then gives 250).
  int GetPort() const;
  int GetBaudRate() const;
  int GetParity() const;
  int GetWordLength() const;
  int GetStopBits() const;
  int GetRTS() const;
  int GetDTR() const;
  int GetDtrDsrFlow() const;
  int GetRtsCtsFlow() const;
  int GetXonXoffFlow() const;
  bool IsOpen() const override;
  // The open file descriptor, -1 when closed; no log. Do not close it. Note that a hung-up
  // terminal stays "readable" to a plain poll for ever; WaitReadable tells the hang-up apart
  // (kCommHangUp), as do the reads.
  int GetCommHandle() const override;

  // Starts the capture in `fileName` (appending): 0, also when already logging; kCommLogOpenFailed
  // when the file cannot be opened or another writer holds it.
  int StartLog(const std::string& fileName) override;
  void StopLog() override;
  bool IsLogging() const override;
  // The file the capture writes to while logging; empty when not logging.
  std::string LogFileName() const override;
  // Writes `text` as a message line while logging.
  void LogText(const std::string& text);
  // Logs into `sink` instead of a capture of our own at the next StartLog. The sink stays the
  // caller's (never deleted here) and must outlive the logging; null returns to our own. Ignored
  // while logging.
  void SetExternalSink(CDebugFile* externalSink);

 private:
  // Log writes; each is a no-op while logging is off.
  void LogF(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogSent(const std::uint8_t* bytes, int count);
  void LogReceived(const std::uint8_t* bytes, int count);

  // These expect portGuard held (shared or exclusive) and the port open.
  int Com() const { return portNumber + 1; }
  int Reconfigure(int newBaud, char newParity, int newWordLength, int newStopBits, std::uint8_t newRtsCts,
                  std::uint8_t newXonXoff);
  int ReadSome(std::uint8_t* buffer, int count);
  int WriteSome(const std::uint8_t* buffer, int count);
  int WaitFor(short events, int ms);
  int ReadTimed(std::uint8_t* buffer, int count, int ms);
  int WriteTimed(const std::uint8_t* buffer, int count, int ms);
  int ReadStringCore(char* buffer, int capacity, int termination, int ms, bool& terminated);
  int IoctlInt(unsigned long request, int& value);
  int LineFlags(int& flags);
  int ModemFlags(int& flags);
  int QueueCount(unsigned long request);
  int WriteStringCore(const char* text, int termination, int ms);
  // 0, or the code for errno after a failed call (rc < 0).
  int CallResult(int rc);

  // The port: fd -1 while closed. Open and Close hold portGuard exclusively; every other member
  // that touches the device holds it shared, so the descriptor never closes under a call.
  mutable std::shared_mutex portGuard;
  int portFd = -1;
  int wakeFd = -1;                   // eventfd that Close signals to end waits
  std::atomic<bool> closing{false};  // from the signal until the descriptor is closed
  int portNumber = -1;
  std::uint32_t baud = 9600;
  char parity = 'N';
  std::uint32_t wordLength = 8;
  std::uint32_t stopBits = 1;
  std::uint32_t rts = 0, dtr = 0;
  std::uint8_t dtrDsrFlow = 0, rtsCtsFlow = 0, xonXoffFlow = 0;
  // Line counters at Open or the last ClearLineStatus, against which the error getters compare.
  int baseFrame = 0, baseOverrun = 0, baseParity = 0, baseBreak = 0;
  // portFd, wakeFd and portNumber change only under portGuard held exclusively; the settings and
  // line baselines only under the call lock as well.

  CSerialPortMap portMap;
  CSteadyClock ownClock;
  const IClock* clock;
  std::unique_ptr<CSerialCallLock> ownCalls;
  CSerialCallLock* calls;

  // Logging state; logGuard serialises StartLog/StopLog against the log writes.
  mutable std::mutex logGuard;
  std::uint8_t logging = 0;
  std::uint8_t externalSink = 0;
  CDebugFile* sink = nullptr;
  std::unique_ptr<CDebugFile> ownSink;
  std::string logFileName;
};
