#include "link/j1939/j1939_id.h"

#include "link/j1939/can_frame.h"

std::uint32_t MakeJ1939Id(std::uint8_t priority, std::uint32_t pgn, std::uint8_t destination,
                          std::uint8_t source) {
  std::uint32_t group = pgn & 0x3FFFF;
  if (IsPdu1(group)) group = (group & 0x3FF00) | destination;
  return ((static_cast<std::uint32_t>(priority & 7) << 26) | (group << 8) | source) & kCanExtendedIdMask;
}

J1939Id ParseJ1939Id(std::uint32_t id) {
  J1939Id out;
  id &= kCanExtendedIdMask;
  out.priority = static_cast<std::uint8_t>((id >> 26) & 7);
  out.source = static_cast<std::uint8_t>(id & 0xFF);
  const std::uint32_t group = (id >> 8) & 0x3FFFF;
  if (IsPdu1(group)) {
    out.pgn = group & 0x3FF00;
    out.destination = static_cast<std::uint8_t>(group & 0xFF);
  } else {
    out.pgn = group;
    out.destination = 255;
  }
  return out;
}
