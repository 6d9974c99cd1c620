#include "app/qt_timer_host.h"

#include <utility>

CQtTimerHost::CQtTimerHost(std::function<void(int)> handler) : onTimer(std::move(handler)) {}

void CQtTimerHost::StartTimer(int id, int periodMs) {
  auto& timer = timers[id];
  if (!timer) {
    timer = std::make_unique<QTimer>(this);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer.get(), &QTimer::timeout, this, [this, id] {
      if (onTimer) onTimer(id);
    });
  }
  timer->start(periodMs);
}

void CQtTimerHost::KillTimer(int id) {
  auto found = timers.find(id);
  if (found != timers.end()) found->second->stop();
}

bool CQtTimerHost::IsRunning(int id) const {
  auto found = timers.find(id);
  return found != timers.end() && found->second->isActive();
}
