#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "web/web_panel_config.h"
#include "web/web_panel_host.h"

class CConnectionControl;
class CWebPanel;

// The web panel wired to a connection control: the pages show the control's LCD, title, state
// and logging lamp, and their keys go to its SendKey, EnterPressed and EnterReleased, as the
// window's keys do. The control is asked for on every call, so the window can put a playback's
// control in place of the connection's; while `playing` says so the pages only look on.
//
// The owner calls PanelChanged whenever it redraws the panel or the title or the state changes,
// and LogLine for every line it adds to the log viewer. It must go before the control does (a page
// that still holds Enter releases it through the control). UI thread only.
class CWebPanelBridge final : public IWebPanelHost {
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
  Wiring wiring;
  std::unique_ptr<CWebPanel> panel;
};

// A web panel for a run without a window: started at once, its two addresses printed on stderr
// and its "* Web client" lines passed on to `wiring.event` and printed on stderr as well. Null
// (after the reason on stderr) when it cannot start.
std::unique_ptr<CWebPanelBridge> StartHeadlessWebPanel(WebPanelConfig config, CWebPanelBridge::Wiring wiring,
                                                       std::FILE* err = stderr);
