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

  // A serial device under a name that survives replugging: the udev link in /dev/serial/by-id and
  // the adapter's name read from it.
  struct StableDevice {
    std::string path;  // e.g. /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0
    std::string name;  // e.g. "FTDI FT232R USB UART A1234567"
  };
  static constexpr const char* kStableNameDir = "/dev/serial/by-id";

  // The links in `dir`, sorted by name; none when the folder is missing (no USB adapter plugged).
  static std::vector<StableDevice> FindStableDevices(const std::string& dir = kStableNameDir);

  // The adapter's name in a by-id link's name: the bus prefix ("usb-") and the interface suffix
  // ("-if00", "-port0") dropped, underscores shown as blanks.
  static std::string AdapterName(const std::string& linkName);

  // The slot to store `path` in: the slot already holding it, else the slot whose device is the
  // same file (the ttyUSB the link points at now), else the first empty slot, else `fallback`.
  int SlotFor(const std::string& path, int fallback) const;

  // The device path of a slot; empty when the slot is unmapped or out of range.
  const std::string& Path(int slot) const;

  // Sets (or with an empty path clears) a slot; false when the slot is out of range.
  bool SetPath(int slot, const std::string& path);

  // The settings key of a slot: "COM1" for slot 0 ... "COM9" for slot 8; empty out of range.
  static std::string SlotKey(int slot);

 private:
  std::array<std::string, kSlotCount> paths;
};
