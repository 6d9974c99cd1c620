#pragma once

#include <QObject>
#include <atomic>
#include <functional>

#include "link/link_owner.h"

// Posts the link's two notifications onto the thread this object lives on (the UI thread), where
// it calls the handlers. Safe to call from any thread; a burst of packet notifications collapses
// into one pending call, since the handler drains the whole queue anyway.
class CQtLinkOwner final : public QObject, public ILinkOwner {
  Q_OBJECT
 public:
  CQtLinkOwner(std::function<void()> onPacket, std::function<void(int)> onStatus);

  void PostLinkPacket() override;
  void PostLinkStatus(int wParam) override;

 private:
  std::function<void()> onPacket;
  std::function<void(int)> onStatus;
  std::atomic<bool> packetPending{false};
};
