#pragma once

#include <QObject>
#include <cstdio>
#include <memory>
#include <string>

#include "app/connection_subscribers.h"
#include "web/web_panel_config.h"

class CPlaybackSession;
class CSignalWatcher;
class CStderrPrompts;
class CWebPanelBridge;

struct PlaybackRunOptions {
  std::string file;       // the raw packet log to play
  double speed = 1.0;     // times real time; 0 as fast as possible
  bool printLog = false;  // title, played GPS time, panel rows and log lines to `out` as they change
  bool webPanel = false;  // serve the played panel to browsers, to look on only
  WebPanelConfig webPanelConfig;
};

// plowview --headless --play: a raw packet log played through the connection control without a
// window, until the end of the file (exit 0) or SIGINT/SIGTERM (exit 0). Exit 1 when the file
// cannot be read. With printLog the output is the headless live format ("title: ", "lcd N: |...|",
// log lines) plus a line "gps: TIME" whenever the played GPS time moves on, before the packets of
// that second. With the web panel, pages look on (no key reaches anything) until the run ends.
class CHeadlessPlayback final : public QObject, private IPanelObserver, private ILogLineSink {
  Q_OBJECT
 public:
  CHeadlessPlayback(PlaybackRunOptions options, int instanceNumber, std::FILE* out = stdout);
  ~CHeadlessPlayback() override;

  // Runs the event loop of the current QCoreApplication; returns the exit code.
  int Run();

 private:
  // IPanelObserver
  void PanelRedraw(int hint) override;
  void TitleChanged(const std::string& title) override;
  void StateChanged(int) override {}
  // ILogLineSink
  void OnLogViewerLine(const std::string& line) override;

  void Progress();
  void Stop(int exitCode);

  PlaybackRunOptions options;
  int instanceNumber;
  std::FILE* out;
  std::unique_ptr<CStderrPrompts> prompts;
  std::unique_ptr<CPlaybackSession> session;
  std::unique_ptr<CSignalWatcher> signalWatcher;
  std::unique_ptr<CWebPanelBridge> web;  // after the session: goes first
  bool stopping = false;
  std::int64_t printedGpsMs = -1;
  std::string printedTitle;
  std::string printedRows[2];
};
