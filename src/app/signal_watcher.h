#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

// Turns signals (SIGINT and SIGTERM unless others are named) into a call on the UI thread
// (self-pipe): the handler itself only writes one byte. The destructor gives them their default
// handling back. One watcher per process; a second signal while the first is handled is
// ignored by the callback's owner as it sees fit.
class CSignalWatcher final : public QObject {
  Q_OBJECT
 public:
  explicit CSignalWatcher(std::function<void(int signalNumber)> onSignal,
                          std::vector<int> signalNumbers = {SIGINT, SIGTERM});
  ~CSignalWatcher() override;
  bool Installed() const { return notifier != nullptr; }

 private:
  std::function<void(int)> onSignal;
  std::unique_ptr<QSocketNotifier> notifier;
  std::vector<int> watched;
};
