#pragma once

#include <string>

// One side of a serial line as the simulator models it: the receiver's own port, or what the
// program set on its end of the pseudo-terminal.
struct PortSettings {
  int baud = 9600;
  char parity = 'N';  // 'N', 'O' or 'E'
  int dataBits = 8;
  int stopBits = 1;

  bool operator==(const PortSettings&) const = default;
};

// "9600 8N1": baud, data bits, parity, stop bits.
std::string FormatPortSettings(const PortSettings& settings);

// The baud rates the simulated receiver's port can take.
bool IsSupportedBaud(int baud);
