#include "link/protocol/kavo_parser.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace {

// A packed packet: id, length (2), rawLength (2), receivedAt (8), checksumOk, flags, then the
// `rawLength` bytes of the raw image. A parsed packet's data is its raw payload (behind DLE id,
// before DLE ETX) with every stuffed DLE DLE taken as one DLE; a packet added whole carries its
// `length` data bytes behind the raw image (flag kDataFollows). Fields in host order: the bytes
// never leave the process.
constexpr std::size_t kPackedHeader = 15;
constexpr std::uint8_t kDataFollows = 1;
// Room a frame may need in a chunk: its header and the largest raw image.
constexpr std::size_t kPackedMax = kPackedHeader + kKavoMaxRaw;
// Emptied chunks kept for reuse (64 KB each).
constexpr std::size_t kPooledChunks = 16;

void PackHeader(std::uint8_t id, std::uint16_t length, std::uint16_t rawLength, std::int64_t receivedAt,
                std::uint8_t checksumOk, std::uint8_t flags, std::uint8_t* out) {
  out[0] = id;
  std::memcpy(out + 1, &length, 2);
  std::memcpy(out + 3, &rawLength, 2);
  std::memcpy(out + 5, &receivedAt, 8);
  out[13] = checksumOk;
  out[14] = flags;
}

// The checksum verdict of a complete frame `raw` (DLE id payload DLE ETX) whose payload holds
// `length` bytes without the stuffing: as VerifyChecksum on its data, taken from the raw image.
// Each stuffed pair adds DLE twice to the raw sum and once to the data's.
std::uint8_t RawChecksumOk(const std::uint8_t* raw, std::uint16_t rawLength, std::uint16_t length) {
  if (length < 3 || length > kKavoMaxData) return 0;
#ifdef PLOWVIEW_FUZZING_SKIPS_CHECKSUMS
  // Fuzz builds only: a mutated packet must reach the code behind the checksum test.
  (void)raw;
  (void)rawLength;
  return 1;
#else
  const std::size_t payloadRaw = rawLength - 4u;
  const std::size_t stuffed = payloadRaw - length;
  std::uint16_t sum = static_cast<std::uint16_t>(KavoPayloadSum(raw + 2, payloadRaw) - stuffed * kDle);
  // The last two data bytes, from the end of the payload: a DLE there is the second of a pair.
  std::size_t end = 2 + payloadRaw;
  std::uint8_t last2[2];
  for (int i = 1; i >= 0; --i) {
    last2[i] = raw[end - 1];
    end -= (last2[i] == kDle) ? 2 : 1;
  }
  sum = static_cast<std::uint16_t>(sum - last2[0] - last2[1]);
  return ReadBe16(last2) == sum ? 1 : 0;
#endif
}

std::size_t PackedSizeAt(const std::uint8_t* in) {
  std::uint16_t length = 0;
  std::uint16_t rawLength = 0;
  std::memcpy(&length, in + 1, 2);
  std::memcpy(&rawLength, in + 3, 2);
  return kPackedHeader + rawLength + ((in[14] & kDataFollows) ? length : 0);
}

// Unpacks the packet at `in` into `p`: its fields and the used bytes of its buffers, nothing
// else. Returns its packed size.
std::size_t UnpackOne(const std::uint8_t* in, KavoPacket& p) {
  p.id = in[0];
  std::memcpy(&p.length, in + 1, 2);
  std::memcpy(&p.rawLength, in + 3, 2);
  std::memcpy(&p.receivedAt, in + 5, 8);
  p.checksumOk = in[13];
  const std::uint8_t* rawIn = in + kPackedHeader;
  std::memcpy(p.raw, rawIn, p.rawLength);
  if (in[14] & kDataFollows) {
    std::memcpy(p.data, rawIn + p.rawLength, p.length);
    return kPackedHeader + p.rawLength + p.length;
  }
  // The payload between DLE id and DLE ETX, each DLE DLE pair giving one DLE.
  const std::uint8_t* from = rawIn + 2;
  const std::uint8_t* const end = rawIn + (p.rawLength >= 4 ? p.rawLength - 2 : 2);
  std::uint8_t* to = p.data;
  while (from < end) {
    const void* dle = std::memchr(from, kDle, static_cast<std::size_t>(end - from));
    const std::size_t run =
        dle ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(dle) - from) + 1 : end - from;
    std::memcpy(to, from, run);
    to += run;
    from += run + (dle ? 1 : 0);  // past the stuffing DLE
  }
  return kPackedHeader + p.rawLength;
}

