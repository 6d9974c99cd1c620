#include "app/relay_settings.h"

#include "app/port_settings.h"
#include "app/settings_profile.h"

RelayOptions LoadRelayOptions(const CSettingsProfile& profile) {
  RelayOptions options;
  constexpr const char* kSection = CPortSettings::kSection;
  const std::string absent = CPortSettings::kAbsent;

  const std::string address = profile.GetString(kSection, "RelayBindAddress", absent);
  if (address != absent) options.bindAddress = address;

  const std::string limit = profile.GetString(kSection, "RelayMaxClients", absent);
  if (limit != absent) {
    const int n = ParseProfileInt(limit);
    if (n >= 1 && n <= RelayOptions::kMaxMaxClients) options.maxClients = n;
  }

  const std::string forward = profile.GetString(kSection, "RelayForwardToReceiver", absent);
  if (forward != absent) options.forwardToReceiver = ParseProfileInt(forward) != 0;
  return options;
}
