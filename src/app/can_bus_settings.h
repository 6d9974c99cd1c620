#pragma once

#include "app/settings_profile.h"
#include "link/can/qt_can_driver.h"

// Section "CanBus": "Plugin" (default "socketcan"), "Interface0" and "Interface1" (defaults "can0"
// and "can1"), the Qt SerialBus plugin and the interfaces of CAN channels 0 and 1.
inline constexpr const char* kCanBusSection = "CanBus";
CanBusSettings LoadCanBusSettings(const CSettingsProfile& profile);
