#pragma once

#include <QCoreApplication>

#include "link/link_services.h"

// Link services for tests: one set per test program, as the program has one. The CAN thread
// serves the whole run (Qt's virtual bus server stays in the thread of the first device) and
// stops when the test main's QCoreApplication goes.
inline LinkServices& TestLinkServices() {
  static CSerialCallLock serialCalls;
  static CQtCanThread canThread;
  static LinkServices services = [] {
    qAddPostRoutine([] { canThread.Stop(); });
    return LinkServices{CSteadyClock::Instance(), serialCalls, canThread};
  }();
  return services;
}
