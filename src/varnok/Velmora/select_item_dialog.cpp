#include "select_item_dialog.h"

#include <QHeaderView>
#include <QStringList>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "process_catalogue.h"

namespace varnok::velmora {

namespace {

// The whole text is on hover, for cells cut at the column's width.
QTableWidgetItem* text_item(const std::string& text) {
  auto* item = new QTableWidgetItem(QString::fromStdString(text));
  item->setToolTip(item->text());
  return item;
}

constexpr int kRowsShown = 8;
constexpr int kDirectoryWidth = 220;

}  // namespace

SelectItemDialog::SelectItemDialog(QWidget* parent)
    : QDialog(parent),
      label(new QLabel(QStringLiteral("Please select a process to start"), this)),
      tableWidget(new QTableWidget(this)),
      process_list(builtin_processes()),
      buttonBox(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)),
      layout(new QVBoxLayout) {
  setWindowTitle(QStringLiteral("Load process"));
  tableWidget->setObjectName(QStringLiteral("tableWidget"));
  tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tableWidget->setWordWrap(false);
  tableWidget->setTextElideMode(Qt::ElideRight);
  tableWidget->setColumnCount(kColumnCount);
  tableWidget->setHorizontalHeaderLabels({QStringLiteral("Module"), QStringLiteral("Object"),
                                          QStringLiteral("Default group"), QStringLiteral("Description"),
                                          QStringLiteral("Directory")});
  tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
  tableWidget->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  tableWidget->verticalHeader()->setDefaultSectionSize(tableWidget->fontMetrics().height() + 8);

  load_process();

  tableWidget->setRowCount(static_cast<int>(process_list.size()));
  for (int row = 0; row < tableWidget->rowCount(); ++row) {
    const ProcessEntry& entry = process_list[static_cast<std::size_t>(row)];
    tableWidget->setItem(row, kModuleColumn, text_item(entry.module_name));
    tableWidget->setItem(row, kObjectColumn, text_item(entry.object_name));
    tableWidget->setItem(row, kGroupColumn, text_item(entry.default_group));
    tableWidget->setItem(row, kDescriptionColumn, text_item(entry.description));
    tableWidget->setItem(row, kDirectoryColumn, text_item(entry.import_dir));
  }
  QHeaderView* header = tableWidget->horizontalHeader();
  for (const int column : {kModuleColumn, kObjectColumn, kGroupColumn}) {
    header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
  header->setSectionResizeMode(kDescriptionColumn, QHeaderView::Stretch);
  header->setSectionResizeMode(kDirectoryColumn, QHeaderView::Interactive);
  tableWidget->setColumnWidth(kDirectoryColumn, kDirectoryWidth);
  // About eight rows without scrolling: the header, the rows, the frame.
  tableWidget->setMinimumHeight(header->sizeHint().height() +
                                kRowsShown * tableWidget->verticalHeader()->defaultSectionSize() +
                                2 * tableWidget->frameWidth());
  resize(1000, sizeHint().height());

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