// Packs `p` whole (for CPacketBatch::Add): header, raw image, data.
void PackWhole(const KavoPacket& p, std::vector<std::uint8_t>& out) {
  KavoPacket bounded;
  bounded.id = p.id;
  bounded.length = static_cast<std::uint16_t>(std::min<std::size_t>(p.length, kKavoMaxData));
  bounded.rawLength = static_cast<std::uint16_t>(std::min<std::size_t>(p.rawLength, kKavoMaxRaw));
  bounded.receivedAt = p.receivedAt;
  bounded.checksumOk = p.checksumOk;
  const std::size_t at = out.size();
  out.resize(at + kPackedHeader + bounded.rawLength + bounded.length);
  std::uint8_t* w = out.data() + at;
  PackHeader(bounded.id, bounded.length, bounded.rawLength, bounded.receivedAt, bounded.checksumOk,
             kDataFollows, w);
  std::memcpy(w + kPackedHeader, p.raw, bounded.rawLength);
  std::memcpy(w + kPackedHeader + bounded.rawLength, p.data, bounded.length);
}

}  // namespace

void CPacketBatch::Clear() {
  packed.clear();
  count = 0;
  viewOffset = static_cast<std::size_t>(-1);
}

void CPacketBatch::Add(const KavoPacket& packet) {
  PackWhole(packet, packed);
  ++count;
}

const KavoPacket& CPacketBatch::At(std::size_t offset) const {
  if (offset == viewOffset) return view;
  UnpackOne(packed.data() + offset, view);
  // What an earlier, longer packet left in the record reads as zero.
  if (viewData > view.length) std::memset(view.data + view.length, 0, viewData - view.length);
  if (viewRaw > view.rawLength) std::memset(view.raw + view.rawLength, 0, viewRaw - view.rawLength);
  viewData = view.length;
  viewRaw = view.rawLength;
  viewOffset = offset;
  return view;
}

std::size_t CPacketBatch::After(std::size_t offset) const {
  return offset + PackedSizeAt(packed.data() + offset);
}

CKavoParser::CKavoParser(PacketNotify notifyFn) : notify(std::move(notifyFn)) {
  queue.push_back(std::make_unique<Chunk>());
  fill = queue.back().get();
  raw = fill->bytes.get() + kPackedHeader;
}

CKavoParser::~CKavoParser() = default;

void CKavoParser::StartFrame() {
  if (fill->written + kPackedMax > Chunk::kSize) NextChunk();
  raw = fill->bytes.get() + fill->written + kPackedHeader;
  raw[0] = kDle;
  current.rawLength = 1;
  state = 1;
}

void CKavoParser::Discard() {
  state = 0;
  dropped.fetch_add(1, std::memory_order_relaxed);
}

bool CKavoParser::FeedByteSlow(std::uint8_t b, std::int64_t receivedAt) {
  switch (state) {
    case 0:
      if (b == kDle) StartFrame();
      return false;
    case 1:
      if (b == kDle || b == kEtx) {
        Discard();
        return false;
      }
      current.id = b;
      current.length = 0;
      raw[1] = b;
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
        raw[current.rawLength++] = kDle;
        state = 3;
        return false;
      }
      if (current.rawLength + 3u > kKavoMaxRaw) {
        Discard();
        return false;
      }
      ++current.length;
      raw[current.rawLength++] = b;
      if (current.length >= kKavoMaxData) Discard();
      return false;
    default:  // 3: DLE seen inside the payload
      if (b == kEtx) {
        raw[current.rawLength++] = kEtx;
        state = 0;
        Complete(receivedAt);
        return true;
      }
      if (b == kDle) {
        if (current.rawLength + 3u > kKavoMaxRaw) {
          Discard();
          return false;
        }
        ++current.length;
        raw[current.rawLength++] = kDle;
        state = 2;
        if (current.length >= kKavoMaxData) Discard();
        return false;
      }
      Discard();
      return false;
  }
}

