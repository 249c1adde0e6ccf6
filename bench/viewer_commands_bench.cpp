// The viewer's filter and its long work on a large table, offscreen: the
// time from Apply Filter (three conditions) to the first painted screen of
// matches, beside the first screen after opening the table without a
// filter and the whole filtered walk of the table object (what a filter
// that judged every record before showing any would cost at least); and
// how long a running Visual Count takes to stop after Cancel is pressed.
// Median of five runs, warm cache.
// Usage: viewer_commands_bench [TABLE] [RECORDS]   (a missing TABLE is generated)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTimer>

#include "app/grid_model.h"
#include "app/main_form.h"
#include "app/ui_services.h"
#include "app/viewer_table.h"
#include "bench/bench_table.h"

namespace {
using TClock = std::chrono::steady_clock;
double Seconds(TClock::time_point from) { return std::chrono::duration<double>(TClock::now() - from).count(); }

constexpr int kRuns = 5;
constexpr const char* kCondition = "NAME = 'J*' AND AMOUNT > 5000 AND DTOS(BORN) >= '19700101'";

class TBenchUi : public norvale::TUiServices {
 public:
  QString file;
  QString message;
  void ShowError(QWidget*, const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
  void ShowMessage(QWidget*, const QString& text) override { message = text; }
  QString ChooseOpenFile(QWidget*, const QString&) override { return file; }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string table = argc > 1 ? argv[1] : "/tmp/norvale_bench_1m.dbf";
  const uint64_t records = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  if (!std::filesystem::exists(table)) norvale::gen::WriteBenchTable(records, table);

  auto owned = std::make_unique<TBenchUi>();
  TBenchUi* ui = owned.get();
  ui->file = QString::fromStdString(table);
  norvale::SetUi(std::move(owned));

  std::vector<double> openScreens, filterScreens, walks, cancelStops, fullCounts;
  int firstRows = 0, matches = 0;
  int64_t counted = 0;
  for (int run = 0; run < kRuns; ++run) {
    norvale::TForm1 form;
    form.show();
    QApplication::processEvents();
    auto start = TClock::now();
    form.Action(QStringLiteral("FileOpen"))->trigger();
    form.grab();
    openScreens.push_back(Seconds(start));

    form.Edit2()->setText(QString::fromLatin1(kCondition));
    start = TClock::now();
    form.Action(QStringLiteral("SearchApplyFilter"))->trigger();
    // Painting the window fetches the rows on screen.
    form.grab();
    filterScreens.push_back(Seconds(start));
    firstRows = form.GridModel()->rowCount();

    // The whole walk through the filter, as a table object of its own does it.
    {
      norvale::TDbfTable walker;
      walker.SetTableName(table);
      walker.SetFilterOptions(norvale::foCaseInsensitive);
      walker.SetFilter(kCondition);
      walker.SetFiltered(true);
      start = TClock::now();
      walker.Open();
      int n = 0;
      for (walker.First(); !walker.Eof(); walker.Next()) ++n;
      walks.push_back(Seconds(start));
      matches = n;
    }

    // Visual Count over every record: once to the end, then with Cancel
    // pressed half way. The press reaches the dialog only when the count
    // next serves the window, so the stop is timed from the moment of the
    // press, not from its delivery.
    form.Action(QStringLiteral("SearchCancelFilter"))->trigger();
    start = TClock::now();
    form.Action(QStringLiteral("RecordVisualCount"))->trigger();
    const double whole = Seconds(start);
    fullCounts.push_back(whole);
    ui->message.clear();
    const auto pressAt = std::chrono::milliseconds(static_cast<int>(whole * 500));
    QTimer::singleShot(pressAt, Qt::PreciseTimer, &form, [&form] {
      if (auto* dialog = form.findChild<QProgressDialog*>()) dialog->cancel();
    });
    start = TClock::now();
    form.Action(QStringLiteral("RecordVisualCount"))->trigger();
    const double stopped = Seconds(start) - std::chrono::duration<double>(pressAt).count();
    if (ui->message.isEmpty()) {
      cancelStops.push_back(stopped);
    } else {
      std::fprintf(stderr, "Visual Count ended before Cancel (%s)\n", qPrintable(ui->message));
    }
    counted = form.Dbf1()->RecordCount();
  }

  std::printf("table: %s, %lld records; filter %s: %d matches, %d rows known at the first screen\n", table.c_str(),
              static_cast<long long>(counted), kCondition, matches, firstRows);
  std::printf("median of %d runs, warm cache\n", kRuns);
  const double filterScreen = Median(filterScreens);
  const double walk = Median(walks);
  std::printf("Apply Filter to first screen of matches: %.3f s (target 0.3 s)\n", filterScreen);
  std::printf("baseline, first screen after Open without a filter: %.3f s\n", Median(openScreens));
  std::printf("baseline, whole filtered walk of the table object: %.3f s (first screen / walk: %.3f)\n", walk,
              filterScreen / walk);
  std::printf("Visual Count of every record, to the end: %.3f s\n", Median(fullCounts));
  if (!cancelStops.empty())
    std::printf("Visual Count, Cancel pressed half way: stopped %.3f s after the press (target 0.2 s, %zu runs)\n",
                Median(cancelStops), cancelStops.size());
  return 0;
}
