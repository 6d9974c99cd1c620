#pragma once

#include <memory>
#include <string>

#include "app/link_reconnector.h"

class CCommLink;
class CConnectionControl;
class CLoggerPart;
class CMutedPrompts;
class CQtTimerHost;

// The link session's reconnecting: a CLinkReconnector on a QTimer of the current thread, acting
// on the session's link, control and logger. The link must report its failures through `quiet`,
// which is muted while the link is away. Everything passed in must outlive this object.
class CSessionReconnect final : private IReconnectTarget {
 public:
  CSessionReconnect(CCommLink& link, CConnectionControl& control, CLoggerPart& logging, CMutedPrompts& quiet);
  ~CSessionReconnect() override;
  CSessionReconnect(const CSessionReconnect&) = delete;
  CSessionReconnect& operator=(const CSessionReconnect&) = delete;

  CLinkReconnector& Reconnector() { return *reconnector; }

 private:
  void CloseLostLink() override;
  void ReopenLink() override;
  void SetQuiet(bool quiet) override;
  void WriteLogLine(const std::string& line) override;
  std::string LastGpsTime() override;
  void LinkRestored() override;

  CCommLink& link;
  CConnectionControl& control;
  CLoggerPart& logging;
  CMutedPrompts& quiet;
  std::unique_ptr<CQtTimerHost> timers;
  std::unique_ptr<CLinkReconnector> reconnector;
};
