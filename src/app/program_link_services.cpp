#include "app/program_link_services.h"

#include <QCoreApplication>

LinkServices& ProgramLinkServices() {
  static CSerialCallLock serialCalls;
  static CQtCanThread canThread;
  static LinkServices services = [] {
    // The thread may not outlive the application's teardown.
    qAddPostRoutine([] { canThread.Stop(); });
    return LinkServices{CSteadyClock::Instance(), serialCalls, canThread};
  }();
  return services;
}
