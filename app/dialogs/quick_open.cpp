#include "app/dialogs/quick_open.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace norvale {

TQuickOpenDialog::TQuickOpenDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Quick Open"));
  setObjectName(QStringLiteral("QuickOpen"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Table file"), this));
  edit1_ = new QLineEdit(this);
  edit1_->setObjectName(QStringLiteral("Edit1"));
  edit1_->setMinimumWidth(360);
  layout->addWidget(edit1_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

}  // namespace norvale
