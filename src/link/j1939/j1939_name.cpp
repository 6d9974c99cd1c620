#include "link/j1939/j1939_name.h"

J1939Name MakeJ1939Name(const J1939NameFields& f) {
  std::uint64_t v = 0;
  v |= static_cast<std::uint64_t>(f.identityNumber & 0x1FFFFF);
  v |= static_cast<std::uint64_t>(f.manufacturerCode & 0x7FF) << 21;
  v |= static_cast<std::uint64_t>(f.ecuInstance & 0x7) << 32;
  v |= static_cast<std::uint64_t>(f.functionInstance & 0x1F) << 35;
  v |= static_cast<std::uint64_t>(f.function) << 40;
  v |= static_cast<std::uint64_t>(f.vehicleSystem & 0x7F) << 49;
  v |= static_cast<std::uint64_t>(f.vehicleSystemInstance & 0xF) << 56;
  v |= static_cast<std::uint64_t>(f.industryGroup & 0x7) << 60;
  v |= static_cast<std::uint64_t>(f.arbitraryAddressCapable ? 1 : 0) << 63;
  J1939Name name{};
  for (int i = 0; i < 8; ++i) name[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  return name;
}

std::uint64_t J1939NameValue(const J1939Name& name) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | name[static_cast<std::size_t>(i)];
  return v;
}

bool IsArbitraryAddressCapable(const J1939Name& name) {
  return (name[7] & 0x80) != 0;
}

J1939Name ProgramJ1939Name(std::uint32_t instanceNumber) {
  J1939NameFields f;
  f.identityNumber = 4160;
  f.manufacturerCode = 69;
  f.functionInstance = static_cast<std::uint8_t>((instanceNumber & 7) << 2);  // byte 4 bits 5-7
  f.function = 28;
  f.arbitraryAddressCapable = true;
  return MakeJ1939Name(f);
}
