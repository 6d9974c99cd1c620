#include "link/can/qt_can_thread.h"

#include <QString>
#include <QThread>

CQtCanThread::~CQtCanThread() {
  Stop();
}

QThread* CQtCanThread::Thread() {
  std::lock_guard guard(lock);
  if (thread == nullptr) {
    thread = new QThread;
    thread->setObjectName(QStringLiteral("CAN bus"));
    thread->start();
  }
  return thread;
}

void CQtCanThread::Stop() {
  QThread* running = nullptr;
  {
    std::lock_guard guard(lock);
    running = thread;
    thread = nullptr;
  }
  if (running == nullptr) return;
  running->quit();
  running->wait();
  delete running;
}
