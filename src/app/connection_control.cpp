#include "app/connection_control.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/link_reconnector.h"
#include "files/remote_file_server.h"
#include "link/protocol/kavo_ids.h"

namespace {

constexpr int kBaudRates[] = {2400, 4800, 9600, 19200, 38400};
constexpr char kParities[] = {'N', 'O', 'E'};
// The serial port slots (COM1..COM9) and CAN ports a link type can be made from: a hand-edited
// number beyond them would name another kind of link.
constexpr int kSerialPortSlots = 9;
constexpr int kCanPorts = 2;

const char* const kConnectionLost =
    "Connection lost.\n\nThis could have been caused by the receiver's port configuration being\n"
    "changed, or by the power or communication cables being disconnected.\nTo reestablish "
    "communication, please check cabling,\nthen select Connect from the File menu.";
const char* const kConnectionNotMade =
    "Connection could not be made.\n\nPlease make sure the receiver is properly connected\nand powered "
    "up. To try connecting again, select\nConnect from the File menu.\nNOTE: If the receiver port "
    "settings are unknown, you may\nselect 'Auto Port Configuration' to force the receiver to\noptimal "
    "settings.";

// A zero-terminated text inside a packet's payload from `offset`, never read past `length`. A text
// the receiver did not terminate ends before the checksum trailer, so the two sum bytes never show
// up in a title or message.
std::string PayloadText(const KavoPacket& packet, std::size_t offset) {
  std::string text;
  const std::size_t end = packet.checksumOk && packet.length >= 2 ? packet.length - 2u : packet.length;
  for (std::size_t i = offset; i < end && i < kKavoMaxData && packet.data[i] != 0; ++i)
    text.push_back(static_cast<char>(packet.data[i]));
  return text;
}

bool IsReport(const KavoPacket& packet, std::uint8_t super, std::uint8_t sub) {
  return packet.id == kavo::kIdSuperReport && packet.checksumOk && packet.length >= 2 &&
         packet.data[0] == super && packet.data[1] == sub;
}

}  // namespace

CConnectionControl::CConnectionControl(IReceiverLink& linkRef, ITimerHost& timerHost, IPrompts& promptsRef)
    : link(linkRef), timers(timerHost), prompts(promptsRef) {}

KavoPacket CConnectionControl::PanelPacket(std::uint8_t sub, std::uint8_t arg0, bool withArgs) {
  KavoPacket p;
  p.id = kavo::kIdSuperRequest;
  p.data[0] = kavo::kSubPanel;
  p.data[1] = sub;
  if (withArgs) {
    p.data[2] = arg0;
    p.length = 7;
  } else {
    p.length = 2;
  }
  return p;
}

void CConnectionControl::InitialUpdate(int number) {
  instanceNumber = number;
  char title[64];
  std::snprintf(title, sizeof title, "%s [%d]", kProgramName, instanceNumber);
  SetTitles(title);
}

void CConnectionControl::SetTitles(const std::string& title) {
  mainTitle = title;
  logViewerCaption = title + "     -     " + settings.loggingFolder + "/" + settings.loggingPrefix + "....";
  panelObservers.ForEach([&](IPanelObserver& o) { o.TitleChanged(mainTitle); });
}

void CConnectionControl::SetState(int newState) {
  if (state == newState) return;
  state = newState;
  panelObservers.ForEach([&](IPanelObserver& o) { o.StateChanged(state); });
}

void CConnectionControl::Redraw(int hint) {
  panelObservers.ForEach([&](IPanelObserver& o) { o.PanelRedraw(hint); });
}

void CConnectionControl::WriteLogLine(const std::string& line) {
  if (logger) logger->WriteLine(line);
}

void CConnectionControl::Connect(const ConnectionSettings& newSettings) {
  if (state != kDisconnected) return;
  OpenConnection(newSettings);
}

