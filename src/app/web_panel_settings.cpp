#include "app/web_panel_settings.h"

#include "app/lcd_font.h"
#include "app/port_settings.h"
#include "app/settings_profile.h"

namespace {

constexpr const char* kSection = "WebPanel";

std::vector<std::uint8_t> FontTable() {
  std::vector<std::uint8_t> table(256 * LcdFont::kColumns, 0);
  for (int code = 0; code < 256; ++code) {
    if (const LcdFont::Glyph* glyph = LcdFont::Find(static_cast<std::uint8_t>(code)))
      std::copy(glyph->begin(), glyph->end(), table.begin() + code * LcdFont::kColumns);
  }
  return table;
}

}  // namespace

WebPanelSettings LoadWebPanelSettings(const CSettingsProfile& profile) {
  WebPanelSettings settings;
  WebPanelConfig& config = settings.config;
  const std::string absent = CPortSettings::kAbsent;
  auto get = [&](const char* key) { return profile.GetString(kSection, key, absent); };

  if (const std::string enabled = get("Enabled"); enabled != absent)
    settings.enabled = ParseProfileInt(enabled) != 0;
  if (const std::string port = get("Port"); port != absent) {
    const int n = ParseProfileInt(port);
    if (n >= 1 && n <= 65535) config.port = static_cast<std::uint16_t>(n);
  }
  if (const std::string address = get("BindAddress"); address != absent) config.bindAddress = address;
  if (const std::string token = get("ControlToken"); token != absent) config.controlToken = token;
  if (const std::string token = get("ViewToken"); token != absent) config.viewToken = token;
  if (const std::string limit = get("MaxClients"); limit != absent) {
    const int n = ParseProfileInt(limit);
    if (n >= 1 && n <= WebPanelConfig::kMaxMaxClients) config.maxClients = n;
  }
  if (const std::string file = get("Certificate"); file != absent) config.certificate = file;
  if (const std::string file = get("Key"); file != absent) config.key = file;
  config.font = FontTable();
  return settings;
}
