#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/connection_control.h"
#include "app/raw_log_player.h"

class CLogrowan;
class CQtTimerHost;

// A raw packet log played into a connection control of its own, on the current (UI) thread: the
// counterpart of CLinkSession for playback. The control sees a network-type link that comes up
// and delivers the recorded packets (CRawLogPlayer), so the LCD, the log viewer and the processor
// usage window take them the way they take live ones. The log lines come from a display-only
// logger: passive, no file, lines to the viewer only. Nothing is sent, mailed or written: a fatal
// error report in the recording is shown in the log viewer instead of being mailed.
//
// The peers and prompts must outlive the session.
class CPlaybackSession {
 public:
  struct Callbacks {
    std::function<void()> progress;  // the played time, position or pause changed
    std::function<void()> finished;  // the whole file has been played
  };

  CPlaybackSession(IPrompts& prompts, IConnectionPeers& peers, Callbacks callbacks);
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
  class CPeers;

  Callbacks callbacks;
  std::unique_ptr<CQtTimerHost> controlTimers;
  std::unique_ptr<CQtTimerHost> playerTimers;
  std::unique_ptr<CPeers> playbackPeers;
  std::unique_ptr<CRawLogPlayer> player;
  std::unique_ptr<CConnectionControl> control;
};
