#include "link/j1939/can_driver.h"

bool BitRateFromSpeedIndex(std::uint32_t speedIndex, CanBitRate& rate) {
  static constexpr CanBitRate kBySpeedIndex[] = {CanBitRate::k250K, CanBitRate::k125K, CanBitRate::k500K,
                                                 CanBitRate::k1M};
  if (speedIndex >= 4) return false;
  rate = kBySpeedIndex[speedIndex];
  return true;
}

std::uint32_t BitsPerSecond(CanBitRate rate) {
  switch (rate) {
    case CanBitRate::k1M:
      return 1000000;
    case CanBitRate::k500K:
      return 500000;
    case CanBitRate::k250K:
      return 250000;
    case CanBitRate::k125K:
      return 125000;
  }
  return 0;
}

const char* CanStatusText(CanStatus status) {
  switch (status) {
    case CanStatus::Ok:
      return "No error";
    case CanStatus::NoMessage:
      return "No messages available";
    case CanStatus::Timeout:
      return "Timeout occurred";
    case CanStatus::NotInitialized:
      return "Library not initialized";
    case CanStatus::InvalidParameter:
      return "Error in parameter";
    case CanStatus::NoSuchChannel:
      return "Specified device not found";
    case CanStatus::InvalidHandle:
      return "Handle is invalid";
    case CanStatus::BusIsOff:
      return "Channel is off the bus";
    case CanStatus::TransmitQueueFull:
      return "Transmit buffer overflow";
    case CanStatus::HardwareError:
      return "A hardware error was detected";
  }
  return "Unknown error";
}

CanStatus OpenCanChannel(ICanDriver& driver, int channel, CanBitRate rate, int& handle) {
  int opened = -1;
  CanStatus status = driver.OpenChannel(channel, opened);
  if (status != CanStatus::Ok) return status;
  status = driver.SetBitRate(opened, rate);
  if (status == CanStatus::Ok) status = driver.SetOutputNormal(opened);
  if (status == CanStatus::Ok) status = driver.BusOn(opened);
  if (status != CanStatus::Ok) {
    driver.Close(opened);
    return status;
  }
  handle = opened;
  return CanStatus::Ok;
}

std::size_t DrainCanFrames(ICanDriver& driver, int handle, std::size_t maxFrames,
                           const std::function<void(const CanFrame&)>& consume, CanStatus& status) {
  std::size_t count = 0;
  status = CanStatus::Ok;
  CanFrame frame;
  while (count < maxFrames) {
    status = driver.Read(handle, frame);
    if (status != CanStatus::Ok) return count;
    ++count;
    if (consume) consume(frame);
  }
  return count;
}
