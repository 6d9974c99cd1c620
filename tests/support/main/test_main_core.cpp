#include <gmock/gmock.h>

#include <QCoreApplication>

// Qt objects that need an event loop (sockets, timers, child processes) find one here; tests
// that wait spin it with QCoreApplication::processEvents or a local QEventLoop.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
