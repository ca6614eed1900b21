#pragma once

// Helpers of the launcher's tests: answering modals, capturing standard
// output, a scratch working directory, plain TCP listeners.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDialog>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "modal.h"

namespace varnok::velmora::testing {

struct ShownModal {
  QString kind;  // QMessageBox, SelectItemDialog, ServerDialog
  QString title, text, informative;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
  bool has_window_icon = false;
};

// Answers the launcher's modals in order and records each. Unanswered, a
// message box gets its default button (else Ok), a dialog is rejected.
class Modals {
 public:
  using Answer = std::function<int(QDialog&)>;
  ModalExec exec() {
    return [this](QDialog& dialog) { return answer(dialog); };
  }
  void then(Answer answer) { answers_.push_back(std::move(answer)); }
  void then_button(QMessageBox::StandardButton button) {
    then([button](QDialog&) { return static_cast<int>(button); });
  }
  const std::vector<ShownModal>& shown() const { return shown_; }

 private:
  int answer(QDialog& dialog) {
    ShownModal seen;
    seen.kind = QString::fromLatin1(dialog.metaObject()->className()).section("::", -1);
    seen.title = dialog.windowTitle();
    seen.has_window_icon = !dialog.windowIcon().availableSizes().isEmpty();
    auto* box = qobject_cast<QMessageBox*>(&dialog);
    if (box != nullptr) {
      seen.text = box->text();
      seen.informative = box->informativeText();
      seen.icon = box->icon();
      seen.buttons = box->standardButtons();
      if (box->defaultButton() != nullptr) seen.default_button = box->standardButton(box->defaultButton());
    }
    shown_.push_back(seen);
    if (!answers_.empty()) {
      Answer next = std::move(answers_.front());
      answers_.pop_front();
      return next(dialog);
    }
    if (box == nullptr) return QDialog::Rejected;
    return seen.default_button != QMessageBox::NoButton ? seen.default_button : QMessageBox::Ok;
  }

  std::deque<Answer> answers_;
  std::vector<ShownModal> shown_;
};

class CapturedStdout {
 public:
  CapturedStdout() { ::testing::internal::CaptureStdout(); }
  ~CapturedStdout() {
    if (!taken_) ::testing::internal::GetCapturedStdout();
  }
  std::string take() {
    taken_ = true;
    return ::testing::internal::GetCapturedStdout();
  }

 private:
  bool taken_ = false;
};

inline int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// A fresh folder under /tmp that is the working directory while it lives.
class ScratchDir {
 public:
  ScratchDir() : previous_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  // Writes text into path()/relative, creating folders on the way.
  std::filesystem::path write(const std::string& relative, const std::string& text) const {
    const auto file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
    return file;
  }

 private:
  std::filesystem::path previous_, path_;
};

// A loopback listener on a free port that never accepts: connections wait
// in the kernel's queue (at most backlog + 1 of them).
class Listener {
 public:
  explicit Listener(int backlog = 16) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd_, backlog) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("cannot listen on a loopback port");
    }
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() { close(fd_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  int port() const { return port_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  int port_ = 0;
};

// A loopback port with nothing listening on it a moment ago.
inline int closed_port() {
  return Listener().port();
}

}  // namespace varnok::velmora::testing
