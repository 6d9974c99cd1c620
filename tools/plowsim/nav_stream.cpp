#include "nav_stream.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "link/protocol/kavo_ids.h"
#include "sim_time.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kBaseLatitude = 52.518720 * kPi / 180.0;  // radians
constexpr double kBaseLongitude = 13.409463 * kPi / 180.0;
constexpr double kBaseHeight = 74.2;   // metres above the ellipsoid
constexpr double kOrbitMetres = 15.0;  // the receiver drives a slow circle of this radius
constexpr double kOrbitSeconds = 600.0;
constexpr double kEarthRadius = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kUtcOffset = kGpsLeapSeconds;

// Writes big-endian fields into a packet's payload; never past its data area.
class CPayload {
 public:
  CPayload(KavoPacket& p, std::uint8_t id) : packet(p) {
    packet = KavoPacket{};
    packet.id = id;
  }
  CPayload& U8(unsigned v) {
    if (packet.length < kKavoMaxData) packet.data[packet.length++] = static_cast<std::uint8_t>(v);
    return *this;
  }
  CPayload& U16(unsigned v) { return U8(v >> 8).U8(v & 0xFF); }
  CPayload& U32(std::uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
  CPayload& F32(double v) {
    const float f = static_cast<float>(v);
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return U32(bits);
  }
  CPayload& F64(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return U32(static_cast<std::uint32_t>(bits >> 32)).U32(static_cast<std::uint32_t>(bits));
  }
  CPayload& Text(const char* text) {
    for (; *text != '\0'; ++text) U8(static_cast<unsigned char>(*text));
    return *this;
  }
  std::size_t Size() const { return packet.length; }
  // Zero bytes up to `n` payload bytes in all.
  CPayload& PadTo(std::size_t n) {
    while (packet.length < n && packet.length < kKavoMaxData) U8(0);
    return *this;
  }

 private:
  KavoPacket& packet;
};

// Where the receiver is at a moment: geodetic and earth-centred, and its velocity.
struct Fix {
  double towSeconds;  // GPS time of week
  double latitude, longitude, height;
  double x, y, z;
  double east, north, up;
  double clockBias;
};

Fix FixAt(std::int64_t utcMs) {
  const GpsTime gps = GpsTimeFromUtcMs(utcMs);
  Fix f{};
  f.towSeconds = gps.timeOfWeek;
  const double angle = 2.0 * kPi * std::fmod(gps.timeOfWeek, kOrbitSeconds) / kOrbitSeconds;
  const double northOffset = kOrbitMetres * std::cos(angle);
  const double eastOffset = kOrbitMetres * std::sin(angle);
  f.latitude = kBaseLatitude + northOffset / kEarthRadius;
  f.longitude = kBaseLongitude + eastOffset / (kEarthRadius * std::cos(kBaseLatitude));
  f.height = kBaseHeight + 0.3 * std::sin(angle * 3.0);
  const double speed = 2.0 * kPi * kOrbitMetres / kOrbitSeconds;
  f.north = -speed * std::sin(angle);
  f.east = speed * std::cos(angle);
  f.up = 0.01 * std::cos(angle * 3.0);
  const double e2 = kFlattening * (2.0 - kFlattening);
  const double n = kEarthRadius / std::sqrt(1.0 - e2 * std::sin(f.latitude) * std::sin(f.latitude));
  f.x = (n + f.height) * std::cos(f.latitude) * std::cos(f.longitude);
  f.y = (n + f.height) * std::cos(f.latitude) * std::sin(f.longitude);
  f.z = (n * (1.0 - e2) + f.height) * std::sin(f.latitude);
  f.clockBias = 12.5 + std::fmod(gps.timeOfWeek, 100.0) * 0.01;
  return f;
}

// Elevation and azimuth (radians) of a satellite: each PRN drifts across the sky on its own.
void SkyPosition(int prn, double tow, double& elevation, double& azimuth) {
  const double phase = prn * 0.7 + tow / 3600.0;
  elevation = (0.25 + 0.45 * (0.5 + 0.5 * std::sin(phase))) * kPi / 2.0;
  azimuth = std::fmod(prn * 0.9 + tow / 7200.0, 2.0 * kPi);
}

double SignalLevel(int prn, double tow) {
  return 38.0 + std::fmod(prn * 1.7 + tow / 60.0, 12.0);
}

int GpsCount() {
  return static_cast<int>(sizeof CNavStream::kGpsPrns / sizeof CNavStream::kGpsPrns[0]);
}

void BuildDoubleFix(KavoPacket& p, const Fix& f, bool lla, bool longTime) {
  CPayload out(p, lla ? kavo::kIdLlaPosition : kavo::kIdXyzPosition);
  if (lla)
    out.F64(f.latitude).F64(f.longitude).F64(f.height);
  else
    out.F64(f.x).F64(f.y).F64(f.z);
  out.F64(f.clockBias);
  if (longTime)
    out.F64(f.towSeconds);
  else
    out.F32(f.towSeconds);
}

void BuildSatellites(CNavStream::Kind kind, const Fix& f, const CNavStream::Sink& sink) {
  KavoPacket p;
  auto each = [&](int prn, int channel) {
    double elevation = 0, azimuth = 0;
    SkyPosition(prn, f.towSeconds, elevation, azimuth);
    switch (kind) {
      case CNavStream::Kind::Tracking:
        CPayload(p, kavo::kIdTrackingStatus)
            .U8(static_cast<unsigned>(prn))
            .U8(static_cast<unsigned>(channel << 3))
            .U8(1)
            .U8(prn >= 120 ? 0 : 1)
            .F32(SignalLevel(prn, f.towSeconds))
            // The measurement time in tenths: a report asked for between two epochs carries a
            // time of its own, so the logger does not take it for the satellite's second signal.
            .F32(std::round(f.towSeconds * 10.0) / 10.0)
            .F32(elevation)
            .F32(azimuth)
            .PadTo(24);
        break;
      case CNavStream::Kind::Ephemeris:
        CPayload(p, kavo::kIdEphemerisStatus)
            .U8(static_cast<unsigned>(prn))
            .F32(std::floor(f.towSeconds / 7200.0) * 7200.0)
            .U8(0)
            .U8(static_cast<unsigned>((prn * 7 + static_cast<int>(f.towSeconds / 7200.0)) & 0xFF))
            .F32(std::floor(f.towSeconds / 7200.0) * 7200.0 + 7200.0)
            .U8(0)
            .F32(2.0);
        break;
      default:  // CorrectionStatus
        CPayload(p, kavo::kIdCorrectionStatus)
            .U8(static_cast<unsigned>(prn))
            .U8(0x01)
            .U8(0x00)
            .U8(static_cast<unsigned>(prn & 0x3F))
            .U8(0x0C)
            .U8(0x00)
            .F32(std::floor(f.towSeconds) - 4.0)
            .F32(0.25 * (prn % 9) - 1.0)
            .F32(1.5e-3 * (prn % 5 + 1))
            .PadTo(22);
        break;
    }
    sink(p, 0);
  };
  int channel = 0;
  for (int prn : CNavStream::kGpsPrns) each(prn, channel++);
  for (int prn : CNavStream::kSbasPrns) each(prn, channel++);
}

}  // namespace

