// The view's web panel: the receiver's panel served to browsers beside the window.

#include "app/connection.h"
#include "app/connection_control.h"
#include "app/playback_session.h"
#include "app/settings_profile.h"
#include "app/ui/button_test_view.h"
#include "app/web_panel_bridge.h"
#include "app/web_panel_settings.h"
#include "link/protocol/prompts.h"
#include "web/ui/web_panel_dlg.h"
#include "web/web_panel.h"

bool CButtonTestView::StartWebPanel() {
  if (destroyed) return false;
  if (web && web->Panel().Running()) return true;
  WebPanelSettings webSettings = LoadWebPanelSettings(*services.profile);
  if (services.webPanelPort > 0) webSettings.config.port = static_cast<std::uint16_t>(services.webPanelPort);
  CWebPanelBridge::Wiring wiring;
  wiring.control = [this] { return control; };
  wiring.playing = [this] { return playback != nullptr; };
  // The "* Web client" lines go into the connection's diagnostic log like the relay's.
  wiring.event = [this](const std::string& line) { connection->Control().WriteLogLine(line); };
  web = std::make_unique<CWebPanelBridge>(std::move(webSettings.config), std::move(wiring));
  std::string error;
  if (!web->Start(error)) {
    web.reset();
    webProblem = error;
    services.prompts->MessageBox(error, kProgramName, PromptIcon::Exclamation);
    return false;
  }
  webProblem.clear();
  web->Subscribe(connection->Control());
  if (playback) web->Subscribe(playback->Control());
  web->PanelChanged();
  return true;
}

void CButtonTestView::StopWebPanel() {
  if (!web) return;
  web->Stop();
  web->Unsubscribe(connection->Control());
  if (playback) web->Unsubscribe(playback->Control());
  web.reset();
}

WebPanelStatus CButtonTestView::CurrentWebPanelStatus() const {
  WebPanelStatus status;
  status.problem = QString::fromStdString(webProblem);
  if (!web || !web->Panel().Running()) return status;
  status.running = true;
  status.viewUrl = web->Panel().ViewUrl();
  status.controlUrl = web->Panel().ControlUrl();
  status.pages = web->Panel().Pages();
  return status;
}

void CButtonTestView::OnWebPanel() {
  if (destroyed) return;
  if (!webPanelWindow) {
    webPanelWindow = std::make_unique<CWebPanelDlg>([this] { return CurrentWebPanelStatus(); },
                                                    [this](bool on) {
                                                      if (on)
                                                        StartWebPanel();
                                                      else
                                                        StopWebPanel();
                                                    },
                                                    this);
  }
  webPanelWindow->show();
  webPanelWindow->raise();
  webPanelWindow->activateWindow();
}
