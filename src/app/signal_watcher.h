#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

// Turns SIGINT and SIGTERM into a call on the UI thread (self-pipe): the handler itself only
// writes one byte. One watcher per process; a second signal while the first is handled is
// ignored by the callback's owner as it sees fit.
class CSignalWatcher final : public QObject {
  Q_OBJECT
 public:
  explicit CSignalWatcher(std::function<void(int signalNumber)> onSignal);
  ~CSignalWatcher() override;
  bool Installed() const { return notifier != nullptr; }

 private:
  std::function<void(int)> onSignal;
  std::unique_ptr<QSocketNotifier> notifier;
};
