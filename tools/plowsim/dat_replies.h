#pragma once

#include <cstdint>
#include <functional>

#include "link/protocol/kavo_packet.h"

// What the simulated receiver gives a DAT file writer: the data replies 0x58 to its 0x38
// requests (ionosphere type 4 with 44 bytes, UTC type 5 with 43, ephemeris type 6 with 171), the
// oscillator offset 0x4D for 0x2D and the satellite selection 0x6D for 0x24; and, once such a
// request or the CMR request (0x1A 02 00 ...) has come, a stream of one measurement epoch per
// second: the L1 packet (0x6F 01), the L2 packet (0x6F 10, with the checksum trailer the writer
// insists on) and the two CMR relay packets (0x1A 02 01 ... with types 0x93 and 0x94).
//
// An ephemeris is asked for every PRN 1-32; a tracked one (CNavStream::kGpsPrns) gets its orbit,
// any other a reply of the same size whose week is 0xFFFF, which tells the writer there is none
// (it writes no record from it, but no longer waits for it). Single-threaded, like the model.
class CDatReplies {
 public:
  using Sink = std::function<void(const KavoPacket& packet, int withChecksum)>;
  static constexpr std::int64_t kEpochMs = 1000;

  // Answers `request` when it is one of the requests above, starting the stream at `nowMs`;
  // false otherwise (the caller goes on with it).
  bool Answer(const KavoPacket& request, std::int64_t nowMs, std::int64_t utcMs, const Sink& sink);
  // Sends the epoch due at `nowMs`, if any (one epoch per call: a late loop does not burst).
  void Tick(std::int64_t nowMs, std::int64_t utcMs, const Sink& sink);
  // When the next epoch is due; -1 while not streaming.
  std::int64_t NextDueMs() const { return streaming ? nextEpochMs : -1; }
  bool Streaming() const { return streaming; }

  // The packets, built on their own for tests.
  static void BuildIonosphere(KavoPacket& p);
  static void BuildUtc(KavoPacket& p, std::int64_t utcMs);
  static void BuildEphemeris(KavoPacket& p, std::uint8_t prn, std::int64_t utcMs);
  static void BuildOscillator(KavoPacket& p);
  static void BuildSelection(KavoPacket& p);
  static void BuildL1(KavoPacket& p, std::int64_t utcMs);
  static void BuildL2(KavoPacket& p, std::int64_t utcMs);
  static void BuildCmrRelay(KavoPacket& p, std::uint8_t type, std::uint32_t sequence);

 private:
  void StartStream(std::int64_t nowMs);

  bool streaming = false;
  std::int64_t nextEpochMs = 0;
  std::uint32_t epochs = 0;
};
