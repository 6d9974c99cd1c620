#pragma once

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <vector>

#include "link/comm_link.h"

// A link owner that does what the main view does with packets for the relay: drains the parser
// and relays every packet, from the event loop of the thread it was made on. Statuses are
// recorded there too, in order; packets whose id is `keepId` are kept for the test.
class CRelayingOwner final : public ILinkOwner {
 public:
  void PostLinkPacket() override {
    if (pending.exchange(true)) return;
    QMetaObject::invokeMethod(
        &context,
        [this] {
          pending = false;
          KavoPacket p;
          while (link->Parser().TryPopPacket(p)) {
            link->RelayPacket(p);
            if (p.id == keepId) kept.push_back(p);
          }
        },
        Qt::QueuedConnection);
  }
  void PostLinkStatus(int wParam) override {
    QMetaObject::invokeMethod(
        &context, [this, wParam] { statuses.push_back(wParam); }, Qt::QueuedConnection);
  }

  CCommLink* link = nullptr;
  int keepId = -1;
  std::vector<KavoPacket> kept;
  std::vector<int> statuses;

 private:
  QObject context;
  std::atomic<bool> pending{false};
};
