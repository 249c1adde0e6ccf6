// The memo window: one memo field of the current record, edited in a
// window of its own.
#pragma once

#include <QDialog>

namespace norvale {

class TDBMemo;

class TMemoEditor : public QDialog {
  Q_OBJECT

 public:
  explicit TMemoEditor(QWidget* parent = nullptr);
  TDBMemo* DBMemo1() const { return memo_; }

 private:
  TDBMemo* memo_;
};

}  // namespace norvale
