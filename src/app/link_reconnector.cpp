#include "app/link_reconnector.h"

#include <cstdio>

#include "logger/logger_session.h"

CLinkReconnector::CLinkReconnector(IReconnectTarget& targetRef, ITimerHost& timerHost, const IClock& clockRef,
                                   int retry)
    : target(targetRef), timers(timerHost), clock(clockRef), retryMs(retry < 1 ? 1 : retry) {}

void CLinkReconnector::LinkUp() {
  if (state == State::Away || state == State::Opening) {
    timers.KillTimer(kTimerId);
    target.SetQuiet(false);
    ++restores;
    char line[160];
    std::snprintf(line, sizeof line, "* Link restored after %.1f s. Last GPS time: %s",
                  static_cast<double>(clock.NowMs() - lostAtMs) / 1000.0, target.LastGpsTime().c_str());
    target.WriteLogLine(line);
    target.LinkRestored();
  }
  state = State::Up;
}

bool CLinkReconnector::LinkDown(bool enabled) {
  switch (state) {
    case State::Up:
      if (!enabled) break;
      ++losses;
      lostAtMs = clock.NowMs();
      state = State::Away;
      target.WriteLogLine("* Link lost. Last GPS time: " + target.LastGpsTime());
      target.CloseLostLink();
      target.SetQuiet(true);
      timers.StartTimer(kTimerId, retryMs);
      return true;
    case State::Opening:
      // This attempt failed; the running timer makes the next one.
      state = State::Away;
      return true;
    case State::Away:
      return true;  // a late status of the lost link
    case State::Idle:
      break;
  }
  Stop();
  return false;
}

void CLinkReconnector::OnTimer(int id) {
  if (id != kTimerId) return;
  if (state != State::Away) {
    if (state != State::Opening) timers.KillTimer(kTimerId);
    return;  // an attempt is still under way
  }
  state = State::Opening;
  ++attempts;
  target.ReopenLink();
}

void CLinkReconnector::Stop() {
  if (state == State::Away || state == State::Opening) {
    timers.KillTimer(kTimerId);
    target.SetQuiet(false);
  }
  state = State::Idle;
}

std::string FormatLastGpsTime(const LoggerSession& s) {
  if (s.lastTimeOfWeek < 0.0 || !s.timeValid) return "unknown";
  char text[96];
  std::snprintf(text, sizeof text, "week %u TOW %.1f s, UTC %02d/%02d/%04d %02d:%02d:%02d",
                static_cast<unsigned>(s.gpsWeek), s.lastTimeOfWeek, s.month, s.day, s.year, s.hour, s.minute,
                s.second);
  return text;
}
