// Select Field: moves the grid's focus to the column of a field.
#pragma once

#include <QDialog>

namespace norvale {

class TDBGrid;
class TDropDownCombo;

class TSelectFieldDialog : public QDialog {
  Q_OBJECT

 public:
  TSelectFieldDialog(TDBGrid* grid, QWidget* parent = nullptr);
  TDropDownCombo* ComboBox1() const { return combo_; }
  // Fills the list with the fields of the visible columns.
  void FillList();
  // The OK button's action.
  void Apply();

 private:
  TDBGrid* grid_;
  TDropDownCombo* combo_;
};

}  // namespace norvale
