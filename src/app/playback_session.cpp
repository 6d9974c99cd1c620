#include "app/playback_session.h"

#include <filesystem>

#include "app/qt_timer_host.h"
#include "logger/log_options.h"
#include "logger/logrowan.h"

// The peers the playback's control talks to: the outer peers for everything that shows, a
// display-only logger for the log lines, and nothing for what would act on the outside world
// (mail, remote file service, file transfer, processor usage requests).
class CPlaybackSession::CPeers final : public IConnectionPeers,
                                       private ILoggerHost,
                                       private CLogrowanListener {
 public:
  // A few state changes (time request, no time, file, logging) may come before a packet is
  // taken; a bound all the same.
  static constexpr int kMaxStepsPerPacket = 8;

  explicit CPeers(IConnectionPeers& outerPeers, IPrompts& promptsRef)
      : outer(outerPeers), prompts(promptsRef) {}
  ~CPeers() override {
    if (logger) logger->RemoveListener(this);
  }

  void Attach(CConnectionControl& connectionControl) { control = &connectionControl; }

  void Redraw(int hint) override { outer.Redraw(hint); }
  void SetMainTitle(const std::string& title) override { outer.SetMainTitle(title); }
  void SetLogViewerCaption(const std::string& caption) override { outer.SetLogViewerCaption(caption); }
  void StateChanged(int state) override { outer.StateChanged(state); }
  bool ShowConnectionDialog() override { return true; }

  void StartLogging(std::uint32_t) override {
    if (!logger)
      logger = std::make_unique<CLogrowan>(static_cast<ILoggerHost&>(*this), CSteadyClock::Instance(),
                                           prompts, ArchiveFunction{});
    logger->AddListener(this);
  }
  void StopLogging() override {
    if (!logger) return;
    logger->StopLogging();
    logger->RemoveListener(this);
  }
  void DestroyLogger() override { logger.reset(); }
  void ProcessLogger() override {
    if (logger) logger->ProcessLogger();
  }
  void QueueLogPacket(const KavoPacket& packet) override {
    if (!logger) return;
    // The display-only session starts with the first tick; the packet is formatted at once, so its
    // lines come in order with what the panel shows.
    if (!logger->DisplayOnly()) logger->ProcessLogger();
    logger->QueuePacket(packet);
    for (int step = 0; step < kMaxStepsPerPacket && logger && logger->QueuedPackets() > 0; ++step)
      logger->ProcessLogger();
  }
  void WriteLogLine(const std::string& line) override {
    if (logger) logger->WriteLine(line.c_str());
  }
  void MailFatalError(const std::string&, const std::string& receiverText) override {
    // Played back, the report is shown, not mailed again.
    WriteLogLine("* Receiver fatal error: " + receiverText + "\n");
  }

  void AddLogViewerLine(const std::string& line) override { outer.AddLogViewerLine(line); }
  std::optional<std::string> TakeLogViewerEvent(int slot) override { return outer.TakeLogViewerEvent(slot); }
  void ProcessorUsageReport(const KavoPacket& packet) override { outer.ProcessorUsageReport(packet); }

 private:
  // ILoggerHost: a passive session sends nothing; no folder, no file.
  bool SendToReceiver(const KavoPacket&, int) override { return false; }
  void Disconnect() override {}
  std::string LoggingFolder() const override { return {}; }
  std::string LoggingPrefix() const override { return {}; }
  // CLogrowanListener
  void OnLogLine(const std::string& line) override {
    if (control) control->OnLogLine(line);
  }

  IConnectionPeers& outer;
  IPrompts& prompts;
  CConnectionControl* control = nullptr;
  std::unique_ptr<CLogrowan> logger;
};

CPlaybackSession::CPlaybackSession(IPrompts& prompts, IConnectionPeers& peers, Callbacks cb)
    : callbacks(std::move(cb)) {
  playbackPeers = std::make_unique<CPeers>(peers, prompts);
  controlTimers = std::make_unique<CQtTimerHost>([this](int id) { control->OnTimer(id); });
  playerTimers = std::make_unique<CQtTimerHost>([this](int) { player->OnTimer(); });
  CRawLogPlayer::Callbacks playerCallbacks;
  playerCallbacks.packetReady = [this] { control->LinkPacketReady(); };
  playerCallbacks.linkStatus = [this](int wParam) { control->LinkStatus(wParam); };
  playerCallbacks.progress = [this] {
    if (callbacks.progress) callbacks.progress();
  };
  playerCallbacks.finished = [this] {
    if (callbacks.finished) callbacks.finished();
  };
  player =
      std::make_unique<CRawLogPlayer>(*playerTimers, CSteadyClock::Instance(), std::move(playerCallbacks));
  control = std::make_unique<CConnectionControl>(*player, *controlTimers, prompts, *playbackPeers);
  control->SetDisconnectPauseMs(0);
  playbackPeers->Attach(*control);
}

CPlaybackSession::~CPlaybackSession() {
  // No tick may reach the control while it goes.
  playerTimers.reset();
  controlTimers.reset();
  control.reset();
  player.reset();
  playbackPeers.reset();
}

bool CPlaybackSession::Start(int instanceNumber, const std::string& path, double speed, std::string& error) {
  if (!player->Load(path, error)) return false;
  player->SetSpeed(speed);
  ConnectionSettings settings;
  settings.linkKind = 2;  // a network-type link: no serial watchdog, which would miss its answers
  settings.serverAddress = path;
  settings.enableAsServer = false;
  settings.logData = true;  // the log viewer's lines, from the display-only logger
  settings.logOptions = kLogPassive;
  settings.remoteFileIo = false;
  control->InitialUpdate(instanceNumber);
  control->OpenConnection(settings);
  if (control->State() == kDisconnected) {
    error = "cannot play " + path;
    return false;
  }
  return true;
}

void CPlaybackSession::Stop() {
  if (control->State() != kDisconnected) control->Disconnect();
}

std::string CPlaybackSession::StatusText() const {
  std::string text = "Playing " + std::filesystem::path(player->Path()).filename().string() + " - " +
                     CRawLogPlayer::FormatGpsTime(player->PlayedGpsMs(), player->UtcOffset());
  if (player->Ended()) {
    text += " (end)";
  } else if (player->Paused()) {
    text += " (paused)";
  }
  return text;
}
