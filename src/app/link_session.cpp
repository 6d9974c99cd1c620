#include "app/link_session.h"

#include "app/comm_link_adapter.h"
#include "app/qt_link_owner.h"
#include "app/qt_timer_host.h"
#include "link/comm_link.h"

CLinkSession::CLinkSession(IPrompts& prompts, IConnectionPeers& peers, const CSerialPortMap& portMap) {
  owner = std::make_unique<CQtLinkOwner>([this] { control->LinkPacketReady(); },
                                         [this](int wParam) { control->LinkStatus(wParam); });
  link = std::make_unique<CCommLink>(owner.get(), prompts);
  link->SerialPort().SetPortMap(portMap);
  adapter = std::make_unique<CCommLinkAdapter>(*link);
  timers = std::make_unique<CQtTimerHost>([this](int id) { control->OnTimer(id); });
  control = std::make_unique<CConnectionControl>(*adapter, *timers, prompts, peers);
}

CLinkSession::~CLinkSession() {
  // The link's reader thread goes first: it may still post to the owner and call the prompts.
  link.reset();
  control.reset();
}
