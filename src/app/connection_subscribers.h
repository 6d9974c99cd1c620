#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/protocol/kavo_packet.h"

// The narrow interfaces between a connection control and what it feeds. The control routes each
// received packet to the consumers that want it and publishes what the panel shows; an object
// implements only the interfaces of what it takes, and subscribes to them on the control (the
// connection object, CConnection, wires the program's own parts). connection_control.cpp holds
// the whole road of a packet. All calls come on the user-interface thread.

// Every received packet, after the logger and the remote file server have taken theirs and
// before the control's own handling (the file transfer window, a headless file command).
class IPacketSubscriber {
 public:
  virtual ~IPacketSubscriber() = default;
  virtual void OnPacket(const KavoPacket& packet) = 0;
};

// The front panel changed. Observers read the new picture from the control (RowText, State,
// LcdLit, ShowLoggingIndication, MainTitle, LogViewerCaption).
class IPanelObserver {
 public:
  virtual ~IPanelObserver() = default;
  // Hint 99 (CConnectionControl::kRedrawAll): the LCD area and both rows; 100 + row: one row.
  virtual void PanelRedraw(int hint) = 0;
  // The main title changed (and with it the log viewer's caption).
  virtual void TitleChanged(const std::string& title) = 0;
  // The connection state changed (0 Disconnected .. 3 Connected).
  virtual void StateChanged(int state) = 0;
};

// One line of the live log as the viewer shows it: split at its line ends, without them, tabs
// made spaces (CConnectionControl::SplitLogText).
class ILogLineSink {
 public:
  virtual ~ILogLineSink() = default;
  virtual void OnLogViewerLine(const std::string& line) = 0;
};

// The log viewer's four event buttons: asked after every batch of packets, each pending text
// taken once; the control writes it into the log as an "M" line.
class ILogEventSource {
 public:
  virtual ~ILogEventSource() = default;
  virtual std::optional<std::string> TakeEvent(int slot) = 0;
};

// The processor usage window: fed the usage reports, and refreshed every second while it wants.
class IProcessorUsageView {
 public:
  virtual ~IProcessorUsageView() = default;
  virtual void OnUsageReport(const KavoPacket& packet) = 0;
  virtual bool WantsRefresh() = 0;
  virtual void Refresh() = 0;
};

// The diagnostic logger as the control drives it: started at link up with logging on, ticked by
// timer 103, fed the packets of a Connected link, stopped and ended at disconnect (CLoggerPart).
class IConnectionLogger {
 public:
  virtual ~IConnectionLogger() = default;
  virtual void StartLogging(std::uint32_t logOptions) = 0;
  virtual void StopLogging() = 0;
  // The connection is over: the logger goes, and the next connection makes a new one.
  virtual void EndLogging() = 0;
  virtual void ProcessLogger() = 0;
  virtual void QueuePacket(const KavoPacket& packet) = 0;
  // A line for the log (ending in "\n"); dropped while no logger runs.
  virtual void WriteLine(const std::string& line) = 0;
  // The link went away and the connection ends (it is not being reopened): the logger notes the
  // loss in the open hour before its session is stopped.
  virtual void NoteLinkLost() = 0;
};

// The receiver's remote file requests (the PC folder served as its card), while "RLI_Ena" is on.
class IRemoteFileService {
 public:
  virtual ~IRemoteFileService() = default;
  // Takes a request (IsRemoteFileRequest holds for it); worked off by ProcessRequests.
  virtual void QueueRequest(const KavoPacket& packet) = 0;
  // Timer 106 while Connected.
  virtual void ProcessRequests() = 0;
  // The connection is over: open files are closed, the next connection starts afresh.
  virtual void EndConnection() = 0;
};
