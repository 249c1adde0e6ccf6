// The new table designer: a table type, a list of fields entered one at a
// time, and a file to create them in. Every row is checked before the save
// dialog comes up, so a table is created whole or not at all.
#pragma once

#include <QDialog>
#include <QString>

#include "engine/fields.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace norvale {

class TForm1;

class TNewTableDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TNewTableDialog(TForm1* form, QWidget* parent = nullptr);

  // The level of the chosen table type (3, 4, 7 or 25).
  int Level() const;
  void ClearFields();
  // "Add Field": the entry row goes to the list as typed.
  void AddFieldRow();
  void RemoveRow();
  void MoveUp();
  // The rows as field definitions of the chosen level; false with
  // `problem` naming the row that cannot be one.
  bool BuildDefs(TDbfFieldDefs& defs, QString* problem) const;
  // "Create Table": checks the rows, asks for the file, creates it. True
  // when created (the dialog then closes with OK); a cancelled save
  // dialog cancels the designer.
  bool Create();
  // The file created last; empty when none was.
  const QString& CreatedPath() const { return created_; }

  QComboBox* TableType() const { return tableType_; }
  QTreeWidget* FieldList() const { return list_; }
  QLineEdit* FieldName() const { return name_; }
  QComboBox* Type() const { return type_; }
  QLineEdit* Size() const { return size_; }
  QLineEdit* Precision() const { return precision_; }
  QCheckBox* Required() const { return required_; }

 private:
  void FillTypes();
  void TypeChanged(const QString& text);

  TForm1* form_;
  QComboBox* tableType_;
  QTreeWidget* list_;
  QLineEdit* name_;
  QComboBox* type_;
  QLineEdit* size_;
  QLineEdit* precision_;
  QCheckBox* required_;
  QString created_;
};

}  // namespace norvale
