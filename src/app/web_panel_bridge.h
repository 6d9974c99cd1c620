#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/connection_subscribers.h"
#include "web/web_panel_config.h"
#include "web/web_panel_host.h"

class CConnectionControl;
class CWebPanel;

// The web panel wired to a connection control: the pages show the control's LCD, title, state
// and logging lamp, and their keys go to its SendKey, EnterPressed and EnterReleased, as the
// window's keys do. The control is asked for on every call, so the window can put a playback's
// control in place of the connection's; while `playing` says so the pages only look on.
//
// It subscribes to the panel and the log lines of a control (Subscribe), as the window does, so the
// pages follow every redraw, title and state change and see every log line; the owner also calls
// PanelChanged when something the control does not publish changes (a playback starts or stops).
// It must go before the control does (a page that still holds Enter releases it through the
// control), and be unsubscribed from a control that goes first. UI thread only.
class CWebPanelBridge final : public IWebPanelHost, private IPanelObserver, private ILogLineSink {
 public:
  struct Wiring {
    std::function<CConnectionControl*()> control;   // null while there is none
    std::function<bool()> playing;                  // empty: never
    std::function<void(const std::string&)> event;  // the "* Web client ..." lines
  };

  CWebPanelBridge(WebPanelConfig config, Wiring wiring);
  ~CWebPanelBridge() override;
  CWebPanelBridge(const CWebPanelBridge&) = delete;
  CWebPanelBridge& operator=(const CWebPanelBridge&) = delete;

  // See CWebPanel::Start.
  bool Start(std::string& error);
  void Stop();

  // Follows `control`'s panel and log lines from now on, until Unsubscribe.
  void Subscribe(CConnectionControl& control);
  void Unsubscribe(CConnectionControl& control);

  void PanelChanged();
  void LogLine(const std::string& line);

  CWebPanel& Panel() { return *panel; }
  const CWebPanel& Panel() const { return *panel; }

  // IWebPanelHost
  PanelSnapshot Snapshot() const override;
  void PressKey(int code) override;
  void PressEnter() override;
  void ReleaseEnter() override;
  void WebEvent(const std::string& line) override;

 private:
  // IPanelObserver and ILogLineSink
  void PanelRedraw(int) override { PanelChanged(); }
  void TitleChanged(const std::string&) override { PanelChanged(); }
  void StateChanged(int) override { PanelChanged(); }
  void OnLogViewerLine(const std::string& line) override { LogLine(line); }

  Wiring wiring;
  std::unique_ptr<CWebPanel> panel;
};

// A web panel for a run without a window: started at once, its two addresses printed on stderr
// and its "* Web client" lines passed on to `wiring.event` and printed on stderr as well. Null
// (after the reason on stderr) when it cannot start.
std::unique_ptr<CWebPanelBridge> StartHeadlessWebPanel(WebPanelConfig config, CWebPanelBridge::Wiring wiring,
                                                       std::FILE* err = stderr);
