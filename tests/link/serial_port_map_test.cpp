#include "link/serial/serial_port_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "link/serial/comm_error.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(SerialPortMap, AdapterNameFromTheStableLinksName) {
  struct Case {
    const char* link;
    const char* name;
  };
  const Case cases[] = {
      {"usb-FTDI_FT232R_USB_UART_A1234567-if00-port0", "FTDI FT232R USB UART A1234567"},
      {"usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0",
       "Prolific Technology Inc. USB-Serial Controller"},
      {"usb-1a86_USB2.0-Ser_-if00-port0", "1a86 USB2.0-Ser "},
      {"pci-Intel_Serial-if02", "Intel Serial"},
      // Nothing to take off: the name as it stands.
      {"my-receiver", "my-receiver"},
      {"usb--if00", "usb--if00"},
  };
  for (const Case& c : cases) EXPECT_EQ(CSerialPortMap::AdapterName(c.link), c.name) << c.link;
}

TEST(SerialPortMap, StableDevicesAreTheLinksOfTheFolderSorted) {
  CTempDir dir;
  EXPECT_TRUE(CSerialPortMap::FindStableDevices(dir / "missing").empty());
  std::ofstream(dir / "ttyUSB3");
  fs::create_directories(dir.Path() / "by-id");
  fs::create_symlink(dir / "ttyUSB3", dir.Path() / "by-id" / "usb-Zeta_Adapter_9-if00-port0");
  fs::create_symlink(dir / "ttyUSB3", dir.Path() / "by-id" / "usb-Alpha_Adapter_1-if00-port0");
  const auto found = CSerialPortMap::FindStableDevices(dir / "by-id");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].path, dir / "by-id/usb-Alpha_Adapter_1-if00-port0");
  EXPECT_EQ(found[0].name, "Alpha Adapter 1");
  EXPECT_EQ(found[1].name, "Zeta Adapter 9");
}

TEST(SerialPortMap, SlotForAStableNameIsTheSlotOfItsDevice) {
  CTempDir dir;
  std::ofstream(dir / "ttyUSB0");
  std::ofstream(dir / "ttyUSB1");
  const std::string stable = dir / "usb-Receiver-if00-port0";
  fs::create_symlink(dir / "ttyUSB1", stable);
  CSerialPortMap map;
  map.SetPath(0, dir / "ttyUSB0");
  map.SetPath(1, dir / "ttyUSB1");
  // The slot that holds the device the name points at now.
  EXPECT_EQ(map.SlotFor(stable, 5), 1);
  // A slot already holding the name keeps it.
  map.SetPath(4, stable);
  EXPECT_EQ(map.SlotFor(stable, 5), 4);
  // An adapter behind no slot: the first empty slot.
  EXPECT_EQ(map.SlotFor(dir / "usb-Other-if00-port0", 5), 2);
  for (int slot = 0; slot < CSerialPortMap::kSlotCount; ++slot)
    map.SetPath(slot, dir / ("x" + std::to_string(slot)));
  EXPECT_EQ(map.SlotFor(dir / "usb-Other-if00-port0", 5), 5);
}

TEST(SerialOpenFailedText, PermissionDeniedNamesTheDeviceAndTheGroup) {
  const std::string text = "Error: Could not open serial port.";
  EXPECT_EQ(
      SerialOpenFailedText(text, kCommAccessDenied, "/dev/ttyUSB0"),
      "Error: Could not open serial port.\nPermission denied on /dev/ttyUSB0: add your user to the dialout "
      "group.");
  for (const int code : {kCommNoSuchPort, kCommPortBusy, kCommNotATty, kCommIoError})
    EXPECT_EQ(SerialOpenFailedText(text, code, "/dev/ttyUSB0"), text) << code;
}

}  // namespace
