#include "config_replies.h"

#include <cstring>
#include <initializer_list>
#include <string_view>

namespace {

// A payload built field by field, big-endian.
class CReply {
 public:
  explicit CReply(std::uint8_t id) { packet.id = id; }
  CReply& U8(unsigned v) {
    if (packet.length < kKavoMaxData) packet.data[packet.length++] = static_cast<std::uint8_t>(v);
    return *this;
  }
  CReply& U16(unsigned v) { return U8(v >> 8).U8(v); }
  CReply& U32(std::uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
  CReply& F32(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return U32(bits);
  }
  CReply& F64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return U32(static_cast<std::uint32_t>(bits >> 32)).U32(static_cast<std::uint32_t>(bits));
  }
  CReply& Text(std::string_view s) {
    for (char c : s) U8(static_cast<unsigned char>(c));
    return *this;
  }
  CReply& PadTo(std::size_t n) {
    while (packet.length < n && packet.length < kKavoMaxData) U8(0);
    return *this;
  }
  void Send(const CConfigReplies::Sink& sink, int withChecksum) const { sink(packet, withChecksum); }

 private:
  KavoPacket packet;
};

// The configuration block, newer layout (byte 28 = 3): identity, name overrides, options, ports.
void SendConfigBlock(const CConfigReplies::Sink& sink) {
  CReply r(0x8F);
  r.U8(0x7F).Text("4415A01234").PadTo(11).Text("70214-00").PadTo(22);
  r.U8(4).U8(2).U8(11).U8(28).U8(126).U8(0).U8(3);
  r.Text("Brisk Mote").PadTo(49).Text("Mote").PadTo(61);
  r.U8(6).U8(14).U16(2025).U16(12);                                     // made 6/14/2025, product 12
  r.U8(1).U8(1).U8(0).U8(1).U8(2).U8(1).U8(0).U8(1).U8(2).U8(0).U8(1);  // One PPS .. Carrier phase
  r.U16(2390).U16(2410);
  r.U8(1).U8(0).U8(0).U8(0).U8(3).U8(0x00).U8(2).U8(1).U8(1).U8(1).U8(1);  // Brantix .. WAAS
  r.U8(48).U8(0).U8(1).U8(1).U8(1).U8(1).U8(1).U8(0);                      // contrast .. A-Reserved
  r.U8(1).U8(2).U8(11).U8(0).U8(0).U8(3).U8(0).U8(0x01);                   // port A: KAVO, 115K, RTS/CTS
  r.U8(4).U8(3).U8(7).U8(7).U8(0).U8(3).U8(0).U8(0x00);                    // port B: RTCM in, NMEA out
  r.Send(sink, 1);
}

void SendNmea(std::uint8_t part, std::uint8_t argument, const CConfigReplies::Sink& sink) {
  CReply r(0x7B);
  switch (part & 0x7F) {
    case 0x00:
      r.U8(part).U8(1).U32((part & 0x80) ? 0x00u : 0x45u);
      break;
    case 0x04:
      r.U8(part).U8(argument).U8(0x01).U8(0x00).U8(1).U8(0x11);
      break;
    case 0x06:
      r.U8(part).U8(argument).Text(argument == 0 && !(part & 0x80) ? "GGA,VTG,RMC" : "").U8(0);
      break;
    case 0x07:
      r.U8(part).U8(argument).U8(argument == 0 ? 0x01 : 0x00);
      break;
    default:
      return;
  }
  r.Send(sink, 0);
}

// Super-packet requests (0x8E), by sub-identifier and first argument.
bool AnswerSuper(const KavoPacket& q, const CConfigReplies::Sink& sink) {
  if (q.length < 1) return false;
  const std::uint8_t arg = q.length >= 2 ? q.data[1] : 0;
  switch (q.data[0]) {
    case 0x7F:
      SendConfigBlock(sink);
      return true;
    case 0x9C:
      CReply(0x8F).U8(0x9C).U8(3).U8(24).U8(1).U8(1).U8(1).Send(sink, 1);
      return true;
    case 0x64:
      CReply(0x8F).U8(0x64).U8(0).U8(2).U8(1).Send(sink, 1);
      return true;
    case 0x9F:
      CReply(0x8F).U8(0x9F).U8(0).U8(1).U8(0).U8(28).U8(1).U8(0).Send(sink, 1);
      return true;
    case 0x89:
      CReply(0x8F)
          .U8(0x89)
          .U8(6)
          .U8(1)
          .U8(0)
          .U8(0)
          .U8(3)
          .U16(298)
          .U16(313)
          .F32(1545.5f)
          .F32(1200.0f)
          .U8(30)
          .U8(60)
          .U8(60)
          .Send(sink, 1);
      return true;
    case 0x9E:
      CReply(0x8F).U8(0x9E).U8(3).U8(6).U8(5).U8(0).Send(sink, 1);
      return true;
    case 0xA3:
      if (arg == 0) {
        CReply(0x8F).U8(0xA3).U8(0).U32(1483228800u).Send(sink, 1);  // a stop date late in 2026
        return true;
      }
      if (arg == 1) {
        CReply(0x8F).U8(0xA3).U8(1).Text("3.14").U8(0).Send(sink, 1);
        return true;
      }
      return false;  // the status request of logging: the navigation stream answers it
    case 0x92:
      CReply(0x8F).U8(0x92).U8(0).U8(5).U8(1).U8(1).U8(1).F32(0.3f).F32(1.2f).F32(10.0f).Send(sink, 1);
      return true;
    case 0x95:
      CReply(0x8F).U8(0x95).U8(0).Send(sink, 1);
      return true;
    case 0x98:
      CReply(0x8F).U8(0x98).U8(2).U8(1).U8(2).U8(3).U8(4).Send(sink, 1);
      return true;
    case 0xA4:
      if (arg != 0x05) return false;
      CReply(0x8F).U8(0xA4).U8(5).U8(0).U8(1).F32(30.0f).F32(4.0f).F32(10.0f).U8(1).F32(120.0f).Send(sink, 1);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool CConfigReplies::Answer(const KavoPacket& q, const Sink& sink) const {
  const std::uint8_t* d = q.data;
  switch (q.id) {
    case 0x8E:
      return AnswerSuper(q, sink);
    case 0x26:
      CReply(0x4B).U8(0x5A).U8(0x00).U8(0x00).Send(sink, 0);
      return true;
    case 0x35:
      if (q.length != 0) return false;  // with its four bytes it sets the options
      CReply(0x55).U8(0x1A).U8(0x02).U8(0x18).U8(0x08).Send(sink, 0);
      return true;
    case 0x6A:
      if (q.length != 1) return false;
      CReply(0x6A).U8(d[0]).U8(1).Send(sink, 0);
      return true;
    case 0x6E:
      if (q.length != 1) return false;
      CReply(0x6E).U8(d[0]).U8(0).U8(1).Send(sink, 0);
      return true;
    case 0x6B:
      CReply(0x8B).U8(0).U8(1).Send(sink, 0);
      return true;
    case 0x67:
      CReply(0x87).U8(0).Send(sink, 0);
      return true;
    case 0xBB:
      if (q.length != 1) return false;
      CReply(0xBB)
          .U8(d[0])
          .U8(4)
          .U8(1)
          .F32(0.17453292f)
          .F32(39.0f)
          .F32(12.0f)
          .F32(8.0f)
          .U8(2)
          .U8(30)
          .U8(0)
          .U8(0)
          .U8(0)
          .Send(sink, 0);
      return true;
    case 0x7C:
      if (q.length != 1) return false;
      if (d[0] == 1)
        CReply(0x7D).U8(1).U8(0).U8(0).U8(2).U8(1).U8(0).Send(sink, 0);
      else
        CReply(0x7D).U8(2).U8(0x00).U8(0x00).Send(sink, 0);
      return true;
    case 0x7A:
      // Requests are one or two bytes; the NMEA switch (07 FF ...) goes on to the receiver.
      if (q.length < 1 || q.length > 2 || (q.length == 2 && d[1] == 0xFF)) return false;
      SendNmea(d[0], q.length == 2 ? d[1] : 0, sink);
      return true;
    case 0xB0:
      CReply(0xB0).U8(0).U8(1).U8(0).U8(0).F64(1.0).F64(0.0).F32(1e-7f).Send(sink, 1);
      return true;
    case 0x71:
      CReply(0x72).F32(0.25f).U8(3).U8(4).U8(5).F32(1.5f).F32(20.0f).F32(0.125f).F32(30.0f).U8(6).U8(7).Send(
          sink, 0);
      return true;
    case 0x70:
      CReply(0x70).U8(1).U8(0).U8(1).U8(0).Send(sink, 0);
      return true;
    default:
      return false;
  }
}
