#include "app/ui/button_test_view.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <chrono>

#include "app/connection.h"
#include "app/connection_control.h"
#include "app/playback_session.h"
#include "app/settings_profile.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/main_frame.h"
#include "app/ui/panel_key_button.h"
#include "app/ui/qt_can_device_selector.h"
#include "app/ui/spa_dlg.h"
#include "app/ui/test_cmd_dlg.h"
#include "app/web_panel_bridge.h"
#include "app/web_panel_settings.h"
#include "dat/ui/log_rowan_data_dlg.h"
#include "dat/ui/sort_list_ctrl.h"
#include "files/ui/file_xfer_dialog.h"
#include "logger/log_archiver.h"
#include "web/ui/web_panel_dlg.h"

namespace {

// The keys of the PC keyboard that press a receiver key, with the button that shows it (0: none).
struct KeyBinding {
  int qtKey;
  int code;
  int buttonId;
};

constexpr KeyBinding kKeyBindings[] = {
    {Qt::Key_Up, 1, CButtonTestView::kIdUp},
    {Qt::Key_Down, 2, CButtonTestView::kIdDown},
    {Qt::Key_Right, 3, CButtonTestView::kIdRight},
    {Qt::Key_Escape, 4, CButtonTestView::kIdEsc},
    {Qt::Key_Left, 8, CButtonTestView::kIdLeft},
    {Qt::Key_F1, 9, 0},
    {Qt::Key_F2, 10, 0},
    {Qt::Key_F3, 11, 0},
    {Qt::Key_F4, 12, 0},
    {Qt::Key_F5, 13, 0},
    {Qt::Key_F6, 14, 0},
    {Qt::Key_Tab, 15, 0},
};

const KeyBinding* FindBinding(int qtKey) {
  for (const KeyBinding& b : kKeyBindings)
    if (b.qtKey == qtKey) return &b;
  return nullptr;
}

// The key buttons: control id, key code sent by a click, face, caption, position (Left is placed
// from the right edge in resizeEvent).
struct KeyButtonSpec {
  int id;
  int code;
  CPanelArt::KeyFace face;
  const char* caption;
  QPoint pos;
};

constexpr KeyButtonSpec kKeyButtons[] = {
    {CButtonTestView::kIdUp, 1, CPanelArt::KeyFace::Up, "Up", {141, 137}},
    {CButtonTestView::kIdDown, 2, CPanelArt::KeyFace::Down, "Down", {220, 137}},
    {CButtonTestView::kIdRight, 3, CPanelArt::KeyFace::Right, "Right", {299, 137}},
    {CButtonTestView::kIdEnter, 0, CPanelArt::KeyFace::Enter, "Enter", {61, 137}},
    {CButtonTestView::kIdEsc, 4, CPanelArt::KeyFace::Esc, "Esc", {15, 72}},
    {CButtonTestView::kIdLeft, 8, CPanelArt::KeyFace::Left, "Left", {345, 72}},
};

constexpr int kLeftKeyRightMargin = 15;

bool IsReturn(int qtKey) {
  return qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter;
}

// How long a release of Return waits for the press that would make it part of an X11 auto-repeat.
constexpr int kReturnReleaseSettleMs = 40;

// How long closing the window waits for the archiving of closed hours to finish.
constexpr std::chrono::seconds kArchiveWaitAtExit{60};

}  // namespace

CButtonTestView::CButtonTestView(CButtonTestDoc* doc, const ViewServices& viewServices, QWidget* parent)
    : QWidget(parent), document(doc), services(viewServices), settings(*viewServices.profile) {
  setFixedSize(kPanelWidth, kPanelHeight);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);

  canSelector = std::make_unique<CQtCanDeviceSelector>(*services.prompts, this);
  ConnectionServices connectionServices;
  connectionServices.profile = services.profile;
  connectionServices.prompts = services.prompts;
  connectionServices.canSelector = canSelector.get();
  connectionServices.run.simulatorDevice = services.simulatorDevice;
  connectionServices.run.relayServer = services.relayServer;
  connectionServices.run.relayPort = services.relayPort;
  connectionServices.link = services.link;
  connectionServices.timers = services.timers;
  connection = std::make_unique<CConnection>(connectionServices);
  control = &connection->Control();
  SubscribeTo(*control);
  // The file transfer window sees the connection's packets, never a recording's.
  control->SubscribePackets(this);
  if (document) {
    document->SetLcdModel(&control->Lcd());
    connect(document, &CButtonTestDoc::Updated, this, &CButtonTestView::OnUpdate);
  }
  CreateKeyButtons();
  CreateWindowsMenu();
  returnReleaseTimer = new QTimer(this);
  returnReleaseTimer->setSingleShot(true);
  returnReleaseTimer->setInterval(kReturnReleaseSettleMs);
  connect(returnReleaseTimer, &QTimer::timeout, this, &CButtonTestView::FinishReturnRelease);
  connect(this, &CButtonTestView::ToggleLogDataWindow, this, &CButtonTestView::OnToggleLogDataWindow);
  connect(this, &CButtonTestView::ToggleSpaWindow, this, &CButtonTestView::OnToggleSpaWindow);
  connect(this, &CButtonTestView::ShowWindowCommand, this, &CButtonTestView::OnWindowCommand);
}

