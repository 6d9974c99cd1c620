#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "app/timer_host.h"

// The view's timers by id on QTimers of the thread this object lives on.
class CQtTimerHost final : public QObject, public ITimerHost {
  Q_OBJECT
 public:
  explicit CQtTimerHost(std::function<void(int)> onTimer);
  void StartTimer(int id, int periodMs) override;
  void KillTimer(int id) override;
  bool IsRunning(int id) const;

 private:
  std::function<void(int)> onTimer;
  std::map<int, std::unique_ptr<QTimer>> timers;
};