void CNavStream::Build(Kind kind, std::int64_t utcMs, const Sink& sink) const {
  const Fix f = FixAt(utcMs);
  const double tow = f.towSeconds;
  KavoPacket p;
  // Super-packets: padded to their data length less the checksum the sender appends.
  auto super = [&](CPayload& out, std::size_t length) {
    out.PadTo(length - 2);
    sink(p, 1);
  };
  switch (kind) {
    case Kind::LlaFix40:
    case Kind::LlaFix36:
    case Kind::XyzFix40:
    case Kind::XyzFix36: {
      const bool lla = kind == Kind::LlaFix40 || kind == Kind::LlaFix36;
      BuildDoubleFix(p, f, lla, kind == Kind::LlaFix40 || kind == Kind::XyzFix40);
      sink(p, 0);
      return;
    }
    case Kind::Velocity20:
    case Kind::Velocity24: {
      CPayload out(p, kavo::kIdVelocity);
      out.F32(f.east).F32(f.north).F32(f.up).F32(0.012);
      if (kind == Kind::Velocity24)
        out.F64(tow);
      else
        out.F32(tow);
      sink(p, 0);
      return;
    }
    case Kind::DgpsMode:
      CPayload(p, kavo::kIdDgpsMode).U8((epoch / 10) % 2 == 0 ? 1 : 3);
      sink(p, 0);
      return;
    case Kind::SatelliteSelection: {
      CPayload out(p, kavo::kIdSelection);
      out.U8(static_cast<unsigned>(GpsCount() << 4) | 0x04).F32(1.6).F32(0.9).F32(1.3).F32(0.8);
      for (int prn : kGpsPrns) out.U8(static_cast<unsigned>(prn));
      sink(p, 0);
      return;
    }
    case Kind::Tracking:
    case Kind::Ephemeris:
    case Kind::CorrectionStatus:
      BuildSatellites(kind, f, sink);
      return;
    case Kind::Health:
      // PDOP too high, no antenna detected, excessive frequency bias.
      CPayload(p, kavo::kIdHealth).U8(3).U8(0x30);
      sink(p, 0);
      return;
    case Kind::Adc:
      CPayload(p, kavo::kIdAdc)
          .F32(11.8 + 0.1 * std::sin(tow / 60.0))
          .F32(0)
          .F32(0)
          .F32(0)
          .F32(4.9)
          .PadTo(32);
      sink(p, 0);
      return;
    case Kind::DebugText: {
      char text[64];
      std::snprintf(text, sizeof text, "nav task idle %u%%\r\n", static_cast<unsigned>(60 + epoch % 30));
      CPayload(p, kavo::kIdDebugText).U8(1).Text(text);
      sink(p, 0);
      return;
    }
    case Kind::FixTime:
      CPayload(p, kavo::kIdResetDetection)
          .F32(f.latitude)
          .F32(f.longitude)
          .F32(f.height)
          .F32(f.clockBias)
          .F32(tow);
      sink(p, 0);
      return;
    case Kind::AttitudeMatrix: {
      const double yaw = std::fmod(tow / 100.0, 2.0 * kPi);
      CPayload out(p, kavo::kIdAttitudeMatrix);
      out.F64(tow);
      out.F32(std::cos(yaw)).F32(-std::sin(yaw)).F32(0).F32(std::sin(yaw)).F32(std::cos(yaw)).F32(0);
      out.F32(0).F32(0).F32(1);
      sink(p, 0);
      return;
    }
    case Kind::AttitudeQuaternion: {
      const double yaw = std::fmod(tow / 100.0, 2.0 * kPi);
      CPayload(p, kavo::kIdAttitudeQuaternion)
          .F64(tow)
          .F32(std::cos(yaw / 2))
          .F32(0)
          .F32(0)
          .F32(std::sin(yaw / 2));
      sink(p, 0);
      return;
    }
    case Kind::AttitudeEuler:
      CPayload(p, kavo::kIdAttitudeEuler)
          .F64(tow)
          .F32(0.012)
          .F32(-0.004)
          .F32(std::fmod(tow / 100.0, 2.0 * kPi));
      sink(p, 0);
      return;
    case Kind::RawL1: {
      const int n = 4;
      const std::size_t length = 21 + 27 * n + 3;
      CPayload out(p, kavo::kIdMeasurement);
      out.U8(0x01).U8(2).U16(static_cast<unsigned>(length - 1)).F64(tow * 1000.0).F64(0.0).U8(n);
      for (int i = 0; i < n; ++i) {
        const int prn = kGpsPrns[i];
        double elevation = 0, azimuth = 0;
        SkyPosition(prn, tow, elevation, azimuth);
        out.U8(static_cast<unsigned>(prn)).U8(0x0F).U8(0x01);
        out.U8(static_cast<unsigned>(static_cast<int>(elevation * 180.0 / kPi)) & 0xFF);
        out.U16(static_cast<unsigned>(static_cast<int>(azimuth * 180.0 / kPi)) & 0xFFFF);
        out.U8(static_cast<unsigned>(SignalLevel(prn, tow) * 4.0));
        out.F64(2.05e7 + prn * 1.0e5 + std::fmod(tow, 100.0) * 10.0);
        out.F64(1.08e8 + prn * 5.0e5 + std::fmod(tow, 100.0) * 52.0);
        out.F32(-1200.0 + 150.0 * i);
      }
      out.U16(0).U8(3);
      sink(p, 0);
      return;
    }
    case Kind::RawL2: {
      const int n = 3;
      CPayload out(p, kavo::kIdMeasurement);
      out.U8(0x10).F64(tow * 1000.0).F64(0.0).U8(n);
      for (int i = 0; i < n; ++i) {
        const int prn = kGpsPrns[i];
        out.U8(static_cast<unsigned>(prn)).U8(0x07).U8(0x02);
        out.F32(SignalLevel(prn, tow) - 6.0);
        out.F64(8.4e7 + prn * 4.0e5 + std::fmod(tow, 100.0) * 41.0);
        out.F32(2.05e7 + prn * 1.0e5 + std::fmod(tow, 100.0) * 10.0);
      }
      out.PadTo(static_cast<std::size_t>(19 * n + 20));
      sink(p, 0);
      return;
    }
    case Kind::RawClock:
      CPayload(p, kavo::kIdMeasurement)
          .U8(0x20)
          .U16(static_cast<unsigned>(GpsTimeFromUtcMs(utcMs).week))
          .F64(tow * 1000.0)
          .F32(f.clockBias)
          .U8(8)
          .U8(0)
          .U8(0x01)
          .U8(0x02)
          .F32(0.012)
          .U8(0x00);
      sink(p, 0);
      return;
    case Kind::RawMultiSystem: {
      // Two satellites: GPS on two frequencies, SBAS on one.
      const std::size_t length = 13 + (11 + 2 * 27) + (11 + 27);
      CPayload out(p, kavo::kIdMeasurement);
      out.U8(0x21).U16(static_cast<unsigned>(length)).U8(0).F64(tow * 1000.0).U8(2);
      const struct {
        int prn;
        unsigned system;
        unsigned frequencies;
      } groups[] = {{kGpsPrns[1], 0, 2}, {kSbasPrns[0], 1, 1}};
      for (const auto& g : groups) {
        out.U8(0).U8(static_cast<unsigned>(g.prn)).U8(g.system).U8(0).U8(g.frequencies);
        out.U16(static_cast<unsigned>(g.prn * 3)).U16(static_cast<unsigned>(-15) & 0xFFFF).U8(0x0F).U8(0);
        for (unsigned k = 0; k < g.frequencies; ++k) {
          out.U8(k).U8(0).U16(static_cast<unsigned>(SignalLevel(g.prn, tow) * 10.0));
          out.F64(2.05e7 + g.prn * 1.0e5 + k * 3.1);
          out.F64(1.08e8 + g.prn * 5.0e5 + k * 11.7);
          out.F32(-900.0).U8(0).U8(0x03).U8(0);
        }
      }
      sink(p, 0);
      return;
    }
    case Kind::Rtk1: {
      CPayload out(p, kavo::kIdRtkReport);
      out.U8(0).U8(0).U32(static_cast<std::uint32_t>(tow)).U16(42);
      sink(p, 1);
      return;
    }
    case Kind::RtkRoverState: {
      static constexpr unsigned kStates[] = {0, 1, 2, 3, 5};
      const unsigned state = kStates[epoch % 5];
      CPayload out(p, kavo::kIdRtkReport);
      out.U8(0).U8(3).U8(state).U8(0x01).U8(0x02).U8(0x03).U8(0x04).U8(0x05).U8(0x06);
      out.U32(static_cast<std::uint32_t>(epoch % 100)).U8(0x07).U8(0x08).U8(0x09).U8(0x0A).U8(0);
      // Bytes 18 on: the state's own information.
      switch (state) {
        case 2:
          out.U16(1234);
          break;
        case 3:
          out.U8(0x11).U8(0x12).U8(0x13).U8(0x14);
          break;
        case 5:
          out.U8(0x21).U8(0x22).U8(0x23).F64(0.0123).F64(-0.0042).F64(0.0311);
          break;
        default:
          out.U8(0x31);
          break;
      }
      sink(p, 1);
      return;
    }
    case Kind::RtkErrorReport:
      CPayload(p, kavo::kIdRtkReport).U8(0).U8(7).U8(2).U8(1).U16(17).U16(3).U32(45000);
      sink(p, 1);
      return;
    case Kind::RtkCmrStats: {
      CPayload out(p, kavo::kIdRtkReport);
      out.U8(0).U8(8).U8(0).U8(2).U8(1);
      out.U8(11).U8(12).U8(98).U8(87).U32(1200).U32(1100);
      sink(p, 1);
      return;
    }
    case Kind::OrbiHpStatus: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubOrbitServiceStatus)
          .U8(0)
          .U16(0x0103)
          .U8(epoch % 3 == 0 ? 1 : 2)
          .F32(42000.0)
          .F32(0.08)
          .PadTo(29)
          .U8(2);
      out.U32(101).U32(107);
      super(out, 32 + 4 * 2);
      return;
    }
    case Kind::CorrectionSource: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubCorrectionSource).U16(6).U16(35).F64(1545.5).U8(1).U8(0x0B).U8(42);
      super(out, 25);
      return;
    }
    case Kind::SolutionQuality: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubSolutionQuality).U8(3).U8(6).U16(12).U8(7).U8(0x01).F32(2.5);
      super(out, 20);
      return;
    }
    case Kind::DecoderStatus: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubDecoderStatus)
          .F32(35.5)
          .U16(512)
          .U16(3)
          .U32(static_cast<std::uint32_t>(epoch * 7))
          .U8(3);
      super(out, 19);
      return;
    }
    case Kind::SubscriptionR:
    case Kind::SubscriptionO: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubSubscription).U8(kind == Kind::SubscriptionR ? 3 : 4);
      for (int i = 0; i < 24; ++i) out.U8(static_cast<unsigned>(0x41 + i));
      // Bytes 26-28 reserved; 29-34 the dates, of which 32-34 give the expiry month, day, year.
      out.U8(0).U8(0).U8(0).U8(1).U8(1).U8(126).U8(12).U8(31).U8(127).U8(0).U8(0);
      super(out, 42);
      return;
    }
    case Kind::ServiceStatusR:
    case Kind::ServiceStatusO: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubSubscriptionStatus)
          .U8(0)
          .U32(1545500)
          .U32(0)
          .U8(7)
          .U8(kind == Kind::ServiceStatusR ? 3 : 4)
          .U16(0x0021);
      super(out, 17);
      return;
    }
    case Kind::SpotStations: {
      const unsigned n = 3;
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubSpotStations).U8(n);
      out.U16(101).U8(0x03).U16(107).U8(0x01).U16(233).U8(0x00);
      out.U8(0).U16(0).U8(2);  // prefer network stations, no manual station, software decoder
      super(out, 3 * n + 10);
      return;
    }
    case Kind::EngineStatus: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubEngineStatus)
          .U8(0)
          .F64(tow)
          .U16(0x0102)
          .U8(0x03)
          .U16(static_cast<unsigned>(-7) & 0xFFFF);
      out.PadTo(25).F32(1.25).F32(0.75).F32(0.5);
      super(out, 61);
      return;
    }
    case Kind::FirmwareIdentity: {
      CPayload out(p, kavo::kIdSuperReport);
      // The configuration block in its older layout (byte 28 not 3), which is also what the
      // logger's configuration report reads from this reply: identity, product text, options, ports.
      out.U8(kavo::kSubFirmwareIdentity).Text("4415A01234").PadTo(11).Text("70214-00").PadTo(22);
      out.U8(4).U8(2).U8(11).U8(28).U8(126).U8(0).U8(0).Text("Brisk Mote 4415A01234").PadTo(61);
      out.U8(6).U8(14).U16(2025).U16(12);                                     // made 6/14/2025, product 12
      out.U8(1).U8(1).U8(0).U8(1).U8(2).U8(1).U8(0).U8(1).U8(2).U8(0).U8(1);  // One PPS .. Carrier phase
      out.U16(2390).U16(2410);
      out.U8(1).U8(0).U8(0).U8(0).U8(3).U8(0x00).U8(2).U8(1).U8(1).U8(1).U8(1);  // Brantix .. WAAS
      out.U8(48).U8(0).U8(1).U8(1).U8(1).U8(1).U8(1).U8(0);                      // contrast .. A-Reserved
      out.U8(1).U8(2).U8(11).U8(0).U8(0).U8(3).U8(0).U8(0x01);                   // port A: KAVO, 115K
      out.U8(4).U8(3).U8(7).U8(7).U8(0).U8(3).U8(0).U8(0x00);                    // port B: RTCM in, NMEA out
      super(out, 157);
      return;
    }
    case Kind::StatusBlock: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubCorrectionStatus).U8(0).U8(2);
      // A satellite (type 5) entry, then a beacon (type 1) entry, 30 bytes each.
      for (unsigned type : {5u, 1u}) {
        const std::size_t start = out.Size();
        out.F64(tow * 1000.0).U8(type).U8(3).U8(type == 5 ? 7 : 2).U8(42).U8(30).U8(0).U8(20);
        out.U32(type == 5 ? 15455u : 3105u).U8(45).U8(200).PadTo(start + 24).U16(type).PadTo(start + 30);
      }
      super(out, 65);
      return;
    }
    case Kind::GuidanceConfig: {
      CPayload out(p, kavo::kIdSuperReport);
      // Units, display, boundary, pattern, skip, look ahead, swath generation; swath width and
      // antenna offset (m); output rate (ms, what the logger changes); curve log filter, A-B
      // heading, DGPS for guidance.
      out.U8(kavo::kSubGuidanceConfig).U8(1).U8(0).U8(0).U8(0).U8(0).U8(5).U8(0).F32(12.0).F32(0.5).U32(1000);
      out.U8(1).F32(87.5).U8(0);
      super(out, 37);
      return;
    }
    case Kind::GuidanceKey: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubSystem).U8(kavo::kSystemKeyEvent).U8(0).U8(1).U8(static_cast<unsigned>(1 + epoch % 9));
      super(out, 7);
      return;
    }
    case Kind::GuidanceAttitude: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubSystem).U8(kavo::kSystemAttitude).U8(0).F64(tow);
      for (int i = 1; i < 10; ++i) out.F64(0.25 * i - 1.0);
      super(out, 3 + 80 + 2);
      return;
    }
    case Kind::GuidanceDebug: {
      char text[64];
      const int n =
          std::snprintf(text, sizeof text, "swath %u offset 0.12", static_cast<unsigned>(epoch % 50));
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubSystem).U8(kavo::kSystemDebug).U16(static_cast<unsigned>(n)).Text(text);
      super(out, static_cast<std::size_t>(n) + 6);
      return;
    }
    case Kind::GuidancePosition: {
      for (unsigned kindByte : {0u, 1u}) {
        CPayload out(p, kavo::kIdSuperReport);
        out.U8(kavo::kSubSystem).U8(kavo::kSystemPosition).U8(kindByte).U8(static_cast<unsigned>(epoch % 3));
        if (kindByte == 0)
          out.F64(f.latitude).F64(f.longitude).F64(f.height);
        else
          out.F64(f.x).F64(f.y).F64(f.z);
        out.F64(f.clockBias).F64(tow);
        super(out, 46);
      }
      return;
    }
    case Kind::PositionReport: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubPositionReport).U8(1).U8(0).F64(tow).U8(9).U8(0).U8(7).U32(0x00010003);
      out.F64(f.latitude).F64(f.longitude).F64(f.height).F32(0.021).F32(0.018).F32(0.043);
      out.U8(33).F32(1.5).F32(2.5);
      super(out, 65);
      return;
    }
    case Kind::NoPosition: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubPositionReport).U8(1).U8(1).F64(tow).U8(0).U8(0).U32(0x00000100).U8(4);
      super(out, 20);
      return;
    }
    case Kind::PositionQuality: {
      CPayload out(p, kavo::kIdSuperReport);
      out.U8(kavo::kSubPositionReport)
          .U8(1)
          .U8(2)
          .F64(tow)
          .U8(9)
          .U8(2)
          .F32(0.85)
          .F32(0.035)
          .F64(0.012)
          .F64(0.015)
          .F64(0.031);
      super(out, 47);
      return;
    }
    case Kind::Nmea: {
      // $GPGGA with the position in degrees and minutes, checksum over the sentence body.
      const GpsTime gps = GpsTimeFromUtcMs(utcMs);
      const double utcOfDay = std::fmod(gps.timeOfWeek - kUtcOffset + 7 * 86400.0, 86400.0);
      const int hh = static_cast<int>(utcOfDay / 3600.0);
      const int mm = static_cast<int>(std::fmod(utcOfDay, 3600.0) / 60.0);
      const double ss = std::fmod(utcOfDay, 60.0);
      const double latDeg = f.latitude * 180.0 / kPi, lonDeg = f.longitude * 180.0 / kPi;
      char body[120];
      std::snprintf(body, sizeof body,
                    "GPGGA,%02d%02d%05.2f,%02d%07.4f,N,%03d%07.4f,E,2,08,0.9,%.1f,M,40.1,M,,", hh, mm, ss,
                    static_cast<int>(latDeg), std::fmod(latDeg, 1.0) * 60.0, static_cast<int>(lonDeg),
                    std::fmod(lonDeg, 1.0) * 60.0, f.height);
      unsigned sum = 0;
      for (const char* c = body; *c != '\0'; ++c) sum ^= static_cast<unsigned char>(*c);
      char sentence[140];
      const int n = std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body, sum);
      CPayload(p, kavo::kIdWrapped).U8(1).U8(static_cast<unsigned>(n)).Text(sentence);
      sink(p, 0);
      return;
    }
  }
}

