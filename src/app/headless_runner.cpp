#include "app/headless_runner.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "app/connection.h"
#include "app/headless_can_selector.h"
#include "app/logger_part.h"
#include "app/raw_log_player.h"
#include "app/signal_watcher.h"
#include "app/simulator_process.h"
#include "app/stderr_lines.h"
#include "app/stderr_prompts.h"
#include "app/terminal_text.h"
#include "app/web_panel_bridge.h"
#include "app/web_panel_settings.h"
#include "logger/log_archiver.h"

namespace {

// How long a stop waits for the archiving of closed hours (zip, upload, mail) to finish.
constexpr std::chrono::seconds kArchiveWaitAtExit{60};
}  // namespace

CHeadlessRunner::CHeadlessRunner(CSettingsProfile& profileRef, CPortSettings& settingsRef, int instance,
                                 HeadlessOptions runOptions, std::FILE* output)
    : profile(profileRef),
      settings(settingsRef),
      instanceNumber(instance),
      options(std::move(runOptions)),
      out(output),
      prompts(std::make_unique<CStderrPrompts>()) {}

CHeadlessRunner::~CHeadlessRunner() {
  if (web && control) web->Unsubscribe(*control);
  web.reset();
  files.reset();
  control = nullptr;
  connection.reset();
}

int CHeadlessRunner::Run() {
  // First: a reload (SIGHUP from the station's service manager) or a stop while the simulator
  // starts would otherwise end the process at once. Signals are handled from the event loop on.
  signalWatcher =
      std::make_unique<CSignalWatcher>([this](int number) { number == SIGHUP ? ReloadSettings() : Stop(0); },
                                       std::vector<int>{SIGINT, SIGTERM, SIGHUP});
  ConnectionServices services;
  services.profile = &profile;
  services.prompts = prompts.get();
  services.run.relayServer = options.relayServer;
  services.run.relayPort = options.relayPort;
  services.run.reconnect = options.reconnect;
  services.run.verbose = options.verbose;
  if (options.simulate) {
    simulator = std::make_unique<CSimulatorProcess>();
    std::string error;
    if (!simulator->Start(options.simulatorArguments, error)) {
      WriteStderrLine(error);
      return 1;
    }
    services.run.simulatorDevice = simulator->DevicePath();
  }
  canSelector = std::make_unique<CHeadlessCanSelector>(options.canAddress);
  services.canSelector = canSelector.get();
  connection = std::make_unique<CConnection>(services);
  control = &connection->Control();
  control->SubscribePanel(this);
  control->SubscribeLogLines(this);
  control->SubscribePackets(this);
  if (options.verbose) control->SetNoticeSink([](const std::string& line) { WriteStderrLine(line); });

  const ConnectionSettings snapshot = connection->Snapshot(settings, true);
  if (options.files.mode != HeadlessFileCommand::Mode::None) {
    files = std::make_unique<CHeadlessFiles>(
        options.files, snapshot.loggingFolder, [this] { return control && control->State() == kConnected; },
        [this](const KavoPacket& request) {
          if (control) control->SendToReceiver(request, 1);
        },
        // Ends the run after the packet or tick that finished the command has been handled.
        [this](int code) { QTimer::singleShot(0, this, [this, code] { Stop(code); }); }, out);
  }

  WebPanelSettings webSettings = LoadWebPanelSettings(profile);
  if (options.webPanel) {
    webSettings.enabled = true;
    if (options.webPanelPort > 0) webSettings.config.port = static_cast<std::uint16_t>(options.webPanelPort);
  }
  if (webSettings.enabled) {
    web = StartHeadlessWebPanel(
        webSettings.config,
        {[this] { return control; }, {}, [this](const std::string& line) { control->WriteLogLine(line); }});
    if (!web) return 1;
    web->Subscribe(*control);
  }

  control->InitialUpdate(instanceNumber);
  connection->Connect(settings, true);
  if (control->State() == kDisconnected) return 1;
  return QCoreApplication::exec();
}

void CHeadlessRunner::Stop(int exitCode) {
  if (stopping) return;
  stopping = true;
  // The pages first: one that holds Enter lets it go while the link is still up.
  if (web) web->Stop();
  if (control && control->State() != kDisconnected) control->Disconnect();
  if (simulator) simulator->Stop();
  if (connection) {
    connection->Shutdown(kArchiveWaitAtExit, [](int running) {
      WriteStderrLine("waiting up to " + std::to_string(kArchiveWaitAtExit.count()) + " s for " +
                      std::to_string(running) + " archiving job(s) to finish");
    });
  }
  std::fflush(out);
  QCoreApplication::exit(exitCode);
}

void CHeadlessRunner::ReloadSettings() {
  if (!connection) return;
  // The archiving workers read the archive settings afresh for every closed hour; the logging
  // options reach the running session here. Link, folder and prefix stay as connected.
  settings.LoadSettings();
  connection->Logging().ChangeLogOptionsFromNextHour(static_cast<std::uint32_t>(settings.logOptions));
  char text[128];
  std::snprintf(
      text, sizeof text,
      "settings read again: logging options 0x%04X and the archive settings apply from the next hour",
      static_cast<unsigned>(settings.logOptions));
  WriteStderrLine(text);
}

void CHeadlessRunner::TitleChanged(const std::string& title) {
  if (!options.printLog || title == printedTitle) return;
  printedTitle = title;
  std::fprintf(out, "title: %s\n", title.c_str());
  std::fflush(out);
}

void CHeadlessRunner::PanelRedraw(int /*hint*/) {
  if (options.printLog && control && control->State() == kConnected) PrintRows();
}

void CHeadlessRunner::PrintRows() {
  bool printed = false;
  for (int row = 0; row < CLcdModel::kRows; ++row) {
    const std::string text = PrintableLcdRow(control->Lcd().lines[row]);
    if (text == printedRows[row]) continue;
    printedRows[row] = text;
    std::fprintf(out, "lcd %d: |%s|\n", row, text.c_str());
    printed = true;
  }
  if (printed) std::fflush(out);
}

void CHeadlessRunner::StateChanged(int state) {
  if (state == kWaiting && lastState == kConnected)
    WriteStderrLine("the link to the receiver was lost; reconnecting");
  lastState = state;
  if (state == kConnected) {
    everConnected = true;
    if (files) files->Start();
  }
  if (state == kDisconnected && !stopping) {
    WriteStderrLine(everConnected ? "the connection to the receiver was lost"
                                  : "no connection to the receiver");
    Stop(1);
  }
}

void CHeadlessRunner::OnLogViewerLine(const std::string& line) {
  if (!options.printLog) return;
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}

void CHeadlessRunner::OnPacket(const KavoPacket& packet) {
  // The receiver's time as each time packet passes, so the panel rows can be placed in time (the
  // format --play prints for the recording).
  if (options.printLog && TimePacketGpsMs(packet) >= 0) {
    std::fprintf(out, "gps: %s\n",
                 CRawLogPlayer::FormatGpsTime(TimePacketGpsMs(packet), TimePacketUtcOffset(packet)).c_str());
  }
  if (files) files->OnPacket(packet);
}
