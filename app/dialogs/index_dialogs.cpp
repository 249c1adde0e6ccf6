#include "app/dialogs/index_dialogs.h"

#include <algorithm>

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/drop_down_combo.h"
#include "app/main_form.h"
#include "app/ui_services.h"
#include "dataset/dbf_table.h"

namespace norvale {

namespace {
// The longest tag name a production index file keeps.
constexpr int kTagNameLength = 10;
constexpr int kFoxProLevel = 25;
}  // namespace

// ---------------------------------------------------------------- Create Index

TCreateIndexDialog::TCreateIndexDialog(TForm1* form, TDbfTable* table, QWidget* parent)
    : QDialog(parent), form_(form), table_(table) {
  setObjectName(QStringLiteral("frmCreateIndex"));
  setWindowTitle(QStringLiteral("Create Index"));
  auto* layout = new QVBoxLayout(this);
  auto* fields = new QFormLayout;
  tableName_ = new QLineEdit(this);
  tableName_->setReadOnly(true);
  tableName_->setStyleSheet(QStringLiteral("QLineEdit { background: palette(window); }"));
  field_ = new TDropDownCombo(this);
  field_->setEditable(true);
  indexName_ = new QLineEdit(this);
  indexName_->installEventFilter(this);
  options_ = new QComboBox(this);
  options_->addItems({QStringLiteral("Ascending"), QStringLiteral("Descending")});
  fields->addRow(QStringLiteral("Table Name"), tableName_);
  fields->addRow(QStringLiteral("Field Name"), field_);
  fields->addRow(QStringLiteral("Index Name"), indexName_);
  fields->addRow(QStringLiteral("Options"), options_);
  layout->addLayout(fields);
  auto* buttons = new QDialogButtonBox(this);
  create_ = buttons->addButton(QStringLiteral("Create Index"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
  help->setEnabled(false);
  connect(create_, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { Create(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(352, 0)));
}

void TCreateIndexDialog::Prepare() {
  const QString typed = field_->currentText();
  field_->clear();
  if (!table_->Active()) {
    tableName_->clear();
    create_->setEnabled(false);
    return;
  }
  tableName_->setText(QFileInfo(QString::fromStdString(table_->TableName())).fileName());
  for (int i = 0; i < table_->FieldCount(); ++i) field_->addItem(QString::fromStdString(table_->Fields(i).FieldName()));
  field_->setEditText(typed);
  create_->setEnabled(table_->CanModify());
}

void TCreateIndexDialog::ProposeName() {
  const QString text = field_->currentText().trimmed();
  if (text.isEmpty() || !table_->Active()) return;
  // An expression makes no name; a field name does, if it fits.
  bool plainField = false;
  for (int i = 0; i < table_->FieldCount(); ++i)
    if (text.compare(QString::fromStdString(table_->Fields(i).FieldName()), Qt::CaseInsensitive) == 0)
      plainField = true;
  if (!plainField) return;
  const QString name = QStringLiteral("IDX_") + text.toUpper();
  if (table_->TableLevel() == kFoxProLevel) {
    indexName_->setText(name + QStringLiteral(".ndx"));
  } else if (name.size() <= kTagNameLength) {
    indexName_->setText(name);
  } else if (text.size() <= kTagNameLength) {
    indexName_->setText(text.toUpper());
  }
}

bool TCreateIndexDialog::Create() {
  const bool created =
      form_->CreateIndex(indexName_->text().trimmed(), field_->currentText().trimmed(), options_->currentIndex() == 1);
  if (created) accept();
  return created;
}

bool TCreateIndexDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == indexName_ && event->type() == QEvent::FocusIn) ProposeName();
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- Indexes

TIndexesDialog::TIndexesDialog(TForm1* form, TDbfTable* table, QWidget* parent)
    : QDialog(parent), form_(form), table_(table) {
  setObjectName(QStringLiteral("frmIndexes"));
  setWindowTitle(QStringLiteral("Indexes"));
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QToolBar(this);
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->setIconSize(QSize(32, 32));
  auto button = [&](const QString& caption, QStyle::StandardPixmap icon, void (TIndexesDialog::*f)()) {
    QAction* a = bar->addAction(style()->standardIcon(icon), caption);
    connect(a, &QAction::triggered, this, [this, f] { RunGuarded(this, [this, f] { (this->*f)(); }); });
    return a;
  };
  button(QStringLiteral("Switch To"), QStyle::SP_ArrowRight, &TIndexesDialog::SwitchTo);
  bar->addSeparator();
  button(QStringLiteral("Add Index"), QStyle::SP_FileDialogNewFolder, &TIndexesDialog::AddIndex);
  button(QStringLiteral("Remove Index"), QStyle::SP_TrashIcon, &TIndexesDialog::RemoveIndex);
  bar->addSeparator();
  button(QStringLiteral("Regenerate"), QStyle::SP_BrowserReload, &TIndexesDialog::Regenerate);
  layout->addWidget(bar);
  list_ = new QListWidget(this);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* menu = new QMenu(this);
  QAction* refresh = menu->addAction(QStringLiteral("Refresh"), this, [this] { Refresh(); });
  refresh->setShortcut(Qt::Key_F5);
  addAction(refresh);
  menu->addAction(QStringLiteral("Switch to"), this, [this] { RunGuarded(this, [this] { SwitchTo(); }); });
  connect(list_, &QListWidget::customContextMenuRequested, this,
          [this, menu](const QPoint& at) { menu->popup(list_->viewport()->mapToGlobal(at)); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { RunGuarded(this, [this] { SwitchTo(); }); });
  layout->addWidget(list_, 1);
  auto* bottom = new QHBoxLayout;
  count_ = new QLabel(QStringLiteral("Count: "), this);
  bottom->addWidget(count_);
  bottom->addStretch(1);
  auto* link = new QLabel(QStringLiteral("<a href=\"%1\">Norvale home page</a>").arg(HelpPageUrl(QStringLiteral("index.html"))),
                          this);
  connect(link, &QLabel::linkActivated, this, [this](const QString& url) { OpenHelpPage(this, QUrl(url)); });
  bottom->addWidget(link);
  layout->addLayout(bottom);
  // Wide enough for every tool button: none hides behind the overflow mark.
  const QMargins m = layout->contentsMargins();
  resize(std::max(335, bar->sizeHint().width() + m.left() + m.right()), 351);
}

void TIndexesDialog::showEvent(QShowEvent* event) {
  Refresh();
  QDialog::showEvent(event);
}

void TIndexesDialog::Refresh() {
  list_->clear();
  try {
    if (table_->Active())
      for (const std::string& name : table_->GetIndexNames()) list_->addItem(QString::fromStdString(name));
    count_->setText(QStringLiteral("Count: ") + QString::number(list_->count()));
  } catch (const std::exception&) {
    count_->setText(QStringLiteral("Count:"));
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
}

QString TIndexesDialog::Selected() const {
  const QListWidgetItem* item = list_->currentItem();
  return item ? item->text() : QString();
}

void TIndexesDialog::SwitchTo() {
  const QString name = Selected();
  if (name.isEmpty()) return;
  form_->SelectOrder(name);
}

void TIndexesDialog::AddIndex() {
  form_->ShowCreateIndex();
  Refresh();
}

void TIndexesDialog::RemoveIndex() {
  const QString name = Selected();
  if (name.isEmpty()) return;
  form_->RemoveIndex(name);
  Refresh();
}

void TIndexesDialog::Regenerate() {
  if (form_->RegenerateIndexes()) Ui().ShowMessage(this, QStringLiteral("Regeneration Complete."));
}

}  // namespace norvale
