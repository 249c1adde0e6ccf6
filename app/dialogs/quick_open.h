// Quick Open: a table file name typed in, for the main window to open.
#pragma once

#include <QDialog>

class QLineEdit;

namespace norvale {

class TQuickOpenDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TQuickOpenDialog(QWidget* parent = nullptr);
  QLineEdit* Edit1() const { return edit1_; }

 private:
  QLineEdit* edit1_;
};

}  // namespace norvale
