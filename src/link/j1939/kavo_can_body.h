#pragma once

#include <cstddef>
#include <cstdint>

#include "link/protocol/kavo_packet.h"

// The receiver's packets travel on the CAN bus inside proprietary-A bodies whose first byte is a
// command. Command 0x08 carries one packet:
//   08, n low, n high, id, the n payload bytes exactly as on the serial wire (each DLE doubled,
//   checksum if any), no DLE ETX
// padded with 0xFF to 8 bytes when n is below 3, otherwise n + 4 bytes long.
inline constexpr std::uint8_t kKavoCanCommandPacket = 0x08;
inline constexpr std::uint8_t kKavoCanCommandEcho = 0x0B;
inline constexpr std::uint8_t kKavoCanCommandNodeList = 0x0C;

// Longest stuffed payload taken from the bus: the link's receive copy is 400 bytes and must hold
// the header in front and DLE ETX behind.
inline constexpr std::size_t kKavoCanMaxReceivedStuffed = 394;

// Body bytes needed for a packet of `length` payload bytes in the worst case (all DLEs, checksum).
constexpr std::size_t KavoCanBodyCapacity(std::size_t length) {
  return KavoFrameCapacity(length);
}

// Writes the command-0x08 body of `packet` (checksum appended when `withChecksum` is 1) into
// `out`. Returns the body length, or 0, writing nothing useful, when the packet's length exceeds
// its data area, the body would not fit `capacity`, or it exceeds the 1785 bytes one J1939
// message can carry.
std::size_t BuildKavoCanBody(const KavoPacket& packet, int withChecksum, std::uint8_t* out,
                             std::size_t capacity);

// The same for an already framed packet (DLE id stuffed-payload DLE ETX, as SendRaw gets it):
// the id is taken from the second byte and the bytes between it and the last two are the payload.
// Returns 0 for a frame shorter than 4 bytes or a body that does not fit.
std::size_t BuildKavoCanBodyFromFrame(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* out,
                                      std::size_t capacity);

// Turns a received command-0x08 body back into the serial wire frame DLE id payload DLE ETX for
// the parser. Returns the frame length (n + 4), or 0 when the body is not command 0x08, is shorter
// than 4 bytes, announces more payload than it holds, more than kKavoCanMaxReceivedStuffed bytes,
// or more than `capacity` − 4.
std::size_t KavoFrameFromCanBody(const std::uint8_t* body, std::size_t length, std::uint8_t* out,
                                 std::size_t capacity);
