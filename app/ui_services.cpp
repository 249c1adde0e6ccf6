#include "app/ui_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>

#include "dataset/dataset.h"

namespace norvale {

namespace {
std::unique_ptr<TUiServices>& Services() {
  static std::unique_ptr<TUiServices> services = std::make_unique<TUiServices>();
  return services;
}

QString Title() { return QStringLiteral("Norvale"); }
}  // namespace

void TUiServices::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, Title(), text, QMessageBox::Ok);
}

void TUiServices::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, Title(), text, QMessageBox::Ok);
}

bool TUiServices::Confirm(QWidget* parent, const QString& text) {
  return QMessageBox::question(parent, Title(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

bool TUiServices::AskText(QWidget* parent, const QString& label, QString& value) {
  bool ok = false;
  const QString typed = QInputDialog::getText(parent, Title(), label, QLineEdit::Normal, value, &ok);
  if (ok) value = typed;
  return ok;
}

QString TUiServices::ChooseOpenFile(QWidget* parent, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(), QtFileFilter(filter));
}

QString TUiServices::ChooseSaveFile(QWidget* parent, const QString& filter) {
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"), QString(), QtFileFilter(filter));
}

QString TUiServices::ChooseSaveFileType(QWidget* parent, const QString& filter, int& type) {
  const QStringList types = QtFileFilter(filter).split(QStringLiteral(";;"));
  QString chosen;
  const QString path =
      QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"), QString(), types.join(QStringLiteral(";;")), &chosen);
  type = static_cast<int>(types.indexOf(chosen)) + 1;
  return path;
}

bool TUiServices::SetUpPrinter(QWidget* parent, QPrinter& printer) {
  QPrintDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

void TUiServices::ServeProgress(QProgressDialog&, int64_t) {}

bool TUiServices::ChooseFont(QWidget* parent, QFont& font) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font, parent);
  if (ok) font = chosen;
  return ok;
}

int TUiServices::ExecDialog(QDialog& dialog) { return dialog.exec(); }

bool TUiServices::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

TUiServices& Ui() { return *Services(); }

std::unique_ptr<TUiServices> SetUi(std::unique_ptr<TUiServices> services) {
  std::unique_ptr<TUiServices> old = std::move(Services());
  Services() = services ? std::move(services) : std::make_unique<TUiServices>();
  return old;
}

void ShowExceptionBox(QWidget* parent, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    // A handler chose to stop; it has said why, if it wanted to.
  } catch (const std::exception& e) {
    Ui().ShowError(parent, QString::fromUtf8(e.what()));
  } catch (...) {
    Ui().ShowError(parent, QStringLiteral("Unknown error"));
  }
}

bool RunGuarded(QWidget* parent, const std::function<void()>& command) {
  try {
    command();
    return true;
  } catch (...) {
    ShowExceptionBox(parent, std::current_exception());
    return false;
  }
}

void OpenHelpPage(QWidget* parent, const QUrl& url) {
  if (Ui().OpenUrl(url)) return;
  const QString where = url.isLocalFile() ? url.toLocalFile() : url.toString();
  Ui().ShowMessage(parent, QStringLiteral("The page could not be opened in a browser. It is at:\n") + where);
}

QString QtFileFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // Tables come as CUSTOMER.DBF and customer.dbf alike.
    QStringList both;
    for (const QString& p : patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      both << p;
      if (p.toLower() != p) both << p.toLower();
    }
    out << QStringLiteral("%1 (%2)").arg(parts[i], both.join(QLatin1Char(' ')));
  }
  return out.join(QStringLiteral(";;"));
}

QString HelpPageUrl(const QString& page) {
  const qsizetype hash = page.indexOf(QLatin1Char('#'));
  const QString file = hash < 0 ? page : page.left(hash);
  const QString fragment = hash < 0 ? QString() : page.mid(hash + 1);
  QString path = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/norvale/docs/") + file);
  if (!QFileInfo::exists(path)) path = QStringLiteral(NORVALE_DOCS_DIR "/") + file;
  QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
  if (!fragment.isEmpty()) url.setFragment(fragment);
  return url.toString();
}

}  // namespace norvale
