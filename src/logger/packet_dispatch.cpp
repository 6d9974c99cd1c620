#include "logger/packet_dispatch.h"

#include "logger/correction_lines.h"
#include "logger/field_reader.h"
#include "logger/guidance_lines.h"
#include "logger/log_line.h"
#include "logger/measurement_lines.h"
#include "logger/position_lines.h"
#include "logger/rtk_lines.h"
#include "logger/satellite_lines.h"
#include "logger/status_lines.h"

namespace {

// An NMEA sentence wrapped in 0x1A: data byte 0 = 1, byte 1 = the sentence length, then the
// sentence with its CR LF, which the line writer supplies again.
void LogNmeaSentence(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (!(context.Session().options & kLogNmea)) return;
  if (f.Length() < 2 || f.U8(0) != 1 || f.U8(1) != f.Length() - 2) return;
  const std::size_t count = f.Length() - 2 >= 2 ? f.Length() - 4 : 0;
  char text[kKavoMaxData];
  std::size_t n = 0;
  const std::uint8_t* sentence = f.Bytes(2, count);
  for (; sentence != nullptr && n < count && sentence[n] != 0; ++n) text[n] = static_cast<char>(sentence[n]);
  text[n] = '\0';
  context.WriteLine(text);
}

}  // namespace

bool SuperPacketChecksumOk(const KavoPacket& packet) {
  const std::size_t length = packet.length;
  if (length < 2 || length > 255) return false;
  return ReadBe16(packet.data + length - 2) == KavoPayloadSum(packet.data, length - 2);
}

void DispatchPacket(const KavoPacket& packet, ILogLineContext& context) {
  switch (packet.id) {
    case 0x1A:
      LogNmeaSentence(packet, context);
      break;
    case 0x41:
      DecodeTimePacket(packet, context);
      break;
    case 0x42:
      // Single-precision XYZ: accepted at 16 or 20 bytes, no line.
      break;
    case 0x46:
      LogHealth(packet, context);
      break;
    case 0x4A:
      LogResetDetection(packet, context);
      break;
    case 0x53:
      LogAdc(packet, context);
      break;
    case 0x56:
      LogVelocity(packet, context);
      break;
    case 0x5B:
      StoreEphemerisStatus(packet, context);
      break;
    case 0x5C:
      StoreTrackingStatus(packet, context);
      break;
    case 0x5F:
      LogDebugText(packet, context);
      break;
    case 0x6D:
      LogSatelliteSelection(packet, context);
      break;
    case 0x6F:
      LogRawMeasurements(packet, context);
      break;
    case 0x82:
      LogDgpsMode(packet, context);
      break;
    case 0x83:
      LogXyzPosition(packet, context);
      break;
    case 0x84:
      LogLlaPosition(packet, context);
      break;
    case 0x85:
      StoreCorrectionStatus(packet, context);
      break;
    case 0x89:
      LogRtkReport(packet, context);
      break;
    case 0x8F:
      DispatchSuperPacket(packet, context);
      break;
    case 0x94:
      LogAttitudeMatrix(packet, context);
      break;
    case 0x95:
      LogAttitudeQuaternion(packet, context);
      break;
    case 0x9A:
      LogAttitudeEuler(packet, context);
      break;
    default:
      break;
  }
}

void DispatchSuperPacket(const KavoPacket& packet, ILogLineContext& context) {
  if (!SuperPacketChecksumOk(packet)) return;
  const std::size_t length = packet.length;
  switch (packet.data[0]) {
    case 0x7B:
      if (length == 157) LogFirmwareIdentity(packet, context);
      break;
    case 0x80:
      if (length == 17) LogSubscriptionStatus(packet, context);
      break;
    case 0x81:
      LogSpotStations(packet, context);
      break;
    case 0x82:
      if (length == 19) LogDecoderStatus(packet, context);
      break;
    case 0x85:
      LogCorrectionStatusBlock(packet, context);
      break;
    case 0x8B:
      if (length == 42) StoreSubscription(packet, context);
      break;
    case 0x90:
      if (length == 61) LogEngineStatus(packet, context);
      break;
    case 0x91:
      if (length == 37) TakeGuidanceConfig(packet, context);
      break;
    case 0x93:
      LogGuidanceEvents(packet, context);
      break;
    case 0x9A:
      if (length == 25) LogCorrectionSource(packet, context);
      break;
    case 0xA2:
      if (length == 20) LogSolutionQuality(packet, context);
      break;
    case 0xA3:
      LogOrbiHpStatus(packet, context);
      break;
    case 0xA7:
      if (length > 1 && packet.data[1] == 1) LogPositionReport(packet, context);
      break;
    default:
      break;
  }
}
