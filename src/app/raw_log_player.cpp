#include "app/raw_log_player.h"

#include <cmath>
#include <cstdio>

#include "logger/hour_code.h"

namespace {

constexpr std::int64_t kWeekMs = 604800000LL;

}  // namespace

CRawLogPlayer::CRawLogPlayer(ITimerHost& timerHost, const IClock& programClock, Callbacks cb)
    : timers(timerHost), clock(programClock), callbacks(std::move(cb)) {}

bool CRawLogPlayer::Load(const std::string& filePath, std::string& error) {
  loaded = reader.Open(filePath, error);
  path = loaded ? filePath : std::string();
  return loaded;
}

void CRawLogPlayer::SetSpeed(double newSpeed) {
  speed = (newSpeed > 0.0 && std::isfinite(newSpeed)) ? newSpeed : 0.0;
  // The next time packet waits by the new speed from what has been played.
  if (playedGpsMs >= 0) Anchor(playedGpsMs);
}

bool CRawLogPlayer::Open(int, bool) {
  if (!loaded || started) return false;
  started = true;
  statusPending = true;
  // The link reports itself up later, as a real one does, not from inside the control's Open.
  timers.StartTimer(kTimerId, 0);
  return true;
}

void CRawLogPlayer::Close(int) {
  timers.KillTimer(kTimerId);
  statusPending = false;
  // Closed for good: a seek does not start it again.
  started = false;
  ended = true;
  reader.Close();
}

bool CRawLogPlayer::SendPacket(int, const KavoPacket&, int) {
  return false;  // nothing is sent during playback
}

void CRawLogPlayer::TakePackets(CPacketBatch& batch) {
  batch.Clear();
  for (const KavoPacket& packet : queued) batch.Add(packet);
  queued.clear();
}

double CRawLogPlayer::Fraction() const {
  if (ended) return 1.0;
  if (reader.Size() == 0) return 0.0;
  const double f = static_cast<double>(reader.Position()) / static_cast<double>(reader.Size());
  return f > 1.0 ? 1.0 : f;
}

void CRawLogPlayer::ReportUp() {
  if (!statusPending) return;
  statusPending = false;
  if (callbacks.linkStatus) callbacks.linkStatus(0);
}

bool CRawLogPlayer::ReadAhead() {
  if (!havePending && !ended && reader.Next(pending)) havePending = true;
  return havePending;
}

void CRawLogPlayer::Anchor(std::int64_t gpsMs) {
  anchorGpsMs = gpsMs;
  anchorWallMs = clock.NowMs();
}

void CRawLogPlayer::DeliverPending() {
  havePending = false;
  const std::int64_t gpsMs = TimePacketGpsMs(pending);
  if (gpsMs >= 0) {
    playedGpsMs = gpsMs;
    utcOffset = TimePacketUtcOffset(pending);
    progressDirty = true;
  }
  if (queued.size() >= kMaxQueued) queued.pop_front();
  queued.push_back(pending);
  if (callbacks.packetReady) callbacks.packetReady();
  // A new second is told before its packets go out.
  if (gpsMs >= 0) NotifyProgress();
}

void CRawLogPlayer::Finish() {
  if (ended) return;
  ended = true;
  timers.KillTimer(kTimerId);
  reader.Close();
  progressDirty = true;
  NotifyProgress();
  if (callbacks.finished) callbacks.finished();
}

void CRawLogPlayer::NotifyProgress() {
  if (!progressDirty) return;
  progressDirty = false;
  if (callbacks.progress) callbacks.progress();
}

