#include "app/web_panel_bridge.h"

#include <QLoggingCategory>

#include "app/connection_control.h"
#include "web/web_panel.h"

namespace {

// The HTTP server warns of every WebSocket upgrade it does not take, even after answering it: here
// those are refused streams (wrong token, no room) that are already told as "* Web client" lines,
// and the warning's talk of unconnected slots would only puzzle whoever reads stderr. Qt's filter
// is process-wide, so the program installs it once, with the first web panel.
QLoggingCategory::CategoryFilter previousFilter = nullptr;

void QuietHttpServerWarnings(QLoggingCategory* category) {
  if (previousFilter) previousFilter(category);
  if (qstrcmp(category->categoryName(), "qt.httpserver") == 0) category->setEnabled(QtWarningMsg, false);
}

void InstallHttpServerWarningFilter() {
  static const bool installed = [] {
    previousFilter = QLoggingCategory::installFilter(QuietHttpServerWarnings);
    return true;
  }();
  Q_UNUSED(installed);
}

}  // namespace

CWebPanelBridge::CWebPanelBridge(WebPanelConfig config, Wiring panelWiring) : wiring(std::move(panelWiring)) {
  InstallHttpServerWarningFilter();
  panel = std::make_unique<CWebPanel>(*this, std::move(config));
}

CWebPanelBridge::~CWebPanelBridge() {
  // Pages that still hold Enter release it through the control while it is there.
  panel.reset();
}

bool CWebPanelBridge::Start(std::string& error) {
  return panel->Start(error);
}

void CWebPanelBridge::Stop() {
  panel->Stop();
}

void CWebPanelBridge::Subscribe(CConnectionControl& control) {
  control.SubscribePanel(this);
  control.SubscribeLogLines(this);
}

void CWebPanelBridge::Unsubscribe(CConnectionControl& control) {
  control.UnsubscribePanel(this);
  control.UnsubscribeLogLines(this);
}

void CWebPanelBridge::PanelChanged() {
  panel->PanelChanged();
}

void CWebPanelBridge::LogLine(const std::string& line) {
  panel->AddLogLine(line);
}

PanelSnapshot CWebPanelBridge::Snapshot() const {
  PanelSnapshot snapshot;
  const CConnectionControl* control = wiring.control ? wiring.control() : nullptr;
  snapshot.keysAvailable = !(wiring.playing && wiring.playing());
  if (!control) return snapshot;
  const int state = control->State();
  snapshot.linkState = state;
  snapshot.lcdLit = control->LcdLit();
  snapshot.loggingLamp = control->ShowLoggingIndication();
  snapshot.logging = control->Settings().logData;
  snapshot.title = control->MainTitle();
  if (state == kConnected) {
    // The stored rows; the page blinks the cursor over them itself.
    const CLcdModel& lcd = control->Lcd();
    for (int row = 0; row < CLcdModel::kRows; ++row) snapshot.rows[row] = lcd.lines[row];
    snapshot.cursorOn = lcd.cursorOn != 0;
    snapshot.cursorColumn = lcd.cursorColumn;
    snapshot.cursorRow = lcd.cursorRow;
  } else {
    for (int row = 0; row < CLcdModel::kRows; ++row) snapshot.rows[row] = control->RowText(row);
  }
  return snapshot;
}

void CWebPanelBridge::PressKey(int code) {
  if (CConnectionControl* control = wiring.control ? wiring.control() : nullptr) control->SendKey(code);
}

void CWebPanelBridge::PressEnter() {
  if (CConnectionControl* control = wiring.control ? wiring.control() : nullptr) control->EnterPressed();
}

void CWebPanelBridge::ReleaseEnter() {
  if (CConnectionControl* control = wiring.control ? wiring.control() : nullptr) control->EnterReleased();
}

void CWebPanelBridge::WebEvent(const std::string& line) {
  if (wiring.event) wiring.event(line);
}

std::unique_ptr<CWebPanelBridge> StartHeadlessWebPanel(WebPanelConfig config, CWebPanelBridge::Wiring wiring,
                                                       std::FILE* err) {
  auto event = std::move(wiring.event);
  wiring.event = [event, err](const std::string& line) {
    std::fprintf(err, "plowview: %s", line.c_str());
    if (event) event(line);
  };
  auto bridge = std::make_unique<CWebPanelBridge>(std::move(config), std::move(wiring));
  std::string error;
  if (!bridge->Start(error)) {
    std::fprintf(err, "plowview: %s\n", error.c_str());
    return nullptr;
  }
  const CWebPanel& panel = bridge->Panel();
  std::fprintf(err, "plowview: web panel, to look on: %s\n", panel.ViewUrl().toStdString().c_str());
  std::fprintf(err, "plowview: web panel, to press keys: %s\n", panel.ControlUrl().toStdString().c_str());
  std::fflush(err);
  return bridge;
}
