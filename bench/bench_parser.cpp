// Parser throughput on a realistic stream: 10- to 300-byte packets, some with DLE bytes to stuff,
// half of them checksummed, fed through the parser while a consumer takes them in batches: byte by
// byte through FeedByte, and in 256-byte reads through Feed as the serial reader does.
// Reported: wire MB/s and packets/s; and memcpy of the same bytes for comparison.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

#include "link/protocol/kavo_parser.h"

namespace {

struct Stream {
  std::vector<std::uint8_t> bytes;
  std::size_t packets = 0;
};

const Stream& TenMegabytes() {
  static const Stream stream = [] {
    Stream s;
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> len(10, 300), byte(0, 255), pct(0, 99);
    KavoPacket p;
    std::uint8_t frame[kKavoMaxFrame];
    while (s.bytes.size() < 10 * 1024 * 1024) {
      p.id = static_cast<std::uint8_t>(0x40 + byte(rng) % 0x60);
      p.length = static_cast<std::uint16_t>(len(rng));
      const bool stuffy = pct(rng) < 20;
      for (int i = 0; i < p.length; ++i)
        p.data[i] = (stuffy && pct(rng) < 10) ? 0x10 : static_cast<std::uint8_t>(byte(rng));
      std::uint16_t n = 0;
      BuildFrame(p, frame, n, (s.packets % 2) ? 1 : 0);
      s.bytes.insert(s.bytes.end(), frame, frame + n);
      ++s.packets;
    }
    return s;
  }();
  return stream;
}

// Feeds the stream byte by byte (chunk 0) or in reads of `chunk` bytes while a consumer drains.
void FeedWithConsumer(benchmark::State& state, std::size_t chunk) {
  const Stream& s = TenMegabytes();
  std::size_t delivered = 0;
  for (auto _ : state) {
    CKavoParser parser(nullptr);
    std::atomic<bool> done{false};
    std::thread consumer([&] {
      CPacketBatch batch;
      for (;;) {
        if (parser.TakePackets(batch) > 0) {
          delivered += batch.size();
        } else if (done.load()) {
          while (parser.TakePackets(batch) > 0) delivered += batch.size();
          return;
        } else {
          // The program's consumer runs when a posted notification wakes it, not in a spin.
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      }
    });
    // The link stamps each read with the wall clock, once; bytes fed one by one share a stamp.
    if (chunk == 0) {
      const auto stamp = static_cast<std::int64_t>(std::time(nullptr));
      for (std::uint8_t b : s.bytes) parser.FeedByte(b, stamp);
    } else {
      for (std::size_t at = 0; at < s.bytes.size(); at += chunk)
        parser.Feed(s.bytes.data() + at, std::min(chunk, s.bytes.size() - at),
                    static_cast<std::int64_t>(std::time(nullptr)));
    }
    done = true;
    consumer.join();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes.size()));
  state.counters["packets/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * s.packets), benchmark::Counter::kIsRate);
  state.counters["delivered"] = static_cast<double>(delivered / state.iterations());
}
void BM_FeedByteWithConsumer(benchmark::State& state) {
  FeedWithConsumer(state, 0);
}
BENCHMARK(BM_FeedByteWithConsumer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Feed256WithConsumer(benchmark::State& state) {
  FeedWithConsumer(state, 256);
}
BENCHMARK(BM_Feed256WithConsumer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpySameBytes(benchmark::State& state) {
  const Stream& s = TenMegabytes();
  std::vector<std::uint8_t> out(s.bytes.size());
  for (auto _ : state) {
    std::memcpy(out.data(), s.bytes.data(), s.bytes.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes.size()));
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
