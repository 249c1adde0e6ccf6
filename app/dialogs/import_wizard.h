// Import wizard: the source file and how to read it, then which column
// fills which field of the current table.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QWizard>

#include "app/export/import_source.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTableWidget;

namespace norvale {

class TImportWizard : public QWizard {
  Q_OBJECT

 public:
  explicit TImportWizard(QWidget* parent = nullptr);
  // Starts over on the source page for a table with these fields.
  void Prepare(const std::vector<std::string>& fieldNames);

  QLineEdit* FileEdit() const { return file_; }
  // "CSV", "TXT", "DBF" or "XLSX".
  QComboBox* TypeBox() const { return type_; }
  QComboBox* SeparatorBox() const { return separator_; }
  QLineEdit* QuoteEdit() const { return quote_; }
  QCheckBox* HeaderBox() const { return header_; }
  QComboBox* EncodingBox() const { return encoding_; }
  // A row per field: its name, and a list of the source's columns.
  QTableWidget* MappingTable() const { return mapping_; }

  std::string SourcePath() const;
  std::string SourceFormat() const;  // "csv", "txt", "dbf", "xlsx"
  TCsvImportOptions CsvOptions() const;
  std::unique_ptr<TImportSource> OpenSource() const;
  // For each field, the source column chosen for it, -1 for none.
  std::vector<int> Mapping() const;
  // Reads the source's column names and proposes a column for each field;
  // false with the reason when the source cannot be read.
  bool LoadColumns(QString* problem);

 private:
  void Browse();
  void FollowType();

  QLineEdit* file_;
  QComboBox* type_;
  QComboBox* separator_;
  QLineEdit* quote_;
  QCheckBox* header_;
  QComboBox* encoding_;
  QTableWidget* mapping_;
  std::vector<std::string> fields_;
};

}  // namespace norvale
