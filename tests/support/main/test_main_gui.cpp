#include <gmock/gmock.h>

#include <QApplication>

// Widget tests run on the offscreen platform unless the caller chose another (Xvfb screenshots).
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
