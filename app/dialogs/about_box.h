// The About box: product name, version, the help page link.
#pragma once

#include <QDialog>

class QLabel;

namespace norvale {

class TDbfTable;

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  TAboutBox(const QString& versionText, TDbfTable* table, QWidget* parent = nullptr);
  QLabel* VersionLabel() const { return versionLabel_; }
  QLabel* LinkLabel() const { return linkLabel_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TDbfTable* table_;
  QLabel* versionLabel_;
  QLabel* linkLabel_;
};

}  // namespace norvale