void CRawLogPlayer::OnTimer() {
  timers.KillTimer(kTimerId);
  if (!started || ended) return;
  ReportUp();
  if (paused) return;
  for (int n = 0; n < kMaxPacketsPerTick; ++n) {
    // The control may have closed the link from inside a packet (a fatal error report).
    if (ended) return;
    if (!ReadAhead()) {
      Finish();
      return;
    }
    const std::int64_t gpsMs = TimePacketGpsMs(pending);
    if (gpsMs >= 0) {
      const bool paced = playedGpsMs >= 0 && gpsMs >= playedGpsMs && gpsMs - playedGpsMs <= kMaxGapMs;
      if (!paced) {
        Anchor(gpsMs);
      } else if (speed > 0.0) {
        const auto dueMs = anchorWallMs + std::llround(static_cast<double>(gpsMs - anchorGpsMs) / speed);
        const std::int64_t waitMs = dueMs - clock.NowMs();
        if (waitMs > 0) {
          NotifyProgress();
          timers.StartTimer(kTimerId, static_cast<int>(waitMs));
          return;
        }
      }
    }
    DeliverPending();
  }
  NotifyProgress();
  // More to play at once, after the event loop has had its turn.
  timers.StartTimer(kTimerId, 0);
}

void CRawLogPlayer::Pause() {
  if (paused) return;
  paused = true;
  timers.KillTimer(kTimerId);
  progressDirty = true;
  NotifyProgress();
}

void CRawLogPlayer::Resume() {
  if (!paused) return;
  paused = false;
  if (playedGpsMs >= 0) Anchor(playedGpsMs);
  if (started && !ended) timers.StartTimer(kTimerId, 0);
  progressDirty = true;
  NotifyProgress();
}

void CRawLogPlayer::TogglePause() {
  if (paused) {
    Resume();
  } else {
    Pause();
  }
}

void CRawLogPlayer::PlayToFirstTime(int limit) {
  bool timePlayed = false;
  for (int n = 0; n < limit && !ended; ++n) {
    if (!ReadAhead()) {
      Finish();
      return;
    }
    const bool isTime = TimePacketGpsMs(pending) >= 0;
    if (isTime && timePlayed) return;
    DeliverPending();
    timePlayed = timePlayed || isTime;
  }
}

void CRawLogPlayer::StepSecond() {
  if (!started || ended) return;
  ReportUp();
  Pause();
  const std::int64_t startMs = playedGpsMs;
  if (startMs < 0) {
    PlayToFirstTime(kMaxPacketsPerStep);
    NotifyProgress();
    return;
  }
  const std::int64_t targetMs = startMs + 1000;
  bool timePlayed = false;
  for (int n = 0; n < kMaxPacketsPerStep && !ended; ++n) {
    if (!ReadAhead()) {
      Finish();
      return;
    }
    const std::int64_t gpsMs = TimePacketGpsMs(pending);
    // Stop before a time packet once the second is full (or time ran backwards or jumped).
    if (gpsMs >= 0 && timePlayed && (playedGpsMs >= targetMs || gpsMs > targetMs || gpsMs < playedGpsMs))
      break;
    DeliverPending();
    timePlayed = timePlayed || gpsMs >= 0;
  }
  NotifyProgress();
}

void CRawLogPlayer::SeekFraction(double fraction) {
  if (!started) return;
  if (ended) {
    // Played to its end: a seek plays the file again from the chosen point.
    std::string error;
    if (!reader.Open(path, error)) return;
    ended = false;
  }
  if (!(fraction >= 0.0)) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  ReportUp();
  reader.Seek(static_cast<std::uint64_t>(fraction * static_cast<double>(reader.Size())));
  havePending = false;
  playedGpsMs = -1;
  PlayToFirstTime(kMaxPacketsPerStep);
  if (playedGpsMs >= 0) Anchor(playedGpsMs);
  progressDirty = true;
  NotifyProgress();
  if (!paused && !ended) timers.StartTimer(kTimerId, 0);
}

std::string CRawLogPlayer::FormatGpsTime(std::int64_t gpsMs, double offset) {
  if (gpsMs < 0) return "no GPS time yet";
  const std::int64_t week = gpsMs / kWeekMs;
  const double timeOfWeek = static_cast<double>(gpsMs % kWeekMs) / 1000.0;
  const UtcCalendarTime t = CalendarFromGpsTime(static_cast<std::uint16_t>(week), timeOfWeek - offset);
  char text[96];
  std::snprintf(text, sizeof text, "GPS week %lld %.1f s, %04d-%02d-%02d %02d:%02d:%02d UTC",
                static_cast<long long>(week), timeOfWeek, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}
