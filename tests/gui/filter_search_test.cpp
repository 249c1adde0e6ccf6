// The filter box, Search Value and the locate window, Change Index and the
// index order menu, as a person drives them: what the grid shows, what the
// labels say and what each failure reports.
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "app/drop_down_combo.h"
#include "app/db_grid.h"
#include "app/dialogs/locate_dialog.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

// towns.dbf: NAME C(10), N N(5), CITY C(12); ten records "r1" 1 ... "r10"
// 10, the odd ones in "Berlin", the even ones in "paris"; with `index`, a
// single-index file names.ndx on NAME beside it.
std::string WriteTowns(const TTempDir& dir, const std::string& name = "towns.dbf", bool index = false) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"N", 'N', 5}, {"CITY", 'C', 12}};
  for (int i = 1; i <= 10; ++i) {
    const std::string n = std::to_string(i);
    t.records.push_back(t.Record({"r" + n, std::string(5 - n.size(), ' ') + n, i % 2 ? "Berlin" : "paris"}));
  }
  const std::string path = dir.File(name);
  WriteFile(path, t.Bytes());
  if (index) {
    TDbfTable table;
    table.SetTableName(path);
    table.SetExclusive(true);
    table.Open();
    table.AddIndex(dir.File("names.ndx"), "NAME");
  }
  return path;
}

// Waits for the grid to know all its rows, then gives their NAME values.
QStringList Shown(TFixture& f) {
  TDbfGridModel* model = f.form->GridModel();
  model->SetScanStep(std::chrono::microseconds(0));
  if (!QTest::qWaitFor([&] { return !model->Scanning(); }, 30000)) return {QStringLiteral("still scanning")};
  QStringList names;
  for (int row = 0; row < model->rowCount(); ++row) names << model->index(row, 0).data().toString().trimmed();
  return names;
}

void Apply(TFixture& f, const QString& text) {
  f.form->Edit2()->setText(text);
  f.Command("SearchApplyFilter")->trigger();
}

const QStringList kAll = {"r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10"};

}  // namespace

class TFilterSearchTest : public QObject {
  Q_OBJECT

 private slots:
  void EnterAppliesTheFilterLikeTheButton();
  void AFilterThatFailsToCompileChangesNothing();
  void AFilterThatFailsOnARecordPutsThePreviousBack();
  void CancelFilterKeepsTheTabsSavedFilter();
  void FiltersIgnoreCaseWhetherTypedBeforeOrAfterOpening();
  void ChangeIndexShowsTheTableInTheFilesOrder();
  void TheOrderMenuListsTheIndexesAndSwitchesBack();
  void LocateFindsTheSameRecordWithAndWithoutAnIndex();
  void LocateSaysWhenNothingMatches();
  void CancelledFilterPutsThePreviousBackQuietly();
  void CommandsNeedAnOpenTable();
};

void TFilterSearchTest::EnterAppliesTheFilterLikeTheButton() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir));
  f.form->Edit2()->setText(QStringLiteral("N > 7"));
  QTest::keyClick(f.form->Edit2(), Qt::Key_Return);
  QCOMPARE(Shown(f), (QStringList{"r8", "r9", "r10"}));
  QCOMPARE(f.form->TabInfo(0)->FilterText, QStringLiteral("N > 7"));
  // The count is the table's, not the filter's.
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 10"));

  Apply(f, QStringLiteral("N > 8 AND CITY = 'Berlin'"));
  QCOMPARE(Shown(f), (QStringList{"r9"}));
  // A filter that hides every record leaves an empty grid, and the count.
  Apply(f, QStringLiteral("N > 100"));
  QCOMPARE(Shown(f), QStringList());
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 10"));
  QVERIFY(!f.Enabled("SearchValue"));
  // An empty box applied shows every record again.
  Apply(f, QString());
  QCOMPARE(Shown(f), kAll);
  QVERIFY(f.ui->log.isEmpty());
}

void TFilterSearchTest::AFilterThatFailsToCompileChangesNothing() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir));
  Apply(f, QStringLiteral("N > 7"));
  QCOMPARE(Shown(f), (QStringList{"r8", "r9", "r10"}));
  for (const QString& bad : {QStringLiteral("N >"), QStringLiteral("NUM > 3"), QStringLiteral("N + 1")}) {
    f.ui->log.clear();
    Apply(f, bad);
    QCOMPARE(f.ui->log.size(), 1);
    QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: Filter error: ")), qPrintable(f.ui->log.front()));
    QVERIFY(f.ui->log.front().size() > QStringLiteral("error: Filter error: ").size());
    QCOMPARE(Shown(f), (QStringList{"r8", "r9", "r10"}));
    QCOMPARE(QString::fromStdString(f.form->Dbf1()->Filter()), QStringLiteral("N > 7"));
    QVERIFY(f.form->Dbf1()->Filtered());
    QCOMPARE(f.form->TabInfo(0)->FilterText, QStringLiteral("N > 7"));
  }
  QVERIFY(f.ui->log.front().contains(QStringLiteral("Filter must be a logical expression.")));
}

