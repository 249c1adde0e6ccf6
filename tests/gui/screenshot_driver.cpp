// gui_screenshot_driver OUT.png [TABLE] [--memo|--progress|--command NAME]:
// the viewer as a person sees it, pictured for scripts/screenshot.sh. It
// runs the real main window, opens TABLE (none: the empty window), and with
// --memo opens the memo window on the first record; without a TABLE,
// --memo writes a small table of notes to picture. --command runs the
// command of that name (TableInfo, TableSetTableType, ...) and pictures the
// window it opens. With --progress it exports TABLE to CSV
// and pictures the progress dialog once it has been up a moment, then
// cancels. The whole screen is grabbed, so the memo window or the dialog is
// in the picture with the main window under it.
#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QProgressDialog>
#include <QScreen>
#include <QTimer>

#include "app/application.h"
#include "app/main_form.h"
#include "tests/gui/gui_support.h"

namespace {

// A memo table with notes worth reading in the picture.
std::string WriteNotesTable(const norvale::test::TTempDir& dir) {
  const std::string path = norvale::test::WriteMemoTable(dir);
  norvale::TDbfTable table;
  table.SetTableName(path);
  table.Open();
  table.Edit();
  table.FieldByName("NOTES").SetAsString(
      "Called on Monday about the spring order.\n"
      "Wants the same terms as last year:\n"
      "  - 30 days net\n"
      "  - delivery to the new warehouse in Leeds\n\n"
      "Send the price list before Friday.");
  table.Post();
  return path;
}

// The real dialogs, but the save dialog answered and the progress dialog
// pictured and cancelled.
class TPictureProgress : public norvale::TUiServices {
 public:
  QString out;
  QString csv;
  bool saved = false;
  QString ChooseSaveFile(QWidget*, const QString&) override { return csv; }
  void ServeProgress(QProgressDialog& dialog, int64_t) override {
    if (taken_ || !dialog.isVisible()) return;
    if (!shown_.isValid()) shown_.start();
    if (shown_.elapsed() < 400) return;
    taken_ = true;
    saved = QGuiApplication::primaryScreen()->grabWindow(0).save(out, "PNG");
    dialog.cancel();
  }

 private:
  QElapsedTimer shown_;
  bool taken_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  norvale::TApplication app(argc, argv);
  QStringList args = app.arguments();
  args.removeFirst();
  const bool memo = args.removeAll(QStringLiteral("--memo")) > 0;
  const bool progress = args.removeAll(QStringLiteral("--progress")) > 0;
  QString command;
  if (const qsizetype at = args.indexOf(QStringLiteral("--command")); at >= 0 && at + 1 < args.size()) {
    command = args.at(at + 1);
    args.remove(at, 2);
  }
  if (args.isEmpty() || (progress && args.size() < 2)) {
    std::fprintf(stderr, "usage: gui_screenshot_driver OUT.png [TABLE] [--memo|--progress]\n");
    return 2;
  }
  const QString out = args.takeFirst();
  norvale::test::TTempDir dir;
  QString table = args.isEmpty() ? QString() : args.first();
  if (table.isEmpty() && memo) table = QString::fromStdString(WriteNotesTable(dir));

  norvale::TForm1 form;
  form.show();
  if (!table.isEmpty()) form.HandleCommandLine({table});
  if (memo) form.Action(QStringLiteral("EditMemo"))->trigger();
  if (progress) {
    auto ui = std::make_unique<TPictureProgress>();
    TPictureProgress* picture = ui.get();
    picture->out = out;
    picture->csv = QString::fromStdString(dir.File("export.txt"));
    norvale::SetUi(std::move(ui));
    QTimer::singleShot(500, &form, [&] {
      form.Action(QStringLiteral("FileExportCsv"))->trigger();
      app.exit(picture->saved ? 0 : 1);
    });
    return app.exec();
  }
  if (!command.isEmpty()) {
    QAction* action = form.Action(command);
    if (!action) {
      std::fprintf(stderr, "no command %s\n", qPrintable(command));
      return 2;
    }
    // The command's window is modal: it is pictured and closed from
    // within its own event loop.
    QTimer::singleShot(1200, &form, [&] {
      const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(out, "PNG");
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      app.exit(saved ? 0 : 1);
    });
    QTimer::singleShot(300, &form, [action] { action->trigger(); });
    return app.exec();
  }
  // Pictured once everything has painted.
  QTimer::singleShot(800, &form, [&] {
    const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(out, "PNG");
    app.exit(saved ? 0 : 1);
  });
  return app.exec();
}
