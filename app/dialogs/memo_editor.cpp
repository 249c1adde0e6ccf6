#include "app/dialogs/memo_editor.h"

#include <QVBoxLayout>

#include "app/db_controls.h"

namespace norvale {

TMemoEditor::TMemoEditor(QWidget* parent) : QDialog(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("Memo field"));
  setObjectName(QStringLiteral("MemoEditor"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  memo_ = new TDBMemo(this);
  memo_->setObjectName(QStringLiteral("DBMemo1"));
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  layout->addWidget(memo_);
  resize(552, 382);
}

}  // namespace norvale