void TFilterSearchTest::AFilterThatFailsOnARecordPutsThePreviousBack() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir));
  Apply(f, QStringLiteral("CITY = 'paris'"));
  QCOMPARE(Shown(f), (QStringList{"r2", "r4", "r6", "r8", "r10"}));
  // Record 5 divides by zero: the grid finds out while it looks for rows.
  Apply(f, QStringLiteral("10 / (N - 5) > 1"));
  const QStringList shown = Shown(f);
  QVERIFY2(!f.ui->log.isEmpty(), "no error shown");
  QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: Filter error: ")), qPrintable(f.ui->log.front()));
  QCOMPARE(f.ui->log.size(), 1);
  QCOMPARE(shown, (QStringList{"r2", "r4", "r6", "r8", "r10"}));
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->Filter()), QStringLiteral("CITY = 'paris'"));
  QVERIFY(f.form->Dbf1()->Filtered());
  QCOMPARE(f.form->TabInfo(0)->FilterText, QStringLiteral("CITY = 'paris'"));
  // The table still walks and edits.
  f.Command("EditLast")->trigger();
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->FieldByName("NAME").AsString()).trimmed(), QStringLiteral("r10"));
}

void TFilterSearchTest::CancelFilterKeepsTheTabsSavedFilter() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir));
  Apply(f, QStringLiteral("N <= 2"));
  QCOMPARE(Shown(f), (QStringList{"r1", "r2"}));
  f.Command("SearchCancelFilter")->trigger();
  QVERIFY(f.form->Edit2()->text().isEmpty());
  QVERIFY(!f.form->Dbf1()->Filtered());
  QCOMPARE(Shown(f), kAll);
  QCOMPARE(f.form->TabInfo(0)->FilterText, QStringLiteral("N <= 2"));

  // Another tab, then back: the saved filter is in force again.
  f.Open(WriteTowns(dir, "other.dbf"));
  QCOMPARE(f.Tabs(), 2);
  QCOMPARE(f.form->TabInfo(1)->FilterText, QString());
  QCOMPARE(Shown(f), kAll);
  f.form->TabControl1()->setCurrentIndex(0);
  QCOMPARE(f.form->Edit2()->text(), QStringLiteral("N <= 2"));
  QCOMPARE(Shown(f), (QStringList{"r1", "r2"}));
  // A failed filter on this tab leaves the other tab's saved text alone.
  Apply(f, QStringLiteral("N >"));
  QCOMPARE(f.form->TabInfo(0)->FilterText, QStringLiteral("N <= 2"));
  QCOMPARE(f.form->TabInfo(1)->FilterText, QString());
}

void TFilterSearchTest::FiltersIgnoreCaseWhetherTypedBeforeOrAfterOpening() {
  TTempDir dir;
  TFixture f;
  const std::string towns = WriteTowns(dir);
  f.Open(towns);
  Apply(f, QStringLiteral("CITY = 'PARIS'"));
  QCOMPARE(Shown(f), (QStringList{"r2", "r4", "r6", "r8", "r10"}));
  // A trailing star matches the beginning only.
  Apply(f, QStringLiteral("CITY = 'ber*'"));
  QCOMPARE(Shown(f), (QStringList{"r1", "r3", "r5", "r7", "r9"}));
  // Applied again as the tab's table opens: the same records.
  f.Open(WriteTowns(dir, "other.dbf"));
  f.form->TabControl1()->setCurrentIndex(0);
  QCOMPARE(f.form->Edit2()->text(), QStringLiteral("CITY = 'ber*'"));
  QCOMPARE(Shown(f), (QStringList{"r1", "r3", "r5", "r7", "r9"}));

  // In a window where no filter was applied yet, a filter in force at
  // open ignores case too.
  TFixture g;
  g.Open(towns);
  g.Open(WriteTowns(dir, "third.dbf"));
  g.form->TabInfo(0)->FilterText = QStringLiteral("CITY = 'BERLIN'");
  g.form->TabControl1()->setCurrentIndex(0);
  QCOMPARE(Shown(g), (QStringList{"r1", "r3", "r5", "r7", "r9"}));
}

