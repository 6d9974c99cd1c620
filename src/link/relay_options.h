#pragma once

#include <string>

// How the relay server meets a shared network: where it listens, how many clients it serves and
// whether what clients send reaches the receiver.
struct RelayOptions {
  static constexpr int kDefaultMaxClients = 32;
  static constexpr int kMaxMaxClients = 1024;

  // A local address to listen on (IPv4 or IPv6 text); empty listens on every address.
  std::string bindAddress;
  // Clients beyond this many are refused as they connect.
  int maxClients = kDefaultMaxClients;
  // False makes the relay read-only: clients' packets are dropped instead of sent on.
  bool forwardToReceiver = true;
};
