#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/connection_peers.h"
#include "app/logger_parts.h"
#include "link/protocol/clock.h"
#include "link/protocol/prompts.h"
#include "logger/logrowan.h"

class CConnectionControl;
class CRemoteFileServer;

// The logger side of the main loop, shared by the window and headless mode: it sits between the
// connection control and the outer peers (the view or the headless runner). The logger hooks are
// handled here: StartLogging creates the CLogrowan, whose commands go out through the control's
// SendToReceiver, whose disconnect request reaches the control's Disconnect as a posted call, and
// whose lines come back to the control's OnLogLine (log viewer, logging indication). Once a card
// folder source is set, the remote file hooks are served here too: one CRemoteFileServer per
// connection on the folder the source names when the first request comes, answering through the
// control's SendToReceiver. Every other hook is passed on to the outer peers unchanged.
//
// All calls on the user-interface thread. The outer peers, clock and prompts must outlive the
// bridge; Attach must be called before the control makes its first call.
class CLoggerBridge final : public IConnectionPeers, private ILoggerHost, private CLogrowanListener {
 public:
  // Runs a call later on the same thread, after the current one has returned (a queued call in
  // the program, a list the test runs by hand).
  using PostFunction = std::function<void(std::function<void()>)>;

  CLoggerBridge(IConnectionPeers& outer, const IClock& clock, IPrompts& prompts, PostFunction post,
                ArchiveFunction archive = ArchivePreviousFile);
  ~CLoggerBridge() override;
  CLoggerBridge(const CLoggerBridge&) = delete;
  CLoggerBridge& operator=(const CLoggerBridge&) = delete;

  void Attach(CConnectionControl& control);

  // What each closed hour's archiving worker runs (the program's CLogArchiver); taken by the next
  // logger created. Without one the hour's files are left as they are.
  void SetArchiveFunction(ArchiveFunction function) { archive = std::move(function); }
  // The DAT switch and trace of the next logger created.
  void SetLoggerParts(LoggerPartsConfig config) { parts = std::move(config); }

  // Where the receiver's virtual card lives (the "RLI_Folder" setting), asked again for every
  // connection. Without a source the remote file hooks go to the outer peers.
  using CardFolderSource = std::function<std::string()>;
  void SetCardFolderSource(CardFolderSource source) { cardFolder = std::move(source); }
  // The remote file server of the running connection; nullptr before the first request and after
  // a disconnect.
  CRemoteFileServer* RemoteFiles() { return remoteFiles.get(); }

  // The running total of malformed frames the link's parser has thrown away (readable on this
  // thread while the link's reader feeds the parser). Polled on every logger tick; what is new
  // since the logger started goes into the open hour's manifest.
  using DroppedFrameSource = std::function<std::uint64_t()>;
  void SetDroppedFrameSource(DroppedFrameSource source) { droppedFrameSource = std::move(source); }

  // The logger of the running connection; nullptr before StartLogging and after DestroyLogger.
  CLogrowan* Logger() { return logger.get(); }
  // The one logger: made (with its raw side files and configuration report) on first use, kept
  // until DestroyLogger.
  CLogrowan& GetLogger();

  // The logger hooks.
  void StartLogging(std::uint32_t logOptions) override;
  void StopLogging() override;
  void DestroyLogger() override;
  void ProcessLogger() override;
  void QueueLogPacket(const KavoPacket& packet) override;
  void WriteLogLine(const std::string& line) override;
  // "* Link lost. Last GPS time: ..." into the running logger (which counts it in the hour's
  // manifest), then on to the outer peers.
  void NoteLinkLost() override;
  // Into the log while a logger runs, and on to the outer peers.
  void LinkNotice(const std::string& line) override;

  // Passed on to the outer peers.
  void Redraw(int hint) override { outer.Redraw(hint); }
  void SetMainTitle(const std::string& title) override { outer.SetMainTitle(title); }
  void SetLogViewerCaption(const std::string& caption) override { outer.SetLogViewerCaption(caption); }
  void StateChanged(int state) override { outer.StateChanged(state); }
  bool ShowConnectionDialog() override { return outer.ShowConnectionDialog(); }
  void MailFatalError(const std::string& prefix, const std::string& text) override {
    outer.MailFatalError(prefix, text);
  }
  void AddLogViewerLine(const std::string& line) override { outer.AddLogViewerLine(line); }
  std::optional<std::string> TakeLogViewerEvent(int slot) override { return outer.TakeLogViewerEvent(slot); }
  // The remote file hooks.
  bool IsRemoteFileRequest(const KavoPacket& packet) override;
  void QueueRemoteFileRequest(const KavoPacket& packet) override;
  void ProcessRemoteFileRequests() override;
  void DestroyRemoteFileServer() override;

  // Passed on to the outer peers.
  void FileTransferPacket(const KavoPacket& packet) override { outer.FileTransferPacket(packet); }
  void ProcessorUsageReport(const KavoPacket& packet) override { outer.ProcessorUsageReport(packet); }
  bool ProcessorUsageVisibleAndAvailable() override { return outer.ProcessorUsageVisibleAndAvailable(); }
  void RefreshProcessorUsage() override { outer.RefreshProcessorUsage(); }

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

  IConnectionPeers& outer;
  const IClock& clock;
  IPrompts& prompts;
  PostFunction post;
  ArchiveFunction archive;
  LoggerPartsConfig parts;
  CConnectionControl* control = nullptr;
  std::unique_ptr<CLogrowan> logger;
  CardFolderSource cardFolder;
  DroppedFrameSource droppedFrameSource;
  std::uint64_t droppedFramesSeen = 0;  // the source's total already handed to the logger
  std::unique_ptr<CRemoteFileServer> remoteFiles;
  int depth = 0;                  // calls into the logger under way
  bool destroyPending = false;    // DestroyLogger came while the logger was busy
  bool disconnectPosted = false;  // one posted disconnect at a time
  std::shared_ptr<bool> alive;    // expires with the bridge, so a posted call sees it is gone
};
