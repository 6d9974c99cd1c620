#include "app/connection.h"

#include "app/program_link_services.h"

#include <QMetaObject>
#include <QObject>

#include "app/can_bus_settings.h"
#include "app/comm_link_adapter.h"
#include "app/dat_trace.h"
#include "app/logger_part.h"
#include "app/muted_prompts.h"
#include "app/port_settings.h"
#include "app/qt_link_owner.h"
#include "app/qt_timer_host.h"
#include "app/remote_files_part.h"
#include "app/session_reconnect.h"
#include "app/settings_profile.h"
#include "app/settings_snapshot.h"
#include "link/comm_link.h"
#include "logger/log_archiver.h"

CConnection::CConnection(const ConnectionServices& connectionServices) : services(connectionServices) {
  IPrompts& prompts = *services.prompts;
  archiver = std::make_unique<CLogArchiver>(*services.profile, prompts);
  postContext = std::make_unique<QObject>();

  ITimerHost* timers = services.timers;
  if (services.link && services.timers) {
    receiverLink = services.link;
  } else {
    owner = std::make_unique<CQtLinkOwner>([this] { control->LinkPacketReady(); },
                                           [this](int wParam) { control->LinkStatus(wParam); });
    linkPrompts = std::make_unique<CMutedPrompts>(prompts);
    link = std::make_unique<CCommLink>(owner.get(), *linkPrompts, ProgramLinkServices());
    link->SetCanBus(LoadCanBusSettings(*services.profile), services.canSelector);
    adapter = std::make_unique<CCommLinkAdapter>(*link);
    receiverLink = adapter.get();
    ownTimers = std::make_unique<CQtTimerHost>([this](int id) { control->OnTimer(id); });
    timers = ownTimers.get();
  }

  QObject* context = postContext.get();
  logging = std::make_unique<CLoggerPart>(
      CSteadyClock::Instance(), prompts,
      [context](std::function<void()> call) {
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
      },
      archiver->Function());
  logging->SetLoggerParts(
      {[a = archiver.get()] { return a->WriteDatFile(); }, MakeDatTrace(services.run.verbose)});
  // The link (and its parser) outlives every logger tick: it is made first and the ticks end with
  // the connection.
  if (link) logging->SetDroppedFrameSource([l = link.get()] { return l->Parser().DroppedFrames(); });

  remoteFiles = std::make_unique<CRemoteFilesPart>([this] { return control->Settings().cardFolder; },
                                                   [this](const KavoPacket& answer, int withChecksum) {
                                                     return control->SendToReceiver(answer, withChecksum);
                                                   });

  control = std::make_unique<CConnectionControl>(*receiverLink, *timers, prompts);
  control->SetLogger(logging.get());
  control->SetRemoteFiles(remoteFiles.get());
  control->SetFatalErrorHandler([a = archiver.get()](const std::string& prefix, const std::string& text) {
    a->MailFatalError(prefix, text);
  });
  logging->Attach(*control);
  if (link) {
    reconnect = std::make_unique<CSessionReconnect>(*link, *control, *logging, *linkPrompts);
    control->SetReconnector(&reconnect->Reconnector());
  }
}

CConnection::~CConnection() {
  // The link's reader thread goes first: it may still post to the owner and call the prompts.
  link.reset();
  reconnect.reset();
  control.reset();
  remoteFiles.reset();
  // The logger (if still there) closes its file and hands its hour to the archiver.
  logging.reset();
  ownTimers.reset();
}

ConnectionSettings CConnection::Snapshot(const CPortSettings& settings, bool startUp) const {
  ConnectionSettings snapshot = SnapshotConnectionSettings(settings);
  const ConnectionRunOptions& run = services.run;
  if (startUp && run.relayServer) {
    snapshot.enableAsServer = true;
    if (run.relayPort > 0) snapshot.outputServerPort = static_cast<std::uint32_t>(run.relayPort);
  }
  if (run.reconnect) snapshot.autoReconnect = true;
  if (startUp && !run.simulatorDevice.empty()) {
    snapshot.linkKind = CPortSettings::kLinkSerial;
    snapshot.port = 0;
  }
  return snapshot;
}

CSerialPortMap CConnection::PortMap() const {
  CSerialPortMap map = LoadSerialPortMap(*services.profile);
  if (!services.run.simulatorDevice.empty()) map.SetPath(0, services.run.simulatorDevice);
  return map;
}

void CConnection::Connect(const CPortSettings& settings, bool startUp) {
  if (control->State() != kDisconnected) return;
  if (link) link->SerialPort().SetPortMap(PortMap());
  control->Connect(Snapshot(settings, startUp));
}

void CConnection::Shutdown(std::chrono::milliseconds archiveWait,
                           const std::function<void(int running)>& notice) {
  if (control->State() != kDisconnected) control->Disconnect();
  archiver->WaitForArchiveWorkers(archiveWait, notice);
}

bool CConnection::LinkIsOpen() {
  return receiverLink->IsConnected();
}

bool CConnection::SendOnLink(int linkType, const KavoPacket& packet, int withChecksum) {
  if (!receiverLink->IsConnected()) return false;
  return receiverLink->SendPacket(linkType, packet, withChecksum);
}
