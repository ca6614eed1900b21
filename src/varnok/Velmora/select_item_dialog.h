#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <optional>
#include <vector>

#include "process_entry.h"

namespace varnok::velmora {

// The process catalogue as a table: the built-in plants, then every
// descriptor below the working directory, read afresh for each dialog.
class SelectItemDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit SelectItemDialog(QWidget* parent = nullptr);

  // Appends the descriptor entries found below the working directory;
  // called once by the constructor.
  void load_process();

  // The entry of the table's current row; none without a current row.
  std::optional<ProcessEntry> get_selected_item() const;

  enum Column {
    kModuleColumn,
    kObjectColumn,
    kGroupColumn,
    kDescriptionColumn,
    kDirectoryColumn,
    kColumnCount
  };

  QLabel* label;
  QTableWidget* tableWidget;
  std::vector<ProcessEntry> process_list;
  QDialogButtonBox* buttonBox;
  QVBoxLayout* layout;
};

}  // namespace varnok::velmora
