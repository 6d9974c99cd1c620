#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "port_settings.h"

// The simulator's end of a serial line: a pseudo-terminal pair whose slave side the program
// opens through a symbolic link. The master runs in packet mode (TIOCPKT), so the program's
// buffer clears arrive as status events beside the data. The simulator keeps a descriptor of the
// slave open for its whole life: the master then never sees a hang-up when the program closes
// its port, and the program's port settings can be read from it at any time.
//
// Writes are queued and handed to the pty as it takes them (the program may not be reading);
// the queue is bounded and what does not fit is dropped and counted.
class CPtyTransport {
 public:
  static constexpr std::size_t kMaxQueued = 64 * 1024;

  CPtyTransport() = default;
  // Closes both sides and removes the link if it still points at our slave.
  ~CPtyTransport();
  // The same as the destructor, leaving the transport ready for another Open: the program's end
  // sees a hang-up, and its path is gone until then. What is queued is handed over first, and
  // the program is given up to `drainMs` to read it, so the line goes away between frames.
  // Returns how many bytes the program had not read when the line went (lost with it).
  std::size_t Close(int drainMs = 0);
  bool IsOpen() const { return masterFd >= 0; }
  CPtyTransport(const CPtyTransport&) = delete;
  CPtyTransport& operator=(const CPtyTransport&) = delete;

  // Creates the pair with the slave raw at `initial` (echo off, so nothing written before the
  // program opens its port comes back) and makes `linkPath` a symbolic link to the slave,
  // replacing an old link there (but never a file that is not a link). False with `error` set.
  bool Open(const std::string& linkPath, const PortSettings& initial, std::string& error);

  int Fd() const { return masterFd; }
  const std::string& SlavePath() const { return slavePath; }

  // Reads what is waiting without blocking: data bytes go to `onData`, packet-mode status bytes
  // (TIOCPKT_* bits) to `onStatus`. False when the master failed.
  bool Read(const std::function<void(const std::uint8_t*, std::size_t)>& onData,
            const std::function<void(std::uint8_t)>& onStatus);

  // The settings the program's end has now, as far as a pty keeps them: the kernel forces 8 data
  // bits and clears the parity enable bit on every change, so only the speed, the odd-parity bit
  // and the stop bits are the program's; even parity reads as 'N'.
  PortSettings LineSettings() const;

  // Whether a receiver at `own` hears a program whose end is at `line`: the same speed, and odd
  // parity on both sides or on neither (no and even parity cannot be told apart on a pty).
  static bool Hears(const PortSettings& line, const PortSettings& own);

  // Queues bytes for the program; returns how many had to be dropped because the queue is full
  // (none while closed: the bytes are simply lost).
  std::size_t Queue(const std::uint8_t* bytes, std::size_t count);
  bool WantsWrite() const { return !outQueue.empty(); }
  // Hands queued bytes to the pty as far as it takes them. False when the master failed.
  bool Flush();

 private:
  int masterFd = -1;
  int slaveFd = -1;
  std::string slavePath;
  std::string linkPath;
  std::vector<std::uint8_t> outQueue;
  std::uint8_t readBuffer[4096];
};
