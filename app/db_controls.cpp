#include "app/db_controls.h"

#include <QHBoxLayout>
#include <QKeyEvent>

#include "app/ui_services.h"

namespace norvale {

// ---------------------------------------------------------------- field link

void TFieldDataLink::SetFieldName(const std::string& name) {
  fieldName_ = name;
  Changed();
}

TField* TFieldDataLink::Field() const {
  TDataSet* dataSet = DataSet();
  if (!dataSet || !dataSet->Active() || fieldName_.empty()) return nullptr;
  return dataSet->FindField(fieldName_);
}

bool TFieldDataLink::Editing() const {
  TDataSet* dataSet = DataSet();
  return dataSet && (dataSet->State() == dsEdit || dataSet->State() == dsInsert);
}

bool TFieldDataLink::Writable() const {
  TField* field = Field();
  return field && !field->ReadOnly() && DataSet()->CanModify();
}

bool TFieldDataLink::BeginEdit(QWidget* control) {
  TField* field = Field();
  if (!field) return false;
  if (Editing()) return true;
  // The table announces its new state to every link, this one included;
  // reloading now would throw away the text being typed.
  updating_ = true;
  const bool ok = RunGuarded(control, [&] { DataSet()->Edit(); });
  updating_ = false;
  return ok && Editing();
}

void TFieldDataLink::Changed() {
  if (updating_) return;
  modified_ = false;
  if (OnDataChange) OnDataChange();
}

void TFieldDataLink::RecordChanged(TField* field) {
  if (updating_) return;
  if (field == nullptr || field == Field()) Changed();
}

void TFieldDataLink::EditingChanged() {
  if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::UpdateData() {
  if (!modified_ || !Field()) return;
  updating_ = true;
  try {
    if (OnUpdateData) OnUpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
  modified_ = false;
}

namespace {
QString FieldValueText(TField* field) {
  if (!field) return QString();
  try {
    return QString::fromStdString(field->AsString());
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  }
}
}  // namespace

// ---------------------------------------------------------------- edit box

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent) {
  link_.OnDataChange = [this] { Load(); };
  link_.OnEditingChange = [this] { setReadOnly(!link_.Writable()); };
  link_.OnUpdateData = [this] { link_.Field()->SetAsString(text().toStdString()); };
  connect(this, &QLineEdit::textEdited, this, [this] {
    if (loading_) return;
    if (link_.BeginEdit(this)) {
      link_.SetModified(true);
    } else {
      Load();
    }
  });
  Load();
}

TDBEdit::~TDBEdit() { link_.SetDataSource(nullptr); }

void TDBEdit::Load() {
  loading_ = true;
  TField* field = link_.Field();
  setText(FieldValueText(field));
  setEnabled(field != nullptr);
  setReadOnly(!link_.Writable());
  loading_ = false;
}

void TDBEdit::focusOutEvent(QFocusEvent* event) {
  // Leaving the box hands the typed text to the field, so what the grid
  // shows and what will be posted agree.
  if (link_.Modified() && link_.Editing()) RunGuarded(this, [this] { link_.UpdateData(); });
  QLineEdit::focusOutEvent(event);
}

void TDBEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && link_.Editing()) {
    RunGuarded(this, [this] { link_.DataSet()->Cancel(); });
    return;
  }
  QLineEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------- memo box

TDBMemo::TDBMemo(QWidget* parent) : QPlainTextEdit(parent) {
  link_.OnDataChange = [this] { Load(); };
  link_.OnUpdateData = [this] { link_.Field()->SetAsString(toPlainText().toStdString()); };
  connect(this, &QPlainTextEdit::textChanged, this, [this] { TextChanged(); });
  Load();
}

TDBMemo::~TDBMemo() { link_.SetDataSource(nullptr); }

void TDBMemo::Load() {
  loading_ = true;
  TField* field = link_.Field();
  const QString text = FieldValueText(field);
  if (text != toPlainText()) setPlainText(text);
  // Only memo text is edited here: binary blobs would be garbled by a text
  // box, and a character field must never receive a typed line break.
  setReadOnly(!field || !field->IsTextBlob() || !link_.Writable());
  loading_ = false;
}

void TDBMemo::TextChanged() {
  if (loading_ || link_.Modified()) return;
  if (!isReadOnly() && link_.BeginEdit(this)) {
    link_.SetModified(true);
  } else {
    Load();
  }
}

void TDBMemo::FlushText() {
  if (link_.Modified() && link_.Editing()) RunGuarded(this, [this] { link_.UpdateData(); });
}

void TDBMemo::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && link_.Editing()) {
    RunGuarded(this, [this] { link_.DataSet()->Cancel(); });
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------- navigator

class TDBNavigator::TLink : public TDataLink {
 public:
  explicit TLink(TDBNavigator* owner) : owner_(owner) {}
  void ActiveChanged() override { owner_->UpdateButtons(); }
  void DataSetChanged() override { owner_->UpdateButtons(); }
  void DataSetScrolled(int) override { owner_->UpdateButtons(); }
  void EditingChanged() override { owner_->UpdateButtons(); }

 private:
  TDBNavigator* owner_;
};

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent), link_(std::make_unique<TLink>(this)) {
  struct TFace {
    const char* glyph;
    const char* hint;
    const char* name;
  };
  static const TFace faces[kButtonCount] = {
      {"\u21E4", "First record", "nbFirst"},  {"\u25C0", "Prior record", "nbPrior"},
      {"\u25B6", "Next record", "nbNext"},    {"\u21E5", "Last record", "nbLast"},
      {"+", "Insert record", "nbInsert"},     {"\u2212", "Delete record", "nbDelete"},
      {"\u2714", "Post edit", "nbPost"},      {"\u2716", "Cancel edit", "nbCancel"},
  };
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  for (int i = 0; i < kButtonCount; ++i) {
    auto* button = new QToolButton(this);
    button->setText(QString::fromUtf8(faces[i].glyph));
    button->setToolTip(QString::fromUtf8(faces[i].hint));
    button->setObjectName(QString::fromUtf8(faces[i].name));
    button->setAutoRaise(true);
    button->setFixedSize(26, 24);
    connect(button, &QToolButton::clicked, this, [this, i] { BtnClick(static_cast<TButton>(i)); });
    layout->addWidget(button);
    buttons_[static_cast<size_t>(i)] = button;
  }
  UpdateButtons();
}

