#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Byte FIFO for stream reassembly. One byte of the capacity always stays free, so
// used = write - read (modulo capacity) and free = capacity - used - 1. Not thread-safe.
class RingBuffer {
 public:
  explicit RingBuffer(std::uint32_t capacity);

  std::uint32_t Capacity() const { return capacity; }
  std::uint32_t Used() const { return (writeIndex + capacity - readIndex) % capacity; }
  std::uint32_t Free() const { return capacity - Used() - 1; }

  // Copies min(count, Free()) bytes in; returns how many.
  std::uint32_t Write(const std::uint8_t* bytes, std::uint32_t count);
  // Copies min(count, Used()) bytes out without consuming them; returns how many.
  std::uint32_t Peek(std::uint8_t* out, std::uint32_t count) const;
  // Copies and consumes min(count, Used()) bytes; returns how many.
  std::uint32_t Read(std::uint8_t* out, std::uint32_t count);
  // Consumes min(count, Used()) bytes; returns how many.
  std::uint32_t Skip(std::uint32_t count);

 private:
  std::uint32_t capacity;
  std::uint32_t writeIndex = 0;
  std::uint32_t readIndex = 0;
  std::vector<std::uint8_t> storage;
};
