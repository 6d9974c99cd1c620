#include "app/logger_part.h"

#include "app/connection_control.h"
#include "app/link_reconnector.h"

class CLoggerPart::CInLogger {
 public:
  explicit CInLogger(CLoggerPart& b) : part(b) { ++part.depth; }
  ~CInLogger() {
    if (--part.depth == 0 && part.destroyPending) part.DestroyNowOrLater();
  }
  CInLogger(const CInLogger&) = delete;
  CInLogger& operator=(const CInLogger&) = delete;

 private:
  CLoggerPart& part;
};

CLoggerPart::CLoggerPart(const IClock& programClock, IPrompts& promptsRef, PostFunction postFn,
                         ArchiveFunction archiveFn)
    : clock(programClock),
      prompts(promptsRef),
      post(std::move(postFn)),
      archive(std::move(archiveFn)),
      alive(std::make_shared<bool>(true)) {}

CLoggerPart::~CLoggerPart() {
  if (logger) logger->RemoveListener(this);
}

void CLoggerPart::Attach(CConnectionControl& connectionControl) {
  control = &connectionControl;
}

CLogrowan& CLoggerPart::GetLogger() {
  if (!logger) {
    destroyPending = false;
    logger = std::make_unique<CLogrowan>(static_cast<ILoggerHost&>(*this), clock, prompts, archive);
    InstallLoggerParts(*logger, prompts, parts);
    // Frames dropped before this logger are no part of its hours.
    droppedFramesSeen = droppedFrameSource ? droppedFrameSource() : 0;
  }
  return *logger;
}

void CLoggerPart::StartLogging(std::uint32_t logOptions) {
  CLogrowan& log = GetLogger();
  CInLogger busy(*this);
  log.StartLogging(logOptions);
  log.AddListener(this);
}

void CLoggerPart::StopLogging() {
  if (!logger) return;
  CInLogger busy(*this);
  logger->StopLogging();
  logger->RemoveListener(this);
}

void CLoggerPart::EndLogging() {
  destroyPending = true;
  if (depth == 0) DestroyNowOrLater();
}

void CLoggerPart::DestroyNowOrLater() {
  destroyPending = false;
  logger.reset();
}

void CLoggerPart::ProcessLogger() {
  // Not re-entered: a timer tick that comes during a message box of the logger waits its turn.
  if (!logger || depth > 0) return;
  CInLogger busy(*this);
  PassDroppedFrames();
  logger->ProcessLogger();
}

void CLoggerPart::PassDroppedFrames() {
  if (!droppedFrameSource) return;
  const std::uint64_t total = droppedFrameSource();
  // A total below the last one comes from a new parser (the link was made afresh), which counted
  // from zero.
  const std::uint64_t fresh = total >= droppedFramesSeen ? total - droppedFramesSeen : total;
  droppedFramesSeen = total;
  if (fresh > 0) logger->NoteDroppedFrames(fresh);
}

void CLoggerPart::QueuePacket(const KavoPacket& packet) {
  if (logger) logger->QueuePacket(packet);
}

void CLoggerPart::WriteLine(const std::string& line) {
  if (!logger) return;
  if (depth > 0) {
    // The logger is in the middle of a line of its own: this one follows it.
    std::weak_ptr<bool> watch = alive;
    post([this, watch, line] {
      if (!watch.expired()) WriteLine(line);
    });
    return;
  }
  CInLogger busy(*this);
  logger->WriteLine(line.c_str());
}

void CLoggerPart::NoteLinkLost() {
  if (logger) WriteLine("* Link lost. Last GPS time: " + FormatLastGpsTime(logger->Session()) + "\n");
}

bool CLoggerPart::SendToReceiver(const KavoPacket& packet, int withChecksum) {
  return control != nullptr && control->SendToReceiver(packet, withChecksum);
}

void CLoggerPart::Disconnect() {
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

std::string CLoggerPart::LoggingFolder() const {
  return control != nullptr ? control->Settings().loggingFolder : std::string();
}

std::string CLoggerPart::LoggingPrefix() const {
  return control != nullptr ? control->Settings().loggingPrefix : std::string();
}

void CLoggerPart::OnLogLine(const std::string& line) {
  if (control != nullptr) control->OnLogLine(line);
}
