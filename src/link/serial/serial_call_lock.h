#pragma once

#include <mutex>

// Serialises the device calls of every SerialPortAccess that shares it (the program makes one and
// hands it to its link). Waits never run under it. Lockable: std::lock_guard takes it.
class CSerialCallLock {
 public:
  void lock() { mutex.lock(); }
  void unlock() { mutex.unlock(); }

 private:
  std::mutex mutex;
};
