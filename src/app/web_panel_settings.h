#pragma once

#include "web/web_panel_config.h"

class CSettingsProfile;

// Section "WebPanel" of the settings file: whether the web panel runs and how it serves.
struct WebPanelSettings {
  bool enabled = false;  // "Enabled" (a number, non-zero on)
  WebPanelConfig config;
};

// Reads "Enabled", "Port" (1..65535, default 8021), "BindAddress" (default 127.0.0.1; an empty
// value: every address), "ControlToken", "ViewToken", "MaxClients" (1..1024, default 16),
// "Certificate" and "Key" (PEM files). A number out of range keeps its default. The LCD font the
// page draws with is filled in too.
WebPanelSettings LoadWebPanelSettings(const CSettingsProfile& profile);