TDBNavigator::~TDBNavigator() { link_->SetDataSource(nullptr); }

void TDBNavigator::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  UpdateButtons();
}

void TDBNavigator::BtnClick(TButton which) {
  TDataSet* dataSet = link_->DataSet();
  if (!dataSet || !dataSet->Active()) return;
  RunGuarded(this, [&] {
    switch (which) {
      case nbFirst:
        dataSet->First();
        break;
      case nbPrior:
        dataSet->Prior();
        break;
      case nbNext:
        dataSet->Next();
        break;
      case nbLast:
        dataSet->Last();
        break;
      case nbInsert:
        dataSet->Insert();
        break;
      case nbDelete:
        if (Ui().Confirm(this, QStringLiteral("Delete record?"))) dataSet->Delete();
        break;
      case nbPost:
        dataSet->Post();
        break;
      case nbCancel:
        dataSet->Cancel();
        break;
    }
  });
}

void TDBNavigator::UpdateButtons() {
  TDataSet* dataSet = link_->DataSet();
  const bool active = dataSet && dataSet->Active();
  const bool editing = active && (dataSet->State() == dsEdit || dataSet->State() == dsInsert);
  const bool canModify = active && dataSet->CanModify();
  const bool empty = !active || dataSet->IsEmpty();
  buttons_[nbFirst]->setEnabled(active && !dataSet->Bof());
  buttons_[nbPrior]->setEnabled(active && !dataSet->Bof());
  buttons_[nbNext]->setEnabled(active && !dataSet->Eof());
  buttons_[nbLast]->setEnabled(active && !dataSet->Eof());
  buttons_[nbInsert]->setEnabled(canModify);
  buttons_[nbDelete]->setEnabled(canModify && !empty);
  buttons_[nbPost]->setEnabled(editing);
  buttons_[nbCancel]->setEnabled(editing);
}

}  // namespace norvale