CButtonTestView::~CButtonTestView() {
  // The main window may be half gone already: nothing it listens to may fire from here.
  const QSignalBlocker quiet(this);
  OnDestroy();
  webPanelWindow.reset();
  web.reset();
  // The windows send through the connection and are fed by it: they go while it is still whole,
  // and the peer hooks find them gone if the connection's own teardown still calls out.
  fileTransferWindow.reset();
  commandWindow.reset();
  spaWindow.reset();
  logDataWindow.reset();
  if (document) document->SetLcdModel(nullptr);
  // An upload or mail of a closed hour may still run: let it finish (bounded) rather than cut it.
  connection->Shutdown(kArchiveWaitAtExit);
}

void CButtonTestView::SubscribeTo(CConnectionControl& publisher) {
  publisher.SubscribePanel(this);
  publisher.SubscribeLogLines(this);
  publisher.SetLogEventSource(this);
  publisher.SetProcessorUsageView(this);
}

void CButtonTestView::CreateKeyButtons() {
  std::size_t i = 0;
  for (const KeyButtonSpec& entry : kKeyButtons) {
    auto* button = new CPanelKeyButton(art, entry.face, QString::fromLatin1(entry.caption), entry.id, this);
    button->move(entry.pos);
    keys[i++] = button;
    if (entry.id == kIdEnter) {
      // The view itself takes the mouse over Enter: press, hold and drag off are key events of
      // their own, which a click cannot express.
      button->setAttribute(Qt::WA_TransparentForMouseEvents);
      enterButton = button;
      continue;
    }
    const int id = entry.id;
    connect(button, &QAbstractButton::clicked, this, [this, id] { OnKeyButtonClicked(id); });
  }
}

void CButtonTestView::CreateWindowsMenu() {
  windowsMenu = new QMenu(QStringLiteral("Plowview Windows"), this);
  spaAction = windowsMenu->addAction(QStringLiteral("View SPA Window"));
  logDataAction = windowsMenu->addAction(QStringLiteral("View LogRowan Data"));
  commandAction = windowsMenu->addAction(QStringLiteral("View Command Window"));
  fileTransferAction = windowsMenu->addAction(QStringLiteral("View File Transfer Window"));
  const std::pair<QAction*, int> commands[] = {{spaAction, kIdViewSpaWindow},
                                               {logDataAction, kIdViewLogRowanData},
                                               {commandAction, kIdViewCommandWindow},
                                               {fileTransferAction, kIdViewFileTransferWindow}};
  for (const auto& [action, id] : commands) {
    action->setData(id);
    const int commandId = id;
    connect(action, &QAction::triggered, this, [this, commandId] {
      if (IsCommandEnabled(commandId)) emit ShowWindowCommand(commandId);
    });
  }
}

CPanelKeyButton* CButtonTestView::KeyButton(int controlId) const {
  for (CPanelKeyButton* button : keys)
    if (button && button->ControlId() == controlId) return button;
  return nullptr;
}

void CButtonTestView::OnInitialUpdate() {
  instanceNumber = services.instanceNumber;
  settings.LoadSettings();
  if (services.relayServer) settings.enableAsServer = 1;
  // Before the title: the log data window's caption is set with it.
  CreateChildWindows();
  control->InitialUpdate(instanceNumber);
  if (LoadWebPanelSettings(*services.profile).enabled || services.webPanel) StartWebPanel();
  if (!services.playFile.empty()) {
    StartPlayback(services.playFile, services.playSpeed);
  } else {
    ConnectAtStartUp();
  }
  setFocus();
}

