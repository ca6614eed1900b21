#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QString>
#include <optional>
#include <utility>

namespace varnok::velmora {

// Asks for the gateway's host and RPC port. The values come back exactly as
// typed; the caller converts the port (parse_port_text).
class ServerDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit ServerDialog(QWidget* parent = nullptr, const QString& ip = QStringLiteral("0.0.0.0"),
                        int port = 1234);

  // (host text, port text).
  std::pair<QString, QString> get_values() const;

  QLineEdit* ip_line_edit;
  QLineEdit* port_line_edit;
};

// A decimal integer with optional sign and surrounding white space, as an
// int; none for anything else (empty, letters, too large for an int). The
// range of ports is not checked here: the task refuses a bad one at START.
std::optional<int> parse_port_text(const QString& text);

}  // namespace varnok::velmora
