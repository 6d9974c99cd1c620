#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Who a page is, by the token in its address.
enum class WebAccess { Refused, View, Control };

// Equal tokens, compared in time that depends only on the length of `given`, never on where the
// two first differ. An empty `expected` matches nothing.
bool TokensEqual(std::string_view given, std::string_view expected);

// The access of a page that came with `token` (nullopt: no token in its address): the control
// token gives control, the view token looks on, no token looks on only while no view token is
// set; any other token is refused.
WebAccess AccessForToken(const std::optional<std::string>& token, const std::string& controlToken,
                         const std::string& viewToken);

// Whether a live stream may be opened from a page of `origin` (the browser's Origin header): the
// server's own scheme and port, and one of `hosts` (names and addresses of this machine, compared
// without regard to case). Anything else, a missing or malformed origin included, is refused.
bool OriginAllowed(const QString& origin, const QStringList& hosts, std::uint16_t port, bool tls);

// The names and addresses a browser may use for this machine: localhost, the host name (with
// ".local" and the domain), and every address of its network interfaces.
QStringList LocalHostNames();

// True when `bindAddress` reaches only this machine (127.0.0.0/8, ::1, "localhost"). An empty
// address (every interface) and anything unparseable are not.
bool IsLoopbackAddress(const std::string& bindAddress);

// A fresh control token for a run without one: 128 random bits, URL-safe.
std::string MakeRandomToken();
