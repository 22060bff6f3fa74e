#include "system/main/Main.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  orl::Main::SetApplicationTitle();
  QWidget window;
  window.setWindowTitle(orl::Main::ProductTitle);
  window.show();
  return application.exec();
}
