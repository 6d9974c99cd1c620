#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Parameter group numbers the stack handles or sends.
inline constexpr std::uint32_t kPgnAcknowledgement = 59392;         // 0xE800
inline constexpr std::uint32_t kPgnRequest = 59904;                 // 0xEA00
inline constexpr std::uint32_t kPgnTransportData = 60160;           // 0xEB00, TP.DT
inline constexpr std::uint32_t kPgnTransportControl = 60416;        // 0xEC00, TP.CM
inline constexpr std::uint32_t kPgnAddressClaim = 60928;            // 0xEE00
inline constexpr std::uint32_t kPgnProprietaryA = 61184;            // 0xEF00
inline constexpr std::uint32_t kPgnSoftwareIdentification = 65242;  // 0xFEDA
inline constexpr std::uint32_t kPgnProprietaryB = 65414;            // 0xFF86

inline constexpr std::uint8_t kJ1939GlobalAddress = 255;
inline constexpr std::uint8_t kJ1939NullAddress = 254;  // source of a cannot-claim
inline constexpr std::uint8_t kJ1939DefaultPriority = 6;

// Largest body the transport protocol carries: 255 packets of 7 bytes.
inline constexpr std::size_t kJ1939MaxBody = 1785;

// The period at which the owner calls CJ1939Stack::Tick.
inline constexpr int kJ1939TickMs = 20;

// NAME in transmission order (byte 0 first on the wire, least significant first).
using J1939Name = std::array<std::uint8_t, 8>;

// Connection Abort reasons of the transport protocol (TP.CM control byte 255, byte 1).
enum class J1939AbortReason : std::uint8_t {
  AlreadyInSession = 1,         // already in one or more sessions and cannot support another
  ResourcesNeeded = 2,          // system resources were needed for another task
  Timeout = 3,                  // a time-out occurred; this abort closes the session
  CtsWhileSending = 4,          // CTS received while a data transfer is in progress
  RetransmitLimit = 5,          // maximum retransmit request limit reached
  UnexpectedDataPacket = 6,     // unexpected data transfer packet
  BadSequenceNumber = 7,        // bad sequence number (cannot recover)
  DuplicateSequenceNumber = 8,  // duplicate sequence number (cannot recover)
  Other = 250,                  // any other reason
};

// Control bytes of the acknowledgement message (PGN 59392, byte 0).
enum class J1939AckControl : std::uint8_t { Ack = 0, Nack = 1, AccessDenied = 2, CannotRespond = 3 };
