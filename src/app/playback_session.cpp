#include "app/playback_session.h"

#include <filesystem>

#include "app/qt_timer_host.h"
#include "logger/log_options.h"
#include "logger/logrowan.h"

// The playback's logger: a display-only session (passive, no file) whose lines go to the control's
// log line sinks; every packet is formatted as it arrives, so the lines come in order with what
// the panel shows. Nothing is sent, no folder is read.
class CPlaybackSession::CLogger final : public IConnectionLogger,
                                        private ILoggerHost,
                                        private CLogrowanListener {
 public:
  // A few state changes (time request, no time, file, logging) may come before a packet is
  // taken; a bound all the same.
  static constexpr int kMaxStepsPerPacket = 8;

  explicit CLogger(IPrompts& promptsRef) : prompts(promptsRef) {}
  ~CLogger() override {
    if (logger) logger->RemoveListener(this);
  }

  void Attach(CConnectionControl& connectionControl) { control = &connectionControl; }

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
  void EndLogging() override { logger.reset(); }
  void ProcessLogger() override {
    if (logger) logger->ProcessLogger();
  }
  void QueuePacket(const KavoPacket& packet) override {
    if (!logger) return;
    // The display-only session starts with the first tick; the packet is formatted at once.
    if (!logger->DisplayOnly()) logger->ProcessLogger();
    logger->QueuePacket(packet);
    for (int step = 0; step < kMaxStepsPerPacket && logger && logger->QueuedPackets() > 0; ++step)
      logger->ProcessLogger();
  }
  void WriteLine(const std::string& line) override {
    if (logger) logger->WriteLine(line.c_str());
  }
  void NoteLinkLost() override {}

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

  IPrompts& prompts;
  CConnectionControl* control = nullptr;
  std::unique_ptr<CLogrowan> logger;
};

CPlaybackSession::CPlaybackSession(IPrompts& prompts, Callbacks cb) : callbacks(std::move(cb)) {
  logger = std::make_unique<CLogger>(prompts);
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
  control = std::make_unique<CConnectionControl>(*player, *controlTimers, prompts);
  control->SetDisconnectPauseMs(0);
  control->SetLogger(logger.get());
  // Played back, a fatal error report is shown in the log, not mailed again.
  control->SetFatalErrorHandler([this](const std::string&, const std::string& text) {
    logger->WriteLine("* Receiver fatal error: " + text + "\n");
  });
  logger->Attach(*control);
}

CPlaybackSession::~CPlaybackSession() {
  // No tick may reach the control while it goes.
  playerTimers.reset();
  controlTimers.reset();
  control.reset();
  player.reset();
  logger.reset();
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
