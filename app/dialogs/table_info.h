// Table Info and Set Table Type: two windows that look at the raw header
// of the shown table's file rather than through the table object, so that
// they show what is on disk, and can mend a damaged version byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "engine/fields.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace norvale {

class TDbfTable;

// What the first byte of a table file says it is; "Unknown" for a byte
// no program writes.
QString VersionByteText(uint8_t version);
// The language driver byte in words; other values as their number.
QString LanguageIdText(uint8_t id);
// The field list's name for a field's logical type ("" for the rest).
QString FieldTypeText(TFieldType type);

// The version bytes that share the header layout of `header` (the file's
// first bytes, up to its header length): dBASE 7 with its 48-byte field
// descriptors, Visual FoxPro with its back-link area, or the 32-byte
// layout of dBASE III, dBASE IV and FoxPro 2. Judged from the layout, not
// from the version byte, which is what may be damaged; empty when the
// layout is none of them.
std::vector<uint8_t> VersionBytesOfFamily(const std::vector<uint8_t>& header);

// The first bytes of a table file, up to its header length (at least 32);
// raises "Error reading: [name]" when there are not 32.
std::vector<uint8_t> ReadTableHeader(const QString& path);

class TTableInfoDialog : public QDialog {
  Q_OBJECT

 public:
  TTableInfoDialog(TDbfTable* table, QWidget* parent = nullptr);
  // Reads the header of the file at `path` and lists the open table's
  // fields; with the table closed, only empties the list. Raises what
  // reading raises.
  void Fill(const QString& path);

  QLineEdit* Records() const { return records_; }
  QLineEdit* LanguageId() const { return language_; }
  QLineEdit* FileType() const { return fileType_; }
  QLineEdit* HeaderSize() const { return headerSize_; }
  QLineEdit* RecordSize() const { return recordSize_; }
  QLineEdit* LastUpdated() const { return updated_; }
  QLineEdit* FullPath() const { return fullPath_; }
  QCheckBox* Indexed() const { return indexed_; }
  QCheckBox* Encryption() const { return encryption_; }
  QTreeWidget* FieldList() const { return fields_; }
  QPushButton* CopyNames() const { return copyNames_; }
  QLabel* HeaderSizeLabel() const { return headerLabel_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CopyFieldNames();

  TDbfTable* table_;
  QLineEdit* records_;
  QLineEdit* language_;
  QLineEdit* fileType_;
  QLineEdit* headerSize_;
  QLineEdit* recordSize_;
  QLineEdit* updated_;
  QLineEdit* fullPath_;
  QCheckBox* indexed_;
  QCheckBox* encryption_;
  QTreeWidget* fields_;
  QPushButton* copyNames_;
  QLabel* headerLabel_;
  QLabel* linkLabel_;
};

class TSetTableTypeDialog : public QDialog {
  Q_OBJECT

 public:
  // `apply` writes the chosen byte (the main window closes and reopens the
  // table around it); it returns true when the byte was written.
  TSetTableTypeDialog(TDbfTable* table, std::function<bool(uint8_t)> apply, QWidget* parent = nullptr);
  // Lists the types of the header family of the file at `path` and selects
  // the one its first byte names ("UNKNOWN" for none); sets the Set
  // button's state. Raises what reading raises.
  void Prepare(const QString& path);
  // The Set button's action.
  void Set();

  QComboBox* Types() const { return types_; }
  QPushButton* SetButton() const { return set_; }

 private:
  TDbfTable* table_;
  std::function<bool(uint8_t)> apply_;
  QComboBox* types_;
  QPushButton* set_;
};

}  // namespace norvale
