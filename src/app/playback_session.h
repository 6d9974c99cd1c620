#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/connection_control.h"
#include "app/raw_log_player.h"

class CQtTimerHost;

// A raw packet log played into a connection control of its own, on the current (UI) thread: the
// counterpart of CConnection for playback. The control sees a network-type link that comes up
// and delivers the recorded packets (CRawLogPlayer), so the LCD, the log viewer and the processor
// usage window take them the way they take live ones: they subscribe on Control() as they do on
// the connection's, before Start. The log lines come from a display-only logger: passive, no
// file, lines to the log line sinks only. There is no remote file server and nothing is sent,
// mailed or written: a fatal error report in the recording is shown in the log instead of being
// mailed.
//
// The prompts must outlive the session.
class CPlaybackSession {
 public:
  struct Callbacks {
    std::function<void()> progress;  // the played time, position or pause changed
    std::function<void()> finished;  // the whole file has been played
  };

  CPlaybackSession(IPrompts& prompts, Callbacks callbacks);
  ~CPlaybackSession();
  CPlaybackSession(const CPlaybackSession&) = delete;
  CPlaybackSession& operator=(const CPlaybackSession&) = delete;

  // Opens `path` and starts playing it at `speed` times real time (0: as fast as possible); false
  // with `error` set when the file cannot be read.
  bool Start(int instanceNumber, const std::string& path, double speed, std::string& error);
  // Ends the playback (the control disconnects; the LCD keeps its last rows).
  void Stop();

  CConnectionControl& Control() { return *control; }
  CRawLogPlayer& Player() { return *player; }

  // "Playing NAME - GPS week ..." (with " (paused)" or " (end)") for the window title.
  std::string StatusText() const;

 private:
  class CLogger;

  Callbacks callbacks;
  std::unique_ptr<CQtTimerHost> controlTimers;
  std::unique_ptr<CQtTimerHost> playerTimers;
  std::unique_ptr<CLogger> logger;
  std::unique_ptr<CRawLogPlayer> player;
  std::unique_ptr<CConnectionControl> control;
};
