#include "dat_replies.h"

#include <cmath>
#include <cstring>
#include <iterator>

#include "link/protocol/kavo_ids.h"
#include "nav_stream.h"
#include "sim_time.h"

namespace {

constexpr std::uint8_t kTypeIonosphere = 4;
constexpr std::uint8_t kTypeUtc = 5;
constexpr std::uint8_t kTypeEphemeris = 6;
constexpr std::uint16_t kIonosphereLength = 44;
constexpr std::uint16_t kUtcLength = 43;
constexpr std::uint16_t kEphemerisLength = 171;
constexpr std::uint8_t kCmrMessageLength = 40;

// Big-endian writer into a packet's data at given offsets; bounded by the packet's length.
class CFields {
 public:
  CFields(KavoPacket& p, std::uint8_t id, std::uint16_t length) : packet(p) {
    packet = KavoPacket{};
    packet.id = id;
    packet.length = length;
  }
  CFields& U8(std::size_t at, unsigned v) {
    if (at < packet.length) packet.data[at] = static_cast<std::uint8_t>(v);
    return *this;
  }
  CFields& U16(std::size_t at, unsigned v) { return U8(at, v >> 8).U8(at + 1, v & 0xFF); }
  CFields& U32(std::size_t at, std::uint32_t v) { return U16(at, v >> 16).U16(at + 2, v & 0xFFFF); }
  CFields& F32(std::size_t at, double v) {
    const float f = static_cast<float>(v);
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return U32(at, bits);
  }
  CFields& F64(std::size_t at, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return U32(at, static_cast<std::uint32_t>(bits >> 32)).U32(at + 4, static_cast<std::uint32_t>(bits));
  }

 private:
  KavoPacket& packet;
};

bool Tracked(int prn) {
  for (int tracked : CNavStream::kGpsPrns)
    if (tracked == prn) return true;
  return false;
}

constexpr int kTrackedCount = static_cast<int>(std::size(CNavStream::kGpsPrns));

}  // namespace

void CDatReplies::BuildIonosphere(KavoPacket& p) {
  CFields f(p, kavo::kIdDataReply, kIonosphereLength);
  f.U8(0, 0x01).U8(1, kTypeIonosphere);
  const double terms[8] = {1.118e-8, 7.451e-9, -5.960e-8, -5.960e-8, 90112.0, 0.0, -196608.0, -65536.0};
  for (int i = 0; i < 8; ++i) f.F32(12 + 4 * static_cast<std::size_t>(i), terms[i]);
}

void CDatReplies::BuildUtc(KavoPacket& p, std::int64_t utcMs) {
  const GpsTime gps = GpsTimeFromUtcMs(utcMs);
  CFields f(p, kavo::kIdDataReply, kUtcLength);
  f.U8(0, 0x01).U8(1, kTypeUtc);
  f.F64(17, -2.79e-9).F32(25, -8.88e-16).U16(29, kGpsLeapSeconds).F32(31, 405504.0);
  f.U16(35, gps.week).U16(37, gps.week).U16(39, 7).U16(41, kGpsLeapSeconds);
}

void CDatReplies::BuildEphemeris(KavoPacket& p, std::uint8_t prn, std::int64_t utcMs) {
  CFields f(p, kavo::kIdDataReply, kEphemerisLength);
  f.U8(0, 0x01).U8(1, kTypeEphemeris).U8(2, prn);
  // The orbit block starts at data 4.
  constexpr std::size_t b = 4;
  f.U8(b + 0, prn);
  if (!Tracked(prn)) {
    f.U16(b + 5, 0xFFFF);  // no ephemeris held for this satellite
    return;
  }
  const GpsTime gps = GpsTimeFromUtcMs(utcMs);
  const double toe = std::floor(gps.timeOfWeek / 7200.0) * 7200.0;
  f.F32(b + 1, gps.timeOfWeek).U16(b + 5, gps.week).U8(b + 7, 1).U8(b + 10, 0);
  f.U16(b + 11, 40u + prn).F32(b + 17, toe).U8(b + 37, 40u + prn).U8(b + 38, 0).F32(b + 79, toe);
  // A few orbit terms, so the records differ by satellite.
  f.F64(b + 39, 0.01 + prn * 1e-4);    // eccentricity
  f.F64(b + 47, 5153.7 + prn * 0.01);  // square root of the semi-major axis
  f.F64(b + 99, 0.96 + prn * 1e-3);    // inclination
  f.F64(b + 111, -1.5 + prn * 0.1);    // argument of perigee
}

void CDatReplies::BuildOscillator(KavoPacket& p) {
  CFields(p, kavo::kIdOscillator, 4).F32(0, 1.25);
}

void CDatReplies::BuildSelection(KavoPacket& p) {
  CFields f(p, kavo::kIdSelection, static_cast<std::uint16_t>(17 + kTrackedCount));
  f.U8(0, static_cast<unsigned>(kTrackedCount << 4) | 0x04).F32(1, 1.6).F32(5, 0.9).F32(9, 1.3).F32(13, 0.8);
  for (int i = 0; i < kTrackedCount; ++i)
    f.U8(17 + static_cast<std::size_t>(i), static_cast<unsigned>(CNavStream::kGpsPrns[i]));
}

