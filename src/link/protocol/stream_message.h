#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/protocol/kavo_packet.h"
#include "link/protocol/ring_buffer.h"

// TCP stream messages: a 16-byte big-endian header, then `length` body bytes.
//   0 magic 1 (0xA3A58329)  4 magic 2 (0x86753001)  8 type (1..3)  10 length  12 magic 3 (0x5C5A7CD6)
// Type 1 carries one whole packet frame (DLE ... DLE ETX); types 2 (12 bytes) and 3 (4 bytes) are
// taken off the stream and ignored. Only type 1 is ever sent.
inline constexpr std::uint32_t kStreamMagic1 = 0xA3A58329;
inline constexpr std::uint32_t kStreamMagic2 = 0x86753001;
inline constexpr std::uint32_t kStreamMagic3 = 0x5C5A7CD6;
inline constexpr std::size_t kStreamHeaderSize = 16;
inline constexpr std::uint16_t kStreamTypeData = 1;

// Large enough for the header and the largest frame BuildFrame can produce.
inline constexpr std::size_t kStreamMaxDataMessage = kStreamHeaderSize + kKavoMaxFrame;

inline constexpr std::uint32_t kStreamReceiveRing = 16384;

// Writes a type-1 message carrying `count` frame bytes into `out` (which must hold
// kStreamHeaderSize + count bytes). Returns the message size, or 0 when count does not fit a
// 16-bit length.
std::size_t BuildStreamMessage(const std::uint8_t* frame, std::size_t count, std::uint8_t* out);

// Convenience: the type-1 message for `frame` as a vector.
std::vector<std::uint8_t> StreamMessageFor(const std::uint8_t* frame, std::size_t count);

struct StreamMessage {
  std::uint16_t type = 0;
  std::vector<std::uint8_t> body;  // reused between extractions; holds `length` bytes
  // Host-order fields of types 2 (two u32 and four u8) and 3 (one u32); unused otherwise.
  std::uint32_t words[2] = {};
  std::uint8_t bytes[4] = {};
};

// Takes one message off the front of `ring` into `message`; false when no whole message is there
// yet. A header with a wrong magic or a type outside 1..3 is skipped one byte at a time; so is a
// header whose message could never fit the ring (it would wait for ever otherwise). A type 2 or 3
// body of the wrong size is skipped whole.
bool ExtractStreamMessage(RingBuffer& ring, StreamMessage& message);
