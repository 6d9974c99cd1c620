#include "link/protocol/ring_buffer.h"

#include <algorithm>
#include <cstring>

RingBuffer::RingBuffer(std::uint32_t capacityBytes)
    : capacity(std::max<std::uint32_t>(capacityBytes, 2)), storage(capacity) {}

std::uint32_t RingBuffer::Write(const std::uint8_t* bytes, std::uint32_t count) {
  const std::uint32_t n = std::min(count, Free());
  if (n == 0) return 0;  // `bytes` may be null then (an empty vector's data)
  const std::uint32_t first = std::min(n, capacity - writeIndex);
  std::memcpy(storage.data() + writeIndex, bytes, first);
  std::memcpy(storage.data(), bytes + first, n - first);
  writeIndex = (writeIndex + n) % capacity;
  return n;
}

std::uint32_t RingBuffer::Peek(std::uint8_t* out, std::uint32_t count) const {
  const std::uint32_t n = std::min(count, Used());
  if (n == 0) return 0;  // `out` may be null then (an empty body's data)
  const std::uint32_t first = std::min(n, capacity - readIndex);
  std::memcpy(out, storage.data() + readIndex, first);
  std::memcpy(out + first, storage.data(), n - first);
  return n;
}

std::uint32_t RingBuffer::Read(std::uint8_t* out, std::uint32_t count) {
  const std::uint32_t n = Peek(out, count);
  readIndex = (readIndex + n) % capacity;
  return n;
}

std::uint32_t RingBuffer::Skip(std::uint32_t count) {
  const std::uint32_t n = std::min(count, Used());
  readIndex = (readIndex + n) % capacity;
  return n;
}