void TFilterSearchTest::ChangeIndexShowsTheTableInTheFilesOrder() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir, "towns.dbf", true));
  QCOMPARE(f.form->Label3()->text(), QStringLiteral("Index: "));
  f.ui->files << QString::fromStdString(dir.File("names.ndx"));
  f.Command("ViewChangeIndex")->trigger();
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));
  const QStringList byName = {"r1", "r10", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9"};
  QCOMPARE(Shown(f), byName);
  QVERIFY(f.form->Label3()->text().startsWith(QStringLiteral("Index: ")));
  QVERIFY2(f.form->Label3()->text().contains(QStringLiteral("names.ndx"), Qt::CaseInsensitive),
           qPrintable(f.form->Label3()->text()));
  // Filter and order together.
  Apply(f, QStringLiteral("CITY = 'paris'"));
  QCOMPARE(Shown(f), (QStringList{"r10", "r2", "r4", "r6", "r8"}));

  // An edit that moves a record's key moves its row.
  TDbfGridModel* model = f.form->GridModel();
  QVERIFY(model->setData(model->index(0, 0), QStringLiteral("r99")));
  f.Command("EditSave")->trigger();
  QCOMPARE(Shown(f), (QStringList{"r2", "r4", "r6", "r8", "r99"}));

  // Choosing the file again keeps it the order; a file that is no index says so.
  f.ui->files << QString::fromStdString(dir.File("names.ndx"));
  f.Command("ViewChangeIndex")->trigger();
  QVERIFY(f.ui->log.isEmpty());
  WriteFile(dir.File("junk.ndx"), std::vector<uint8_t>(100, 0x41));
  f.ui->files << QString::fromStdString(dir.File("junk.ndx"));
  f.Command("ViewChangeIndex")->trigger();
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log.front().startsWith(QStringLiteral("error: ")));
  QCOMPARE(Shown(f), (QStringList{"r2", "r4", "r6", "r8", "r99"}));
  // Cancelled, the dialog does nothing.
  f.Command("ViewChangeIndex")->trigger();
  QCOMPARE(f.ui->log.size(), 1);
}

void TFilterSearchTest::TheOrderMenuListsTheIndexesAndSwitchesBack() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir, "towns.dbf", true));
  f.ui->files << QString::fromStdString(dir.File("names.ndx"));
  f.Command("ViewChangeIndex")->trigger();
  QMenu* menu = f.form->findChild<QMenu*>(QStringLiteral("ViewIndexOrder"));
  QVERIFY(menu);
  QVERIFY(menu->isEnabled());
  emit menu->aboutToShow();
  QStringList captions;
  QAction* recordOrder = nullptr;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    captions << a->text();
    if (a->text() == QStringLiteral("Record Order")) recordOrder = a;
  }
  QCOMPARE(captions.size(), 2);
  QVERIFY(captions[1].compare(QStringLiteral("names.ndx"), Qt::CaseInsensitive) == 0);
  QVERIFY(recordOrder && !recordOrder->isChecked());
  recordOrder->trigger();
  QCOMPARE(Shown(f), kAll);
  QCOMPARE(f.form->Label3()->text(), QStringLiteral("Index: "));
  f.Command("FileClose")->trigger();
  QVERIFY(!menu->isEnabled());
}

void TFilterSearchTest::LocateFindsTheSameRecordWithAndWithoutAnIndex() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir, "towns.dbf", true));
  TLocateDialog* locate = f.form->LocateDialog();
  QString field = QStringLiteral("NAME");
  QString value;
  QStringList filled;
  f.ui->onDialog = [&](QDialog& dialog) {
    if (&dialog != locate) return int(QDialog::Rejected);
    filled.clear();
    for (int i = 0; i < locate->FieldCombo()->count(); ++i) filled << locate->FieldCombo()->itemText(i);
    locate->FieldCombo()->setEditText(field);
    locate->ValueEdit()->setText(value);
    return locate->Apply() ? int(QDialog::Accepted) : int(QDialog::Rejected);
  };
  auto found = [&](const QString& v) {
    value = v;
    f.Command("SearchValue")->trigger();
    return QString::fromStdString(f.form->Dbf1()->FieldByName("NAME").AsString()).trimmed();
  };
  // Case-insensitive and partial are the window's defaults.
  QVERIFY(locate->CaseInsensitive()->isChecked() && locate->PartialSearch()->isChecked());
  const QString linearR1 = found(QStringLiteral("R1"));
  QCOMPARE(filled, (QStringList{"NAME", "N", "CITY"}));
  const QString linearR5 = found(QStringLiteral("r5"));
  f.ui->files << QString::fromStdString(dir.File("names.ndx"));
  f.Command("ViewChangeIndex")->trigger();
  QVERIFY(!f.form->Dbf1()->IndexName().empty());
  QCOMPARE(found(QStringLiteral("R1")), linearR1);
  QCOMPARE(found(QStringLiteral("r5")), linearR5);
  QCOMPARE(linearR1, QStringLiteral("r1"));
  QCOMPARE(linearR5, QStringLiteral("r5"));
  // An exact, case-sensitive search over the index.
  locate->CaseInsensitive()->setChecked(false);
  locate->PartialSearch()->setChecked(false);
  QCOMPARE(found(QStringLiteral("r10")), QStringLiteral("r10"));
  // The label counts in the index's order: r10 is second.
  QCOMPARE(f.form->Label7()->text(), QStringLiteral("Record: 2"));
  // On another field, with a filter on.
  Apply(f, QStringLiteral("N > 3"));
  field = QStringLiteral("CITY");
  locate->CaseInsensitive()->setChecked(true);
  QCOMPARE(found(QStringLiteral("berlin")), QStringLiteral("r5"));
  QVERIFY(f.ui->log.isEmpty());
}

