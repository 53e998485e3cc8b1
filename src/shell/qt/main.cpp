#include <QApplication>

#include "shell/qt/main_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // A run may outlast the window: the window says when the program ends.
  QApplication::setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QStringLiteral("lotrix"));
  MainWindow window;
  window.show();
  return app.exec();
}