void CButtonTestView::ConnectAtStartUp() {
  // The simulator is connected to at once, whatever "Connect at start up" says.
  if (!services.simulatorDevice.empty() || (settings.autoConnect && !settings.logData))
    connection->Connect(settings, true);
}

void CButtonTestView::CreateChildWindows() {
  if (logDataWindow) return;
  listFont = CSPADlg::DefaultListFont();

  logDataWindow = std::make_unique<LogRowanDataDlg>(services.profile, this);
  // Its single column already spans the list (the last column stretches).
  logDataWindow->List()->setFont(listFont);
  // Esc in the viewer is the receiver's Esc, as if pressed on the panel.
  logDataWindow->SetPanelKeyHandler([this](QKeyEvent* event) {
    if (event->type() == QEvent::KeyPress)
      keyPressEvent(event);
    else
      keyReleaseEvent(event);
  });
  logDataWindow->hide();

  spaWindow = std::make_unique<CSPADlg>(this);
  spaWindow->SetListFont(listFont);
  spaWindow->SetSend([this](const KavoPacket& packet, int withChecksum) {
    return control->SendToReceiver(packet, withChecksum);
  });
  spaWindow->hide();

  commandWindow = std::make_unique<CTestCmdDlg>(this);
  commandWindow->hide();
  fileTransferWindow = std::make_unique<CFileXferDialog>(this);
  fileTransferWindow->hide();
}

bool CButtonTestView::SpaAvailable() const {
  if (spaAvailable) return spaAvailable();
  return spaWindow && spaWindow->IsAvailable();
}

bool CButtonTestView::LinkIsOpen() const {
  return connection->LinkIsOpen();
}

bool CButtonTestView::SendOnLink(int linkType, const KavoPacket& packet, int withChecksum) {
  return connection->SendOnLink(linkType, packet, withChecksum);
}

