#include "app/dialogs/form_view.h"

#include <QCloseEvent>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/db_controls.h"
#include "app/db_grid.h"
#include "app/grid_model.h"
#include "app/ui_services.h"
#include "dataset/dbf_table.h"
#include "engine/exceptions.h"

namespace norvale {

namespace {
constexpr int kTop = 45;
constexpr int kRowStep = 18;
constexpr int kMemoExtra = 76;
constexpr int kMemoHeight = 95;
constexpr int kCaptionLeft = 12;
constexpr int kCaptionWidth = 110;
constexpr int kEditorLeft = 120;
// What a frameless line edit keeps around its text: the text margins and
// room for the cursor.
constexpr int kEditPadding = 8;

// The width in which any value of `field` shows whole: a column squeezed
// narrow in the grid, or hidden there, must not cut it here.
int ValueWidth(const TField& field, const QFontMetrics& metrics) {
  const TFieldType type = field.DataType();
  const bool digits = IsNumericType(type) || type == ftDate || type == ftDateTime;
  const QChar widest = digits ? QLatin1Char('0') : QLatin1Char('W');
  const int chars = std::max(1, field.DisplayWidth());
  return metrics.horizontalAdvance(QString(chars, widest)) + kEditPadding;
}
}  // namespace

void TFormView::PrintImage() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(windowTitle());
  if (!Ui().SetUpPrinter(this, printer)) return;
  QPainter painter;
  if (!painter.begin(&printer)) throw EDbfError("Cannot print: the printer could not be started.");
  // The window's image, as large as the page allows and never distorted.
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  const QRect area(QPoint(0, 0), page.size());
  const double scale = std::min(double(area.width()) / width(), double(area.height()) / height());
  painter.scale(scale, scale);
  render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
  painter.end();
}

TFormView::TFormView(TDataSource* source, QWidget* parent) : QDialog(parent, Qt::Window), source_(source) {
  setWindowTitle(QStringLiteral("Form View"));
  setObjectName(QStringLiteral("FormView"));
  setModal(false);
  resize(784, 584);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* pages = new QTabWidget(this);
  auto* page = new QWidget(pages);
  pages->addTab(page, QStringLiteral("All Fields"));
  auto* pageLayout = new QVBoxLayout(page);

  auto* top = new QHBoxLayout;
  navigator_ = new TDBNavigator(page);
  navigator_->SetDataSource(source);
  top->addWidget(navigator_);
  auto* print = new QPushButton(QStringLiteral("\U0001F5B6"), page);
  print->setToolTip(QStringLiteral("Print"));
  print->setObjectName(QStringLiteral("FormPrint"));
  connect(print, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { PrintImage(); }); });
  top->addWidget(print);
  auto* close = new QPushButton(QStringLiteral("\u2716"), page);
  close->setToolTip(QStringLiteral("Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  top->addWidget(close);
  top->addStretch();
  pageLayout->addLayout(top);

  scroll_ = new QScrollArea(page);
  box_ = new QWidget;
  box_->setObjectName(QStringLiteral("ScrollBox1"));
  scroll_->setWidget(box_);
  scroll_->setWidgetResizable(false);
  pageLayout->addWidget(scroll_, 1);

  auto* link = new QLabel(
      QStringLiteral("<a href=\"%1\">Norvale home page</a>").arg(HelpPageUrl(QStringLiteral("index.html"))), this);
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  connect(link, &QLabel::linkActivated, this, [this](const QString& url) { OpenHelpPage(this, QUrl(url)); });
  layout->addWidget(pages, 1);
  layout->addWidget(link);
}

void TFormView::RemoveEditors() {
  const auto children = box_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    // Unbind at once: a control waiting for deletion must not follow the
    // table any more.
    if (auto* edit = qobject_cast<TDBEdit*>(child)) edit->SetDataSource(nullptr);
    if (auto* memo = qobject_cast<TDBMemo*>(child)) memo->SetDataSource(nullptr);
    child->hide();
    child->setParent(nullptr);
    child->deleteLater();
  }
  box_->resize(0, 0);
}

bool TFormView::HasEditors() const { return box_->findChild<QWidget*>(QString(), Qt::FindDirectChildrenOnly) != nullptr; }

void TFormView::Build(TDBGrid* grid, TDbfTable* table) {
  RemoveEditors();
  QAbstractItemModel* model = grid->model();
  if (!model) return;
  const int formWidth = width();
  int extra = 0;
  int bottom = 0;
  int right = 0;
  for (int i = 0; i < model->columnCount(); ++i) {
    const int top = kRowStep * i + extra + kTop;
    const QString fieldName = model->headerData(i, Qt::Horizontal).toString();
    auto* caption = new QLineEdit(fieldName, box_);
    caption->setObjectName(QStringLiteral("lbl%1").arg(i));
    caption->setFrame(false);
    caption->setReadOnly(true);
    caption->setStyleSheet(QStringLiteral("background: rgb(215,215,215);"));
    caption->setGeometry(kCaptionLeft, top, kCaptionWidth, kRowStep);

    TField* field = table->FindField(fieldName.toStdString());
    int width = grid->isColumnHidden(i) ? 0 : grid->columnWidth(i);
    if (width >= formWidth) width = formWidth - 300;
    QWidget* editor = nullptr;
    if (field && field->IsBlob()) {
      width = std::max(width, 300);
      auto* memo = new TDBMemo(box_);
      memo->setFrameShape(QFrame::NoFrame);
      memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      memo->SetDataSource(source_);
      memo->SetDataField(fieldName.toStdString());
      memo->setGeometry(kEditorLeft, top, width, kMemoHeight);
      editor = memo;
      extra += kMemoExtra;
    } else {
      auto* edit = new TDBEdit(box_);
      edit->setFrame(false);
      edit->SetDataSource(source_);
      edit->SetDataField(fieldName.toStdString());
      if (field) width = std::max(width, ValueWidth(*field, edit->fontMetrics()));
      edit->setGeometry(kEditorLeft, top, width, kRowStep);
      editor = edit;
    }
    editor->setObjectName(QStringLiteral("tbl%1").arg(i));
    caption->show();
    editor->show();
    bottom = std::max(bottom, editor->geometry().bottom());
    right = std::max(right, editor->geometry().right());
  }
  box_->resize(right + 12, bottom + 12);
}

void TFormView::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  box_->update();
}

void TFormView::closeEvent(QCloseEvent* event) {
  RemoveEditors();
  QDialog::closeEvent(event);
}

}  // namespace norvale
