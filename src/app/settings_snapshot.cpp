#include "app/settings_snapshot.h"

#include "app/relay_settings.h"

ConnectionSettings SnapshotConnectionSettings(const CPortSettings& s) {
  ConnectionSettings c;
  c.linkKind = s.serialPortOrCanBus;
  c.autoPortConfiguration = s.highSpeedKavo != 0;
  c.autoReconnect = s.autoReconnect != 0;
  c.port = s.port;
  c.baudRateIndex = s.baudRate;
  c.parityIndex = s.parity;
  c.canBusPort = s.canBusPort;
  c.canBusDestAddr = s.canBusDestAddr;
  c.canBusBusSpeed = s.canBusBusSpeed;
  c.serverAddress = s.serverAddress;
  c.serverPort = s.serverPort < 0 ? 0u : static_cast<std::uint32_t>(s.serverPort);
  c.enableAsServer = s.enableAsServer != 0;
  c.outputServerPort = s.outputServerPort < 0 ? 0u : static_cast<std::uint32_t>(s.outputServerPort);
  c.logData = s.logData != 0;
  c.loggingFolder = s.loggingFolder;
  c.loggingPrefix = s.loggingPrefix;
  c.logOptions = static_cast<std::uint32_t>(s.logOptions);
  c.remoteFileIo = s.rliEnabled;
  c.cardFolder = s.rliFolder;
  c.relay = LoadRelayOptions(s.Profile());
  return c;
}

CSerialPortMap LoadSerialPortMap(const CSettingsProfile& profile) {
  CSerialPortMap map = CSerialPortMap::Detected();
  for (int slot = 0; slot < CSerialPortMap::kSlotCount; ++slot) {
    const std::string path = profile.GetString(kSerialPortsSection, CSerialPortMap::SlotKey(slot), "xxx");
    if (path != "xxx" && !path.empty()) map.SetPath(slot, path);
  }
  return map;
}
