#include "app/can_bus_settings.h"

CanBusSettings LoadCanBusSettings(const CSettingsProfile& profile) {
  CanBusSettings settings;
  const auto read = [&profile](const char* key, std::string& value) {
    const std::string text = profile.GetString(kCanBusSection, key, "xxx");
    if (text != "xxx" && !text.empty()) value = text;
  };
  read("Plugin", settings.plugin);
  read("Interface0", settings.interfaces[0]);
  read("Interface1", settings.interfaces[1]);
  return settings;
}
