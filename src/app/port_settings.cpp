#include "app/port_settings.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <system_error>

#include "app/settings_profile.h"

namespace {

// One stored setting: its key and the member it fills, of exactly one of the three kinds.
struct Field {
  const char* key;
  int CPortSettings::*number = nullptr;
  bool CPortSettings::*yesNo = nullptr;
  std::string CPortSettings::*text = nullptr;
};

// In the order the file is written.
const std::array<Field, 20> kFields{{
    {"HighSpeedKavo", &CPortSettings::highSpeedKavo},
    {"Port", &CPortSettings::port},
    {"BaudRate", &CPortSettings::baudRate},
    {"Parity", &CPortSettings::parity},
    {"Auto", &CPortSettings::autoConnect},
    {"CanBusPort", &CPortSettings::canBusPort},
    {"CanBusDestAddr", &CPortSettings::canBusDestAddr},
    {"CanBusBusSpeed", &CPortSettings::canBusBusSpeed},
    {"SerialPortOrCanBus", &CPortSettings::serialPortOrCanBus},
    {"RLI_Vis", nullptr, &CPortSettings::rliVisible},
    {"RLI_Ena", nullptr, &CPortSettings::rliEnabled},
    {"RLI_Folder", nullptr, nullptr, &CPortSettings::rliFolder},
    {"m_LogData", &CPortSettings::logData},
    {"m_LoggingFolder", nullptr, nullptr, &CPortSettings::loggingFolder},
    {"m_LoggingPrefix", nullptr, nullptr, &CPortSettings::loggingPrefix},
    {"m_logOptions", &CPortSettings::logOptions},
    {"m_ServerAddress", nullptr, nullptr, &CPortSettings::serverAddress},
    {"m_ServerPort", &CPortSettings::serverPort},
    {"m_OutputServerPort", &CPortSettings::outputServerPort},
    {"AutoReconnect", &CPortSettings::autoReconnect},
}};

// Reading starts with "Auto"; the rest follows the written order. Indexes into kFields.
constexpr std::array<int, 20> kLoadOrder{4,  0,  1,  2,  3,  5,  6,  7,  8,  9,
                                         10, 11, 12, 13, 14, 15, 16, 17, 18, 19};

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

int ParseProfileInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

CPortSettings::CPortSettings(CSettingsProfile& profile, std::filesystem::path currentDir) : profile(profile) {
  if (currentDir.empty()) {
    std::error_code ec;
    currentDir = std::filesystem::current_path(ec);
    // Without a readable working directory the card folder goes to the home folder instead.
    if (ec) currentDir = HomeFolder();
  }
  rliFolder = (currentDir / "rli").string();
  loggingFolder = DefaultLoggingFolder();
}

std::string CPortSettings::DefaultLoggingFolder() {
  return (std::filesystem::path(HomeFolder()) / "plowview-logs").string();
}

void CPortSettings::LoadSettings() {
  for (int index : kLoadOrder) {
    const Field& f = kFields[static_cast<std::size_t>(index)];
    const std::string value = profile.GetString(kSection, f.key, kAbsent, CSettingsProfile::kBufferSize);
    if (value == kAbsent) continue;
    if (f.number)
      this->*f.number = ParseProfileInt(value);
    else if (f.yesNo)
      this->*f.yesNo = value == "Y";
    else
      this->*f.text = value;
  }
}

bool CPortSettings::SaveSettings(std::error_code* error) {
  bool ok = true;
  if (error) error->clear();
  for (const Field& f : kFields) {
    std::string value;
    if (f.number)
      value = std::to_string(this->*f.number);
    else if (f.yesNo)
      value.assign(
          1, (this->*f.yesNo) ? 'Y' : 'N');  // assign(char): GCC 12 misreads the literal form (-Wrestrict)
    else
      value = this->*f.text;
    std::error_code why;
    if (!profile.WriteString(kSection, f.key, value, &why)) {
      if (ok && error) *error = why;
      ok = false;
    }
  }
  return ok;
}

int CPortSettings::BaudRateFromIndex(int index) {
  static constexpr std::array<int, 5> kRates{2400, 4800, 9600, 19200, 38400};
  return (index >= 0 && index < static_cast<int>(kRates.size())) ? kRates[static_cast<std::size_t>(index)]
                                                                 : 0;
}

char CPortSettings::ParityFromIndex(int index) {
  static constexpr std::array<char, 3> kParities{'N', 'O', 'E'};
  return (index >= 0 && index < static_cast<int>(kParities.size()))
             ? kParities[static_cast<std::size_t>(index)]
             : '\0';
}
