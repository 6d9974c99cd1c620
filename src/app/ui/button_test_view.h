#pragma once

#include <QFont>
#include <QSize>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/connection_subscribers.h"
#include "app/port_settings.h"
#include "app/ui/panel_art.h"
#include "app/ui/port_setting_dlg.h"
#include "link/serial/serial_port_map.h"

class CButtonTestDoc;
class CConnectionControl;
class CFileXferDialog;
class CSPADlg;
class CTestCmdDlg;
class LogRowanDataDlg;
struct ConnectionSettings;
class CConnection;
class CPlaybackSession;
class CQtCanDeviceSelector;
class CPanelKeyButton;
class QTimer;
class CSettingsProfile;
class IPrompts;
class IReceiverLink;
class ITimerHost;
class QMenu;
class QAction;
class CWebPanelBridge;
class CWebPanelDlg;
struct WebPanelStatus;

// Command ids of the view's windows menu (the popup "Plowview Windows") and their twins that no
// menu item carries.
inline constexpr int kIdViewSpaWindow = 32779;
inline constexpr int kIdViewLogRowanData = 32780;
inline constexpr int kIdViewCommandWindowTwin = 32782;
inline constexpr int kIdViewFileTransferTwin = 32783;
inline constexpr int kIdViewCommandWindow = 32784;
inline constexpr int kIdViewFileTransferWindow = 32785;

// What the application hands the view: borrowed objects that outlive it, the number of this
// instance (its instance lock is the application's, as in headless mode), and what the command
// line changes for this run.
struct ViewServices {
  CSettingsProfile* profile = nullptr;
  IPrompts* prompts = nullptr;
  int instanceNumber = 1;  // "Plowview [N]"

  // Tests: with both set, the connection drives this link and these timers (ticked by hand)
  // instead of the program's link object and its Qt timers. Both must outlive the view.
  IReceiverLink* link = nullptr;
  ITimerHost* timers = nullptr;
  // Shows the connection dialog for `settings`; true when confirmed. Empty: PortSettingDlg, modal.
  std::function<bool(CPortSettings& settings)> connectionDialog;
  // The connection dialog's folder picker; empty: the platform's.
  PortSettingDlg::FolderPicker folderPicker;

  // --simulate: port slot 0 is this device, and the view connects to it at once over the serial
  // link, without the dialog and without writing the settings file.
  std::string simulatorDevice;
  // --relay-server [PORT]: "Enable as Server" on for this run; the port (when > 0) applies to the
  // connection made at start-up.
  bool relayServer = false;
  int relayPort = -1;

  // --play FILE [--speed N]: the view plays this raw packet log at the initial update instead of
  // connecting.
  std::string playFile;
  double playSpeed = 1.0;

  // --web-panel [PORT]: the web panel runs from the initial update whatever the settings say; the
  // port (when > 0) replaces the stored one.
  bool webPanel = false;
  int webPanelPort = -1;
};

