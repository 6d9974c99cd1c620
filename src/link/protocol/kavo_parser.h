#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/protocol/kavo_packet.h"

// Turns a byte stream into packets. One producer thread calls FeedByte; one consumer drains the
// queue with TryPopPacket. Bad frames (DLE DLE or DLE ETX where the id belongs, DLE followed by
// anything but DLE or ETX in the payload, a payload reaching 700 bytes or a raw image that would
// exceed 710 bytes) are dropped silently and counted; a bad checksum is queued with checksumOk 0.
class CKavoParser {
 public:
  // Called on the producer's thread after each completed packet was queued, outside the queue
  // lock. It should only post a notification (never call back into FeedByte).
  using PacketNotify = std::function<void(CKavoParser*)>;

  explicit CKavoParser(PacketNotify notify);
  virtual ~CKavoParser();
  CKavoParser(const CKavoParser&) = delete;
  CKavoParser& operator=(const CKavoParser&) = delete;

  // Advances the state machine by one byte; true exactly when this byte completed a packet
  // (after it was queued and notify ran). The common case, a plain payload byte with room to
  // spare, is inline; everything else goes through FeedByteSlow.
  bool FeedByte(std::uint8_t b) {
    if (state == 2 && b != kDle && current.rawLength + 3u <= kKavoMaxRaw &&
        current.length + 1u < kKavoMaxData) {
      current.data[current.length++] = b;
      current.raw[current.rawLength++] = b;
      return false;
    }
    return FeedByteSlow(b);
  }

  // Feeds `count` bytes exactly as FeedByte would one at a time, and returns how many packets
  // they completed. A reader with a buffer of bytes should use this: runs of plain payload bytes
  // are found with memchr and copied in one go, so the per-byte bookkeeping of FeedByte (whose
  // counters the compiler must reload after every byte store) is paid only at DLEs.
  std::size_t Feed(const std::uint8_t* bytes, std::size_t count);

  // Copies the oldest queued packet into `packet` and frees it. Waits at most 20 ms for the
  // queue lock; false when the lock was not had or the queue is empty.
  bool TryPopPacket(KavoPacket& packet);

  // Frames dropped so far. Any thread may read it (the logger's hour manifest polls it on the
  // user-interface thread while a serial reader feeds the parser).
  std::uint64_t DroppedFrames() const { return dropped.load(std::memory_order_relaxed); }
  std::size_t QueuedPackets();

 private:
  bool FeedByteSlow(std::uint8_t b);
  void Discard();
  void Complete();

  std::uint32_t state = 0;  // 0 idle, 1 after opening DLE, 2 in payload, 3 DLE in payload
  PacketNotify notify;
  KavoPacket current;
  std::deque<std::unique_ptr<KavoPacket>> queue;  // unbounded: the consumer decides the pace
  // Records the consumer has emptied, reused by the producer so that a steady stream allocates
  // nothing; bounded so a burst does not pin its memory for ever. Guarded by queueLock.
  std::vector<std::unique_ptr<KavoPacket>> spare;
  std::timed_mutex queueLock;
  std::atomic<std::uint64_t> dropped{0};
};
