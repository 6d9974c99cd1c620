#include "port_settings.h"

std::string FormatPortSettings(const PortSettings& settings) {
  return std::to_string(settings.baud) + " " + std::to_string(settings.dataBits) + settings.parity +
         std::to_string(settings.stopBits);
}

bool IsSupportedBaud(int baud) {
  switch (baud) {
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
      return true;
    default:
      return false;
  }
}
