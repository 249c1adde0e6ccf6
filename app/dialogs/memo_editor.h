// The memo window: one memo field of the current record, edited in a
// window of its own. It edits memo text only; a binary blob is shown but
// not edited, and character fields are never offered.
#pragma once

#include <memory>
#include <string>

#include <QDialog>

class QLabel;
class QPushButton;

namespace norvale {

class TDBMemo;
class TDataSource;
class TField;

class TMemoEditor : public QDialog {
  Q_OBJECT

 public:
  explicit TMemoEditor(TDataSource* source, QWidget* parent = nullptr);
  ~TMemoEditor() override;
  TDBMemo* DBMemo1() const { return memo_; }
  QPushButton* SaveButton() const { return save_; }
  QPushButton* CloseButton() const { return close_; }
  QLabel* FieldLabel() const { return fieldLabel_; }

  // Binds the window to `preferred` when that is a memo or blob field of the
  // open table, otherwise to the table's first memo field. False, bound to
  // nothing, when the table has no such field.
  bool BindField(const std::string& preferred);
  // Lets go of the field and ties the memo box to the data source afresh,
  // before the main window opens another table.
  void Unbind();
  // After another table was opened under the window: it stays open on that
  // table's first memo field, or closes when there is none.
  void FollowTable();

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  class TLink;
  TField* ChooseField(const std::string& preferred) const;
  void UpdateButtons();
  void Save();

  TDataSource* source_;
  std::unique_ptr<TLink> link_;
  TDBMemo* memo_;
  QLabel* fieldLabel_;
  QPushButton* save_;
  QPushButton* close_;
};

}  // namespace norvale
