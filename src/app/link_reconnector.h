#pragma once

#include <cstdint>
#include <string>

#include "app/timer_host.h"
#include "link/protocol/clock.h"

struct LoggerSession;

// What the reconnector does to the connection; the connection's CSessionReconnect implements it, tests
// record the calls.
class IReconnectTarget {
 public:
  virtual ~IReconnectTarget() = default;
  // Frees what is left of the lost link (its hung-up descriptor, its reader) at once.
  virtual void CloseLostLink() = 0;
  // Starts opening the same link again; the outcome arrives as a link status.
  virtual void ReopenLink() = 0;
  // Silences the link's failure messages while the link is being reopened: a device that is
  // still away fails every attempt, and must not put up a message each time.
  virtual void SetQuiet(bool quiet) = 0;
  // A line for the text log (and the log viewer); dropped while no logger runs.
  virtual void WriteLogLine(const std::string& line) = 0;
  // The receiver's last GPS time as the lost and restored lines show it.
  virtual std::string LastGpsTime() = 0;
  // The link is back (after the restored line): what the reopen may have undone at the receiver
  // is set up again.
  virtual void LinkRestored() = 0;
};

// Reopens a link that was lost while it was up, until it is back or the connection is ended.
// The connection control hands it every link status; once the link has been up, a status "down"
// is taken over: the lost link is closed, "* Link lost" goes into the log, and every `retryMs`
// one attempt reopens the same link, the next only after the previous one has failed (a serial
// open may take seconds before it reports). The status "up" that follows writes
// "* Link restored" with the time the link was away. Nothing happens between the ticks, and the
// timer runs only while the link is away. The logger session is left alone throughout, so the
// log goes on in the same hour's file.
//
// Runs on the user-interface thread, driven by the timer `kTimerId` of `timers`, whose ticks the
// owner passes to OnTimer.
class CLinkReconnector {
 public:
  static constexpr int kTimerId = 107;
  static constexpr int kDefaultRetryMs = 500;

  CLinkReconnector(IReconnectTarget& target, ITimerHost& timers, const IClock& clock,
                   int retryMs = kDefaultRetryMs);

  // The link reported up.
  void LinkUp();
  // The link reported down. True when the reconnector takes the loss over (the connection stays
  // and waits for the link); false when the link had not been up in this connection, or when
  // `enabled` is false.
  bool LinkDown(bool enabled);
  void OnTimer(int id);
  // The connection is ended (Disconnect): no more attempts.
  void Stop();

  bool Away() const { return state == State::Away || state == State::Opening; }
  int Losses() const { return losses; }
  int Restores() const { return restores; }
  int Attempts() const { return attempts; }

 private:
  enum class State { Idle, Up, Away, Opening };

  IReconnectTarget& target;
  ITimerHost& timers;
  const IClock& clock;
  int retryMs;
  State state = State::Idle;
  std::int64_t lostAtMs = 0;
  int losses = 0;
  int restores = 0;
  int attempts = 0;
};

// The receiver's last GPS time from a logger session: "week W TOW S s, UTC MM/DD/YYYY HH:MM:SS",
// or "unknown" while the session has had no time report.
std::string FormatLastGpsTime(const LoggerSession& session);
