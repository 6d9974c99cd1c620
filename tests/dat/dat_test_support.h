#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"

// Packet builders with big-endian fields, and a reader that walks a DAT file by its record
// headers, for the DAT record and writer tests.
namespace dattest {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
void PutBe(Bytes& b, std::size_t at, T value) {
  if (b.size() < at + sizeof(T)) b.resize(at + sizeof(T));
  std::uint8_t raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  for (std::size_t i = 0; i < sizeof(T); ++i) b[at + i] = raw[sizeof(T) - 1 - i];
}

template <typename T>
T GetLe(const Bytes& b, std::size_t at) {
  T value{};
  if (at + sizeof(T) <= b.size()) std::memcpy(&value, b.data() + at, sizeof(T));
  return value;
}

inline KavoPacket Packet(std::uint8_t id, const Bytes& data, std::uint8_t checksumOk = 0) {
  KavoPacket p;
  p.id = id;
  p.length = static_cast<std::uint16_t>(data.size());
  std::memcpy(p.data, data.data(), data.size());
  p.checksumOk = checksumOk;
  return p;
}

struct L1Entry {
  std::uint8_t prn;
  std::uint8_t e1 = 0x21;
  std::uint8_t e2 = 0x13;
  std::uint8_t e3 = 45;
  std::int16_t e4 = -300;
  std::uint8_t e6 = 10;
  double e7 = 21012345.5;
  double e15 = -1234.25;
  float e23 = 2.5f;
};

struct L2Entry {
  std::uint8_t prn;
  std::uint8_t f1 = 0x40;
  std::uint8_t f2 = 0x08;
  float f3 = 1.75f;
  double f7 = 21012399.125;
  float f15 = -3.5f;
};

// 0x6F sub-type 1: data 2-3 carries length - 1, entries of 27 bytes from data 21.
inline KavoPacket L1Packet(const std::vector<L1Entry>& entries, double v1 = 345600.5, double v2 = 0.00125) {
  Bytes d(21 + 27 * entries.size(), 0);
  d[0] = 1;
  PutBe<std::uint16_t>(d, 2, static_cast<std::uint16_t>(d.size() - 1));
  PutBe(d, 4, v1);
  PutBe(d, 12, v2);
  d[20] = static_cast<std::uint8_t>(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t e = 21 + 27 * i;
    const L1Entry& x = entries[i];
    d[e] = x.prn;
    d[e + 1] = x.e1;
    d[e + 2] = x.e2;
    d[e + 3] = x.e3;
    PutBe(d, e + 4, x.e4);
    d[e + 6] = x.e6;
    PutBe(d, e + 7, x.e7);
    PutBe(d, e + 15, x.e15);
    PutBe(d, e + 23, x.e23);
  }
  return Packet(0x6F, d);
}

// 0x6F sub-type 0x10: count in data 17, entries of 19 bytes from data 18.
inline KavoPacket L2Packet(const std::vector<L2Entry>& entries, std::uint8_t checksumOk = 1) {
  Bytes d(18 + 19 * entries.size(), 0);
  d[0] = 0x10;
  d[17] = static_cast<std::uint8_t>(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t f = 18 + 19 * i;
    const L2Entry& x = entries[i];
    d[f] = x.prn;
    d[f + 1] = x.f1;
    d[f + 2] = x.f2;
    PutBe(d, f + 3, x.f3);
    PutBe(d, f + 7, x.f7);
    PutBe(d, f + 15, x.f15);
  }
  return Packet(0x6F, d, checksumOk);
}

inline KavoPacket TimePacket(float secondsOfWeek, std::int16_t week) {
  Bytes d(10, 0);
  PutBe(d, 0, secondsOfWeek);
  PutBe(d, 4, week);
  return Packet(0x41, d);
}

inline KavoPacket IonoReply() {
  Bytes d(44, 0);
  d[1] = 4;
  for (int i = 0; i < 8; ++i) PutBe(d, 12 + 4 * i, static_cast<float>(1.0e-8 * (i + 1)));
  return Packet(0x58, d);
}

inline KavoPacket UtcReply(std::int16_t wnt = 2100, std::int16_t wnlsf = 2100, std::int16_t dn = 7) {
  Bytes d(43, 0);
  d[1] = 5;
  PutBe(d, 17, 1.5e-9);            // A0
  PutBe(d, 25, 2.5e-15f);          // A1
  PutBe<std::int16_t>(d, 29, 18);  // delta t_LS
  PutBe(d, 31, 405504.0f);         // t_ot
  PutBe(d, 35, wnt);
  PutBe(d, 37, wnlsf);
  PutBe(d, 39, dn);
  PutBe<std::int16_t>(d, 41, 19);  // delta t_LSF
  return Packet(0x58, d);
}

// Ephemeris block fields used by the tests; the rest stays zero.
struct Ephemeris {
  std::uint8_t prn = 7;
  float tEphem = 86400.75f;
  std::int16_t week = 2100;
  std::uint8_t l2Code = 2, l2PFlag = 1, health = 0x15, fit = 1, iode = 77;
  std::int16_t iodc = 333;
  float tgd = -1.1e-8f, toc = 93600.0f, af2 = 0.0f, af1 = 1.5e-12f, af0 = -2.5e-5f;
  float crs = 12.5f, deltaN = 4.5e-9f, cuc = 1.25e-6f, cus = 8.5e-6f, toe = 93600.0f, cic = -7.4e-8f,
        cis = 1.1e-7f, crc = 210.5f, omegaDot = -8.1e-9f, idot = 3.3e-10f;
  double m0 = 1.234, e = 0.0123, sqrtA = 5153.7, omega0 = -2.5, i0 = 0.97, omega = 0.75;
};

inline KavoPacket EphemerisReply(const Ephemeris& x) {
  Bytes d(171, 0);
  d[1] = 6;
  const std::size_t b = 4;
  d[b + 0] = x.prn;
  PutBe(d, b + 1, x.tEphem);
  PutBe(d, b + 5, x.week);
  d[b + 7] = x.l2Code;
  d[b + 8] = x.l2PFlag;
  d[b + 10] = x.health;
  PutBe(d, b + 11, x.iodc);
  PutBe(d, b + 13, x.tgd);
  PutBe(d, b + 17, x.toc);
  PutBe(d, b + 21, x.af2);
  PutBe(d, b + 25, x.af1);
  PutBe(d, b + 29, x.af0);
  d[b + 37] = x.iode;
  d[b + 38] = x.fit;
  PutBe(d, b + 39, x.crs);
  PutBe(d, b + 43, x.deltaN);
  PutBe(d, b + 47, x.m0);
  PutBe(d, b + 55, x.cuc);
  PutBe(d, b + 59, x.e);
  PutBe(d, b + 67, x.cus);
  PutBe(d, b + 71, x.sqrtA);
  PutBe(d, b + 79, x.toe);
  PutBe(d, b + 83, x.cic);
  PutBe(d, b + 87, x.omega0);
  PutBe(d, b + 95, x.cis);
  PutBe(d, b + 99, x.i0);
  PutBe(d, b + 107, x.crc);
  PutBe(d, b + 111, x.omega);
  PutBe(d, b + 119, x.omegaDot);
  PutBe(d, b + 123, x.idot);
  return Packet(0x58, d);
}

inline KavoPacket PositionPacket(double timeOfFix, bool asDouble, double lat = 0.8, double lon = -1.6) {
  Bytes d(asDouble ? 40 : 36, 0);
  PutBe(d, 0, lat);
  PutBe(d, 8, lon);
  PutBe(d, 16, 245.5);
  PutBe(d, 24, 1234.5);
  if (asDouble) {
    PutBe(d, 32, timeOfFix);
  } else {
    PutBe(d, 32, static_cast<float>(timeOfFix));
  }
  return Packet(0x84, d);
}

inline KavoPacket VelocityPacket(std::size_t length = 20) {
  Bytes d(length, 0);
  PutBe(d, 0, 1.5f);   // east
  PutBe(d, 4, -2.5f);  // north
  PutBe(d, 8, 0.25f);  // up
  d.resize(length);
  return Packet(0x56, d);
}

inline KavoPacket OscillatorPacket(float offset = 12.75f) {
  Bytes d(4, 0);
  PutBe(d, 0, offset);
  return Packet(0x4D, d);
}

// 0x6D: length is (data 0 >> 4) + 17; data 0's low 3 bits are the fix dimension.
inline KavoPacket SelectionPacket(std::uint8_t satellites = 4, std::uint8_t mode = 0x0B, float pdop = 1.75f) {
  Bytes d(17 + satellites, 0);
  d[0] = static_cast<std::uint8_t>((satellites << 4) | mode);
  PutBe(d, 1, pdop);
  return Packet(0x6D, d);
}

// One record found by walking the file: its header fields and all of its bytes.
struct Record {
  std::uint8_t type = 0;
  std::uint8_t subType = 0;
  std::size_t length = 0;
  Bytes bytes;
};

// Walks `file` record by record. `whole` turns false at a bad sync byte, a length shorter than
// the header or a record running past the end of the file.
inline std::vector<Record> WalkRecords(const std::string& file, bool* whole = nullptr) {
  std::vector<Record> out;
  if (whole) *whole = true;
  std::size_t at = 0;
  while (at < file.size()) {
    if (file.size() - at < 4 || static_cast<std::uint8_t>(file[at]) != 0x74) {
      if (whole) *whole = false;
      break;
    }
    Record r;
    r.type = static_cast<std::uint8_t>(file[at + 3]);
    if (r.type == 17) {
      r.length = static_cast<std::uint8_t>(file[at + 1]) | (static_cast<std::uint8_t>(file[at + 2]) << 8);
    } else {
      r.length = static_cast<std::uint8_t>(file[at + 1]);
      r.subType = static_cast<std::uint8_t>(file[at + 2]);
    }
    if (r.length < 4 || at + r.length > file.size()) {
      if (whole) *whole = false;
      break;
    }
    r.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                   file.begin() + static_cast<std::ptrdiff_t>(at + r.length));
    out.push_back(r);
    at += r.length;
  }
  return out;
}

}  // namespace dattest