void CConnectionControl::OpenConnection(const ConnectionSettings& newSettings) {
  settings = newSettings;
  linkUp = false;
  SetState(kOpening);
  bool configured = false;
  std::string failure;
  if (settings.linkKind == 0) {
    panelOnlyLink = true;
    linkType = LinkTypeNumber(SerialLinkType(settings.port));
    failure = "Error: Could not configure serial port";
    if (settings.port < 0 || settings.port >= kSerialPortSlots) {
      failure += "\n\nThe setting \"Port\" is " + std::to_string(settings.port) +
                 "; a serial link needs 0-8 (COM1-COM9).";
    } else if (settings.autoPortConfiguration) {
      configured = link.SetSerialParams(9600, 'N', 8, 1);
    } else {
      const int baud = (settings.baudRateIndex >= 0 && settings.baudRateIndex < 5)
                           ? kBaudRates[settings.baudRateIndex]
                           : 0;
      const char parity =
          (settings.parityIndex >= 0 && settings.parityIndex < 3) ? kParities[settings.parityIndex] : '?';
      configured = link.SetSerialParams(baud, parity, 8, 1);
    }
  } else if (settings.linkKind == 1) {
    panelOnlyLink = false;
    linkType = LinkTypeNumber(CanLinkType(settings.canBusPort));
    failure = "Error: Could not configure CANBUS port.";
    if (settings.canBusPort < 0 || settings.canBusPort >= kCanPorts) {
      failure += "\n\nThe setting \"CanBusPort\" is " + std::to_string(settings.canBusPort) +
                 "; a CAN link needs 0 or 1.";
    } else {
      configured = link.SetCanParams(settings.canBusDestAddr, instanceNumber, settings.canBusBusSpeed);
    }
  } else {
    configured = link.SetServer(settings.serverAddress, settings.serverPort);
    panelOnlyLink = false;
    linkType = LinkTypeNumber(::LinkType::Network);
    failure = "Error: Could not configure network connection.";
  }
  if (!configured) {
    linkType = LinkTypeNumber(::LinkType::None);
    prompts.MessageBox(failure, kProgramName, PromptIcon::Exclamation);
    SetState(kDisconnected);
    return;
  }
  if (settings.logData) panelOnlyLink = false;
  SetState(kWaiting);
  Redraw(kRedrawAll);
  link.SetRelayServer(settings.enableAsServer, settings.outputServerPort);
  link.SetRelayOptions(settings.relay, [this](const std::string& line) { WriteLogLine(line); });
  link.SetNoticeHandler([this](const std::string& line) {
    WriteLogLine(line + "\n");
    if (noticeSink) noticeSink(line);
  });
  if (!link.Open(linkType, settings.autoPortConfiguration)) {
    // The link reports the failure itself as a status; make sure the state follows even if not.
    SetState(kDisconnected);
  }
  Redraw(kRedrawAll);
}

void CConnectionControl::LinkStatus(int wParam) {
  if (wParam != 0) {
    // What came before the loss is logged first, so the lost line follows it.
    if (linkUp && state == kConnected) {
      LinkPacketReady();
      if (settings.logData && logger) logger->ProcessLogger();
    }
    if (HandOverLoss()) return;
    if (linkUp) {
      EndLostConnection();
      return;
    }
    // An open that failed: the link has said why.
    displaySeen = false;
    SetState(kDisconnected);
    Redraw(kRedrawAll);
    return;
  }
  linkUp = true;
  timers.StartTimer(kTimerWatchdog, 1000);
  SendRequest(kavo::kPanelTitle);
  SendRequest(kavo::kPanelFlags);
  if (settings.logData) {
    if (logger) logger->StartLogging(settings.logOptions);
    timers.StartTimer(kTimerLogger, 50);
  }
  KavoPacket usage;
  usage.id = kavo::kIdSuperRequest;
  usage.length = 3;
  usage.data[0] = kavo::kSubSystem;
  usage.data[1] = kavo::kSystemProcessorUsage;
  usage.data[2] = 0x00;
  SendToReceiver(usage, 1);
  timers.StartTimer(kTimerProcessorUsage, 1000);
  // Card requests are only queued with remote file I/O on; without it the 100 ms tick would
  // only wake an idle link ten times a second.
  if (settings.remoteFileIo) timers.StartTimer(kTimerRemoteFiles, 100);
  Redraw(kRedrawAll);
  if (reconnector) reconnector->LinkUp();
}

