// Opens a table of a million records in the viewer, offscreen, and times
// the first screen of rows and the move to the last record; the time
// norvale-cli needs to dump the same table is the baseline beside them.
// Usage: viewer_bench [TABLE] [NORVALE_CLI]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QAction>
#include <QApplication>

#include "app/db_grid.h"
#include "app/grid_model.h"
#include "app/main_form.h"
#include "app/ui_services.h"
#include "app/viewer_table.h"
#include "bench/bench_table.h"

namespace {
using TClock = std::chrono::steady_clock;
double Seconds(TClock::time_point from) { return std::chrono::duration<double>(TClock::now() - from).count(); }

class TBenchUi : public norvale::TUiServices {
 public:
  QString file;
  void ShowError(QWidget*, const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
  QString ChooseOpenFile(QWidget*, const QString&) override { return file; }
};
}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string table = argc > 1 ? argv[1] : "/tmp/norvale_viewer_bench_1m.dbf";
  const std::string cli = argc > 2 ? argv[2] : std::string(NORVALE_BINARY_DIR) + "/cli/norvale-cli";
  if (!std::filesystem::exists(table)) norvale::gen::WriteBenchTable(1000000, table);

  auto ui = std::make_unique<TBenchUi>();
  ui->file = QString::fromStdString(table);
  norvale::SetUi(std::move(ui));
  norvale::TForm1 form;
  form.show();
  app.processEvents();

  // Painting the window fetches the rows on screen from the table.
  auto start = TClock::now();
  form.Action(QStringLiteral("FileOpen"))->trigger();
  form.grab();
  const double firstScreen = Seconds(start);
  const int rows = form.GridModel()->rowCount();

  start = TClock::now();
  form.Action(QStringLiteral("EditLast"))->trigger();
  form.grab();
  const double last = Seconds(start);
  const int recNo = form.Dbf1()->RecNo();

  start = TClock::now();
  const std::string command = "'" + cli + "' dump '" + table + "' > /dev/null";
  const int rc = std::system(command.c_str());
  const double dump = Seconds(start);

  std::printf("table: %s, %d visible rows of %d records\n", table.c_str(), rows, form.Dbf1()->RecordCount());
  std::printf("first screen after Open: %.3f s (target 0.2 s)\n", firstScreen);
  std::printf("go to last record (%d): %.3f s (target 0.5 s)\n", recNo, last);
  std::printf("norvale-cli dump of the same table: %.3f s%s\n", dump, rc == 0 ? "" : " (failed)");
  std::printf("first screen / dump: %.3f, last / dump: %.3f\n", firstScreen / dump, last / dump);
  return 0;
}
