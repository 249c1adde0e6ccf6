// Opens a large table in the viewer, offscreen, with the file evicted from
// the page cache first, as when a person opens it for the first time; times
// the first screen after the open command, the move to the last record
// while the live-row scan still runs, and the scan that goes on between
// events with the longest wait it makes an event suffer. Reading the whole
// file from a cold cache, which an open that scanned every record first
// would cost at least, is the baseline beside them. Median of three runs.
// Usage: viewer_bench [TABLE] [RECORDS]   (a missing TABLE is generated)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

constexpr int kRuns = 3;

class TBenchUi : public norvale::TUiServices {
 public:
  QString file;
  void ShowError(QWidget*, const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
  QString ChooseOpenFile(QWidget*, const QString&) override { return file; }
};

// Drops the file's pages from the page cache, so the next read comes from
// the disk. The pages are clean (the viewer only reads), so the kernel can
// let them go.
void Evict(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fdatasync(fd);
  if (::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) std::fprintf(stderr, "warning: eviction refused\n");
  ::close(fd);
}

double ColdRead(const std::string& path) {
  Evict(path);
  const auto start = TClock::now();
  const int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buffer(1 << 20);
  while (fd >= 0 && ::read(fd, buffer.data(), buffer.size()) > 0) {
  }
  if (fd >= 0) ::close(fd);
  return Seconds(start);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct TRun {
  double firstScreen = 0;
  double lastDuringScan = 0;
  double scan = 0;
  double longestWait = 0;
  int firstRows = 0;
  int rows = 0;
  int lastRecNo = 0;
  int records = 0;
};

// Opens the table cold in a fresh window and returns the time to the first
// painted screen; `after` then measures what follows.
double OpenCold(const std::string& table, const std::function<void(norvale::TForm1&)>& after) {
  Evict(table);
  norvale::TForm1 form;
  form.show();
  QApplication::processEvents();
  const auto start = TClock::now();
  // Painting the window fetches the rows on screen from the table.
  form.Action(QStringLiteral("FileOpen"))->trigger();
  form.grab();
  const double firstScreen = Seconds(start);
  after(form);
  return firstScreen;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string table = argc > 1 ? argv[1] : "/tmp/norvale_viewer_bench_10m.dbf";
  const uint64_t records = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 10000000;
  if (!std::filesystem::exists(table)) norvale::gen::WriteBenchTable(records, table);

  auto ui = std::make_unique<TBenchUi>();
  ui->file = QString::fromStdString(table);
  norvale::SetUi(std::move(ui));

  std::vector<TRun> runs(kRuns);
  std::vector<double> coldReads;
  for (TRun& run : runs) {
    run.firstScreen = OpenCold(table, [&](norvale::TForm1& form) {
      run.firstRows = form.GridModel()->rowCount();
      // Going to the last record finishes the scan first.
      const auto start = TClock::now();
      form.Action(QStringLiteral("EditLast"))->trigger();
      form.grab();
      run.lastDuringScan = Seconds(start);
      run.lastRecNo = form.Dbf1()->RecNo();
    });
    // Left alone, the scan runs between events; each pass of the event loop
    // is a wait a key press or a repaint could have had.
    OpenCold(table, [&](norvale::TForm1& form) {
      const auto start = TClock::now();
      while (form.GridModel()->Scanning()) {
        const auto pass = TClock::now();
        QApplication::processEvents();
        run.longestWait = std::max(run.longestWait, Seconds(pass));
      }
      run.scan = Seconds(start);
      run.rows = form.GridModel()->rowCount();
      run.records = form.Dbf1()->RecordCount();
    });
    coldReads.push_back(ColdRead(table));
  }

  auto median = [&](double TRun::*field) {
    std::vector<double> values;
    for (const TRun& run : runs) values.push_back(run.*field);
    return Median(values);
  };
  const double firstScreen = median(&TRun::firstScreen);
  const double last = median(&TRun::lastDuringScan);
  const double scan = median(&TRun::scan);
  const double cold = Median(coldReads);
  const TRun& r = runs.back();
  std::printf("table: %s, %d records, %d live rows (%d known at the first screen)\n", table.c_str(), r.records,
              r.rows, r.firstRows);
  std::printf("median of %d runs, page cache evicted before each open\n", kRuns);
  std::printf("first screen after Open: %.3f s (target 0.2 s)\n", firstScreen);
  std::printf("go to last record (%d) while the scan runs: %.3f s\n", r.lastRecNo, last);
  std::printf("scan between events: %.3f s, longest wait of an event %.1f ms\n", scan,
              1000 * median(&TRun::longestWait));
  std::printf("baseline, cold read of the whole file: %.3f s\n", cold);
  std::printf("first screen / cold read: %.4f, last / cold read: %.3f, scan / cold read: %.3f\n", firstScreen / cold,
              last / cold, scan / cold);
  return 0;
}
