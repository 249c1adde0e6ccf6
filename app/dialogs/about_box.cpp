#include "app/dialogs/about_box.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui_services.h"
#include "dataset/dbf_table.h"

namespace norvale {

TAboutBox::TAboutBox(const QString& versionText, TDbfTable* table, QWidget* parent)
    : QDialog(parent), table_(table) {
  setWindowTitle(QStringLiteral("About"));
  setObjectName(QStringLiteral("AboutBox"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  layout->setSpacing(10);

  auto* product = new QLabel(QStringLiteral("Norvale"), this);
  QFont big = product->font();
  big.setPointSize(big.pointSize() * 3);
  big.setItalic(true);
  big.setBold(true);
  product->setFont(big);
  layout->addWidget(product);

  versionLabel_ = new QLabel(QStringLiteral("Version ") + versionText, this);
  versionLabel_->setObjectName(QStringLiteral("VersionLabel"));
  QFont bold = versionLabel_->font();
  bold.setBold(true);
  versionLabel_->setFont(bold);
  versionLabel_->setCursor(Qt::PointingHandCursor);
  versionLabel_->setToolTip(QStringLiteral("Click for the table engine's version"));
  versionLabel_->installEventFilter(this);
  layout->addWidget(versionLabel_);

  linkLabel_ = new QLabel(this);
  linkLabel_->setObjectName(QStringLiteral("LinkLabel"));
  linkLabel_->setText(QStringLiteral("<a href=\"%1\"><b>Norvale home page</b></a>").arg(HelpPageUrl(QStringLiteral("index.html"))));
  linkLabel_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  linkLabel_->setCursor(Qt::PointingHandCursor);
  connect(linkLabel_, &QLabel::linkActivated, this, [this](const QString& url) { OpenHelpPage(this, QUrl(url)); });
  layout->addWidget(linkLabel_);

  layout->addWidget(new QLabel(QStringLiteral("Check the website for updates and additional information."), this));
  auto* credit = new QLabel(
      QStringLiteral("A viewer and editor for dBASE and FoxPro tables.\nIts table engine reads and writes the "
                     "files itself."),
      this);
  credit->setStyleSheet(QStringLiteral("color: #555;"));
  layout->addWidget(credit);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == versionLabel_ && event->type() == QEvent::MouseButtonRelease) {
    Ui().ShowMessage(this, QStringLiteral("DBF Version: ") + QString::fromStdString(table_->Version()));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace norvale
