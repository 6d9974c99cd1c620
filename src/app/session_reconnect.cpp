#include "app/session_reconnect.h"

#include "app/connection_control.h"
#include "app/logger_part.h"
#include "app/muted_prompts.h"
#include "app/qt_timer_host.h"
#include "link/comm_link.h"

CSessionReconnect::CSessionReconnect(CCommLink& linkRef, CConnectionControl& controlRef,
                                     CLoggerPart& loggingRef, CMutedPrompts& quietRef)
    : link(linkRef), control(controlRef), logging(loggingRef), quiet(quietRef) {
  timers = std::make_unique<CQtTimerHost>([this](int id) { reconnector->OnTimer(id); });
  reconnector = std::make_unique<CLinkReconnector>(static_cast<IReconnectTarget&>(*this), *timers,
                                                   CSteadyClock::Instance());
}

CSessionReconnect::~CSessionReconnect() {
  timers.reset();  // no tick reaches the reconnector once it starts to go
  quiet.SetMuted(false);
}

// The link marked itself closed when it reported the loss: Close only ends its reader and frees
// the hung-up port (or the client socket).
void CSessionReconnect::CloseLostLink() {
  link.Close(LinkTypeFromNumber(control.LinkType()));
}

void CSessionReconnect::ReopenLink() {
  link.Reopen(LinkTypeFromNumber(control.LinkType()), control.Settings().autoPortConfiguration);
}

void CSessionReconnect::SetQuiet(bool on) {
  quiet.SetMuted(on);
}

void CSessionReconnect::WriteLogLine(const std::string& line) {
  logging.WriteLine(line + "\n");
}

std::string CSessionReconnect::LastGpsTime() {
  CLogrowan* logger = logging.Logger();
  return logger != nullptr ? FormatLastGpsTime(logger->Session()) : "unknown";
}

// A serial link reopened with the port take-over: its break switched the receiver's outputs off,
// so a logging session sets the receiver up again. The receiver's time went on meanwhile, so the
// session keeps the last time it had (the next lost line still tells it).
void CSessionReconnect::LinkRestored() {
  CLogrowan* logger = logging.Logger();
  if (logger == nullptr || !control.Settings().autoPortConfiguration ||
      !IsSerialLink(LinkTypeFromNumber(control.LinkType())))
    return;
  LoggerSession& session = logger->Session();
  if (session.state != LogState::Logging || (session.options & kLogPassive) != 0) return;
  const double lastTimeOfWeek = session.lastTimeOfWeek;
  const double lastTimeStamp = session.lastTimeStamp;
  logger->ConfigureForLogging();
  session.lastTimeOfWeek = lastTimeOfWeek;
  session.lastTimeStamp = lastTimeStamp;
}
