#pragma once

#include <array>
#include <string>
#include <vector>

// The nine serial port slots COM1..COM9 (slot 0..8) and the device path behind each. The
// defaults are the serial devices found on this machine, USB adapters first; the program may
// override any slot from its settings (section "SerialPorts", keys "COM1".."COM9"). A plain value:
// copy it freely; not synchronised.
class CSerialPortMap {
 public:
  static constexpr int kSlotCount = 9;

  // Every slot empty (unmapped).
  CSerialPortMap() = default;

  // Slots filled in order from FindDevices("/dev"); slots beyond the devices found stay empty.
  static CSerialPortMap Detected();

  // The serial devices in `devDir`: ttyUSB<n>, then ttyACM<n>, then ttyS<n>, each group in
  // numeric order, as full paths.
  static std::vector<std::string> FindDevices(const std::string& devDir = "/dev");

  // The device path of a slot; empty when the slot is unmapped or out of range.
  const std::string& Path(int slot) const;

  // Sets (or with an empty path clears) a slot; false when the slot is out of range.
  bool SetPath(int slot, const std::string& path);

  // The settings key of a slot: "COM1" for slot 0 ... "COM9" for slot 8; empty out of range.
  static std::string SlotKey(int slot);

 private:
  std::array<std::string, kSlotCount> paths;
};
