#include "trace_format.h"

#include <cstring>

#include "link/protocol/kavo_packet.h"

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

std::string FormatSentPacketLine(std::string_view direction, const KavoPacket& packet, int withChecksum) {
  std::uint8_t payload[kKavoMaxData + 2];
  const std::size_t length = packet.length <= kKavoMaxData ? packet.length : kKavoMaxData;
  std::memcpy(payload, packet.data, length);
  std::size_t total = length;
  if (withChecksum == 1) {
    const std::uint16_t sum = KavoPayloadSum(packet.data, length);
    payload[total++] = static_cast<std::uint8_t>(sum >> 8);
    payload[total++] = static_cast<std::uint8_t>(sum);
  }
  return FormatPacketLine(direction, packet.id, payload, total);
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
