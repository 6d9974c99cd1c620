#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How the web panel serves: where it listens, who may do what, and whether it speaks TLS.
struct WebPanelConfig {
  static constexpr std::uint16_t kDefaultPort = 8021;
  static constexpr int kDefaultMaxClients = 16;
  static constexpr int kMaxMaxClients = 1024;

  std::uint16_t port = kDefaultPort;  // 0: a free port (tests)
  // A local address to listen on; empty: every address. Anything but loopback needs both tokens.
  std::string bindAddress = "127.0.0.1";
  // The token that lets a page press keys. Empty: one is made up for the run (loopback only).
  std::string controlToken;
  // The token a page needs to look on. Empty: a page without a token may look on.
  std::string viewToken;
  int maxClients = kDefaultMaxClients;  // connected pages, 1..kMaxMaxClients
  // PEM files of the server's certificate (chain) and private key: both set, HTTPS and WSS only.
  std::string certificate;
  std::string key;
  // The LCD character generator the page draws with: five column bytes per code 0..255 (bit 0 the
  // top dot, bit 7 the row below the letters), all zero for a code without a glyph. Shorter: the
  // missing codes are blank.
  std::vector<std::uint8_t> font;
};
