#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/protocol/kavo_packet.h"

// Everything the main loop feeds besides the link: the drawn panel, the windows, the logger, the
// remote file server and the mailer. Each has a do-nothing default, so a window, the headless
// runner or a test overrides only what it has. All calls come on the user-interface thread.
class IConnectionPeers {
 public:
  virtual ~IConnectionPeers() = default;

  // The drawn panel. Hint 99 redraws the LCD area and both rows; 100 + row redraws one row.
  virtual void Redraw(int /*hint*/) {}
  virtual void SetMainTitle(const std::string& /*title*/) {}
  virtual void SetLogViewerCaption(const std::string& /*caption*/) {}
  // Called whenever the connection state changes (0 Disconnected .. 3 Connected).
  virtual void StateChanged(int /*state*/) {}
  // Shows the connection dialog; true when the user confirmed it (the settings are then saved).
  virtual bool ShowConnectionDialog() { return true; }

  // The diagnostic logger.
  virtual void StartLogging(std::uint32_t /*logOptions*/) {}
  virtual void StopLogging() {}
  virtual void DestroyLogger() {}
  virtual void ProcessLogger() {}
  virtual void QueueLogPacket(const KavoPacket& /*packet*/) {}
  virtual void WriteLogLine(const std::string& /*line*/) {}
  // The link went away and the connection ends (it is not being reopened): the logger notes the
  // loss in the open hour before its session is stopped.
  virtual void NoteLinkLost() {}
  // A "* " line the link has about itself (a CAN send its transport aborted), without the line
  // end: it goes into the log while logging, and to whoever shows such lines.
  virtual void LinkNotice(const std::string& /*line*/) {}
  // A fatal error report while logging goes out by mail instead of ending the connection.
  virtual void MailFatalError(const std::string& /*loggingPrefix*/, const std::string& /*receiverText*/) {}

  // The live log viewer: one line after splitting (the viewer applies its filter and pause), and
  // its four event buttons, each pending text taken once.
  virtual void AddLogViewerLine(const std::string& /*line*/) {}
  virtual std::optional<std::string> TakeLogViewerEvent(int /*slot*/) { return std::nullopt; }

  // The remote file server (receiver uses a PC folder as its card).
  virtual bool IsRemoteFileRequest(const KavoPacket& /*packet*/) { return false; }
  virtual void QueueRemoteFileRequest(const KavoPacket& /*packet*/) {}
  virtual void ProcessRemoteFileRequests() {}
  virtual void DestroyRemoteFileServer() {}

  // The file transfer window sees every packet.
  virtual void FileTransferPacket(const KavoPacket& /*packet*/) {}

  // The processor usage window.
  virtual void ProcessorUsageReport(const KavoPacket& /*packet*/) {}
  virtual bool ProcessorUsageVisibleAndAvailable() { return false; }
  virtual void RefreshProcessorUsage() {}
};
