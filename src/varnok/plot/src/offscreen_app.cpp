#include <QApplication>
#include <QByteArray>

#include "varnok/errors.h"
#include "varnok/plot/results_plot.h"

namespace varnok::plot {

namespace {

QtMessageHandler qt_default_handler = nullptr;

// Qt's note that it made its own runtime folder says nothing to the user of
// a program that only writes a picture; every other message passes.
void without_runtime_dir_note(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  if (qt_default_handler != nullptr) qt_default_handler(type, context, message);
}

}  // namespace

void ensure_offscreen_app() {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    if (qobject_cast<QApplication*>(existing) == nullptr)
      throw RunError("drawing a plot needs a QApplication, and this program runs a QCoreApplication");
    return;
  }
  // Offscreen even where a display is set: a program without a window must
  // not depend on one being reachable.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qt_default_handler = qInstallMessageHandler(without_runtime_dir_note);
  static int argc = 1;
  static char name[] = "varnok";
  static char* argv[] = {name, nullptr};
  // Never deleted: Qt cannot be torn down safely among static destructors.
  static QApplication* const app = new QApplication(argc, argv);
  (void)app;
}

}  // namespace varnok::plot
