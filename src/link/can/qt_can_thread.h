#pragma once

#include <mutex>

class QThread;

// The thread with its own event loop that hosts every Qt CAN device of the program. One is made
// where the program builds its objects and handed to each CQtCanDriver: the virtualcan plugin
// hosts its bus server in the thread that opened the process's first device, so that thread
// must outlive every link that comes and goes. The thread starts on the first Thread() and ends
// at Stop() or destruction; Stop() must run before the QCoreApplication goes (a QThread may not
// outlive the application's teardown).
class CQtCanThread {
 public:
  CQtCanThread() = default;
  ~CQtCanThread();
  CQtCanThread(const CQtCanThread&) = delete;
  CQtCanThread& operator=(const CQtCanThread&) = delete;

  // The running thread; any thread may ask.
  QThread* Thread();
  // Ends the thread's event loop and waits for it; a later Thread() starts a new one.
  void Stop();

 private:
  std::mutex lock;
  QThread* thread = nullptr;
};