// The main view: the receiver's front panel with its LCD and six keys, filling the main window's
// client area at the panel's fixed size. It owns the settings and the connection for the whole
// run (a CConnection, which builds everything the connection is made of) and is the only one that
// sets the window title. It draws what the connection publishes, and keys of the PC keyboard,
// clicks on the keys and mouse presses on Enter become key packets. Lives on the UI thread.
//
// It also owns the four engineering windows, created hidden at the initial update and destroyed
// before the connection, and subscribes them to it: the live log viewer (fed every log line,
// asked for its event texts after each batch of packets), the processor usage window (fed the
// usage reports, refreshed every second while shown), the command panel and the file transfer
// window (which send on the link themselves; the file transfer window sees every packet).
class CButtonTestView : public QWidget,
                        private IPanelObserver,
                        private ILogLineSink,
                        private ILogEventSource,
                        private IProcessorUsageView,
                        private IPacketSubscriber {
  Q_OBJECT
 public:
  static constexpr int kPanelWidth = 422;
  static constexpr int kPanelHeight = 187;
  static constexpr const char* kProgramName = "Plowview";

  // Key button control ids.
  static constexpr int kIdUp = 1;
  static constexpr int kIdDown = 2;
  static constexpr int kIdRight = 3;
  static constexpr int kIdEnter = 4;
  static constexpr int kIdEsc = 5;
  static constexpr int kIdLeft = 8;

  // Hot spots for double clicks (view pixels): the log data window and the processor usage window.
  static constexpr QRect kLogDataHotSpot{320, 61, 12, 12};
  static constexpr QRect kSpaHotSpot{62, 11, 21, 22};

  // `services.profile` and `services.prompts` must be set. The settings start at their defaults;
  // the file is read at the initial update.
  CButtonTestView(CButtonTestDoc* document, const ViewServices& services, QWidget* parent = nullptr);
  ~CButtonTestView() override;

  // Runs once, after the main window exists and holds this view: titles the
  // main window "Plowview [N]", reads the settings file, and connects when "Connect at start up"
  // is set with logging off (or at once to the simulator).
  void OnInitialUpdate();
  // Ends the connection cleanly (panel flag cleared) while the window still exists; the main
  // window calls it when it closes. Safe to call more than once.
  void OnDestroy();

  // Whether the command of this id may be chosen now.
  bool IsCommandEnabled(int commandId) const;

  int InstanceNumber() const { return instanceNumber; }
  CPortSettings& Settings() { return settings; }
  CButtonTestDoc* GetDocument() const { return document; }
  CConnectionControl& Control() { return *control; }
  const CConnectionControl& Control() const { return *control; }
  CPanelKeyButton* KeyButton(int controlId) const;
  QMenu* WindowsMenu() const { return windowsMenu; }

  // Playback of a raw packet log in place of the connection (File > Play Raw Log..., --play): the
  // panel, the log viewer and the processor usage window show the recording and the title its GPS
  // time; the panel's keys are off, Space pauses and Right steps one second. Starts only while
  // disconnected; false (after a message) when the file cannot be read. File > Disconnect stops it.
  bool StartPlayback(const std::string& path, double speed);
  void StopPlayback();
  bool Playing() const { return playback != nullptr; }
  CPlaybackSession* Playback() const { return playback.get(); }

  // The web panel (section [WebPanel], --web-panel): started at the initial update when switched
  // on, or for this run from the "Web Panel" window. A failed start is said in a message and
  // kept for that window. Pages only look on while a recording plays.
  bool StartWebPanel();
  void StopWebPanel();
  CWebPanelBridge* WebPanel() const { return web.get(); }
  WebPanelStatus CurrentWebPanelStatus() const;
  CWebPanelDlg* WebPanelWindow() const { return webPanelWindow.get(); }

  // Replaces the processor usage window's own answer to whether it is available (tests).
  void SetSpaAvailable(std::function<bool()> available) { spaAvailable = std::move(available); }

  // The engineering windows; nullptr before the initial update.
  LogRowanDataDlg* LogDataWindow() const { return logDataWindow.get(); }
  CSPADlg* SpaWindow() const { return spaWindow.get(); }
  CTestCmdDlg* CommandWindow() const { return commandWindow.get(); }
  CFileXferDialog* FileTransferWindow() const { return fileTransferWindow.get(); }
  const QFont& ListFont() const { return listFont; }

  QSize sizeHint() const override { return {kPanelWidth, kPanelHeight}; }

  // The connection; the view's control is the playback's while a recording plays.
  CConnection& Connection() { return *connection; }

 public slots:
  void OnFileConnect();
  void OnFileDisconnect();
  void OnClearBbRam();
  // The document's update: 99 the LCD area and both rows, 100 + row one row, else everything.
  void OnUpdate(int hint);
  // The windows commands 32779, 32780 and 32782-32785; nothing when the command is disabled.
  void OnWindowCommand(int commandId);
  void OnToggleLogDataWindow();
  void OnToggleSpaWindow();
  // File > Play Raw Log...: asks for a .kavo file and plays it at real time.
  void OnFilePlayRawLog();
  // The playback slider: go on from this fraction (0..1) of the file.
  void OnPlaybackSeek(double fraction);
  // File > Web Panel...: the window with the web panel's state, addresses and QR code.
  void OnWebPanel();

 signals:
  // The playback started, stopped, paused, moved on a second or ended.
  void PlaybackChanged();
  // The enabling of the commands may have changed; the main window refreshes its menu.
  void CommandStatesChanged();
  // Something on the panel changed (state, a row, the LCD look).
  void PanelChanged();
  // The double-click hot spots toggle the log data and processor usage windows; the windows menu
  // asks to show a window by its command id (32779, 32780, 32784, 32785). The view itself handles
  // all three; others may listen.
  void ToggleLogDataWindow();
  void ToggleSpaWindow();
  void ShowWindowCommand(int commandId);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Tab is a receiver key here, not focus navigation.
  bool focusNextPrevChild(bool next) override;

 private:
  // IPanelObserver: the drawn panel and the title.
  void PanelRedraw(int hint) override;
  void TitleChanged(const std::string& title) override;
  void StateChanged(int state) override;
  // ILogLineSink, ILogEventSource: the live log viewer.
  void OnLogViewerLine(const std::string& line) override;
  std::optional<std::string> TakeEvent(int slot) override;
  // IProcessorUsageView: the processor usage window.
  void OnUsageReport(const KavoPacket& packet) override;
  bool WantsRefresh() override;
  void Refresh() override;
  // IPacketSubscriber: the file transfer window sees every packet.
  void OnPacket(const KavoPacket& packet) override;
  // The view's own subscriptions on a control (the connection's, or a playback's).
  void SubscribeTo(CConnectionControl& publisher);
  // Shows the connection dialog for the settings; true when confirmed (they are then saved).
  bool ShowConnectionDialog();
  // The main window's title: the control's, with the playback's state while playing.
  void ShowTitle(const std::string& title);

  // The release of Return that no auto-repeat press followed: Enter released (7).
  void FinishReturnRelease();
  void CreateKeyButtons();
  void CreateWindowsMenu();
  void OnKeyButtonClicked(int controlId);
  void PressEnterButton();
  void ReleaseEnterButton();
  bool EnterButtonContains(const QPoint& pos) const;
  bool SpaAvailable() const;
  void CreateChildWindows();
  // The link as the command panel and the file transfer window use it: open, and send with the
  // link type of the connection they were shown for.
  bool LinkIsOpen() const;
  bool SendOnLink(int linkType, const KavoPacket& packet, int withChecksum);
  static void ShowWindow(QWidget* window);
  bool LoggingEnabled() const { return settings.logData != 0; }
  void ConnectAtStartUp();
  // Space and Right while playing; true when the key was the playback's (all panel keys are).
  bool PlaybackKey(QKeyEvent* event);
  void ShowPlaybackTitle();
  void SetKeysEnabled(bool enabled);
  // "  -  Playing NAME - GPS week ..." while playing, else empty.
  QString PlaybackTitleSuffix() const;

  CButtonTestDoc* document;
  ViewServices services;
  CPortSettings settings;
  CPanelArt art;
  int instanceNumber = 1;

  // Before the connection: its CAN link asks the selector until the link is gone.
  std::unique_ptr<CQtCanDeviceSelector> canSelector;
  std::unique_ptr<CConnection> connection;
  CConnectionControl* control = nullptr;  // the connection's, or the playback's while playing
  std::unique_ptr<CPlaybackSession> playback;

  std::array<CPanelKeyButton*, 6> keys{};
  CPanelKeyButton* enterButton = nullptr;
  bool enterShownPushed = false;  // the Enter button shows pushed for the mouse
  bool returnDown = false;        // Return is held on the keyboard
  // Runs between a release of Return and the Enter release it becomes (see keyReleaseEvent).
  QTimer* returnReleaseTimer = nullptr;
  QMenu* windowsMenu = nullptr;
  QAction* spaAction = nullptr;
  QAction* logDataAction = nullptr;
  QAction* commandAction = nullptr;
  QAction* fileTransferAction = nullptr;
  std::function<bool()> spaAvailable;
  bool destroyed = false;
  QFont listFont;

  // After the connection and the playback, so it goes before both: its pages press keys on them.
  std::unique_ptr<CWebPanelBridge> web;
  std::string webProblem;  // why the last start failed
  std::unique_ptr<CWebPanelDlg> webPanelWindow;

  // After the connection, so they go first: their send functions reach into it.
  std::unique_ptr<LogRowanDataDlg> logDataWindow;
  std::unique_ptr<CSPADlg> spaWindow;
  std::unique_ptr<CTestCmdDlg> commandWindow;
  std::unique_ptr<CFileXferDialog> fileTransferWindow;
};
