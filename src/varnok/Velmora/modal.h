#pragma once

#include <QDialog>
#include <functional>

namespace varnok::velmora {

// Runs a modal dialog or message box and returns its result: QDialog's
// Accepted/Rejected, or the StandardButton a QMessageBox was answered with.
// The launcher runs every modal through one of these so that tests can
// answer them.
using ModalExec = std::function<int(QDialog&)>;

inline int exec_modal_dialog(QDialog& dialog) {
  return dialog.exec();
}

}  // namespace varnok::velmora