void CButtonTestView::ShowWindow(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

void CButtonTestView::OnWindowCommand(int commandId) {
  if (destroyed || !spaWindow || !IsCommandEnabled(commandId)) return;
  const int type = control->LinkType();
  switch (commandId) {
    case kIdViewSpaWindow:
      ShowWindow(spaWindow.get());
      break;
    case kIdViewLogRowanData:
      if (LoggingEnabled()) ShowWindow(logDataWindow.get());
      break;
    case kIdViewCommandWindow:
    case kIdViewCommandWindowTwin:
      commandWindow->SetLink([this] { return LinkIsOpen(); },
                             [this, type](const KavoPacket& packet, int withChecksum) {
                               return SendOnLink(type, packet, withChecksum);
                             });
      ShowWindow(commandWindow.get());
      break;
    case kIdViewFileTransferWindow:
    case kIdViewFileTransferTwin:
      fileTransferWindow->SetLink([this] { return LinkIsOpen(); },
                                  [this, type](const KavoPacket& packet, int withChecksum) {
                                    return SendOnLink(type, packet, withChecksum);
                                  });
      // The folder of the connection (taken by Connect), not whatever the dialog holds now.
      fileTransferWindow->SetDownloadFolder(control->Settings().loggingFolder);
      ShowWindow(fileTransferWindow.get());
      break;
    default:
      break;
  }
}

void CButtonTestView::OnToggleLogDataWindow() {
  if (!logDataWindow || !LoggingEnabled()) return;
  if (logDataWindow->isVisible())
    logDataWindow->hide();
  else
    ShowWindow(logDataWindow.get());
}

void CButtonTestView::OnToggleSpaWindow() {
  if (!spaWindow || !SpaAvailable()) return;
  if (spaWindow->isVisible())
    spaWindow->hide();
  else
    ShowWindow(spaWindow.get());
}

void CButtonTestView::OnLogViewerLine(const std::string& line) {
  if (logDataWindow) logDataWindow->AddLine(line);
}

std::optional<std::string> CButtonTestView::TakeEvent(int slot) {
  if (!logDataWindow) return std::nullopt;
  return logDataWindow->TakeEvent(slot);
}

void CButtonTestView::OnPacket(const KavoPacket& packet) {
  if (fileTransferWindow) fileTransferWindow->OnPacket(packet);
}

void CButtonTestView::OnUsageReport(const KavoPacket& packet) {
  if (spaWindow) spaWindow->OnReport(packet);
}

bool CButtonTestView::WantsRefresh() {
  // A recording is only looked at: no request goes out for it.
  return !playback && spaWindow && spaWindow->isVisible() && spaWindow->IsAvailable();
}

void CButtonTestView::Refresh() {
  if (spaWindow) spaWindow->Refresh();
}

void CButtonTestView::OnDestroy() {
  if (destroyed) return;
  destroyed = true;
  // The pages first: one that holds Enter lets it go while the link is still up.
  StopWebPanel();
  StopPlayback();
  if (control && control->State() != kDisconnected) control->Disconnect();
}

bool CButtonTestView::IsCommandEnabled(int commandId) const {
  const int state = control->State();
  if (playback) {
    // Playing: only what looks on; Disconnect ends the playback.
    switch (commandId) {
      case kIdFileDisconnect:
      case kIdViewLogRowanData:
      case kIdFileWebPanel:
        return true;
      case kIdViewSpaWindow:
        return SpaAvailable();
      default:
        return false;
    }
  }
  if (commandId == kIdFilePlayRawLog) return state == kDisconnected;
  switch (commandId) {
    case kIdFileConnect:
      return state == kDisconnected;
    case kIdFileDisconnect:
    case kIdClearBbRam:
    case kIdViewCommandWindow:
    case kIdViewFileTransferWindow:
    case kIdViewCommandWindowTwin:
    case kIdViewFileTransferTwin:
      return state == kConnected;
    case kIdViewSpaWindow:
      return SpaAvailable();
    case kIdViewLogRowanData:
      return true;
    default:
      return true;
  }
}

bool CButtonTestView::ShowConnectionDialog() {
  if (services.connectionDialog) return services.connectionDialog(settings);
  PortSettingDlg dialog(settings, *services.prompts, connection->PortMap(), this);
  dialog.SetFolderPicker(services.folderPicker);
  return dialog.exec() == QDialog::Accepted;
}

void CButtonTestView::OnFileConnect() {
  if (destroyed || control->State() != kDisconnected) return;
  if (!ShowConnectionDialog()) return;
  connection->Connect(settings, false);
  setFocus();
}

void CButtonTestView::OnFileDisconnect() {
  if (playback) {
    StopPlayback();
    return;
  }
  if (control->State() == kConnected) control->Disconnect();
}

void CButtonTestView::OnClearBbRam() {
  if (control->State() == kConnected) control->ClearBatteryBackedMemory();
}

void CButtonTestView::PanelRedraw(int hint) {
  if (document)
    document->UpdateAllViews(hint);
  else
    OnUpdate(hint);
}

void CButtonTestView::OnUpdate(int hint) {
  if (hint == CConnectionControl::kRedrawAll) {
    update(QRect(CPanelArt::kLcdOrigin, CPanelArt::kLcdSize));
  } else if (hint >= CConnectionControl::kRedrawRow) {
    const int row = (hint & 0xFF) % 100;
    if (row == 0 || row == 1) update(CPanelArt::RowRect(row));
  } else {
    update();
  }
  emit PanelChanged();
}

void CButtonTestView::TitleChanged(const std::string& title) {
  ShowTitle(title);
  if (logDataWindow) {
    const std::string& caption = control->LogViewerCaption();
    logDataWindow->SetCaption(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
  }
}

void CButtonTestView::ShowTitle(const std::string& title) {
  // The receiver's part of the title is bytes of its own character set, not UTF-8.
  window()->setWindowTitle(QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size())) +
                           PlaybackTitleSuffix());
}

void CButtonTestView::StateChanged(int /*state*/) {
  update(QRect(CPanelArt::kLcdOrigin, CPanelArt::kLcdSize));
  emit CommandStatesChanged();
  emit PanelChanged();
}

void CButtonTestView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, art.Panel());
  CPanelArt::LcdLook look = CPanelArt::LcdLook::Dark;
  if (control->LcdLit())
    look = control->ShowLoggingIndication() ? CPanelArt::LcdLook::Logging : CPanelArt::LcdLook::Lit;
  painter.drawPixmap(CPanelArt::kLcdOrigin, art.Lcd(look));
  const QColor colour = control->State() == kDisconnected ? CPanelArt::kTextDark : CPanelArt::kTextLit;
  for (int row = 0; row < CLcdModel::kRows; ++row)
    CPanelArt::DrawRow(painter, row, control->RowText(row), colour);
}

void CButtonTestView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (CPanelKeyButton* left = KeyButton(kIdLeft))
    left->move(width() - kLeftKeyRightMargin - left->width(), left->y());
}