void CNavStream::Epoch(std::int64_t utcMs, bool nmea, const Sink& sink) {
  Build((epoch % 2 == 0) ? Kind::LlaFix40 : Kind::LlaFix36, utcMs, sink);
  Build((epoch % 2 == 0) ? Kind::Velocity24 : Kind::Velocity20, utcMs, sink);
  Build(Kind::PositionReport, utcMs, sink);
  if (nmea) Build(Kind::Nmea, utcMs, sink);
  static constexpr Kind kGroups[5][16] = {
      {Kind::SatelliteSelection, Kind::Tracking, Kind::Ephemeris, Kind::CorrectionStatus, Kind::XyzFix40},
      {Kind::DgpsMode, Kind::Health, Kind::Adc, Kind::FixTime, Kind::AttitudeMatrix, Kind::AttitudeQuaternion,
       Kind::AttitudeEuler, Kind::XyzFix36, Kind::PositionQuality},
      {Kind::RawL1, Kind::RawL2, Kind::RawClock, Kind::RawMultiSystem, Kind::DebugText, Kind::NoPosition},
      {Kind::Rtk1, Kind::RtkRoverState, Kind::RtkErrorReport, Kind::RtkCmrStats, Kind::OrbiHpStatus,
       Kind::GuidanceKey, Kind::GuidanceAttitude, Kind::GuidanceDebug, Kind::GuidancePosition},
      {Kind::CorrectionSource, Kind::SolutionQuality, Kind::DecoderStatus, Kind::SubscriptionR,
       Kind::SubscriptionO, Kind::ServiceStatusR, Kind::ServiceStatusO, Kind::SpotStations,
       Kind::EngineStatus, Kind::FirmwareIdentity, Kind::StatusBlock, Kind::GuidanceConfig},
  };
  const auto& group = kGroups[epoch % 5];
  for (std::size_t i = 0; i < 16; ++i) {
    // An empty slot holds the first enumerator, which every epoch already sent.
    if (i > 0 && group[i] == Kind::LlaFix40) break;
    Build(group[i], utcMs, sink);
  }
  ++epoch;
}

