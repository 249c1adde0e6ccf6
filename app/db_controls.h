// Data-aware controls: an edit box and a memo box that show one field of the
// current record and edit it, and the record navigator.
//
// They follow the table through a data source like the grid does. Typing
// puts the table into edit state at once (so the grid and the navigator
// show it); the text goes into the field when the table posts, or when the
// field is asked for it before a move.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QWidget>

#include "dataset/dataset.h"

namespace norvale {

// The tie of one control to one field.
class TFieldDataLink : public TDataLink {
 public:
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& name);
  // The bound field of the open table; null when none.
  TField* Field() const;
  bool Editing() const;
  // Whether the bound field can take a typed value at all.
  bool Writable() const;
  // Puts the table into edit state for a change typed into the control;
  // false (after showing why) when the table refuses.
  bool BeginEdit(QWidget* control);
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  // Load the control from the field.
  std::function<void()> OnDataChange;
  // Store the control's text into the field.
  std::function<void()> OnUpdateData;
  std::function<void()> OnEditingChange;

  void ActiveChanged() override { Changed(); }
  void DataSetChanged() override { Changed(); }
  void DataSetScrolled(int) override { Changed(); }
  void RecordChanged(TField* field) override;
  void EditingChanged() override;
  void UpdateData() override;

 private:
  void Changed();
  std::string fieldName_;
  bool modified_ = false;
  bool updating_ = false;
};

class TDBEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TDBEdit(QWidget* parent = nullptr);
  ~TDBEdit() override;
  void SetDataSource(TDataSource* source) { link_.SetDataSource(source); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  const std::string& DataField() const { return link_.FieldName(); }
  TFieldDataLink& Link() { return link_; }

 protected:
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Load();
  TFieldDataLink link_;
  bool loading_ = false;
};

class TDBMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TDBMemo(QWidget* parent = nullptr);
  ~TDBMemo() override;
  void SetDataSource(TDataSource* source) { link_.SetDataSource(source); }
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  const std::string& DataField() const { return link_.FieldName(); }
  TFieldDataLink& Link() { return link_; }
  // Hands text typed here to the field, before the box lets go of it.
  void FlushText();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Load();
  void TextChanged();
  TFieldDataLink link_;
  bool loading_ = false;
};

// First, prior, next, last, insert, delete, post, cancel.
class TDBNavigator : public QWidget {
  Q_OBJECT

 public:
  enum TButton { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbPost, nbCancel };
  static constexpr int kButtonCount = 8;

  explicit TDBNavigator(QWidget* parent = nullptr);
  ~TDBNavigator() override;
  void SetDataSource(TDataSource* source);
  QToolButton* Button(TButton which) const { return buttons_[which]; }
  // Runs a button's action as a click does (the delete button asks first).
  void BtnClick(TButton which);

 private:
  class TLink;
  void UpdateButtons();
  std::unique_ptr<TLink> link_;
  std::array<QToolButton*, kButtonCount> buttons_{};
};

}  // namespace norvale
