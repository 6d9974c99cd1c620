#pragma once

#include "app/connection_control.h"
#include "app/port_settings.h"
#include "app/settings_profile.h"
#include "link/serial/serial_port_map.h"

// The settings the connection control acts on, taken from the stored settings at Connect.
ConnectionSettings SnapshotConnectionSettings(const CPortSettings& settings);

// Section "SerialPorts", keys "COM1".."COM9": the device path of each port slot. Slots without a
// key keep the devices found on this machine.
inline constexpr const char* kSerialPortsSection = "SerialPorts";
CSerialPortMap LoadSerialPortMap(const CSettingsProfile& profile);
