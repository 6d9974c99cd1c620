#include "trace_format.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, std::uint8_t b) {
  out += kHex[b >> 4];
  out += kHex[b & 0x0F];
}

}  // namespace

std::string FormatPacketLine(std::string_view direction, std::uint8_t id, const std::uint8_t* payload,
                             std::size_t length) {
  std::string line;
  line.reserve(direction.size() + 3 + 3 * length);
  line += direction;
  line += ' ';
  AppendHex(line, id);
  for (std::size_t i = 0; i < length; ++i) {
    line += ' ';
    AppendHex(line, payload[i]);
  }
  return line;
}

std::string QuoteText(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (b >= 0x20 && b < 0x7F) {
          out += c;
        } else {
          out += "\\x";
          AppendHex(out, b);
        }
    }
  }
  out += '"';
  return out;
}