// A link lost while reconnecting is on: the connection waits for the link instead of ending.
// The logger session stays (a later link up finds it running and goes on in the same file), the
// timers that talk to the receiver stop until then.
bool CConnectionControl::HandOverLoss() {
  if (!reconnector) return false;
  if (!reconnector->LinkDown(settings.autoReconnect)) return false;
  displaySeen = false;
  timers.KillTimer(kTimerWatchdog);
  timers.KillTimer(kTimerLogger);
  timers.KillTimer(kTimerProcessorUsage);
  timers.KillTimer(kTimerRemoteFiles);
  timers.KillTimer(kTimerEnterHeld);
  SetState(kWaiting);
  Redraw(kRedrawAll);
  return true;
}

// A link that was up went away and nobody reopens it: the connection ends as a disconnect ends it
// (the logger's hour closed with the loss counted, everything the connection started stopped),
// and the user is told once. A later Connect starts afresh.
void CConnectionControl::EndLostConnection() {
  if (settings.logData && logger) logger->NoteLinkLost();
  Disconnect();
  prompts.MessageBox(kConnectionLost, kProgramName, PromptIcon::Exclamation);
}

void CConnectionControl::LinkPacketReady() {
  // Everything waiting, in one hand-over. The batch's buffers are kept for the next one; a call
  // nested in a handler (a message box's event loop) works on a batch of its own.
  CPacketBatch batch = std::move(incoming);
  link.TakePackets(batch);
  for (const KavoPacket& packet : batch) RoutePacket(packet);
  incoming = std::move(batch);
  // The viewer's event buttons pressed since the last batch, each an "M" line in the log.
  for (int slot = 0; slot < 4 && logEvents; ++slot) {
    if (auto text = logEvents->TakeEvent(slot)) WriteLogLine("M " + *text + "\n");
  }
}

// The road of every received packet, from the parser's queue to each consumer, in this order.
void CConnectionControl::RoutePacket(const KavoPacket& packet) {
  // 1. The logger's queue, once the receiver has answered in this connection (CLoggerPart; the
  //    logger formats it on its next tick of timer 103, and hands it to the raw side files).
  if (state == kConnected && settings.logData && logger) logger->QueuePacket(packet);
  // 2. The receiver's card requests, for the remote file server (CRemoteFilesPart, timer 106).
  if (settings.remoteFileIo && remoteFiles && IsRemoteFileRequest(packet)) remoteFiles->QueueRequest(packet);
  // 3. Whoever wants every packet: the file transfer window or a headless file command.
  packetSubscribers.ForEach([&](IPacketSubscriber& s) { s.OnPacket(packet); });
  // 4. The connection itself: its state, the relay clients, and by report the processor usage
  //    window, the fatal error, the LCD model and the panel flags and title.
  HandlePacket(packet);
}

void CConnectionControl::HandlePacket(const KavoPacket& packet) {
  if (state != kDisconnected) SetState(kConnected);
  silenceTicks = 0;
  link.RelayPacket(packet);

  if (IsReport(packet, kavo::kSubSystem, kavo::kSystemProcessorUsage)) {
    if (usageView) usageView->OnUsageReport(packet);
  } else if (IsReport(packet, kavo::kSubSystem, kavo::kSystemFatalError)) {
    HandleFatalError(packet);
  } else if (CLcdModel::IsDisplayReport(packet)) {
    const auto result = lcd.ApplyDisplayReport(packet);
    if (!result.accepted) return;
    displaySeen = true;
    if (result.cursorSwitchedOn && !blinkTimerRunning) {
      timers.StartTimer(kTimerCursorBlink, 300);
      blinkTimerRunning = true;
    } else if (result.cursorSwitchedOff) {
      timers.KillTimer(kTimerCursorBlink);
      blinkTimerRunning = false;
    }
    Redraw(kRedrawRow + result.row);
  } else if (IsReport(packet, kavo::kSubPanel, kavo::kPanelFlags) ||
             IsReport(packet, kavo::kSubPanel, kavo::kPanelTitle)) {
    HandlePanelOrTitleReport(packet);
  }
}

