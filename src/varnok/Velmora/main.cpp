// The launcher: checks that the simulation OPC server and database answer,
// then lets the user pick a process, run it on the gateway and watch its tag
// group.

#include <QApplication>
#include <QGuiApplication>

#include "launcher_startup.h"

int main(int argc, char** argv) {
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
  QApplication app(argc, argv);
  return varnok::velmora::run_launcher(app, {});
}
