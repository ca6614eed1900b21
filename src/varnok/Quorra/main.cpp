// Demonstration program of the viewer: the table of group T1 at the default
// endpoint.

#include <QApplication>

#include "ua_table_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  varnok::quorra::UATableWindow window;
  varnok::quorra::UATableWindow::ViewerSettings settings;
  settings.name_space_index = 2;
  settings.identifier = QStringLiteral("T1");
  window.start_opcua(settings);
  window.show();
  return QApplication::exec();
}
