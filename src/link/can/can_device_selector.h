#pragma once

#include <string>
#include <vector>

// Chooses the receiver to connect to among those a CAN search found. The window shows the
// "Select Device By Address" dialog, headless mode picks by the command line, tests script it.
class ICanDeviceSelector {
 public:
  virtual ~ICanDeviceSelector() = default;
  // Called on the CAN connect thread with the found addresses as "%d" texts, in the order found
  // (at least one). Returns the index of the chosen entry, or -1 to cancel the connection. May
  // block until a user answers; CancelSelection makes it return -1 soon.
  virtual int SelectDevice(const std::vector<std::string>& entries) = 0;
  // Called from another thread when the link closes while a selection may be running.
  virtual void CancelSelection() {}
};
