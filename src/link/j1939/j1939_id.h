#pragma once

#include <cstdint>

// The fields of a J1939 29-bit identifier: priority (3 bits), parameter group number (18 bits:
// extended data page, data page, PDU format, PDU specific) and source address. For PDU1 formats
// (PF below 240) the PDU specific byte is the destination and the PGN carries 0 there; for PDU2
// formats the destination is global (255).
struct J1939Id {
  std::uint8_t priority = 0;
  std::uint32_t pgn = 0;
  std::uint8_t destination = 255;
  std::uint8_t source = 0;
};

inline bool IsPdu1(std::uint32_t pgn) {
  return ((pgn >> 8) & 0xFF) < 240;
}

// The destination is used only for PDU1 groups; the data page bits come from the PGN itself.
std::uint32_t MakeJ1939Id(std::uint8_t priority, std::uint32_t pgn, std::uint8_t destination,
                          std::uint8_t source);
J1939Id ParseJ1939Id(std::uint32_t id);
