#include "config_replies.h"

#include <cstring>
#include <initializer_list>
#include <string_view>

#include "link/protocol/kavo_ids.h"

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
  CReply r(kavo::kIdSuperReport);
  r.U8(kavo::kSubConfigBlock).Text("4415A01234").PadTo(11).Text("70214-00").PadTo(22);
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
  CReply r(kavo::kIdNmeaSettings);
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

// Super-packet requests, by sub-identifier and first argument.
bool AnswerSuper(const KavoPacket& q, const CConfigReplies::Sink& sink) {
  if (q.length < 1) return false;
  const std::uint8_t arg = q.length >= 2 ? q.data[1] : 0;
  switch (q.data[0]) {
    case kavo::kSubConfigBlock:
      SendConfigBlock(sink);
      return true;
    case kavo::kSubHardware:
      CReply(kavo::kIdSuperReport).U8(kavo::kSubHardware).U8(3).U8(24).U8(1).U8(1).U8(1).Send(sink, 1);
      return true;
    case kavo::kSubBoardConfig:
      CReply(kavo::kIdSuperReport).U8(kavo::kSubBoardConfig).U8(0).U8(2).U8(1).Send(sink, 1);
      return true;
    case kavo::kSubCanConfig:
      CReply(kavo::kIdSuperReport).U8(kavo::kSubCanConfig).U8(0).U8(1).U8(0).U8(28).U8(1).U8(0).Send(sink, 1);
      return true;
    case kavo::kSubDgpsSource:
      CReply(kavo::kIdSuperReport)
          .U8(kavo::kSubDgpsSource)
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
    case kavo::kSubAutoSelect:
      CReply(kavo::kIdSuperReport).U8(kavo::kSubAutoSelect).U8(3).U8(6).U8(5).U8(0).Send(sink, 1);
      return true;
    case kavo::kSubOrbitServiceStatus:
      if (arg == 0) {
        CReply(kavo::kIdSuperReport)
            .U8(kavo::kSubOrbitServiceStatus)
            .U8(0)
            .U32(1483228800u)
            .Send(sink, 1);  // a stop date late in 2026
        return true;
      }
      if (arg == 1) {
        CReply(kavo::kIdSuperReport).U8(kavo::kSubOrbitServiceStatus).U8(1).Text("3.14").U8(0).Send(sink, 1);
        return true;
      }
      return false;  // the status request of logging: the navigation stream answers it
    case kavo::kSubLightbarConfig:
      CReply(kavo::kIdSuperReport)
          .U8(kavo::kSubLightbarConfig)
          .U8(0)
          .U8(5)
          .U8(1)
          .U8(1)
          .U8(1)
          .F32(0.3f)
          .F32(1.2f)
          .F32(10.0f)
          .Send(sink, 1);
      return true;
    case kavo::kSubButtonSet:
      CReply(kavo::kIdSuperReport).U8(kavo::kSubButtonSet).U8(0).Send(sink, 1);
      return true;
    case kavo::kSubButtonDefinitions:
      CReply(kavo::kIdSuperReport)
          .U8(kavo::kSubButtonDefinitions)
          .U8(2)
          .U8(1)
          .U8(2)
          .U8(3)
          .U8(4)
          .Send(sink, 1);
      return true;
    case kavo::kSubBiasFilter:
      if (arg != 0x05) return false;
      CReply(kavo::kIdSuperReport)
          .U8(kavo::kSubBiasFilter)
          .U8(5)
          .U8(0)
          .U8(1)
          .F32(30.0f)
          .F32(4.0f)
          .F32(10.0f)
          .U8(1)
          .F32(120.0f)
          .Send(sink, 1);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool CConfigReplies::Answer(const KavoPacket& q, const Sink& sink) const {
  const std::uint8_t* d = q.data;
  switch (q.id) {
    case kavo::kIdSuperRequest:
      return AnswerSuper(q, sink);
    case kavo::kIdHealthRequest:
      CReply(kavo::kIdMachineId).U8(0x5A).U8(0x00).U8(0x00).Send(sink, 0);
      return true;
    case kavo::kIdIoOptions:
      if (q.length != 0) return false;  // with its four bytes it sets the options
      CReply(kavo::kIdIoOptionsReport).U8(0x1A).U8(0x02).U8(0x18).U8(0x08).Send(sink, 0);
      return true;
    case kavo::kIdFixAutoReport:
      if (q.length != 1) return false;
      CReply(kavo::kIdFixAutoReport).U8(d[0]).U8(1).Send(sink, 0);
      return true;
    case kavo::kIdSyncMeasurements:
      if (q.length != 1) return false;
      CReply(kavo::kIdSyncMeasurements).U8(d[0]).U8(0).U8(1).Send(sink, 0);
      return true;
    case kavo::kIdQualityOutputRequest:
      CReply(kavo::kIdQualityOutput).U8(0).U8(1).Send(sink, 0);
      return true;
    case kavo::kIdBaseStationRequest:
      CReply(kavo::kIdBaseStation).U8(0).Send(sink, 0);
      return true;
    case kavo::kIdNavigation:
      if (q.length != 1) return false;
      CReply(kavo::kIdNavigation)
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
    case kavo::kIdOutputIntervalsRequest:
      if (q.length != 1) return false;
      if (d[0] == 1)
        CReply(kavo::kIdOutputIntervals).U8(1).U8(0).U8(0).U8(2).U8(1).U8(0).Send(sink, 0);
      else
        CReply(kavo::kIdOutputIntervals).U8(2).U8(0x00).U8(0x00).Send(sink, 0);
      return true;
    case kavo::kIdNmeaControl:
      // Requests are one or two bytes; the NMEA switch (07 FF ...) goes on to the receiver.
      if (q.length < 1 || q.length > 2 || (q.length == 2 && d[1] == 0xFF)) return false;
      SendNmea(d[0], q.length == 2 ? d[1] : 0, sink);
      return true;
    case kavo::kIdPps:
      CReply(kavo::kIdPps).U8(0).U8(1).U8(0).U8(0).F64(1.0).F64(0.0).F32(1e-7f).Send(sink, 1);
      return true;
    case kavo::kIdPvFilterSettingsRequest:
      CReply(kavo::kIdPvFilterSettings)
          .F32(0.25f)
          .U8(3)
          .U8(4)
          .U8(5)
          .F32(1.5f)
          .F32(20.0f)
          .F32(0.125f)
          .F32(30.0f)
          .U8(6)
          .U8(7)
          .Send(sink, 0);
      return true;
    case kavo::kIdPvFilter:
      CReply(kavo::kIdPvFilter).U8(1).U8(0).U8(1).U8(0).Send(sink, 0);
      return true;
    default:
      return false;
  }
}
