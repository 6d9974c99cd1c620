#pragma once

#include <cstdint>

#include "link/j1939/j1939_types.h"

// The fields of a 64-bit J1939 NAME, least significant first.
struct J1939NameFields {
  std::uint32_t identityNumber = 0;        // 21 bits
  std::uint16_t manufacturerCode = 0;      // 11 bits
  std::uint8_t ecuInstance = 0;            // 3 bits
  std::uint8_t functionInstance = 0;       // 5 bits
  std::uint8_t function = 0;               // 8 bits
  std::uint8_t vehicleSystem = 0;          // 7 bits (bit 48 is reserved)
  std::uint8_t vehicleSystemInstance = 0;  // 4 bits
  std::uint8_t industryGroup = 0;          // 3 bits
  bool arbitraryAddressCapable = false;    // bit 63
};

J1939Name MakeJ1939Name(const J1939NameFields& fields);
std::uint64_t J1939NameValue(const J1939Name& name);
bool IsArbitraryAddressCapable(const J1939Name& name);

// The program's NAME: identity number 4160, manufacturer 69, function 28, the low 3 bits of the
// instance number in bits 5-7 of byte 4 (the upper bits of the function instance), every other
// instance and system field 0; arbitrary address capable, so a losing instance moves to a free
// address instead of falling silent. Its first two bytes on the wire are 40 10.
J1939Name ProgramJ1939Name(std::uint32_t instanceNumber);