void CConnectionControl::HandlePanelOrTitleReport(const KavoPacket& packet) {
  if (packet.length < 3) return;
  panelFlags = packet.data[2];
  if (packet.data[1] == kavo::kPanelTitle) {
    char title[64];
    std::snprintf(title, sizeof title, "%s [%d] - ", kProgramName, instanceNumber);
    SetTitles(title + PayloadText(packet, 3));
  }
  SendPanelFlagsCommand(state != kDisconnected);
  if (link.IsConnected() && !displaySeen) SendRequest(kavo::kPanelDisplay);
}

void CConnectionControl::HandleFatalError(const KavoPacket& packet) {
  const std::string text = PayloadText(packet, 2);
  if (state == kConnected && !settings.logData) {
    Disconnect();
    prompts.MessageBox(text, kProgramName, PromptIcon::Exclamation);
  } else {
    if (fatalError) fatalError(settings.loggingPrefix, text);
  }
}

void CConnectionControl::SendPanelFlagsCommand(bool setPanelBit) {
  if (setPanelBit) {
    panelFlags = static_cast<std::uint8_t>(panelFlags | (panelOnlyLink ? 0x02 : 0x06));
  } else {
    panelFlags = static_cast<std::uint8_t>(panelFlags & (panelOnlyLink ? 0xFD : 0xF9));
  }
  SendToReceiver(PanelPacket(kavo::kPanelFlags, panelFlags, true), 1);
}

void CConnectionControl::SendRequest(std::uint8_t sub) {
  SendToReceiver(PanelPacket(sub), 1);
}

bool CConnectionControl::SendToReceiver(const KavoPacket& packet, int withChecksum) {
  if (!link.IsConnected()) return false;
  return link.SendPacket(linkType, packet, withChecksum);
}

void CConnectionControl::SendKey(int code) {
  if (!link.IsConnected()) return;
  SendToReceiver(PanelPacket(kavo::kPanelKey, static_cast<std::uint8_t>(code), true), 1);
}

void CConnectionControl::EnterPressed() {
  timers.StartTimer(kTimerEnterHeld, 3900);
  SendKey(0);
}

void CConnectionControl::EnterReleased() {
  timers.KillTimer(kTimerEnterHeld);
  SendKey(7);
}

void CConnectionControl::OnTimer(int id) {
  switch (id) {
    case kTimerCursorBlink:
      lcd.Blink();
      Redraw(kRedrawRow + lcd.cursorRow);
      break;
    case kTimerWatchdog:
      Watchdog();
      break;
    case kTimerEnterHeld:
      SendKey(6);
      timers.KillTimer(kTimerEnterHeld);
      break;
    case kTimerLogger:
      if (state == kConnected && logger) logger->ProcessLogger();
      break;
    case kTimerLogActivity:
      // Periodic, and whatever the connection does meanwhile (a reconnect stops the lines, not
      // this timer): the lamp goes out one tick after the last line.
      if (logActivity) {
        logActivity = false;
        Redraw(kRedrawAll);
      }
      break;
    case kTimerProcessorUsage:
      if (state == kConnected && usageView && usageView->WantsRefresh()) usageView->Refresh();
      break;
    case kTimerRemoteFiles:
      if (state == kConnected && remoteFiles) remoteFiles->ProcessRequests();
      break;
    default:
      break;
  }
}

