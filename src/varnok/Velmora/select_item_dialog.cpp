#include "select_item_dialog.h"

#include <QHeaderView>
#include <QStringList>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "process_catalogue.h"

namespace varnok::velmora {

namespace {

QTableWidgetItem* text_item(const std::string& text) {
  return new QTableWidgetItem(QString::fromStdString(text));
}

}  // namespace

SelectItemDialog::SelectItemDialog(QWidget* parent)
    : QDialog(parent),
      label(new QLabel(QStringLiteral("Please select a process to start"), this)),
      tableWidget(new QTableWidget(this)),
      process_list(builtin_processes()),
      buttonBox(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)),
      layout(new QVBoxLayout) {
  resize(500, 400);
  tableWidget->setObjectName(QStringLiteral("tableWidget"));
  tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tableWidget->setWordWrap(true);
  tableWidget->setColumnCount(4);
  tableWidget->setHorizontalHeaderLabels({QStringLiteral("Module"), QStringLiteral("Object"),
                                          QStringLiteral("Description"), QStringLiteral("Directory")});
  tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);

  load_process();

  tableWidget->setRowCount(static_cast<int>(process_list.size()));
  for (int row = 0; row < tableWidget->rowCount(); ++row) {
    const ProcessEntry& entry = process_list[static_cast<std::size_t>(row)];
    tableWidget->setItem(row, 0, text_item(entry.module_name));
    tableWidget->setItem(row, 1, text_item(entry.object_name));
    tableWidget->setItem(row, 2, text_item(entry.description));
    tableWidget->setItem(row, 3, text_item(entry.import_dir));
    tableWidget->resizeRowToContents(row);
  }
  tableWidget->resizeColumnsToContents();
  tableWidget->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);

  connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

  layout->addWidget(label);
  layout->addWidget(tableWidget);
  layout->addWidget(buttonBox);
  setLayout(layout);
}

void SelectItemDialog::load_process() {
  std::error_code ec;
  const std::filesystem::path here = std::filesystem::current_path(ec);
  if (ec) {
    std::cout << "No process descriptors read: the working directory is unavailable (" << ec.message() << ")"
              << std::endl;
    return;
  }
  for (auto& entry : descriptor_processes(here, std::cout)) process_list.push_back(std::move(entry));
}

std::optional<ProcessEntry> SelectItemDialog::get_selected_item() const {
  const int row = tableWidget->currentRow();
  if (row < 0 || process_list.empty() || row >= static_cast<int>(process_list.size())) return std::nullopt;
  return process_list[static_cast<std::size_t>(row)];
}

}  // namespace varnok::velmora
