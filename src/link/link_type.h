#pragma once

#include <cstdint>

// Which transport a link uses. The numbers are the ones the settings and the connection dialog
// store: 0..8 serial port slot COM1..COM9, 9 and 10 CAN channel 0 and 1, 11 network client,
// 12 none (closed).
enum class LinkType : std::int32_t {
  Com1 = 0,
  Com9 = 8,
  Can0 = 9,
  Can1 = 10,
  Network = 11,
  None = 12,
};

inline constexpr int kSerialSlots = 9;
inline constexpr int kCanChannels = 2;

constexpr int LinkTypeNumber(LinkType type) {
  return static_cast<int>(type);
}
// Any number outside 0..11 is no link.
constexpr LinkType LinkTypeFromNumber(int number) {
  return number >= 0 && number < LinkTypeNumber(LinkType::None) ? static_cast<LinkType>(number)
                                                                : LinkType::None;
}
constexpr bool IsSerialLink(LinkType type) {
  return type >= LinkType::Com1 && type <= LinkType::Com9;
}
constexpr bool IsCanLink(LinkType type) {
  return type == LinkType::Can0 || type == LinkType::Can1;
}
// Serial slot 0..8 (COM1..COM9); None for a slot out of range.
constexpr LinkType SerialLinkType(int slot) {
  return slot >= 0 && slot < kSerialSlots ? static_cast<LinkType>(LinkTypeNumber(LinkType::Com1) + slot)
                                          : LinkType::None;
}
// CAN channel 0 or 1; None for any other channel.
constexpr LinkType CanLinkType(int channel) {
  return channel >= 0 && channel < kCanChannels
             ? static_cast<LinkType>(LinkTypeNumber(LinkType::Can0) + channel)
             : LinkType::None;
}

// The number a link type hands to its transport: the serial slot, the CAN channel, 0 otherwise.
constexpr int TransportNumber(LinkType type) {
  if (IsSerialLink(type)) return LinkTypeNumber(type) - LinkTypeNumber(LinkType::Com1);
  if (IsCanLink(type)) return LinkTypeNumber(type) - LinkTypeNumber(LinkType::Can0);
  return 0;
}
