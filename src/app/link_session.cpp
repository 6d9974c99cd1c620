#include "app/link_session.h"

#include <QMetaObject>

#include "app/comm_link_adapter.h"
#include "app/logger_bridge.h"
#include "app/muted_prompts.h"
#include "app/program_link_services.h"
#include "app/qt_link_owner.h"
#include "app/qt_timer_host.h"
#include "app/session_reconnect.h"
#include "link/comm_link.h"

CLinkSession::CLinkSession(IPrompts& prompts, IConnectionPeers& peers, const CSerialPortMap& portMap) {
  owner = std::make_unique<CQtLinkOwner>([this] { control->LinkPacketReady(); },
                                         [this](int wParam) { control->LinkStatus(wParam); });
  linkPrompts = std::make_unique<CMutedPrompts>(prompts);
  link = std::make_unique<CCommLink>(owner.get(), *linkPrompts, ProgramLinkServices());
  link->SerialPort().SetPortMap(portMap);
  adapter = std::make_unique<CCommLinkAdapter>(*link);
  timers = std::make_unique<CQtTimerHost>([this](int id) { control->OnTimer(id); });
  // Posted calls ride on the timer host: it lives on this thread and dies with the session, so a
  // call still queued at the end is dropped with it.
  CQtTimerHost* context = timers.get();
  bridge = std::make_unique<CLoggerBridge>(
      peers, CSteadyClock::Instance(), prompts, [context](std::function<void()> call) {
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
      });
  // The link (and its parser) outlives every logger tick: it is made first and the ticks end with
  // the session.
  bridge->SetDroppedFrameSource([l = link.get()] { return l->Parser().DroppedFrames(); });
  control = std::make_unique<CConnectionControl>(*adapter, *timers, prompts, *bridge);
  bridge->Attach(*control);
  reconnect = std::make_unique<CSessionReconnect>(*link, *control, *bridge, *linkPrompts);
  control->SetReconnector(&reconnect->Reconnector());
}

void CLinkSession::SetCardFolderSource(std::function<std::string()> source) {
  bridge->SetCardFolderSource(std::move(source));
}

CLinkSession::~CLinkSession() {
  // The link's reader thread goes first: it may still post to the owner and call the prompts.
  link.reset();
  reconnect.reset();
  control.reset();
  // The logger (if still there) closes its file before the timers and the owner go.
  bridge.reset();
}
