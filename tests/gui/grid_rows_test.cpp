// The grid's rows while the scan for live records is still running, and
// after another program appended to a shared table.
#include <chrono>
#include <vector>

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "app/db_grid.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

// Thirty blocks of the scan: every seventh record deleted, and the last.
constexpr int kCount = 30000;
bool DeletedAt(int i) { return i % 7 == 0 || i == kCount; }

std::string WriteLarge(const TTempDir& dir) {
  TTableImage t;
  t.fields = {{"TEXT", 'C', 250}};
  for (int i = 1; i <= kCount; ++i) t.records.push_back(t.Record({std::to_string(i)}, DeletedAt(i)));
  WriteFile(dir.File("large.dbf"), t.Bytes());
  return dir.File("large.dbf");
}

std::vector<int64_t> LiveRecords() {
  std::vector<int64_t> live;
  for (int i = 1; i <= kCount; ++i)
    if (!DeletedAt(i)) live.push_back(i);
  return live;
}

QString CellText(TDbfGridModel* model, int row) { return model->data(model->index(row, 0)).toString().trimmed(); }

// One block per scan step, so the scan is sure to be unfinished when the
// open returns, whatever the machine's speed.
void OpenStepwise(TFixture& f, const std::string& path) {
  f.form->GridModel()->SetScanStep(std::chrono::microseconds(0));
  f.Open(path);
  QVERIFY(f.form->Dbf1()->Active());
}

// Every row shows its record: the rows are the live records in order.
void CheckRows(TDbfGridModel* model, const std::vector<int64_t>& live) {
  QCOMPARE(model->rowCount(), static_cast<int>(live.size()));
  for (int row = 0; row < model->rowCount(); row += 331) {
    QCOMPARE(model->RecNoOfRow(row), live[static_cast<size_t>(row)]);
    QCOMPARE(CellText(model, row), QString::number(live[static_cast<size_t>(row)]));
  }
}

}  // namespace

class TGridRowsTest : public QObject {
  Q_OBJECT

 private slots:
  void FirstScreenComesBeforeTheScanEnds();
  void LastRecordWhileTheScanRuns();
  void EditsAndShowDeletedWhileTheScanRuns();
  void RecordsAnotherProgramAppendedShowAfterRefresh();
};

void TGridRowsTest::FirstScreenComesBeforeTheScanEnds() {
  TTempDir dir;
  const std::string path = WriteLarge(dir);
  const std::vector<int64_t> live = LiveRecords();
  TFixture f;
  TDbfGridModel* model = f.form->GridModel();
  QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
  OpenStepwise(f, path);
  const int first = model->rowCount();
  QVERIFY(first > 30);
  QVERIFY(first < static_cast<int>(live.size()));
  QCOMPARE(CellText(model, 0), QStringLiteral("1"));
  QCOMPARE(CellText(model, 6), QStringLiteral("8"));
  QCOMPARE(model->RecNoOfRow(first - 1), live[static_cast<size_t>(first - 1)]);
  QCOMPARE(model->CurrentRow(), 0);
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: %1").arg(kCount));

  inserted.clear();
  QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), static_cast<int>(live.size()), 60000);
  QVERIFY(inserted.size() > 1);
  CheckRows(model, live);
  QCOMPARE(model->CurrentRow(), 0);
}

void TGridRowsTest::LastRecordWhileTheScanRuns() {
  TTempDir dir;
  const std::string path = WriteLarge(dir);
  const std::vector<int64_t> live = LiveRecords();
  TFixture f;
  OpenStepwise(f, path);
  TDbfGridModel* model = f.form->GridModel();
  QVERIFY(model->rowCount() < static_cast<int>(live.size()));

  f.Command("EditLast")->trigger();
  QCOMPARE(f.form->Dbf1()->FieldByName("TEXT").AsString(), std::to_string(kCount - 1));
  CheckRows(model, live);
  QCOMPARE(model->CurrentRow(), model->rowCount() - 1);
  QCOMPARE(f.form->DBGrid1()->currentIndex().row(), model->rowCount() - 1);
  QCOMPARE(CellText(model, model->rowCount() - 1), QString::number(kCount - 1));

  f.Command("EditFirst")->trigger();
  QCOMPARE(model->CurrentRow(), 0);
  QCOMPARE(f.form->DBGrid1()->currentIndex().row(), 0);
}

