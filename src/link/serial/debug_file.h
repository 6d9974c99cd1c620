#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "link/protocol/clock.h"

// The serial debug capture: a text file with a time-stamped record of every byte sent to and
// received from a serial port and a line for every other port event. Bytes run 16 to a line,
// a new line starting whenever the direction changes or after a message:
//
//    0.512000  T 10 8E 00
//    0.530000  R 10 8F 03
//    0.531000  ! Port COM1 baud rate now set to 9600
//
// Time stamps are seconds since program start from the program clock. The file is opened for
// appending and locked against other writers (flock), so two programs never mix their captures.
// Every Log call is atomic with respect to the others and may come from any thread.
class CDebugFile {
 public:
  // `clock` must outlive this object; null uses a steady clock of its own.
  explicit CDebugFile(const IClock* clock = nullptr);
  // Closes the file (writing the stop lines) if it is still open.
  virtual ~CDebugFile();
  CDebugFile(const CDebugFile&) = delete;
  CDebugFile& operator=(const CDebugFile&) = delete;

  // Opens `fileName` for appending, creating it when missing, and takes an exclusive lock;
  // then writes the start separator and start line (true local time). The next byte begins a
  // new line whatever was logged before the last Close. False (and nothing written) when the file
  // cannot be opened or another writer holds it. Opening an open capture returns false.
  virtual bool Open(const std::string& fileName);
  // Writes the stop line and separator and closes the file; nothing when not open.
  virtual void Close();
  bool IsOpen() const;

  // Byte logging; a null `bytes` or zero `count` writes nothing. No-ops while closed.
  virtual void LogSentBuffer(const std::uint8_t* bytes, std::size_t count);
  virtual void LogSentByte(std::uint8_t b);
  virtual void LogReceivedBuffer(const std::uint8_t* bytes, std::size_t count);
  virtual void LogReceivedByte(std::uint8_t b);
  // One message line; the next byte in either direction begins a new line.
  virtual void LogMessage(const std::string& text);

  // For tests: where the start and stop lines take the wall-clock time (default std::time).
  void SetWallClock(std::function<std::time_t()> now);

 private:
  enum Direction : std::uint32_t { kNone = 0, kSending = 1, kReceiving = 2 };

  void LogBytes(Direction d, const std::uint8_t* bytes, std::size_t count);
  void AppendByte(Direction d, std::uint8_t b, double stamp);
  void AppendStamped(const char* format, double stamp, const char* text);
  std::string LocalTimeText(const char* format) const;
  double Stamp() const;
  void WriteOut();

  std::uint32_t direction = kNone;
  std::uint32_t bytesOnLine = 0;
  mutable std::mutex lock;  // guards everything below and the two counters above
  CSteadyClock ownClock;
  const IClock* clock;
  std::function<std::time_t()> wallClock;
  int fd = -1;
  std::string pending;  // text of the current call, reused so a steady stream allocates nothing
};
