// Create Index and Indexes: the two windows that manage the indexes of the
// table the main window shows. Both stay open beside the main window and
// follow its table; the work that needs the table to itself (creating,
// removing, regenerating) is the main window's.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace norvale {

class TDbfTable;
class TDropDownCombo;
class TForm1;

class TCreateIndexDialog : public QDialog {
  Q_OBJECT

 public:
  TCreateIndexDialog(TForm1* form, TDbfTable* table, QWidget* parent = nullptr);
  // Takes the table's name and field names (empty while it is closed).
  void Prepare();
  // What entering the index name box proposes: "IDX_" and the field, when
  // the combo holds a plain field name and the name fits a tag.
  void ProposeName();
  // The Create Index button: true when the index was created (the window
  // then closes).
  bool Create();

  QLineEdit* TableName() const { return tableName_; }
  TDropDownCombo* FieldCombo() const { return field_; }
  QLineEdit* IndexName() const { return indexName_; }
  QComboBox* Options() const { return options_; }
  QPushButton* CreateButton() const { return create_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TForm1* form_;
  TDbfTable* table_;
  QLineEdit* tableName_;
  TDropDownCombo* field_;
  QLineEdit* indexName_;
  QComboBox* options_;
  QPushButton* create_;
};

class TIndexesDialog : public QDialog {
  Q_OBJECT

 public:
  TIndexesDialog(TForm1* form, TDbfTable* table, QWidget* parent = nullptr);
  // Lists the table's indexes and selects the first.
  void Refresh();
  void SwitchTo();
  void AddIndex();
  void RemoveIndex();
  void Regenerate();

  QListWidget* List() const { return list_; }
  QLabel* CountLabel() const { return count_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString Selected() const;

  TForm1* form_;
  TDbfTable* table_;
  QListWidget* list_;
  QLabel* count_;
};

}  // namespace norvale
