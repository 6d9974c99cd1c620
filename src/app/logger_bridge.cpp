#include "app/logger_bridge.h"

#include "app/connection_control.h"
#include "app/link_reconnector.h"
#include "files/remote_file_server.h"

class CLoggerBridge::CInLogger {
 public:
  explicit CInLogger(CLoggerBridge& b) : bridge(b) { ++bridge.depth; }
  ~CInLogger() {
    if (--bridge.depth == 0 && bridge.destroyPending) bridge.DestroyNowOrLater();
  }
  CInLogger(const CInLogger&) = delete;
  CInLogger& operator=(const CInLogger&) = delete;

 private:
  CLoggerBridge& bridge;
};

CLoggerBridge::CLoggerBridge(IConnectionPeers& outerPeers, const IClock& programClock, IPrompts& promptsRef,
                             PostFunction postFn, ArchiveFunction archiveFn)
    : outer(outerPeers),
      clock(programClock),
      prompts(promptsRef),
      post(std::move(postFn)),
      archive(std::move(archiveFn)),
      alive(std::make_shared<bool>(true)) {}

CLoggerBridge::~CLoggerBridge() {
  if (logger) logger->RemoveListener(this);
}

void CLoggerBridge::Attach(CConnectionControl& connectionControl) {
  control = &connectionControl;
}

CLogrowan& CLoggerBridge::GetLogger() {
  if (!logger) {
    destroyPending = false;
    logger = std::make_unique<CLogrowan>(static_cast<ILoggerHost&>(*this), clock, prompts, archive);
    InstallLoggerParts(*logger, prompts, parts);
    // Frames dropped before this logger are no part of its hours.
    droppedFramesSeen = droppedFrameSource ? droppedFrameSource() : 0;
  }
  return *logger;
}

void CLoggerBridge::StartLogging(std::uint32_t logOptions) {
  CLogrowan& log = GetLogger();
  CInLogger busy(*this);
  log.StartLogging(logOptions);
  log.AddListener(this);
}

void CLoggerBridge::StopLogging() {
  if (!logger) return;
  CInLogger busy(*this);
  logger->StopLogging();
  logger->RemoveListener(this);
}

void CLoggerBridge::DestroyLogger() {
  destroyPending = true;
  if (depth == 0) DestroyNowOrLater();
}

void CLoggerBridge::DestroyNowOrLater() {
  destroyPending = false;
  logger.reset();
}

void CLoggerBridge::ProcessLogger() {
  // Not re-entered: a timer tick that comes during a message box of the logger waits its turn.
  if (!logger || depth > 0) return;
  CInLogger busy(*this);
  PassDroppedFrames();
  logger->ProcessLogger();
}

void CLoggerBridge::PassDroppedFrames() {
  if (!droppedFrameSource) return;
  const std::uint64_t total = droppedFrameSource();
  // A total below the last one comes from a new parser (the link was made afresh), which counted
  // from zero.
  const std::uint64_t fresh = total >= droppedFramesSeen ? total - droppedFramesSeen : total;
  droppedFramesSeen = total;
  if (fresh > 0) logger->NoteDroppedFrames(fresh);
}

void CLoggerBridge::QueueLogPacket(const KavoPacket& packet) {
  if (logger) logger->QueuePacket(packet);
}

void CLoggerBridge::WriteLogLine(const std::string& line) {
  if (!logger) return;
  if (depth > 0) {
    // The logger is in the middle of a line of its own: this one follows it.
    std::weak_ptr<bool> watch = alive;
    post([this, watch, line] {
      if (!watch.expired()) WriteLogLine(line);
    });
    return;
  }
  CInLogger busy(*this);
  logger->WriteLine(line.c_str());
}

void CLoggerBridge::NoteLinkLost() {
  if (logger) WriteLogLine("* Link lost. Last GPS time: " + FormatLastGpsTime(logger->Session()) + "\n");
  outer.NoteLinkLost();
}

void CLoggerBridge::LinkNotice(const std::string& line) {
  WriteLogLine(line + "\n");
  outer.LinkNotice(line);
}

bool CLoggerBridge::SendToReceiver(const KavoPacket& packet, int withChecksum) {
  return control != nullptr && control->SendToReceiver(packet, withChecksum);
}

void CLoggerBridge::Disconnect() {
  // Asked from inside the logger's own state machine: closing the connection destroys the
  // logger, so the disconnect runs after the logger's call has returned.
  if (control == nullptr || disconnectPosted) return;
  disconnectPosted = true;
  std::weak_ptr<bool> watch = alive;
  post([this, watch] {
    if (watch.expired()) return;
    disconnectPosted = false;
    if (control->State() != kDisconnected) control->Disconnect();
  });
}

std::string CLoggerBridge::LoggingFolder() const {
  return control != nullptr ? control->Settings().loggingFolder : std::string();
}

std::string CLoggerBridge::LoggingPrefix() const {
  return control != nullptr ? control->Settings().loggingPrefix : std::string();
}

void CLoggerBridge::OnLogLine(const std::string& line) {
  if (control != nullptr) control->OnLogLine(line);
}

bool CLoggerBridge::IsRemoteFileRequest(const KavoPacket& packet) {
  if (!cardFolder) return outer.IsRemoteFileRequest(packet);
  return ::IsRemoteFileRequest(packet);
}

void CLoggerBridge::QueueRemoteFileRequest(const KavoPacket& packet) {
  if (!cardFolder) {
    outer.QueueRemoteFileRequest(packet);
    return;
  }
  if (!remoteFiles) {
    // The folder is read when the connection's first request comes, so a changed setting takes
    // effect from the next connection on.
    remoteFiles = std::make_unique<CRemoteFileServer>(
        cardFolder(), [this](const KavoPacket& answer) { SendToReceiver(answer, 1); });
  }
  remoteFiles->QueueRequest(packet);
}

void CLoggerBridge::ProcessRemoteFileRequests() {
  if (!cardFolder) {
    outer.ProcessRemoteFileRequests();
    return;
  }
  if (remoteFiles) remoteFiles->ProcessRequests();
}

void CLoggerBridge::DestroyRemoteFileServer() {
  if (!cardFolder) {
    outer.DestroyRemoteFileServer();
    return;
  }
  remoteFiles.reset();
}
