// A browser page's message to the web panel's live stream, as CWebPanel parses it: whatever the
// bytes, the parser either refuses them or gives one of the commands a page may send, never a key
// code the panel has no key for.
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "web/web_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray message(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto command = WebMessages::ParsePageMessage(message);
  if (!command) return 0;
  if (size > WebMessages::kMaxPageMessage) std::abort();
  using Kind = WebMessages::PageCommand::Kind;
  if (command->kind == Kind::Key) {
    const int code = command->code;
    const bool panelKey =
        code == 1 || code == 2 || code == 3 || code == 4 || code == 8 || (code >= 9 && code <= 15);
    if (!panelKey) std::abort();
  } else if (command->code != 0) {
    std::abort();
  }
  return 0;
}
