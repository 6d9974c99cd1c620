#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/connection_control.h"
#include "link/serial/serial_port_map.h"

class CCommLink;
class CCommLinkAdapter;
class CLoggerPart;
class CLogArchiver;
class CMutedPrompts;
class CPortSettings;
class CQtLinkOwner;
class CQtTimerHost;
class CRemoteFilesPart;
class CSessionReconnect;
class CSettingsProfile;
class ICanDeviceSelector;
class QObject;

// What the command line changes for this run, the same in the window and headless mode.
struct ConnectionRunOptions {
  // --simulate: port slot 0 is this device, and the start-up connection goes to it over the
  // serial link.
  std::string simulatorDevice;
  bool relayServer = false;  // --relay-server: "Enable as Server" on for every connection of the run
  int relayPort = -1;        // > 0: the relay port of the start-up connection
  bool reconnect = false;    // --reconnect: "AutoReconnect" on
  bool verbose = false;      // --verbose: the DAT writer's progress lines to stderr
};

// What the window or the headless runner hands the connection. The pointed-to objects must outlive
// it.
struct ConnectionServices {
  CSettingsProfile* profile = nullptr;  // required: the settings file
  IPrompts* prompts = nullptr;          // required: message boxes (the window's, or stderr lines)
  // Who chooses among the CAN receivers found (the window asks, headless takes --can-address);
  // null: the first one.
  ICanDeviceSelector* canSelector = nullptr;
  ConnectionRunOptions run;
  // Tests: with both set, the control drives this link and these timers (ticked by hand) instead
  // of the program's link object and its Qt timers; there is no reconnector then.
  IReceiverLink* link = nullptr;
  ITimerHost* timers = nullptr;
};

// The one connection of a run: builds and wires everything a connection to the receiver is made
// of, for the window and headless mode alike. It owns
//   - the link (CCommLink, seen by the control through CCommLinkAdapter) with its port map and CAN
//     bus settings, its notifications posted onto this thread (CQtLinkOwner), and its messages
//     muted while it reconnects (CMutedPrompts);
//   - the connection control (CConnectionControl) on Qt timers, with the settings snapshot it
//     takes at every Connect (relay options included);
//   - the logger (CLoggerPart) with its parts and the archiving of closed hours (CLogArchiver), which
//     also mails the receiver's fatal errors;
//   - the remote file server (CRemoteFilesPart) for the receiver's card requests;
//   - the reconnector (CSessionReconnect) for a link lost while "AutoReconnect" is on.
// Whatever else wants the connection's packets, panel or log lines subscribes on Control(): the
// front panel, the engineering windows, the file transfer, the headless printer, the web panel.
//
// Lives on the user-interface thread, which must run a Qt event loop.
class CConnection {
 public:
  explicit CConnection(const ConnectionServices& services);
  ~CConnection();
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  // The snapshot the control acts on: the stored settings with this run's options; `startUp` for
  // the connection made at start-up (the simulator, the relay port of the command line).
  ConnectionSettings Snapshot(const CPortSettings& settings, bool startUp) const;
  // The serial port slots as the next Connect uses them: section "SerialPorts" of the settings
  // file, read afresh (it may have been edited by hand), and slot 0 the simulator's device.
  CSerialPortMap PortMap() const;
  // Opens the connection with Snapshot(settings, startUp) unless one is open, on PortMap().
  void Connect(const CPortSettings& settings, bool startUp);
  // The end of the run: the connection closed cleanly (unless it already is), then at most
  // `archiveWait` for the archiving of closed hours (zip, upload, mail) to finish; `notice` is told
  // how many still run before the wait (default: a line on stderr). Nothing is archived or mailed
  // after. Safe to call more than once.
  void Shutdown(std::chrono::milliseconds archiveWait, const std::function<void(int running)>& notice = {});

  CConnectionControl& Control() { return *control; }
  const CConnectionControl& Control() const { return *control; }
  CLoggerPart& Logging() { return *logging; }
  CRemoteFilesPart& RemoteFiles() { return *remoteFiles; }
  CLogArchiver& Archiver() { return *archiver; }
  // The program's link object; nullptr when a test injected its own link.
  CCommLink* Link() { return link.get(); }

  // The link as the command panel and the file transfer window use it: they send on it directly,
  // with the link type of the connection they were shown for.
  bool LinkIsOpen();
  bool SendOnLink(int linkType, const KavoPacket& packet, int withChecksum);

 private:
  ConnectionServices services;
  // Declared first, gone last: the archiving workers may still be told about closed hours until
  // the logger is gone.
  std::unique_ptr<CLogArchiver> archiver;
  std::unique_ptr<QObject> postContext;  // posted calls die with the connection
  std::unique_ptr<CMutedPrompts> linkPrompts;
  std::unique_ptr<CQtLinkOwner> owner;
  std::unique_ptr<CCommLink> link;
  std::unique_ptr<CCommLinkAdapter> adapter;
  IReceiverLink* receiverLink = nullptr;  // the adapter, or the test's link
  std::unique_ptr<CQtTimerHost> ownTimers;
  std::unique_ptr<CLoggerPart> logging;
  std::unique_ptr<CRemoteFilesPart> remoteFiles;
  std::unique_ptr<CConnectionControl> control;
  std::unique_ptr<CSessionReconnect> reconnect;
};
