#include "app/dialogs/memo_editor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/db_controls.h"
#include "app/ui_services.h"

namespace norvale {

// Follows the table's state for the Save button.
class TMemoEditor::TLink : public TDataLink {
 public:
  explicit TLink(TMemoEditor* owner) : owner_(owner) {}
  void ActiveChanged() override { owner_->UpdateButtons(); }
  void EditingChanged() override { owner_->UpdateButtons(); }

 private:
  TMemoEditor* owner_;
};

TMemoEditor::TMemoEditor(TDataSource* source, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowStaysOnTopHint), source_(source), link_(std::make_unique<TLink>(this)) {
  setWindowTitle(QStringLiteral("Memo field"));
  setObjectName(QStringLiteral("MemoEditor"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(6);
  memo_ = new TDBMemo(this);
  memo_->setObjectName(QStringLiteral("DBMemo1"));
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  memo_->SetDataSource(source);
  layout->addWidget(memo_, 1);

  auto* bottom = new QHBoxLayout;
  bottom->setContentsMargins(2, 0, 0, 0);
  fieldLabel_ = new QLabel(this);
  fieldLabel_->setObjectName(QStringLiteral("FieldLabel"));
  bottom->addWidget(fieldLabel_, 1);
  save_ = new QPushButton(QStringLiteral("&Save"), this);
  save_->setObjectName(QStringLiteral("SaveButton"));
  save_->setToolTip(QStringLiteral("Save the record"));
  connect(save_, &QPushButton::clicked, this, [this] { Save(); });
  bottom->addWidget(save_);
  close_ = new QPushButton(QStringLiteral("&Close"), this);
  close_->setObjectName(QStringLiteral("CloseButton"));
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
  bottom->addWidget(close_);
  layout->addLayout(bottom);
  resize(552, 382);

  link_->SetDataSource(source);
  UpdateButtons();
}

TMemoEditor::~TMemoEditor() {
  link_->SetDataSource(nullptr);
  memo_->SetDataSource(nullptr);
}

TField* TMemoEditor::ChooseField(const std::string& preferred) const {
  TDataSet* table = source_->DataSet();
  if (!table || !table->Active()) return nullptr;
  if (TField* field = preferred.empty() ? nullptr : table->FindField(preferred); field && field->IsBlob())
    return field;
  TField* blob = nullptr;
  for (int i = 0; i < table->FieldCount(); ++i) {
    TField& field = table->Fields(i);
    if (field.IsTextBlob()) return &field;
    if (!blob && field.IsBlob()) blob = &field;
  }
  // A table of pictures or binaries alone still has something to show.
  return blob;
}

bool TMemoEditor::BindField(const std::string& preferred) {
  TField* field = ChooseField(preferred);
  memo_->SetDataField(field ? field->FieldName() : std::string());
  QString label;
  if (field) {
    label = QString::fromStdString(field->FieldName());
    if (memo_->isReadOnly()) label += QStringLiteral("  (read-only)");
  }
  fieldLabel_->setText(label);
  UpdateButtons();
  return field != nullptr;
}

void TMemoEditor::Unbind() {
  // The table posts it as it closes.
  memo_->FlushText();
  memo_->SetDataField("");
  memo_->SetDataSource(nullptr);
  memo_->SetDataSource(source_);
  fieldLabel_->clear();
}

void TMemoEditor::FollowTable() {
  if (BindField("")) {
    show();
    raise();
  } else {
    close();
  }
}

void TMemoEditor::UpdateButtons() {
  TDataSet* table = source_->DataSet();
  save_->setEnabled(table && (table->State() == dsEdit || table->State() == dsInsert));
}

void TMemoEditor::Save() {
  RunGuarded(this, [this] {
    TDataSet* table = source_->DataSet();
    if (table && (table->State() == dsEdit || table->State() == dsInsert)) table->Post();
  });
}

void TMemoEditor::hideEvent(QHideEvent* event) {
  // Text typed here belongs to the record's edit even after the window has
  // gone; a hidden box would only keep reading memos on every move.
  memo_->FlushText();
  memo_->SetDataField("");
  fieldLabel_->clear();
  QDialog::hideEvent(event);
}

}  // namespace norvale
