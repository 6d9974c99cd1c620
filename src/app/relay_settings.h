#pragma once

#include "link/relay_options.h"

class CSettingsProfile;

// The relay's keys of section "Connect": "RelayBindAddress" (empty: every address),
// "RelayMaxClients" (1..1024, default 32) and "RelayForwardToReceiver" (1 passes clients' packets
// to the receiver, 0 makes the relay read-only). They are edited in the settings file only; a
// value out of range keeps its default.
RelayOptions LoadRelayOptions(const CSettingsProfile& profile);