std::size_t CKavoParser::Feed(const std::uint8_t* bytes, std::size_t count, std::int64_t receivedAt) {
  std::size_t completed = 0;
  const std::uint8_t* p = bytes;
  const std::uint8_t* const end = bytes + count;
  while (p < end) {
    if (state == 0 && *p == kDle) {
      // Frames back to back: the next one starts at once.
      ++p;
      StartFrame();
      if (p == end) break;
    }
    if (state == 1 && *p != kDle && *p != kEtx) {
      current.id = *p++;
      current.length = 0;
      raw[1] = current.id;
      current.rawLength = 2;
      state = 2;
      if (p == end) break;
    }
    if (state == 2) {
      // Inside a payload: runs of plain bytes (found with memchr), stuffed DLE pairs and the
      // closing DLE ETX are taken here, with the lengths in locals (a store through `raw` could
      // otherwise alias them). The limits are FeedByte's: a plain byte while rawLength + 3 <=
      // kKavoMaxRaw and length + 1 < kKavoMaxData; a pair while rawLength + 4 <= kKavoMaxRaw and
      // length + 1 < kKavoMaxData; the end while rawLength + 2 <= kKavoMaxRaw. Anything else (a
      // DLE with anything else behind it, a DLE at the end of the bytes, a limit) is left to the
      // byte-wise path.
      std::size_t rawLength = current.rawLength;
      std::size_t length = current.length;
      bool ended = false;
      for (;;) {
        const std::size_t rawRoom = rawLength + 2u < kKavoMaxRaw ? kKavoMaxRaw - 2u - rawLength : 0;
        const std::size_t dataRoom = length + 1u < kKavoMaxData ? kKavoMaxData - 1u - length : 0;
        const std::size_t span = std::min({rawRoom, dataRoom, static_cast<std::size_t>(end - p)});
        const void* dle = span > 0 ? std::memchr(p, kDle, span) : nullptr;
        const std::size_t run =
            dle ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(dle) - p) : span;
        std::memcpy(raw + rawLength, p, run);
        rawLength += run;
        length += run;
        p += run;
        if (dle == nullptr || end - p < 2) break;
        if (p[1] == kDle && rawLength + 4u <= kKavoMaxRaw && length + 1u < kKavoMaxData) {
          raw[rawLength] = kDle;
          raw[rawLength + 1] = kDle;
          rawLength += 2;
          length += 1;
          p += 2;
          continue;
        }
        if (p[1] == kEtx && rawLength + 2u <= kKavoMaxRaw) {
          raw[rawLength] = kDle;
          raw[rawLength + 1] = kEtx;
          rawLength += 2;
          p += 2;
          ended = true;
        }
        break;
      }
      current.rawLength = static_cast<std::uint16_t>(rawLength);
      current.length = static_cast<std::uint16_t>(length);
      if (ended) {
        state = 0;
        Complete(receivedAt);
        ++completed;
        continue;
      }
      if (p == end) break;
    }
    if (FeedByteSlow(*p++, receivedAt)) ++completed;
  }
  if (completed > 0) HandOver();
  return completed;
}

void CKavoParser::Complete(std::int64_t receivedAt) {
  PackHeader(current.id, current.length, current.rawLength, receivedAt,
             RawChecksumOk(raw, current.rawLength, current.length), 0, fill->bytes.get() + fill->written);
  fill->written += kPackedHeader + current.rawLength;
  ++unpublished;
}

