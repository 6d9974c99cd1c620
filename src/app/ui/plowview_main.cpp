#include "app/ui/plowview_main.h"

#include <QApplication>
#include <QWidget>

int PlowviewMain(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Plowview");
  QWidget window;
  window.setWindowTitle("Plowview [1]");
  window.setFixedSize(422, 187);
  window.show();
  return app.exec();
}
