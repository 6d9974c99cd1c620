#include "app/qt_link_owner.h"

#include <QMetaObject>
#include <utility>

CQtLinkOwner::CQtLinkOwner(std::function<void()> packetHandler, std::function<void(int)> statusHandler)
    : onPacket(std::move(packetHandler)), onStatus(std::move(statusHandler)) {}

void CQtLinkOwner::PostLinkPacket() {
  if (packetPending.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        packetPending = false;
        if (onPacket) onPacket();
      },
      Qt::QueuedConnection);
}

void CQtLinkOwner::PostLinkStatus(int wParam) {
  QMetaObject::invokeMethod(
      this,
      [this, wParam] {
        if (onStatus) onStatus(wParam);
      },
      Qt::QueuedConnection);
}