void CConnectionControl::Watchdog() {
  if (!panelOnlyLink) {
    ++silenceTicks;
    return;
  }
  if (state == kConnected) {
    if (silenceTicks <= 0) {
      silenceTicks = 1;
      SendRequest(kavo::kPanelTitle);
      SendRequest(kavo::kPanelFlags);
      return;
    }
    const int count = silenceTicks++;
    if (count > 10) {
      Disconnect();
      prompts.MessageBox(kConnectionLost, kProgramName, PromptIcon::Exclamation);
      return;
    }
    SendRequest(kavo::kPanelDisplay);
    SendRequest(kavo::kPanelTitle);
    SendRequest(kavo::kPanelFlags);
    return;
  }
  Disconnect();
  prompts.MessageBox(kConnectionNotMade, kProgramName, PromptIcon::Exclamation);
}

void CConnectionControl::Disconnect() {
  if (reconnector) reconnector->Stop();
  if (displaySeen) SendPanelFlagsCommand(false);
  if (settings.logData) {
    timers.KillTimer(kTimerLogger);
    if (logger) logger->StopLogging();
  }
  // The pause lets the panel command leave the port; a link already gone carries nothing.
  if (disconnectPauseMs > 0 && link.IsConnected())
    std::this_thread::sleep_for(std::chrono::milliseconds(disconnectPauseMs));
  displaySeen = false;
  silenceTicks = 1;
  linkUp = false;
  logActivity = false;
  timers.KillTimer(kTimerWatchdog);
  timers.KillTimer(kTimerProcessorUsage);
  timers.KillTimer(kTimerRemoteFiles);
  timers.KillTimer(kTimerEnterHeld);
  timers.KillTimer(kTimerLogActivity);
  link.Close(linkType);
  SetState(kDisconnected);
  Redraw(kRedrawAll);
  if (settings.logData && logger) logger->EndLogging();
  if (remoteFiles) remoteFiles->EndConnection();
}

void CConnectionControl::ClearBatteryBackedMemory() {
  const std::string question =
      std::string("This will erase the ephemeris, position and all other information") +
      " stored in the receiver's battery backed RAM, and close the" + " connection.\n\n" +
      "Are you sure you want to clear battery backed RAM?";
  if (prompts.MessageBox(question, kProgramName, PromptIcon::Exclamation, PromptButtons::YesNo) !=
      PromptAnswer::Yes)
    return;
  KavoPacket clear;
  clear.id = kavo::kIdClearMemory;
  clear.length = 1;
  clear.data[0] = 0x4B;
  SendToReceiver(clear, 0);
  Disconnect();
}

std::vector<std::string> CConnectionControl::SplitLogText(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start + 1 <= text.size()) {
    const std::size_t found = text.find('\n', start + 1);
    if (found == std::string::npos) break;
    std::string line;
    for (std::size_t i = start; i < found; ++i) {
      const char c = text[i];
      if (c == '\n' || c == '\r') continue;
      if (c == '\t') {
        line += "    ";
      } else {
        line.push_back(c);
      }
    }
    lines.push_back(std::move(line));
    start = found;
  }
  return lines;
}

void CConnectionControl::OnLogLine(const std::string& text) {
  if (inLogLine) {
    prompts.MessageBox("In inLogRowanLine twice", kProgramName, PromptIcon::Exclamation);
    return;
  }
  inLogLine = true;
  if (!logActivity) {
    logActivity = true;
    Redraw(kRedrawAll);
  }
  for (const std::string& line : SplitLogText(text))
    logLineSinks.ForEach([&](ILogLineSink& sink) { sink.OnLogViewerLine(line); });
  timers.StartTimer(kTimerLogActivity, 1200);
  inLogLine = false;
}

std::string CConnectionControl::RowText(int row) const {
  if (row < 0 || row > 1) return {};
  switch (state) {
    case kOpening:
    case kWaiting:
      return row == 0 ? " Attempting To  " : "Connect to RCVR ";
    case kConnected:
      return lcd.ConnectedRowText(row);
    default:
      return {};
  }
}