void TGridRowsTest::EditsAndShowDeletedWhileTheScanRuns() {
  TTempDir dir;
  const std::string path = WriteLarge(dir);
  std::vector<int64_t> live = LiveRecords();
  TFixture f;
  OpenStepwise(f, path);
  TDbfGridModel* model = f.form->GridModel();
  TViewerTable* table = f.form->Dbf1();

  // A delete behind the scan takes its row out at once.
  const int before = model->rowCount();
  f.Command("EditDelete")->trigger();
  QVERIFY(StoredDeleted(path, 1));
  QCOMPARE(model->rowCount(), before - 1);
  QCOMPARE(CellText(model, 0), QStringLiteral("2"));
  live.erase(live.begin());

  // Deleted records shown: every record is a row, with no scan.
  f.Command("ViewShowDeleted")->trigger();
  QCOMPARE(model->rowCount(), kCount);
  QCOMPARE(CellText(model, kCount - 1), QString::number(kCount));
  f.Command("ViewShowDeleted")->trigger();
  QVERIFY(model->rowCount() < static_cast<int>(live.size()));

  // A record inserted before the current one keeps its row while the scan
  // adds rows after it.
  f.Command("EditInsert")->trigger();
  QCOMPARE(table->State(), dsInsert);
  QCOMPARE(model->CurrentRow(), 0);
  QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), static_cast<int>(live.size()) + 1, 60000);
  QCOMPARE(model->CurrentRow(), 0);
  QCOMPARE(model->RecNoOfRow(0), int64_t(0));
  QCOMPARE(model->RecNoOfRow(1), int64_t(2));
  QCOMPARE(model->RecNoOfRow(model->rowCount() - 1), live.back());
  f.Command("EditCancel")->trigger();
  CheckRows(model, live);

  // An append during a fresh scan finishes the scan and ends the rows.
  f.Command("ViewShowDeleted")->trigger();
  f.Command("ViewShowDeleted")->trigger();
  QVERIFY(model->rowCount() < static_cast<int>(live.size()));
  table->Append();
  QCOMPARE(model->rowCount(), static_cast<int>(live.size()) + 1);
  QCOMPARE(model->CurrentRow(), model->rowCount() - 1);
  table->FieldByName("TEXT").SetAsString("appended");
  table->Post();
  live.push_back(kCount + 1);
  QCOMPARE(model->rowCount(), static_cast<int>(live.size()));
  QCOMPARE(CellText(model, model->rowCount() - 1), QStringLiteral("appended"));
  QCOMPARE(model->CurrentRow(), model->rowCount() - 1);
}

void TGridRowsTest::RecordsAnotherProgramAppendedShowAfterRefresh() {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}};
  t.records = {t.Record({"ann", " 30"}), t.Record({"bob", " 40"}, true)};
  const std::string path = dir.File("shared.dbf");
  WriteFile(path, t.Bytes());
  TFixture f;
  f.Open(path);
  TDbfGridModel* model = f.form->GridModel();
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 2"));
  QCOMPARE(model->rowCount(), 1);

  // Another program, with a table object of its own, appends while the
  // viewer keeps the table open.
  QCOMPARE(RunInChild([&] {
             TDbfTable other;
             other.SetTableName(path);
             other.Open();
             other.Append();
             other.FieldByName("NAME").SetAsString("dan");
             other.FieldByName("AGE").SetAsString("60");
             other.Post();
             other.Close();
           }),
           0);

  f.form->Dbf1()->Refresh();
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 3"));
  QCOMPARE(model->rowCount(), 2);
  QCOMPARE(CellText(model, 1), QStringLiteral("dan"));
  QCOMPARE(model->RecNoOfRow(1), int64_t(3));
  f.Command("EditLast")->trigger();
  QCOMPARE(f.form->Dbf1()->FieldByName("NAME").AsString(), std::string("dan"));
  QCOMPARE(model->CurrentRow(), 1);
}

QTEST_MAIN(TGridRowsTest)
#include "grid_rows_test.moc"
