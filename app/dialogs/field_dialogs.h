// Add Field, Alter Field Type, Rename Column and Remove Field: the windows
// that change the fields of the table the main window shows. They gather
// what the person chose; the main window checks it and rewrites the table.
#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace norvale {

class TDbfTable;
class TForm1;

class TAddFieldDialog : public QDialog {
  Q_OBJECT

 public:
  TAddFieldDialog(TForm1* form, TDbfTable* table, QWidget* parent = nullptr);
  void Prepare();
  // The Add button; the window stays open for further fields.
  bool Add();
  QLineEdit* TableType() const { return tableType_; }
  QLineEdit* TableName() const { return tableName_; }
  QLineEdit* FieldName() const { return fieldName_; }
  QComboBox* FieldType() const { return fieldType_; }
  QLineEdit* Size() const { return size_; }

 private:
  TForm1* form_;
  TDbfTable* table_;
  QLineEdit* tableType_;
  QLineEdit* tableName_;
  QLineEdit* fieldName_;
  QComboBox* fieldType_;
  QLineEdit* size_;
};

// Alter Field Type and Rename Column share their look: a field to choose
// and what to change it to.
class TFieldChangeDialog : public QDialog {
  Q_OBJECT

 public:
  enum TKind { fcAlter, fcRename };
  TFieldChangeDialog(TKind kind, TForm1* form, TDbfTable* table, QWidget* parent = nullptr);
  void Prepare();
  // OK: true when the field was changed (the window then closes).
  bool Apply();
  QComboBox* Field() const { return field_; }
  QComboBox* NewType() const { return newType_; }
  QLineEdit* NewValue() const { return newValue_; }
  QLineEdit* TableName() const { return tableName_; }

 private:
  void FieldChosen();

  TKind kind_;
  TForm1* form_;
  TDbfTable* table_;
  QLineEdit* tableName_;
  QComboBox* field_;
  QComboBox* newType_ = nullptr;
  QLineEdit* newValue_;
};

class TRemoveFieldDialog : public QDialog {
  Q_OBJECT

 public:
  TRemoveFieldDialog(TForm1* form, TDbfTable* table, QWidget* parent = nullptr);
  void Prepare();
  bool Remove();
  QComboBox* Field() const { return field_; }

 private:
  TForm1* form_;
  TDbfTable* table_;
  QComboBox* field_;
};

}  // namespace norvale