void CDatReplies::BuildL1(KavoPacket& p, std::int64_t utcMs) {
  const double tow = GpsTimeFromUtcMs(utcMs).timeOfWeek;
  constexpr std::size_t kEntry = 27;
  const std::size_t length = 21 + kEntry * kTrackedCount + 3;
  CFields f(p, kavo::kIdMeasurement, static_cast<std::uint16_t>(length));
  // Data 2-3 count the bytes after data 0.
  f.U8(0, 0x01).U8(1, 2).U16(2, static_cast<unsigned>(length - 1)).F64(4, tow * 1000.0).F64(12, 0.0);
  f.U8(20, static_cast<unsigned>(kTrackedCount));
  for (int i = 0; i < kTrackedCount; ++i) {
    const int prn = CNavStream::kGpsPrns[i];
    const std::size_t e = 21 + kEntry * static_cast<std::size_t>(i);
    const double drift = std::fmod(tow, 100.0);
    f.U8(e, static_cast<unsigned>(prn)).U8(e + 1, 0x0F).U8(e + 2, 0x01).U8(e + 3, 20u + 5u * i);
    f.U16(e + 4, static_cast<unsigned>(40 * i)).U8(e + 6, 180u + i);
    f.F64(e + 7, 2.05e7 + prn * 1.0e5 + drift * 10.0).F64(e + 15, 1.08e8 + prn * 5.0e5 + drift * 52.0);
    f.F32(e + 23, -1200.0 + 150.0 * i);
  }
  f.U16(length - 3, 0).U8(length - 1, 3);
}

void CDatReplies::BuildL2(KavoPacket& p, std::int64_t utcMs) {
  const double tow = GpsTimeFromUtcMs(utcMs).timeOfWeek;
  constexpr std::size_t kEntry = 19;
  const std::size_t length = 18 + kEntry * kTrackedCount;
  CFields f(p, kavo::kIdMeasurement, static_cast<std::uint16_t>(length));
  f.U8(0, 0x10).F64(1, tow * 1000.0).F64(9, 0.0).U8(17, static_cast<unsigned>(kTrackedCount));
  for (int i = 0; i < kTrackedCount; ++i) {
    const int prn = CNavStream::kGpsPrns[i];
    const std::size_t e = 18 + kEntry * static_cast<std::size_t>(i);
    const double drift = std::fmod(tow, 100.0);
    f.U8(e, static_cast<unsigned>(prn)).U8(e + 1, 0x07).U8(e + 2, 0x02).F32(e + 3, 38.0 - i);
    f.F64(e + 7, 8.4e7 + prn * 4.0e5 + drift * 41.0).F32(e + 15, 2.05e7 + prn * 1.0e5 + drift * 10.0);
  }
}

void CDatReplies::BuildCmrRelay(KavoPacket& p, std::uint8_t type, std::uint32_t sequence) {
  // Relay header (02 01 count), then the CMR message: STX, status, type, length, body, checksum, ETX.
  CFields f(p, kavo::kIdWrapped, static_cast<std::uint16_t>(3 + kCmrMessageLength));
  f.U8(0, 0x02).U8(1, 0x01).U8(2, kCmrMessageLength);
  f.U8(3, 0x02).U8(4, 0x00).U8(5, type).U8(6, kCmrMessageLength - 6);
  unsigned sum = 0;
  for (std::size_t i = 7; i < 3u + kCmrMessageLength - 2; ++i) {
    const unsigned v = (sequence * 31u + static_cast<unsigned>(i) * 7u + type) & 0xFF;
    f.U8(i, v);
    sum += v;
  }
  f.U8(3 + kCmrMessageLength - 2, sum & 0xFF).U8(3 + kCmrMessageLength - 1, 0x03);
}

void CDatReplies::StartStream(std::int64_t nowMs) {
  if (streaming) return;
  streaming = true;
  nextEpochMs = nowMs + kEpochMs;
}

bool CDatReplies::Answer(const KavoPacket& request, std::int64_t nowMs, std::int64_t utcMs,
                         const Sink& sink) {
  const std::uint8_t* d = request.data;
  KavoPacket reply;
  switch (request.id) {
    case kavo::kIdDataRequest:
      if (request.length != 3) return false;
      if (d[1] == kTypeIonosphere) {
        BuildIonosphere(reply);
      } else if (d[1] == kTypeUtc) {
        BuildUtc(reply, utcMs);
      } else if (d[1] == kTypeEphemeris && d[2] >= 1 && d[2] <= 32) {
        BuildEphemeris(reply, d[2], utcMs);
      } else {
        return false;
      }
      sink(reply, 0);
      StartStream(nowMs);
      return true;
    case kavo::kIdOscillatorRequest:
      if (request.length != 0) return false;
      BuildOscillator(reply);
      sink(reply, 0);
      return true;
    case kavo::kIdSelectionRequest:
      if (request.length != 0) return false;
      BuildSelection(reply);
      sink(reply, 0);
      return true;
    case kavo::kIdWrapped:
      // The CMR output request: 02 00 and the types wanted.
      if (request.length < 3 || d[0] != 0x02 || d[1] != 0x00) return false;
      StartStream(nowMs);
      return true;
    default:
      return false;
  }
}

void CDatReplies::Tick(std::int64_t nowMs, std::int64_t utcMs, const Sink& sink) {
  if (!streaming || nowMs < nextEpochMs) return;
  nextEpochMs += kEpochMs * ((nowMs - nextEpochMs) / kEpochMs + 1);
  KavoPacket p;
  BuildL1(p, utcMs);
  sink(p, 0);
  BuildL2(p, utcMs);
  sink(p, 1);
  BuildCmrRelay(p, 0x93, epochs);
  sink(p, 0);
  BuildCmrRelay(p, 0x94, epochs);
  sink(p, 0);
  ++epochs;
}
