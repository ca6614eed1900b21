#include "server_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>

namespace varnok::velmora {

ServerDialog::ServerDialog(QWidget* parent, const QString& ip, int port)
    : QDialog(parent),
      ip_line_edit(new QLineEdit(ip, this)),
      port_line_edit(new QLineEdit(QString::number(port), this)) {
  setWindowTitle(QStringLiteral("Server Dialog"));
  ip_line_edit->setObjectName(QStringLiteral("ip_line_edit"));
  port_line_edit->setObjectName(QStringLiteral("port_line_edit"));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Server IP:"), ip_line_edit);
  form->addRow(QStringLiteral("Server Port:"), port_line_edit);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

std::pair<QString, QString> ServerDialog::get_values() const {
  return {ip_line_edit->text(), port_line_edit->text()};
}

std::optional<int> parse_port_text(const QString& text) {
  const QString digits = text.trimmed();
  bool ok = false;
  const int port = digits.toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return port;
}

}  // namespace varnok::velmora
