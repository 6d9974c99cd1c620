#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/j1939/j1939_types.h"

// Capability bits of the software identification text, and the words written for them.
inline constexpr std::uint8_t kCapabilityJ1939 = 1;
inline constexpr std::uint8_t kCapabilityKvcan = 2;
inline constexpr std::uint8_t kCapabilityIso11783 = 4;
inline constexpr std::uint8_t kCapabilityNmea2000 = 8;
inline constexpr std::uint8_t kCapabilityCanIp = 16;

// The contents of a node's software identification text (PGN 65242), for example
//   QRXID,0,0;VER,0.00,06/22/99;COM,J1939(+),KVCAN(+);NAME,4010a008001c0080;<NUL>
struct SoftwareIdentification {
  std::uint16_t qrxFirst = 0;
  std::uint16_t qrxSecond = 0;
  bool hasVersion = false;
  std::uint16_t versionMajor = 0;
  std::uint16_t versionMinor = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t year = 0;         // two digits
  std::uint8_t capabilities = 0;  // kCapability* bits named after "COM"
  std::uint8_t plusMarks = 0;     // the same bits where the word carries "(+)"
  bool hasName = false;
  J1939Name name{};
};

// The text in its three pieces; the trailing NUL character is part of the returned string (and
// of the body sent), as the format writes it.
std::string FormatSoftwareIdentification(const SoftwareIdentification& identification);

// Reads the first '*'-delimited field that begins with "QRXID," (the text ends at the body's end
// or at a NUL). True when such a field was found and its number pair read; the version, the
// capability words and the NAME are filled where present. Never reads past `length`.
bool ParseSoftwareIdentification(const std::uint8_t* body, std::size_t length, SoftwareIdentification& out);

// The program's own identification: numbers 0 and 0, version 0.00 of 06/22/99, J1939 and KVCAN
// both with the plus mark, and the given NAME.
SoftwareIdentification ProgramSoftwareIdentification(const J1939Name& name);
