#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/connection_subscribers.h"
#include "app/lcd_model.h"
#include "app/receiver_link.h"
#include "app/subscriber_list.h"
#include "app/timer_host.h"
#include "link/link_type.h"
#include "link/protocol/prompts.h"

// The settings the connection control acts on, copied from the settings object when a
// connection is made (the connection dialog is the only place they change).
struct ConnectionSettings {
  int linkKind = 0;  // 0 serial, 1 CAN, anything else network
  bool autoPortConfiguration = true;
  int port = 0;           // serial port slot 0..8
  int baudRateIndex = 4;  // 2400, 4800, 9600, 19200, 38400
  int parityIndex = 0;    // 'N', 'O', 'E'
  int canBusPort = 0;
  int canBusDestAddr = 28;
  int canBusBusSpeed = 0;
  std::string serverAddress = "127.0.0.1";
  std::uint32_t serverPort = 2021;
  bool enableAsServer = false;
  std::uint32_t outputServerPort = 30000;
  bool logData = false;
  bool autoReconnect = false;  // a link lost while up is reopened (CLinkReconnector)
  std::string loggingFolder;
  std::string loggingPrefix = "A_";
  std::uint32_t logOptions = 529;
  bool remoteFileIo = false;
  std::string cardFolder;  // "RLI_Folder": the PC folder served as the receiver's card
  RelayOptions relay;
};

enum ConnectionState : int { kDisconnected = 0, kOpening = 1, kWaiting = 2, kConnected = 3 };

class CLinkReconnector;

// The connection half of the main view, without widgets: opens and closes the link, keeps the
// connection state, routes every received packet, polls and watches the receiver, feeds the LCD
// model and the log viewer, and sends keys. Runs on the user-interface thread only; the link's
// threads reach it through LinkPacketReady and LinkStatus posted onto that thread.
//
// What it feeds comes in through the narrow interfaces of connection_subscribers.h: one logger and
// one remote file service (set by the connection object), and any number of subscribers for every
// packet, the panel and the live log lines. Everything set or subscribed must outlive the control
// or be taken back first.
class CConnectionControl {
 public:
  static constexpr const char* kProgramName = "Plowview";
  static constexpr int kRedrawAll = 99;
  static constexpr int kRedrawRow = 100;  // + row

  CConnectionControl(IReceiverLink& link, ITimerHost& timers, IPrompts& prompts);

  // The parts it drives; null: none (a control without a logger drops the log lines).
  void SetLogger(IConnectionLogger* connectionLogger) { logger = connectionLogger; }
  void SetRemoteFiles(IRemoteFileService* service) { remoteFiles = service; }
  // A fatal error report while logging, with the logging prefix: mailed in the program.
  using FatalErrorHandler = std::function<void(const std::string& loggingPrefix, const std::string& text)>;
  void SetFatalErrorHandler(FatalErrorHandler handler) { fatalError = std::move(handler); }
  // The link's "* " lines about itself (without the line end) also go here, besides the log.
  void SetNoticeSink(std::function<void(const std::string& line)> sink) { noticeSink = std::move(sink); }

  // Subscriptions (see connection_subscribers.h).
  void SubscribePackets(IPacketSubscriber* subscriber) { packetSubscribers.Add(subscriber); }
  void UnsubscribePackets(IPacketSubscriber* subscriber) { packetSubscribers.Remove(subscriber); }
  void SubscribePanel(IPanelObserver* observer) { panelObservers.Add(observer); }
  void UnsubscribePanel(IPanelObserver* observer) { panelObservers.Remove(observer); }
  void SubscribeLogLines(ILogLineSink* sink) { logLineSinks.Add(sink); }
  void UnsubscribeLogLines(ILogLineSink* sink) { logLineSinks.Remove(sink); }
  void SetLogEventSource(ILogEventSource* source) { logEvents = source; }
  void SetProcessorUsageView(IProcessorUsageView* view) { usageView = view; }

  // Initial update: numbers the instance and sets the title.
  void InitialUpdate(int instanceNumber);

  // Opens the connection with `settings` unless one is open (the menu command, after the
  // connection dialog; connect at start-up; headless mode).
  void Connect(const ConnectionSettings& settings);
  void OpenConnection(const ConnectionSettings& settings);
  void Disconnect();
  void ClearBatteryBackedMemory();