bool CNavStream::Answer(const KavoPacket& request, std::int64_t utcMs, const Sink& sink) const {
  const std::uint8_t* d = request.data;
  switch (request.id) {
    case kavo::kIdDgpsModeRequest:  // DGPS mode request
      Build(Kind::DgpsMode, utcMs, sink);
      return true;
    case kavo::kIdTrackingStatusRequest:  // tracking status of every satellite
      Build(Kind::Tracking, utcMs, sink);
      return true;
    case kavo::kIdRtkRequest:  // RTK report request: 0x69 0x32 type
      if (request.length >= 2 && d[1] == 0x03) Build(Kind::RtkRoverState, utcMs, sink);
      if (request.length >= 2 && d[1] == 0x07) Build(Kind::RtkErrorReport, utcMs, sink);
      if (request.length >= 2 && d[1] == 0x08) Build(Kind::RtkCmrStats, utcMs, sink);
      return true;
    case kavo::kIdSuperRequest:
      break;
    default:
      return false;
  }
  // Super-packet requests carry a checksum: the sub-identifier and its arguments, then two sum bytes.
  if (request.length < 3 || !request.checksumOk) return false;
  const std::size_t arguments = request.length - 3u;
  switch (d[0]) {
    case kavo::kSubCorrectionSource:
      Build(Kind::CorrectionSource, utcMs, sink);
      return true;
    case kavo::kSubSubscription:
      if (arguments >= 1 && (d[1] == 3 || d[1] == 4))
        Build(d[1] == 3 ? Kind::SubscriptionR : Kind::SubscriptionO, utcMs, sink);
      return true;
    case kavo::kSubSubscriptionStatus:
      if (arguments >= 1 && (d[1] == 3 || d[1] == 4))
        Build(d[1] == 3 ? Kind::ServiceStatusR : Kind::ServiceStatusO, utcMs, sink);
      return true;
    case kavo::kSubSpotStations:
      Build(Kind::SpotStations, utcMs, sink);
      return true;
    case kavo::kSubCorrectionStatus:
      Build(Kind::StatusBlock, utcMs, sink);
      return true;
    case kavo::kSubFirmwareIdentity:
      Build(Kind::FirmwareIdentity, utcMs, sink);
      return true;
    case kavo::kSubOrbitServiceStatus:
      Build(Kind::OrbiHpStatus, utcMs, sink);
      return true;
    case kavo::kSubGuidanceConfig:
      // The request has no arguments; the full configuration the logger sends back is taken
      // without an answer.
      if (arguments == 0) Build(Kind::GuidanceConfig, utcMs, sink);
      return true;
    default:
      return false;
  }
}
