#pragma once

#include <QObject>
#include <QStringList>
#include <cstdio>
#include <memory>
#include <string>

#include "app/connection_control.h"
#include "app/headless_files.h"
#include "app/port_settings.h"
#include "app/settings_profile.h"

class CConnection;
class CSignalWatcher;
class CSimulatorProcess;
class CStderrPrompts;
class CWebPanelBridge;

struct HeadlessOptions {
  bool printLog = false;  // title, panel rows and log lines to `out` as they change
  bool simulate = false;  // connect to plowsim on a pseudo-terminal instead of the stored link
  int canAddress = -1;    // --can-address: the CAN receiver to choose; -1 the first found
  QStringList simulatorArguments;
  bool relayServer = false;  // switch "Enable as Server" on for this run
  int relayPort = -1;        // -1: the stored port
  bool reconnect = false;    // reopen a lost link instead of ending the run ("AutoReconnect")
  bool verbose = false;      // the link's notices ("* CAN send to N aborted: ...") to stderr
  // --list-files / --get-files: work on the receiver's data folder once connected, then stop.
  HeadlessFileCommand files;
  bool webPanel = false;  // --web-panel: serve the panel to browsers ("Enabled" of [WebPanel])
  int webPanelPort = -1;  // -1: the stored port
};

// plowview without a window: connects at once with the stored settings, runs until SIGINT or
// SIGTERM, then disconnects cleanly (panel flag cleared, logger stopped, receiver port restored).
// Message boxes go to stderr; questions are answered No. The exit code is 0 after a clean stop,
// 1 when the connection could not be made or was lost. With a file command the run instead ends
// when the command is done, with its exit code. The receiver's remote file requests are served
// from the "RLI_Folder" setting while "RLI_Ena" is on. With the web panel on, its two addresses
// go to stderr at start, and a web panel that cannot start ends the run with exit code 1.
//
// The connection is a CConnection; the runner prints what it publishes (title, panel rows, log
// lines, the receiver's time) and ends the run on its state.
class CHeadlessCanSelector;

class CHeadlessRunner final : public QObject,
                              private IPanelObserver,
                              private ILogLineSink,
                              private IPacketSubscriber {
  Q_OBJECT
 public:
  CHeadlessRunner(CSettingsProfile& profile, CPortSettings& settings, int instanceNumber,
                  HeadlessOptions options, std::FILE* out = stdout);
  ~CHeadlessRunner() override;

  // Runs the event loop of the current QCoreApplication; returns the exit code.
  int Run();

 private:
  // IPanelObserver
  void PanelRedraw(int hint) override;
  void TitleChanged(const std::string& title) override;
  void StateChanged(int state) override;
  // ILogLineSink
  void OnLogViewerLine(const std::string& line) override;
  // IPacketSubscriber: the receiver's time for --print-log, and the file command.
  void OnPacket(const KavoPacket& packet) override;

  void Stop(int exitCode);
  // SIGHUP: the settings file read again; the changes that can apply without a new connection
  // apply from the next hour.
  void ReloadSettings();
  void PrintRows();

  CSettingsProfile& profile;
  CPortSettings& settings;
  int instanceNumber;
  HeadlessOptions options;
  std::FILE* out;

  std::unique_ptr<CStderrPrompts> prompts;
  std::unique_ptr<CHeadlessCanSelector> canSelector;  // outlives the connection's link
  std::unique_ptr<CConnection> connection;
  CConnectionControl* control = nullptr;
  std::unique_ptr<CSignalWatcher> signalWatcher;
  std::unique_ptr<CSimulatorProcess> simulator;
  std::unique_ptr<CHeadlessFiles> files;
  // After the connection: it goes first, while the control its pages press keys on is still there.
  std::unique_ptr<CWebPanelBridge> web;

  bool stopping = false;
  bool everConnected = false;
  int lastState = kDisconnected;
  std::string printedTitle;
  std::string printedRows[2];
};
