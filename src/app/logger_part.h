#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/connection_subscribers.h"
#include "app/logger_parts.h"
#include "link/protocol/clock.h"
#include "link/protocol/prompts.h"
#include "logger/logrowan.h"

class CConnectionControl;

// The connection's diagnostic logger, shared by the window and headless mode. StartLogging creates
// the CLogrowan (with the parts of InstallLoggerParts), whose commands go out through the control's
// SendToReceiver, whose disconnect request reaches the control's Disconnect as a posted call, and
// whose lines come back to the control's OnLogLine (log viewer, logging indication). EndLogging
// deletes it; the next connection makes a new one.
//
// All calls on the user-interface thread. The clock and prompts must outlive the part; Attach must
// be called before the control makes its first call.
class CLoggerPart final : public IConnectionLogger, private ILoggerHost, private CLogrowanListener {
 public:
  // Runs a call later on the same thread, after the current one has returned (a queued call in
  // the program, a list the test runs by hand).
  using PostFunction = std::function<void(std::function<void()>)>;

  CLoggerPart(const IClock& clock, IPrompts& prompts, PostFunction post,
              ArchiveFunction archive = ArchivePreviousFile);
  ~CLoggerPart() override;
  CLoggerPart(const CLoggerPart&) = delete;
  CLoggerPart& operator=(const CLoggerPart&) = delete;

  void Attach(CConnectionControl& control);

  // What each closed hour's archiving worker runs (the program's CLogArchiver); taken by the next
  // logger created. Without one the hour's files are left as they are.
  void SetArchiveFunction(ArchiveFunction function) { archive = std::move(function); }
  // The DAT switch and trace of the next logger created.
  void SetLoggerParts(LoggerPartsConfig config) { parts = std::move(config); }

  // The running total of malformed frames the link's parser has thrown away (readable on this
  // thread while the link's reader feeds the parser). Polled on every logger tick; what is new
  // since the logger started goes into the open hour's manifest.
  using DroppedFrameSource = std::function<std::uint64_t()>;
  void SetDroppedFrameSource(DroppedFrameSource source) { droppedFrameSource = std::move(source); }

  // The logger of the running connection; nullptr before StartLogging and after EndLogging.
  CLogrowan* Logger() { return logger.get(); }
  // The one logger: made (with its raw side files and configuration report) on first use, kept
  // until EndLogging.
  CLogrowan& GetLogger();

  // A changed "m_logOptions" word (the settings file read again) for the running file session,
  // from its next hour on; nothing without one.
  void ChangeLogOptionsFromNextHour(std::uint32_t logOptions) {
    if (logger) logger->ChangeOptionsFromNextHour(logOptions);
  }

  // IConnectionLogger
  void StartLogging(std::uint32_t logOptions) override;
  void StopLogging() override;
  void EndLogging() override;
  void ProcessLogger() override;
  void QueuePacket(const KavoPacket& packet) override;
  void WriteLine(const std::string& line) override;
  // "* Link lost. Last GPS time: ..." into the running logger, which counts it in the hour's
  // manifest.
  void NoteLinkLost() override;

 private:
  // ILoggerHost
  bool SendToReceiver(const KavoPacket& packet, int withChecksum) override;
  void Disconnect() override;
  std::string LoggingFolder() const override;
  std::string LoggingPrefix() const override;
  // CLogrowanListener
  void OnLogLine(const std::string& line) override;

  void PassDroppedFrames();

  // Counts the calls into the logger that are under way: a message box the logger shows runs a
  // nested event loop, in which a posted disconnect may ask for the logger to be destroyed.
  class CInLogger;
  void DestroyNowOrLater();

  const IClock& clock;
  IPrompts& prompts;
  PostFunction post;
  ArchiveFunction archive;
  LoggerPartsConfig parts;
  CConnectionControl* control = nullptr;
  std::unique_ptr<CLogrowan> logger;
  DroppedFrameSource droppedFrameSource;
  std::uint64_t droppedFramesSeen = 0;  // the source's total already handed to the logger
  int depth = 0;                        // calls into the logger under way
  bool destroyPending = false;          // EndLogging came while the logger was busy
  bool disconnectPosted = false;        // one posted disconnect at a time
  std::shared_ptr<bool> alive;          // expires with the part, so a posted call sees it is gone
};
