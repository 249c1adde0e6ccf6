// TUiServices: every modal exchange the viewer has with the user (message
// boxes, the file and font dialogs, modal windows) and the hand-off of web
// pages to the desktop.
//
// Commands go through Ui() instead of calling QMessageBox and friends
// directly, so that tests can answer them and read what was shown without a
// person at the screen.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include <QFont>
#include <QString>
#include <QUrl>

class QDialog;
class QPrinter;
class QProgressDialog;
class QWidget;

namespace norvale {

class TUiServices {
 public:
  virtual ~TUiServices() = default;
  // The standard error box: a message and an OK button.
  virtual void ShowError(QWidget* parent, const QString& text);
  // An information box.
  virtual void ShowMessage(QWidget* parent, const QString& text);
  // A Yes/No question; true for Yes.
  virtual bool Confirm(QWidget* parent, const QString& text);
  // A one-line text question; false when cancelled. `value` comes in as
  // the proposed answer and goes out as the typed one.
  virtual bool AskText(QWidget* parent, const QString& label, QString& value);
  // The file-open dialog; empty when cancelled. `filter` is in the
  // "Name|*.EXT|Name|*.*" form.
  virtual QString ChooseOpenFile(QWidget* parent, const QString& filter);
  // The file-save dialog; empty when cancelled.
  virtual QString ChooseSaveFile(QWidget* parent, const QString& filter);
  // The same, telling which of the filter's types was chosen: `type` goes
  // out as its position from 1, or 0 when none was.
  virtual QString ChooseSaveFileType(QWidget* parent, const QString& filter, int& type);
  // The print dialog for `printer`; false when cancelled.
  virtual bool SetUpPrinter(QWidget* parent, QPrinter& printer);
  // Called each time long work serves events while its progress dialog
  // is up (shown or not yet); `done` is the work's own count.
  virtual void ServeProgress(QProgressDialog& dialog, int64_t done);
  // The font dialog; false when cancelled.
  virtual bool ChooseFont(QWidget* parent, QFont& font);
  // Runs `dialog` modally and returns its result code.
  virtual int ExecDialog(QDialog& dialog);
  // Opens a page in the default browser; false when the desktop could not.
  virtual bool OpenUrl(const QUrl& url);
};

TUiServices& Ui();
// Replaces the services (tests); returns the ones that were in use.
std::unique_ptr<TUiServices> SetUi(std::unique_ptr<TUiServices> services);

// Shows the error of the exception in flight in the standard error box.
// A quiet abort is not shown.
void ShowExceptionBox(QWidget* parent, std::exception_ptr error);

// Runs a command; whatever it raises goes to the standard error box and the
// program carries on. Returns false when it raised.
bool RunGuarded(QWidget* parent, const std::function<void()>& command);

// The filter of the file dialogs translated to Qt's "Name (*.EXT)" form.
QString QtFileFilter(const QString& filter);

// Opens a help page; when the desktop has no browser for it, says where the
// page is so the user can open it by hand.
void OpenHelpPage(QWidget* parent, const QUrl& url);

// Where the help pages live: the installed copy next to the program when
// there is one, else the source tree's docs/.
QString HelpPageUrl(const QString& page);

}  // namespace norvale
