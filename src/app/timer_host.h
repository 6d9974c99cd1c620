#pragma once

// The view's timers by id. The window implements them with one QTimer per id; tests with a fake
// that the test ticks by hand. Starting a running timer restarts it with the new period.
enum ViewTimer : int {
  kTimerCursorBlink = 100,     // 300 ms while the receiver shows a cursor
  kTimerWatchdog = 101,        // 1000 ms from link up
  kTimerEnterHeld = 102,       // 3900 ms after Enter went down
  kTimerLogger = 103,          // 50 ms, logger state machine, while logging
  kTimerLogActivity = 104,     // 1200 ms after each batch of log lines
  kTimerProcessorUsage = 105,  // 1000 ms from link up
  kTimerRemoteFiles = 106,     // 100 ms from link up
};

class ITimerHost {
 public:
  virtual ~ITimerHost() = default;
  virtual void StartTimer(int id, int periodMs) = 0;
  virtual void KillTimer(int id) = 0;
};
