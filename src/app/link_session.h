#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/connection_control.h"
#include "link/serial/serial_port_map.h"

class CCommLink;
class CCommLinkAdapter;
class CLoggerBridge;
class CMutedPrompts;
class CSessionReconnect;
class CQtLinkOwner;
class CQtTimerHost;

// The program's link object wired to a connection control on the current (UI) thread: the
// link's notifications arrive as queued calls, the view's timers are QTimers, and the diagnostic
// logger runs behind the control (created when logging starts, on the steady program clock).
// The window and the headless runner each own one; the peers and prompts they pass must outlive
// it. The peers see every hook but the logger's, which the session handles itself.
class CLinkSession {
 public:
  CLinkSession(IPrompts& prompts, IConnectionPeers& peers, const CSerialPortMap& portMap);
  ~CLinkSession();
  CLinkSession(const CLinkSession&) = delete;
  CLinkSession& operator=(const CLinkSession&) = delete;

  CConnectionControl& Control() { return *control; }
  CCommLink& Link() { return *link; }
  CLoggerBridge& Logging() { return *bridge; }
  // Serves the receiver's remote file requests from the folder `source` names (read at the
  // connection's first request) while "RLI_Ena" is on.
  void SetCardFolderSource(std::function<std::string()> source);

 private:
  std::unique_ptr<CMutedPrompts> linkPrompts;  // the link's messages, silenced while it reconnects
  std::unique_ptr<CQtLinkOwner> owner;
  std::unique_ptr<CCommLink> link;
  std::unique_ptr<CCommLinkAdapter> adapter;
  std::unique_ptr<CQtTimerHost> timers;
  std::unique_ptr<CLoggerBridge> bridge;
  std::unique_ptr<CConnectionControl> control;
  std::unique_ptr<CSessionReconnect> reconnect;
};
