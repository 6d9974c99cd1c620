#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

class CSettingsProfile;

// Reads the leading decimal number of a settings text the way the settings always have: blanks,
// an optional sign, then digits; text without digits gives 0. Values beyond int are clamped.
int ParseProfileInt(std::string_view text);

// The connection and logging settings, section "Connect" of the settings file. The connection
// dialog edits them and the view keeps one instance for the whole run. Members start at their
// defaults; LoadSettings overwrites only the keys present in the file.
class CPortSettings {
 public:
  static constexpr const char* kSection = "Connect";
  // The read default that marks a key as absent: a value of exactly this text is ignored as well.
  static constexpr const char* kAbsent = "xxx";
  static constexpr const char* kDefaultServerAddress = "127.0.0.1";

  // Link kinds of serialPortOrCanBus; any other value selects the network link as well.
  static constexpr int kLinkSerial = 0;
  static constexpr int kLinkCan = 1;
  static constexpr int kLinkNetwork = 2;

  // The RLI folder default is taken from `currentDir`, the working directory when not given.
  explicit CPortSettings(CSettingsProfile& profile, std::filesystem::path currentDir = {});

  // Reads every key of the section; a missing file or key leaves the member as it is.
  void LoadSettings();
  // Writes every key, one write per key; false when any write failed, with the first failure's
  // reason in `error` when given.
  bool SaveSettings(std::error_code* error = nullptr);

  // 2400, 4800, 9600, 19200 or 38400 for the baud rate index 0-4; 0 for any other index.
  static int BaudRateFromIndex(int index);
  // 'N', 'O' or 'E' for the parity index 0-2; '\0' for any other index.
  static char ParityFromIndex(int index);

  CSettingsProfile& Profile() { return profile; }
  const CSettingsProfile& Profile() const { return profile; }

  // Stored settings, in the order the file is written. Names of the keys in the comments.
  int highSpeedKavo = 1;             // "HighSpeedKavo": port auto-configuration on connect
  int port = 0;                      // "Port": 0-8 for COM1-COM9, also the serial link type
  int baudRate = 4;                  // "BaudRate": index, see BaudRateFromIndex
  int parity = 0;                    // "Parity": index, see ParityFromIndex
  int autoConnect = 0;               // "Auto": connect at start-up
  int canBusPort = 0;                // "CanBusPort": 0 or 1
  int canBusDestAddr = 28;           // "CanBusDestAddr": 1-254
  int canBusBusSpeed = 0;            // "CanBusBusSpeed": index of 250, 125, 500, 850
  int serialPortOrCanBus = 0;        // "SerialPortOrCanBus": kLinkSerial, kLinkCan, kLinkNetwork
  bool rliVisible = false;           // "RLI_Vis": the remote file I/O controls are shown
  bool rliEnabled = false;           // "RLI_Ena": remote file I/O on
  std::string rliFolder;             // "RLI_Folder": virtual card directory
  int logData = 0;                   // "m_LogData": diagnostic logging on
  std::string loggingFolder;         // "m_LoggingFolder"
  std::string loggingPrefix = "A_";  // "m_LoggingPrefix"
  int logOptions = 529;              // "m_logOptions": the logging options word
  std::string serverAddress = kDefaultServerAddress;  // "m_ServerAddress"
  int serverPort = 2021;                              // "m_ServerPort"
  int outputServerPort = 30000;                       // "m_OutputServerPort": relay server port, 1-40000
  int autoReconnect = 0;                              // "AutoReconnect": reopen a lost link

  // Not stored: every run starts with the relay server off.
  int enableAsServer = 0;

  // The logging folder default: "plowview-logs" in the home folder.
  static std::string DefaultLoggingFolder();

 private:
  CSettingsProfile& profile;
};