void TFilterSearchTest::LocateSaysWhenNothingMatches() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTowns(dir));
  TLocateDialog* locate = f.form->LocateDialog();
  QString field = QStringLiteral("NAME");
  QString value;
  f.ui->onDialog = [&](QDialog&) {
    locate->FieldCombo()->setEditText(field);
    locate->ValueEdit()->setText(value);
    return locate->Apply() ? int(QDialog::Accepted) : int(QDialog::Rejected);
  };
  f.Command("EditNext")->trigger();
  f.Command("EditNext")->trigger();
  value = QStringLiteral("zz");
  f.Command("SearchValue")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Value not found.")});
  // The partial search matches beginnings only; exact only whole values.
  value = QStringLiteral("1");
  f.Command("SearchValue")->trigger();
  QCOMPARE(f.ui->log.size(), 2);
  locate->PartialSearch()->setChecked(false);
  value = QStringLiteral("r");
  f.Command("SearchValue")->trigger();
  QCOMPARE(f.ui->log.size(), 3);
  QCOMPARE(f.ui->log.back(), QStringLiteral("message: Value not found."));
  // A field the table does not have is an error, not a miss.
  field = QStringLiteral("NOPE");
  f.Command("SearchValue")->trigger();
  QCOMPARE(f.ui->log.size(), 4);
  QVERIFY(f.ui->log.back().startsWith(QStringLiteral("error: ")));
}

void TFilterSearchTest::CancelledFilterPutsThePreviousBackQuietly() {
  // Enough records that looking for the first match takes a while.
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"N", 'N', 5}};
  for (int i = 1; i <= 20000; ++i) t.records.push_back(t.Record({"r" + std::to_string(i), std::to_string(i)}));
  WriteFile(dir.File("many.dbf"), t.Bytes());
  TFixture f;
  f.Open(dir.File("many.dbf"));
  Apply(f, QStringLiteral("N < 3"));
  QCOMPARE(Shown(f), (QStringList{"r1", "r2"}));
  f.ui->onProgress = [](QProgressDialog& dialog, int64_t) { dialog.cancel(); };
  Apply(f, QStringLiteral("N > 19990"));
  QVERIFY(f.ui->progressServed > 0);
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->Filter()), QStringLiteral("N < 3"));
  QCOMPARE(f.form->TabInfo(0)->FilterText, QStringLiteral("N < 3"));
  QCOMPARE(Shown(f), (QStringList{"r1", "r2"}));
  QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
  // A Visual Count through a filter that rejects long runs stops as soon.
  f.ui->onProgress = nullptr;
  Apply(f, QStringLiteral("N > 19990 OR N = 1"));
  const int served = f.ui->progressServed;
  f.ui->onProgress = [](QProgressDialog& dialog, int64_t) { dialog.cancel(); };
  f.Command("RecordVisualCount")->trigger();
  QVERIFY(f.ui->progressServed > served);
  QVERIFY(f.ui->log.isEmpty());
  f.ui->onProgress = nullptr;
  f.Command("RecordVisualCount")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Count=11")});
}

void TFilterSearchTest::CommandsNeedAnOpenTable() {
  TFixture f;
  for (const char* name : {"SearchValue", "SearchApplyFilter", "SearchCancelFilter", "ViewChangeIndex", "ToolSearch"})
    QVERIFY2(!f.Enabled(name), name);
  // The help page is there with or without a table.
  QVERIFY(f.Enabled("SearchFilterHelp"));
  f.Command("SearchFilterHelp")->trigger();
  QCOMPARE(f.ui->urls.size(), 1);
  QVERIFY(f.ui->urls.front().toString().endsWith(QStringLiteral("filter.html")));
  TTempDir dir;
  f.Open(WriteTowns(dir));
  for (const char* name : {"SearchValue", "SearchApplyFilter", "SearchCancelFilter", "ViewChangeIndex", "ToolSearch"})
    QVERIFY2(f.Enabled(name), name);
}

QTEST_MAIN(TFilterSearchTest)
#include "filter_search_test.moc"
