#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "app/receiver_link.h"
#include "app/timer_host.h"
#include "link/protocol/clock.h"
#include "logger/raw_log_reader.h"

// A link that plays a raw packet log back instead of talking to a receiver. The connection
// control drives it like any other link, so every recorded packet takes the road a live one
// takes (LCD, log viewer, processor usage window); nothing is ever sent: IsConnected stays false,
// which keeps the control, the logger and the panel keys from sending at all.
//
// Pacing follows the recording's time packets (0x41): the packets after one time packet go out
// together, and the next time packet waits until as much wall time has passed as GPS time lies
// between the two, divided by the speed (speed 0: no waiting). A jump back in GPS time, or a
// gap of more than kMaxGapMs, is not waited out. Packets before the first time packet go out at
// once. At most kMaxPacketsPerTick packets go out per timer tick, so a file without time packets
// still lets the event loop run.
//
// One timer of `timers` (any id; the player's ticks reach OnTimer) and `clock` pace it; tests tick
// and advance fakes. Runs on the user-interface thread only.
class CRawLogPlayer final : public IReceiverLink {
 public:
  static constexpr int kTimerId = 1;
  static constexpr int kMaxPacketsPerTick = 2000;
  static constexpr int kMaxPacketsPerStep = 100000;
  static constexpr std::int64_t kMaxGapMs = 10000;
  // Packets waiting for TakePackets beyond this are dropped (the control drains after each one).
  static constexpr std::size_t kMaxQueued = 64;

  struct Callbacks {
    std::function<void()> packetReady;           // a packet waits (the link's packet notification)
    std::function<void(int wParam)> linkStatus;  // 0: the link is up
    std::function<void()> progress;              // played time, position or pause changed
    std::function<void()> finished;              // the whole file has been played
  };

  CRawLogPlayer(ITimerHost& timers, const IClock& clock, Callbacks callbacks);

  // Opens the file to play; Open (from the connection control) starts playing it.
  bool Load(const std::string& path, std::string& error);
  const std::string& Path() const { return path; }
  // Times real time; 0 or less plays as fast as possible.
  void SetSpeed(double speed);
  double Speed() const { return speed; }

  // The player's timer fired.
  void OnTimer();
  void Pause();
  void Resume();
  void TogglePause();
  // Pauses, then plays the packets of the next second of GPS time (up to the time packet that
  // begins the one after).
  void StepSecond();
  // Goes on from `fraction` (0..1) of the file's bytes; the packets up to the first time packet
  // found there go out at once, so the played time is known again.
  void SeekFraction(double fraction);

  bool Paused() const { return paused; }
  bool Ended() const { return ended; }
  bool Playing() const { return started && !ended; }
  // GPS milliseconds of the last time packet played; -1 before the first.
  std::int64_t PlayedGpsMs() const { return playedGpsMs; }
  double UtcOffset() const { return utcOffset; }
  double Fraction() const;
  std::uint64_t DroppedFrames() const { return reader.DroppedFrames(); }
  const std::string& ReadError() const { return reader.Error(); }

  // "GPS week 2400 345600.0 s, 2026-01-07 14:10:00 UTC"; "no GPS time yet" for -1.
  static std::string FormatGpsTime(std::int64_t gpsMs, double utcOffset);

  // IReceiverLink
  bool SetSerialParams(int, char, int, int) override { return true; }
  bool SetCanParams(int, int, int) override { return true; }
  bool SetServer(const std::string&, std::uint32_t) override { return true; }
  void SetRelayServer(bool, std::uint32_t) override {}
  bool Open(int linkType, bool autoPortConfiguration) override;
  void Close(int linkType) override;
  bool IsConnected() override { return false; }
  bool SendPacket(int, const KavoPacket&, int) override;
  void RelayPacket(const KavoPacket&) override {}
  void TakePackets(CPacketBatch& batch) override;

 private:
  bool ReadAhead();
  void DeliverPending();
  void Anchor(std::int64_t gpsMs);
  void ReportUp();
  void Finish();
  void NotifyProgress();
  // Plays at most `limit` packets up to and including the first time packet, then stops before
  // the next one; used by a step from no known time and after a seek.
  void PlayToFirstTime(int limit);

  ITimerHost& timers;
  const IClock& clock;
  Callbacks callbacks;
  CRawLogReader reader;
  std::string path;
  double speed = 1.0;

  KavoPacket pending;  // the next packet of the file, read ahead to see whether it must wait
  bool havePending = false;
  std::deque<KavoPacket> queued;

  bool loaded = false;
  bool started = false;
  bool statusPending = false;
  bool paused = false;
  bool ended = false;
  bool progressDirty = false;
  std::int64_t playedGpsMs = -1;
  double utcOffset = 0.0;
  std::int64_t anchorGpsMs = 0;
  std::int64_t anchorWallMs = 0;
};
