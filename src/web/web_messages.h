#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "web/web_access.h"
#include "web/web_panel_host.h"

// The live stream between Plowview and a page: JSON text messages, one object each.
//
// To the page:
//   {"t":"hello","access":"control"|"view","font":HEX,"logMax":N}   once, first
//   {"t":"state","rows":[HEX,HEX],"cursor":[on,column,row],"link":0-3,"lit":B,"lamp":B,
//    "logging":B,"keys":B,"title":TEXT}                               at once, then on each change
//   {"t":"log","lines":[TEXT,...]}                                   the newest lines, then batches
// HEX is the bytes in hexadecimal (LCD font codes; for the font five column bytes per code).
//
// From the page (anything else is ignored):
//   {"t":"key","code":N}        N one of 1, 2, 3, 4, 8, 9-15
//   {"t":"enter","down":B}      Enter pressed (true) or released (false)
namespace WebMessages {

// A message from a page is never longer than this; longer ones are not even parsed.
inline constexpr std::size_t kMaxPageMessage = 256;

QByteArray Hello(WebAccess access, const std::vector<std::uint8_t>& font, int logCapacity);
QByteArray State(const PanelSnapshot& snapshot);
QByteArray Log(const std::deque<std::string>& lines);

struct PageCommand {
  enum class Kind { Key, EnterDown, EnterUp };
  Kind kind = Kind::Key;
  int code = 0;  // for Key
  bool operator==(const PageCommand&) const = default;
};

// The command a page's message asks for; nullopt for anything that is not exactly one of the
// messages above (too long, not JSON, another type, a key code the panel has no key for).
std::optional<PageCommand> ParsePageMessage(QByteArrayView message);

}  // namespace WebMessages
