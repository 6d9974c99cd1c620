#include "link/j1939/kavo_can_body.h"

#include <cstring>

#include "link/j1939/j1939_types.h"

namespace {

// Lays out the body around `stuffed` (n payload bytes); `stuffed` may alias out + 4.
std::size_t LayOut(std::uint8_t id, const std::uint8_t* stuffed, std::size_t n, std::uint8_t* out,
                   std::size_t capacity) {
  const std::size_t bodyLength = n < 3 ? 8 : n + 4;
  if (bodyLength > capacity || bodyLength > kJ1939MaxBody || n > 0xFFFF) return 0;
  std::memmove(out + 4, stuffed, n);
  out[0] = kKavoCanCommandPacket;
  out[1] = static_cast<std::uint8_t>(n & 0xFF);
  out[2] = static_cast<std::uint8_t>(n >> 8);
  out[3] = id;
  for (std::size_t i = n + 4; i < bodyLength; ++i) out[i] = 0xFF;
  return bodyLength;
}

}  // namespace

std::size_t BuildKavoCanBody(const KavoPacket& packet, int withChecksum, std::uint8_t* out,
                             std::size_t capacity) {
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(packet, frame, frameLength, withChecksum) || frameLength < 4) return 0;
  return LayOut(packet.id, frame + 2, frameLength - 4u, out, capacity);
}

std::size_t BuildKavoCanBodyFromFrame(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* out,
                                      std::size_t capacity) {
  if (frame == nullptr || frameLength < 4) return 0;
  return LayOut(frame[1], frame + 2, frameLength - 4, out, capacity);
}

std::size_t KavoFrameFromCanBody(const std::uint8_t* body, std::size_t length, std::uint8_t* out,
                                 std::size_t capacity) {
  if (body == nullptr || length < 4 || body[0] != kKavoCanCommandPacket) return 0;
  const std::size_t n = body[1] | (static_cast<std::size_t>(body[2]) << 8);
  if (n > length - 4 || n > kKavoCanMaxReceivedStuffed || n + 4 > capacity) return 0;
  out[0] = kDle;
  out[1] = body[3];
  std::memcpy(out + 2, body + 4, n);
  out[n + 2] = kDle;
  out[n + 3] = kEtx;
  return n + 4;
}
