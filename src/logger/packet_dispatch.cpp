#include "logger/packet_dispatch.h"

#include "link/protocol/kavo_ids.h"
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
    case kavo::kIdWrapped:
      LogNmeaSentence(packet, context);
      break;
    case kavo::kIdTime:
      DecodeTimePacket(packet, context);
      break;
    case kavo::kIdXyzSingle:
      // Single-precision XYZ: accepted at 16 or 20 bytes, no line.
      break;
    case kavo::kIdHealth:
      LogHealth(packet, context);
      break;
    case kavo::kIdResetDetection:
      LogResetDetection(packet, context);
      break;
    case kavo::kIdAdc:
      LogAdc(packet, context);
      break;
    case kavo::kIdVelocity:
      LogVelocity(packet, context);
      break;
    case kavo::kIdEphemerisStatus:
      StoreEphemerisStatus(packet, context);
      break;
    case kavo::kIdTrackingStatus:
      StoreTrackingStatus(packet, context);
      break;
    case kavo::kIdDebugText:
      LogDebugText(packet, context);
      break;
    case kavo::kIdSelection:
      LogSatelliteSelection(packet, context);
      break;
    case kavo::kIdMeasurement:
      LogRawMeasurements(packet, context);
      break;
    case kavo::kIdDgpsMode:
      LogDgpsMode(packet, context);
      break;
    case kavo::kIdXyzPosition:
      LogXyzPosition(packet, context);
      break;
    case kavo::kIdLlaPosition:
      LogLlaPosition(packet, context);
      break;
    case kavo::kIdCorrectionStatus:
      StoreCorrectionStatus(packet, context);
      break;
    case kavo::kIdRtkReport:
      LogRtkReport(packet, context);
      break;
    case kavo::kIdSuperReport:
      DispatchSuperPacket(packet, context);
      break;
    case kavo::kIdAttitudeMatrix:
      LogAttitudeMatrix(packet, context);
      break;
    case kavo::kIdAttitudeQuaternion:
      LogAttitudeQuaternion(packet, context);
      break;
    case kavo::kIdAttitudeEuler:
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
    case kavo::kSubFirmwareIdentity:
      if (length == 157) LogFirmwareIdentity(packet, context);
      break;
    case kavo::kSubSubscriptionStatus:
      if (length == 17) LogSubscriptionStatus(packet, context);
      break;
    case kavo::kSubSpotStations:
      LogSpotStations(packet, context);
      break;
    case kavo::kSubDecoderStatus:
      if (length == 19) LogDecoderStatus(packet, context);
      break;
    case kavo::kSubCorrectionStatus:
      LogCorrectionStatusBlock(packet, context);
      break;
    case kavo::kSubSubscription:
      if (length == 42) StoreSubscription(packet, context);
      break;
    case kavo::kSubEngineStatus:
      if (length == 61) LogEngineStatus(packet, context);
      break;
    case kavo::kSubGuidanceConfig:
      if (length == 37) TakeGuidanceConfig(packet, context);
      break;
    case kavo::kSubSystem:
      LogGuidanceEvents(packet, context);
      break;
    case kavo::kSubCorrectionSource:
      if (length == 25) LogCorrectionSource(packet, context);
      break;
    case kavo::kSubSolutionQuality:
      if (length == 20) LogSolutionQuality(packet, context);
      break;
    case kavo::kSubOrbitServiceStatus:
      LogOrbiHpStatus(packet, context);
      break;
    case kavo::kSubPositionReport:
      if (length > 1 && packet.data[1] == 1) LogPositionReport(packet, context);
      break;
    default:
      break;
  }
}
