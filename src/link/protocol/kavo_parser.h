#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "link/protocol/kavo_packet.h"

// Packets handed over in one go, in arrival order, held packed (the used bytes of each packet
// only). Iterating unpacks one packet at a time into a record the batch owns: a reference from
// the iterator stays valid until the iterator moves on or the batch changes. Past each packet's
// `length` and `rawLength` its buffers read as zero. Keep one batch and pass it to every
// TakePackets: its buffers are reused, so a steady stream allocates nothing.
class CPacketBatch {
 public:
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = KavoPacket;
    using difference_type = std::ptrdiff_t;
    using pointer = const KavoPacket*;
    using reference = const KavoPacket&;
    const_iterator() = default;
    reference operator*() const { return batch->At(offset); }
    pointer operator->() const { return &batch->At(offset); }
    const_iterator& operator++() {
      offset = batch->After(offset);
      return *this;
    }
    void operator++(int) { ++*this; }
    bool operator==(const const_iterator& other) const { return offset == other.offset; }

   private:
    friend class CPacketBatch;
    const_iterator(const CPacketBatch* owner, std::size_t at) : batch(owner), offset(at) {}
    const CPacketBatch* batch = nullptr;
    std::size_t offset = 0;
  };

  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, packed.size()}; }

  void Clear();
  // Appends a copy of `packet`: for links that make their packets themselves (playback, tests).
  void Add(const KavoPacket& packet);

 private:
  friend class CKavoParser;
  const KavoPacket& At(std::size_t offset) const;
  std::size_t After(std::size_t offset) const;

  std::vector<std::uint8_t> packed;
  std::size_t count = 0;
  // The packet last unpacked, from `viewOffset`, and how far packets unpacked into it before
  // wrote, so that the next clears only what it leaves behind.
  mutable KavoPacket view;
  mutable std::size_t viewOffset = static_cast<std::size_t>(-1);
  mutable std::uint16_t viewData = 0;
  mutable std::uint16_t viewRaw = 0;
};

// Turns a byte stream into packets. One producer thread feeds bytes (Feed, FeedByte); one
// consumer takes the packets (TakePackets, or TryPopPacket one at a time). Bad frames (DLE DLE
// or DLE ETX where the id belongs, DLE followed by anything but DLE or ETX in the payload, a
// payload reaching 700 bytes or a raw image that would exceed 710 bytes) are dropped silently
// and counted; a bad checksum is queued with checksumOk 0.
//
// The packets a feed call completes are handed over together, after the call has parsed all
// its bytes: one publication and one notification per call, whatever the number of packets; the
// producer takes no lock for it (only once per 64 KB, to queue a fresh chunk). The parser keeps
// no clock: the caller says when the bytes arrived.
class CKavoParser {
 public:
  // Called on the producer's thread after a feed call queued packets, outside the queue lock,
  // once per call. It should only post a notification (never call back into the parser's feed).
  using PacketNotify = std::function<void(CKavoParser*)>;

  explicit CKavoParser(PacketNotify notify);
  virtual ~CKavoParser();
  CKavoParser(const CKavoParser&) = delete;
  CKavoParser& operator=(const CKavoParser&) = delete;

  // Advances the state machine by one byte; true exactly when this byte completed a packet
  // (after it was queued and notify ran). `receivedAt` stamps that packet (seconds since 1970
  // UTC); 0 where the bytes have no arrival time (a replayed file).
  bool FeedByte(std::uint8_t b, std::int64_t receivedAt = 0) {
    if (state == 2 && b != kDle && current.rawLength + 3u <= kKavoMaxRaw &&
        current.length + 1u < kKavoMaxData) {
      ++current.length;
      raw[current.rawLength++] = b;
      return false;
    }
    if (!FeedByteSlow(b, receivedAt)) return false;
    HandOver();
    return true;
  }

  // Feeds `count` bytes exactly as FeedByte would one at a time, stamps every packet they
  // complete with `receivedAt`, hands them over together and returns how many there were. A
  // reader with a buffer of bytes should use this: runs of plain payload bytes are found with
  // memchr and copied in one go.
  std::size_t Feed(const std::uint8_t* bytes, std::size_t count, std::int64_t receivedAt = 0);