std::unique_ptr<CKavoParser::Chunk> CKavoParser::FreshChunk() {
  if (pool.empty()) return std::make_unique<Chunk>();
  std::unique_ptr<Chunk> chunk = std::move(pool.back());
  pool.pop_back();
  chunk->written = chunk->read = 0;
  chunk->published.store(0, std::memory_order_relaxed);
  return chunk;
}

void CKavoParser::NextChunk() {
  std::lock_guard<std::timed_mutex> hold(queueLock);
  // Final before the next chunk is queued: the consumer, holding the lock, sees a chunk that is
  // not the last one whole.
  // Counted before they show, so that the consumer never takes more than the count holds.
  publishedCount.store(publishedCount.load(std::memory_order_relaxed) + unpublished,
                       std::memory_order_relaxed);
  fill->published.store(fill->written, std::memory_order_release);
  unpublished = 0;
  queue.push_back(FreshChunk());
  fill = queue.back().get();
}

void CKavoParser::HandOver() {
  publishedCount.store(publishedCount.load(std::memory_order_relaxed) + unpublished,
                       std::memory_order_relaxed);
  fill->published.store(fill->written, std::memory_order_release);
  unpublished = 0;
  if (notify) notify(this);
}

void CKavoParser::DetachReadChunks(std::vector<std::unique_ptr<Chunk>>& out) {
  while (queue.size() > 1 &&
         queue.front()->read == queue.front()->published.load(std::memory_order_acquire)) {
    out.push_back(std::move(queue.front()));
    queue.pop_front();
  }
}

std::size_t CKavoParser::TakePackets(CPacketBatch& batch) {
  batch.Clear();
  std::vector<std::unique_ptr<Chunk>> done;  // let go after the lock
  std::unique_lock<std::timed_mutex> hold(queueLock, std::chrono::milliseconds(20));
  if (!hold.owns_lock()) return 0;
  // Copied under the lock, in one memcpy per chunk: a chunk's bytes are the producer's again
  // once it is recycled.
  for (const std::unique_ptr<Chunk>& chunk : queue) {
    const std::size_t published = chunk->published.load(std::memory_order_acquire);
    if (chunk->read == published) continue;
    batch.packed.insert(batch.packed.end(), chunk->bytes.get() + chunk->read, chunk->bytes.get() + published);
    chunk->read = published;
  }
  DetachReadChunks(done);
  for (std::unique_ptr<Chunk>& chunk : done) {
    if (pool.size() >= kPooledChunks) break;
    pool.push_back(std::move(chunk));
  }
  hold.unlock();
  for (std::size_t at = 0; at < batch.packed.size(); at = batch.After(at)) ++batch.count;
  takenCount.store(takenCount.load(std::memory_order_relaxed) + batch.count, std::memory_order_relaxed);
  return batch.count;
}

bool CKavoParser::TryPopPacket(KavoPacket& packet) {
  std::vector<std::unique_ptr<Chunk>> done;  // let go after the lock
  std::unique_lock<std::timed_mutex> hold(queueLock, std::chrono::milliseconds(20));
  if (!hold.owns_lock()) return false;
  for (const std::unique_ptr<Chunk>& chunk : queue) {
    if (chunk->read == chunk->published.load(std::memory_order_acquire)) continue;
    chunk->read += UnpackOne(chunk->bytes.get() + chunk->read, packet);
    takenCount.store(takenCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    DetachReadChunks(done);
    for (std::unique_ptr<Chunk>& emptied : done)
      if (emptied && pool.size() < kPooledChunks) pool.push_back(std::move(emptied));
    hold.unlock();
    // No byte of an earlier packet may show past this one's length in the caller's record.
    std::memset(packet.data + packet.length, 0, kKavoMaxData - packet.length);
    std::memset(packet.raw + packet.rawLength, 0, kKavoMaxRaw - packet.rawLength);
    return true;
  }
  return false;
}

std::size_t CKavoParser::QueuedPackets() {
  // Taken first: both only grow, and nothing is taken before it is counted as published.
  const std::uint64_t taken = takenCount.load(std::memory_order_relaxed);
  return static_cast<std::size_t>(publishedCount.load(std::memory_order_relaxed) - taken);
}
