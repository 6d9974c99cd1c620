#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/serial/comm_error.h"
#include "link/serial/serial_line.h"

// A serial line in memory for the serial transport's unit tests: the test plays the receiver with
// Feed (bytes to the program) and reads what the program wrote with Written; `onWrite` lets a
// scripted receiver answer, `onBreak` sees each break. The descriptor polls readable while bytes
// wait or after HangUp. Open fails while `failOpen` is set. Thread-safe: the transport's reader
// and the test call it together.
class CMemorySerialLine final : public ISerialLine {
 public:
  struct Settings {
    int baud = 0;
    char parity = 'N';
    int wordLength = 8;
    int stopBits = 1;
  };

  CMemorySerialLine() : wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~CMemorySerialLine() override { ::close(wake); }
  CMemorySerialLine(const CMemorySerialLine&) = delete;
  CMemorySerialLine& operator=(const CMemorySerialLine&) = delete;

  void Feed(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard guard(lock);
    received.insert(received.end(), bytes.begin(), bytes.end());
    Signal();
  }
  void Feed(const std::string& text) { Feed(std::vector<std::uint8_t>(text.begin(), text.end())); }
  // Every later read reports the device gone.
  void HangUp() {
    std::lock_guard guard(lock);
    hungUp = true;
    Signal();
  }
  std::vector<std::uint8_t> Written() const {
    std::lock_guard guard(lock);
    return written;
  }
  void ClearWritten() {
    std::lock_guard guard(lock);
    written.clear();
  }
  Settings Current() const {
    std::lock_guard guard(lock);
    return settings;
  }
  int Opens() const {
    std::lock_guard guard(lock);
    return opens;
  }

  std::function<void(const std::vector<std::uint8_t>&)> onWrite;  // on the writer's thread
  std::function<void()> onBreak;
  bool failOpen = false;

  int Open(int, int baud, char parity, int wordLength, int stopBits) override {
    std::lock_guard guard(lock);
    if (open) return kCommAlreadyOpen;
    if (failOpen) return kCommNoSuchPort;
    open = true;
    ++opens;
    settings = {baud, parity, wordLength, stopBits};
    return kCommSuccess;
  }
  int Close() override {
    std::lock_guard guard(lock);
    open = false;
    return kCommSuccess;
  }
  bool IsOpen() const override {
    std::lock_guard guard(lock);
    return open;
  }
  int SetAll(int baud, char parity, int wordLength, int stopBits) override {
    std::lock_guard guard(lock);
    if (!open) return kCommNotOpen;
    settings = {baud, parity, wordLength, stopBits};
    return kCommSuccess;
  }
  int SetRTS(int) override { return IsOpen() ? kCommSuccess : kCommNotOpen; }
  int ReadChar() override {
    std::uint8_t b = 0;
    const int n = ReadBuffer(&b, 1);
    return n == 1 ? b : n == 0 ? kCommNoCharAvailable : n;
  }
  int ReadBuffer(std::uint8_t* buffer, int count) override {
    std::lock_guard guard(lock);
    if (!open) return kCommNotOpen;
    if (received.empty() && hungUp) return kCommHangUp;
    int n = 0;
    while (n < count && !received.empty()) {
      buffer[n++] = received.front();
      received.pop_front();
    }
    if (received.empty() && !hungUp) Drain();
    return n;
  }
  int WriteChar(std::uint8_t b) override { return WriteBuffer(&b, 1) == 1 ? kCommSuccess : kCommNotOpen; }
  int WriteBuffer(const std::uint8_t* buffer, int count) override {
    std::function<void(const std::vector<std::uint8_t>&)> answer;
    {
      std::lock_guard guard(lock);
      if (!open) return kCommNotOpen;
      written.insert(written.end(), buffer, buffer + count);
      answer = onWrite;
    }
    if (answer) answer(std::vector<std::uint8_t>(buffer, buffer + count));
    return count;
  }
  int WriteCharTimed(std::uint8_t b, int) override { return WriteChar(b); }
  int WriteBufferTimed(const std::uint8_t* buffer, int count, int) override {
    return WriteBuffer(buffer, count);
  }
  int SendBreak(int) override {
    if (!IsOpen()) return kCommNotOpen;
    if (onBreak) onBreak();
    return kCommSuccess;
  }
  int ClearRXBuffer() override {
    std::lock_guard guard(lock);
    received.clear();
    if (!hungUp) Drain();
    return kCommSuccess;
  }
  int ClearTXBuffer() override { return kCommSuccess; }
  int IsTXEmpty() override { return 1; }
  int GetCommHandle() const override { return IsOpen() ? wake : -1; }
  int StartLog(const std::string&) override { return kCommSuccess; }
  void StopLog() override {}
  bool IsLogging() const override { return false; }
  std::string LogFileName() const override { return {}; }

 private:
  // Under `lock`.
  void Signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
  }
  void Drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake, &count, sizeof count);
  }

  mutable std::mutex lock;
  const int wake;
  std::deque<std::uint8_t> received;
  std::vector<std::uint8_t> written;
  Settings settings;
  bool open = false;
  bool hungUp = false;
  int opens = 0;
};
