// Locate: finds the first record whose field holds a value, and makes it
// the current record of the main window's table.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace norvale {

class TDBGrid;
class TDropDownCombo;
class TViewerTable;

class TLocateDialog : public QDialog {
  Q_OBJECT

 public:
  TLocateDialog(TDBGrid* grid, TViewerTable* table, QWidget* parent = nullptr);
  TDropDownCombo* FieldCombo() const { return combo_; }
  QLineEdit* ValueEdit() const { return value_; }
  QCheckBox* CaseInsensitive() const { return caseInsensitive_; }
  QCheckBox* PartialSearch() const { return partial_; }
  // Fills the list with every field of the table, in field order.
  void FillAllFields();
  // Fills the list with the fields of the visible columns, in column order.
  void FillVisibleFields();
  // The OK button's action: true when a record was found (and is current).
  // A miss says so; what the table raises goes to the error box.
  bool Apply();

 private:
  TDBGrid* grid_;
  TViewerTable* table_;
  TDropDownCombo* combo_;
  QLineEdit* value_;
  QCheckBox* caseInsensitive_;
  QCheckBox* partial_;
};

}  // namespace norvale
