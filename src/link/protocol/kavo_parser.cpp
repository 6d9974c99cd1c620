#include "link/protocol/kavo_parser.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <utility>

CKavoParser::CKavoParser(PacketNotify notifyFn) : notify(std::move(notifyFn)) {}

CKavoParser::~CKavoParser() = default;

namespace {

constexpr std::size_t kMaxSpare = 64;

// Copies the fields and the used parts of the two buffers only: a record is 1.4 KB, a typical
// packet a tenth of that, and the copy crosses threads. The rest of `to` is zeroed so that no
// byte of an earlier packet shows past `length` or `rawLength`.
void CopyUsed(const KavoPacket& from, KavoPacket& to) {
  const std::size_t dataLength = std::min<std::size_t>(from.length, kKavoMaxData);
  const std::size_t rawLength = std::min<std::size_t>(from.rawLength, kKavoMaxRaw);
  to.id = from.id;
  to.length = from.length;
  std::memcpy(to.data, from.data, dataLength);
  std::memset(to.data + dataLength, 0, kKavoMaxData - dataLength);
  std::memcpy(to.raw, from.raw, rawLength);
  std::memset(to.raw + rawLength, 0, kKavoMaxRaw - rawLength);
  to.rawLength = from.rawLength;
  to.receivedAt = from.receivedAt;
  to.checksumOk = from.checksumOk;
}

// Fills one of the parser's own queue records: the used parts only. Its stale bytes past
// `length` and `rawLength` are never seen, as TryPopPacket's CopyUsed reads only the used parts
// and clears the rest of the caller's record; clearing them here too cost a 1.4 KB memset a packet.
void CopyIntoRecord(const KavoPacket& from, KavoPacket& record) {
  record.id = from.id;
  record.length = from.length;
  std::memcpy(record.data, from.data, std::min<std::size_t>(from.length, kKavoMaxData));
  std::memcpy(record.raw, from.raw, std::min<std::size_t>(from.rawLength, kKavoMaxRaw));
  record.rawLength = from.rawLength;
  record.receivedAt = from.receivedAt;
  record.checksumOk = from.checksumOk;
}

}  // namespace

void CKavoParser::Discard() {
  state = 0;
  dropped.fetch_add(1, std::memory_order_relaxed);
}

bool CKavoParser::FeedByteSlow(std::uint8_t b) {
  switch (state) {
    case 0:
      if (b == kDle) {
        current.raw[0] = kDle;
        current.rawLength = 1;
        state = 1;
      }
      return false;
    case 1:
      if (b == kDle || b == kEtx) {
        Discard();
        return false;
      }
      current.id = b;
      current.length = 0;
      current.raw[1] = b;
      current.rawLength = 2;
      state = 2;
      return false;
    case 2:
      // The raw image must keep room for the closing DLE ETX.
      if (b == kDle) {
        if (current.rawLength + 2u > kKavoMaxRaw) {
          Discard();
          return false;
        }
        current.raw[current.rawLength++] = kDle;
        state = 3;
        return false;
      }
      if (current.rawLength + 3u > kKavoMaxRaw) {
        Discard();
        return false;
      }
      current.data[current.length++] = b;
      current.raw[current.rawLength++] = b;
      if (current.length >= kKavoMaxData) Discard();
      return false;
    default:  // 3: DLE seen inside the payload
      if (b == kEtx) {
        current.raw[current.rawLength++] = kEtx;
        state = 0;
        Complete();
        return true;
      }
      if (b == kDle) {
        if (current.rawLength + 3u > kKavoMaxRaw) {
          Discard();
          return false;
        }
        current.data[current.length++] = kDle;
        current.raw[current.rawLength++] = kDle;
        state = 2;
        if (current.length >= kKavoMaxData) Discard();
        return false;
      }
      Discard();
      return false;
  }
}

std::size_t CKavoParser::Feed(const std::uint8_t* bytes, std::size_t count) {
  std::size_t completed = 0;
  const std::uint8_t* p = bytes;
  const std::uint8_t* const end = bytes + count;
  while (p < end) {
    if (state == 2) {
      // FeedByte's fast path takes a plain byte while rawLength + 3 <= kKavoMaxRaw and
      // length + 1 < kKavoMaxData; this many in a row fit those limits.
      const std::size_t rawRoom =
          current.rawLength + 2u < kKavoMaxRaw ? kKavoMaxRaw - 2u - current.rawLength : 0;
      const std::size_t dataRoom =
          current.length + 1u < kKavoMaxData ? kKavoMaxData - 1u - current.length : 0;
      const std::size_t span = std::min({rawRoom, dataRoom, static_cast<std::size_t>(end - p)});
      const void* dle = span > 0 ? std::memchr(p, kDle, span) : nullptr;
      const std::size_t run =
          dle ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(dle) - p) : span;
      if (run > 0) {
        std::memcpy(current.data + current.length, p, run);
        std::memcpy(current.raw + current.rawLength, p, run);
        current.length = static_cast<std::uint16_t>(current.length + run);
        current.rawLength = static_cast<std::uint16_t>(current.rawLength + run);
        p += run;
        continue;
      }
      // A DLE, or a byte at a limit: the byte-wise path decides.
    }
    if (FeedByteSlow(*p++)) ++completed;
  }
  return completed;
}

void CKavoParser::Complete() {
  current.receivedAt = static_cast<std::int64_t>(std::time(nullptr));
  VerifyChecksum(current);
  // One lock a packet in the steady state: a spare record is filled and queued while it is held
  // (the used bytes are a short copy; the lock, not the copy, is what costs). Only a new record
  // is allocated outside it.
  std::unique_lock<std::timed_mutex> hold(queueLock);
  std::unique_ptr<KavoPacket> record;
  if (!spare.empty()) {
    record = std::move(spare.back());
    spare.pop_back();
  } else {
    hold.unlock();
    record = std::make_unique<KavoPacket>();
    hold.lock();
  }
  CopyIntoRecord(current, *record);
  queue.push_back(std::move(record));
  hold.unlock();
  if (notify) notify(this);
}

bool CKavoParser::TryPopPacket(KavoPacket& packet) {
  std::unique_lock<std::timed_mutex> hold(queueLock, std::chrono::milliseconds(20));
  if (!hold.owns_lock() || queue.empty()) return false;
  std::unique_ptr<KavoPacket> oldest = std::move(queue.front());
  queue.pop_front();
  hold.unlock();
  CopyUsed(*oldest, packet);
  hold.lock();
  if (spare.size() < kMaxSpare) spare.push_back(std::move(oldest));
  return true;
}

std::size_t CKavoParser::QueuedPackets() {
  std::lock_guard<std::timed_mutex> hold(queueLock);
  return queue.size();
}
