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

}  // namespace

void CKavoParser::Discard() {
  state = 0;
  ++dropped;
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

void CKavoParser::Complete() {
  current.receivedAt = static_cast<std::int64_t>(std::time(nullptr));
  VerifyChecksum(current);
  std::unique_ptr<KavoPacket> record;
  {
    std::lock_guard<std::timed_mutex> hold(queueLock);
    if (!spare.empty()) {
      record = std::move(spare.back());
      spare.pop_back();
    }
  }
  if (!record) record = std::make_unique<KavoPacket>();
  CopyUsed(current, *record);
  {
    std::lock_guard<std::timed_mutex> hold(queueLock);
    queue.push_back(std::move(record));
  }
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