  // Sends through the open link; false when the link is not up.
  bool SendToReceiver(const KavoPacket& packet, int withChecksum);
  // Key packet for a key code, when the link is open.
  void SendKey(int code);
  // Enter on the panel or keyboard: 0 and the 3.9 s hold timer; release: 7.
  void EnterPressed();
  void EnterReleased();

  // Messages from the link, already on the user-interface thread. LinkPacketReady drains the
  // link's queue and routes each packet (RoutePacket).
  void LinkPacketReady();
  void LinkStatus(int wParam);
  void OnTimer(int id);

  // The logger's listener: splits, and hands each line to the log line sinks.
  void OnLogLine(const std::string& text);
  // Into the log while a logger runs (relay and web panel events, the viewer's "M" lines).
  void WriteLogLine(const std::string& line);

  // Splits log text into the lines the viewer shows: each "\n" ends a line, "\r" and "\n" are
  // removed, a tab becomes four spaces, text after the last "\n" is not shown.
  static std::vector<std::string> SplitLogText(const std::string& text);

  // The text of an LCD row in the current state (what the panel draws).
  std::string RowText(int row) const;
  bool LcdLit() const { return state != kDisconnected; }
  bool ShowLoggingIndication() const { return settings.logData && logActivity; }

  int State() const { return state; }
  int LinkType() const { return linkType; }
  int InstanceNumber() const { return instanceNumber; }
  bool DisplaySeen() const { return displaySeen; }
  std::uint8_t PanelFlags() const { return panelFlags; }
  const std::string& MainTitle() const { return mainTitle; }
  // "TITLE     -     FOLDER/PREFIX....", the log viewer's caption.
  const std::string& LogViewerCaption() const { return logViewerCaption; }
  const ConnectionSettings& Settings() const { return settings; }
  const CLcdModel& Lcd() const { return lcd; }

  // Takes over the loss of a link that was up while "AutoReconnect" is on; null: none.
  void SetReconnector(CLinkReconnector* linkReconnector) { reconnector = linkReconnector; }

  // Pause before the link is closed so the last panel command leaves the port. Tests set 0.
  void SetDisconnectPauseMs(int ms) { disconnectPauseMs = ms; }

  static KavoPacket PanelPacket(std::uint8_t sub, std::uint8_t arg0 = 0, bool withArgs = false);

 private:
  void SetState(int newState);
  void Redraw(int hint);
  void RoutePacket(const KavoPacket& packet);
  void HandlePacket(const KavoPacket& packet);
  void HandlePanelOrTitleReport(const KavoPacket& packet);
  void HandleFatalError(const KavoPacket& packet);
  void SendPanelFlagsCommand(bool setPanelBit);
  void SendRequest(std::uint8_t sub);
  void Watchdog();
  void SetTitles(const std::string& title);
  bool HandOverLoss();
  void EndLostConnection();

  IReceiverLink& link;
  ITimerHost& timers;
  IPrompts& prompts;
  IConnectionLogger* logger = nullptr;
  IRemoteFileService* remoteFiles = nullptr;
  FatalErrorHandler fatalError;
  std::function<void(const std::string&)> noticeSink;
  CSubscriberList<IPacketSubscriber> packetSubscribers;
  CSubscriberList<IPanelObserver> panelObservers;
  CSubscriberList<ILogLineSink> logLineSinks;
  ILogEventSource* logEvents = nullptr;
  IProcessorUsageView* usageView = nullptr;
  ConnectionSettings settings;
  CLcdModel lcd;

  CPacketBatch incoming;  // the last packets taken from the link, kept for its buffers
  int linkType = LinkTypeNumber(::LinkType::None);  // the settings' number, as the link is opened with
  int state = kDisconnected;
  int silenceTicks = 0;
  bool panelOnlyLink = false;
  std::uint8_t panelFlags = 0;
  bool displaySeen = false;
  bool linkUp = false;  // the link reported up in this connection (a later down is a loss)
  bool logActivity = false;
  bool blinkTimerRunning = false;
  bool inLogLine = false;
  int instanceNumber = 1;
  std::string mainTitle;
  std::string logViewerCaption;
  int disconnectPauseMs = 300;
  CLinkReconnector* reconnector = nullptr;
};