void CButtonTestView::keyPressEvent(QKeyEvent* event) {
  if (PlaybackKey(event)) return;
  const int key = event->key();
  if (IsReturn(key)) {
    // A press right behind a release is the X server's auto-repeat, which Qt does not always flag:
    // Return is still held.
    if (returnReleaseTimer->isActive()) {
      returnReleaseTimer->stop();
      return;
    }
    // Auto-repeat of a held Return is not a new press: the receiver counts the hold itself.
    if (!event->isAutoRepeat() && !returnDown) {
      returnDown = true;
      enterButton->setDown(true);
      control->EnterPressed();
    }
    return;
  }
  const KeyBinding* binding = FindBinding(key);
  if (!binding) {
    QWidget::keyPressEvent(event);
    return;
  }
  if (binding->buttonId) KeyButton(binding->buttonId)->setDown(true);
  control->SendKey(binding->code);
}

void CButtonTestView::keyReleaseEvent(QKeyEvent* event) {
  if (playback) return;
  const int key = event->key();
  if (event->isAutoRepeat()) return;
  if (IsReturn(key)) {
    // An auto-repeating X server sends release and press pairs while the key is held, and Qt flags
    // them as auto-repeat only when the press is already queued behind the release. Each one would
    // send 7 and restart the 3.9 s hold, so the long press (6) could never happen: the release only
    // counts when no press follows within a moment.
    if (returnDown) returnReleaseTimer->start();
    return;
  }
  const KeyBinding* binding = FindBinding(key);
  if (!binding) {
    QWidget::keyReleaseEvent(event);
    return;
  }
  if (binding->buttonId) KeyButton(binding->buttonId)->setDown(false);
}

void CButtonTestView::focusOutEvent(QFocusEvent* event) {
  // The release of a Return held while the keyboard went elsewhere (a message box, another window)
  // never reaches the view; without this the receiver would keep Enter pressed.
  if (returnDown) {
    returnReleaseTimer->stop();
    FinishReturnRelease();
  }
  QWidget::focusOutEvent(event);
}

void CButtonTestView::FinishReturnRelease() {
  if (!returnDown) return;
  returnDown = false;
  control->EnterReleased();
  enterButton->setDown(false);
}

bool CButtonTestView::focusNextPrevChild(bool /*next*/) {
  return false;
}

void CButtonTestView::OnKeyButtonClicked(int controlId) {
  for (const KeyButtonSpec& entry : kKeyButtons)
    if (entry.id == controlId) control->SendKey(entry.code);
  setFocus();
}

bool CButtonTestView::EnterButtonContains(const QPoint& pos) const {
  return enterButton->geometry().contains(pos);
}

void CButtonTestView::PressEnterButton() {
  enterShownPushed = true;
  enterButton->setDown(true);
  control->EnterPressed();
}

void CButtonTestView::ReleaseEnterButton() {
  enterShownPushed = false;
  enterButton->setDown(false);
  control->EnterReleased();
}

void CButtonTestView::mousePressEvent(QMouseEvent* event) {
  if (!playback && event->button() == Qt::LeftButton && EnterButtonContains(event->position().toPoint())) {
    PressEnterButton();
    return;
  }
  QWidget::mousePressEvent(event);
}

void CButtonTestView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && enterShownPushed &&
      EnterButtonContains(event->position().toPoint())) {
    ReleaseEnterButton();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

void CButtonTestView::mouseMoveEvent(QMouseEvent* event) {
  if (enterShownPushed && !EnterButtonContains(event->position().toPoint())) {
    ReleaseEnterButton();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void CButtonTestView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    // The second press of a double click on Enter is still a press of the key.
    if (EnterButtonContains(pos)) {
      PressEnterButton();
      return;
    }
    if (kLogDataHotSpot.contains(pos)) {
      if (LoggingEnabled()) emit ToggleLogDataWindow();
      return;
    }
    if (kSpaHotSpot.contains(pos)) {
      if (SpaAvailable()) emit ToggleSpaWindow();
      return;
    }
  }
  QWidget::mouseDoubleClickEvent(event);
}

void CButtonTestView::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  if (!LoggingEnabled()) return;
  const bool connected = control->State() == kConnected;
  spaAction->setVisible(SpaAvailable());
  spaAction->setEnabled(SpaAvailable());
  logDataAction->setEnabled(true);
  commandAction->setEnabled(connected);
  fileTransferAction->setEnabled(connected);
  windowsMenu->popup(event->globalPos());
}