  // Replaces the contents of `batch` with every queued packet, in arrival order: one lock for all
  // of them. Returns how many it took. Waits at most 20 ms for the queue lock; 0 (and an empty
  // batch) when the lock was not had.
  std::size_t TakePackets(CPacketBatch& batch);
  // Copies the oldest queued packet into `packet` (zero past its length). Waits at most 20 ms
  // for the queue lock; false when the lock was not had or the queue is empty.
  bool TryPopPacket(KavoPacket& packet);

  // Frames dropped so far. Any thread may read it (the logger's hour manifest polls it on the
  // user-interface thread while a serial reader feeds the parser).
  std::uint64_t DroppedFrames() const { return dropped.load(std::memory_order_relaxed); }
  std::size_t QueuedPackets();

 private:
  // A block of packed packets (see kavo_parser.cpp). The producer packs behind `published` and
  // then moves it on (a release store: the hand-over of a read takes no lock); the consumer
  // reads up to it. A chunk stays in the queue while the producer packs into it (the last one)
  // or while some of it is unread.
  struct Chunk {
    static constexpr std::size_t kSize = 64 * 1024;
    std::unique_ptr<std::uint8_t[]> bytes{new std::uint8_t[kSize]};
    std::size_t written = 0;                // the producer's own
    std::atomic<std::size_t> published{0};  // written by the producer only
    std::size_t read = 0;                   // the consumer's, under queueLock
  };

  bool FeedByteSlow(std::uint8_t b, std::int64_t receivedAt);
  // A frame starts: its raw image goes straight into the producer's chunk.
  void StartFrame();
  void Discard();
  // Checks the finished packet and packs its header in front of its raw image.
  void Complete(std::int64_t receivedAt);
  // Publishes what the producer packed since the last hand-over, then notifies.
  void HandOver();
  // Publishes the chunk and starts packing into a fresh one.
  void NextChunk();
  std::unique_ptr<Chunk> FreshChunk();  // under queueLock
  // Moves the chunks at the front that are read to the end and left by the producer out of the
  // queue, into `out`. Under queueLock.
  void DetachReadChunks(std::vector<std::unique_ptr<Chunk>>& out);

  std::uint32_t state = 0;  // 0 idle, 1 after opening DLE, 2 in payload, 3 DLE in payload
  PacketNotify notify;
  // The packet being assembled, the producer's own: its fields here, its raw image at `raw`, in
  // place in the chunk behind the room for its packed header. Its data is only counted: the
  // checksum is tested on the raw image and the consumer takes the stuffing out.
  struct Assembly {
    std::uint8_t id = 0;
    std::uint16_t length = 0;  // payload bytes without the stuffing
    std::uint16_t rawLength = 0;
  };
  Assembly current;
  std::uint8_t* raw = nullptr;
  Chunk* fill = nullptr;        // the chunk the producer packs into: the queue's last
  std::size_t unpublished = 0;  // packets packed since the last publication

  // Packets published in all: written by the producer only (a plain store, no read-modify-write
  // on the hot path), on a cache line of its own.
  alignas(64) std::atomic<std::uint64_t> publishedCount{0};

  // Shared with the consumer: the chunk list and pool under queueLock (the producer takes it only
  // to add a chunk, once per 64 KB). The packets waiting are unbounded (the consumer decides the
  // pace), held packed: a header and the raw image only, the data being the raw payload without
  // its stuffing. So a typical packet takes a fifth of a record, a consumer that falls behind
  // costs memory in proportion to the bytes and no allocation per packet, and the producer copies
  // each byte once. Emptied chunks wait in a bounded pool.
  alignas(64) std::timed_mutex queueLock;
  std::deque<std::unique_ptr<Chunk>> queue;
  std::vector<std::unique_ptr<Chunk>> pool;
  std::atomic<std::uint64_t> takenCount{0};  // written by the consumer only
  std::atomic<std::uint64_t> dropped{0};
};
