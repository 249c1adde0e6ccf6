// Which commands the main window offers when, and what it keeps for each
// tab: the enabled states follow the table through opening, closing, tab
// switches, edits and empty tables; a tab comes back where it was left.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "app/db_controls.h"
#include "app/db_grid.h"
#include "app/dialogs/form_view.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

const char* const kRecordCommands[] = {"EditFirst",  "EditPrevious", "EditNext",       "EditLast",
                                       "EditInsert", "EditDelete",   "EditSave",       "EditCancel",
                                       "EditMemo",   "RecordUndelete", "GridIsDeleted"};
const char* const kTableCommands[] = {"ToolForm",       "ViewFormView",  "ViewColumns",  "ToolColumns",
                                      "ViewGotoColumn", "ViewResizeAll", "ToolResizeAll"};

// numbers.dbf: NAME C(10), N N(5), CITY C(12); `count` records "r1" 1 ...
std::string WriteNumbered(const TTempDir& dir, const std::string& name, int count) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"N", 'N', 5}, {"CITY", 'C', 12}};
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    t.records.push_back(t.Record({"r" + n, std::string(5 - n.size(), ' ') + n, "city"}));
  }
  WriteFile(dir.File(name), t.Bytes());
  return dir.File(name);
}

}  // namespace

class TCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void NothingToActOnWithoutATable();
  void EditCommandsFollowTheTableState();
  void EmptyTableHasNothingToDeleteOrAsk();
  void UndeleteOnlyOnADeletedRecord();
  void CountFollowsPostsAndReopens();
  void EachTabComesBackWhereItWasLeft();
  void FormViewIsFilledFromEveryEntryPoint();
  void FormViewCutsNoValue();
  void EnlargeKeepsTheWindowOnItsScreen();
  void AHelpPageThatCannotOpenSaysWhereItIs();
};

void TCommandsTest::NothingToActOnWithoutATable() {
  TFixture f;
  for (const char* name : kRecordCommands) QVERIFY2(!f.Enabled(name), name);
  for (const char* name : kTableCommands) QVERIFY2(!f.Enabled(name), name);
  QVERIFY(!f.Enabled("FileClose"));
  QVERIFY(f.Enabled("ViewShowDeleted"));
  QVERIFY(f.Enabled("FileOpen"));
  // Export, Import and the reports need a table, and none still waits for a later version.
  const char* const output[] = {"FileExport", "FileImport", "FilePrint", "FilePrintPreview", "ToolExport",
                                "ToolImport", "ToolPrint"};
  for (const char* name : output) QVERIFY2(!f.Enabled(name), name);
  TTempDir dir;
  f.Open(WritePeople(dir));
  for (const char* name : output) {
    QVERIFY2(f.Enabled(name), name);
    QVERIFY2(f.Command(name)->toolTip() != QStringLiteral("Arrives with a later version"), name);
  }
  for (const char* name : kTableCommands) QVERIFY2(f.Enabled(name), name);
  QVERIFY(f.Enabled("FileClose"));

  // Closing the last tab takes them all away again.
  f.Command("FileClose")->trigger();
  for (const char* name : kRecordCommands) QVERIFY2(!f.Enabled(name), name);
  for (const char* name : kTableCommands) QVERIFY2(!f.Enabled(name), name);
  QVERIFY(!f.Enabled("FileClose"));
  QVERIFY(f.ui->log.isEmpty());
}

void TCommandsTest::EditCommandsFollowTheTableState() {
  TTempDir dir;
  TFixture f;
  f.Open(WritePeople(dir));
  TDBNavigator* nav = f.form->DBNavigator1();
  // On the first record of three, in browse state.
  QVERIFY(!f.Enabled("EditFirst") && !f.Enabled("EditPrevious"));
  QVERIFY(f.Enabled("EditNext") && f.Enabled("EditLast"));
  QVERIFY(f.Enabled("EditInsert") && f.Enabled("EditDelete") && f.Enabled("GridIsDeleted"));
  QVERIFY(!f.Enabled("EditSave") && !f.Enabled("EditCancel"));
  QVERIFY(!f.Enabled("EditMemo"));  // no memo field to show
  QVERIFY(!nav->Button(TDBNavigator::nbPost)->isEnabled());

  f.Command("EditLast")->trigger();
  QVERIFY(f.Enabled("EditFirst") && f.Enabled("EditPrevious"));
  QVERIFY(!f.Enabled("EditNext") && !f.Enabled("EditLast"));

  // An edit typed into the grid offers Save and Cancel, wherever it began.
  TDbfGridModel* model = f.form->GridModel();
  QVERIFY(model->setData(model->index(0, 0), QStringLiteral("amy")));
  QVERIFY(f.Enabled("EditSave") && f.Enabled("EditCancel"));
  QVERIFY(nav->Button(TDBNavigator::nbPost)->isEnabled());
  f.Command("EditCancel")->trigger();
  QVERIFY(!f.Enabled("EditSave") && !f.Enabled("EditCancel"));

  // The tool bar's twins follow their menu commands.
  f.Command("FileClose")->trigger();
  QVERIFY(!f.Enabled("ToolColumns") && !f.Enabled("ToolResizeAll"));
}

void TCommandsTest::EmptyTableHasNothingToDeleteOrAsk() {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}};
  WriteFile(dir.File("empty.dbf"), t.Bytes());
  TFixture f;
  f.Open(dir.File("empty.dbf"));
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.Enabled("EditDelete"));
  QVERIFY(!f.Enabled("GridIsDeleted"));
  QVERIFY(!f.Enabled("EditNext") && !f.Enabled("EditFirst"));
  QVERIFY(!f.Enabled("RecordUndelete"));
  QVERIFY(f.Enabled("EditInsert"));

  // A record being added is something to save or cancel, not yet to delete.
  f.Command("EditInsert")->trigger();
  QVERIFY(f.Enabled("EditSave") && f.Enabled("EditCancel"));
  f.Command("EditCancel")->trigger();
  QVERIFY(!f.Enabled("EditDelete"));
  QVERIFY(f.ui->log.isEmpty());
}

void TCommandsTest::UndeleteOnlyOnADeletedRecord() {
  TTempDir dir;
  TFixture f;
  f.Open(WritePeople(dir, "people.dbf", true));
  f.Command("ViewShowDeleted")->trigger();
  QVERIFY(!f.Enabled("RecordUndelete"));
  f.Command("EditNext")->trigger();  // bob, deleted
  QVERIFY(f.Enabled("RecordUndelete"));
  f.Command("RecordUndelete")->trigger();
  // Recalled: nothing left to undelete, the edit waits to be saved.
  QVERIFY(!f.Enabled("RecordUndelete"));
  QVERIFY(f.Enabled("EditSave"));
  f.Command("EditSave")->trigger();
  f.Command("EditDelete")->trigger();
  QVERIFY(f.Enabled("RecordUndelete"));
}

void TCommandsTest::CountFollowsPostsAndReopens() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  const std::string other = WritePeople(dir, "other.dbf");
  TFixture f;
  f.Open(path);
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 3"));
  f.Command("EditInsert")->trigger();
  TDbfGridModel* model = f.form->GridModel();
  QVERIFY(model->setData(model->index(model->CurrentRow(), 0), QStringLiteral("dee")));
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 3"));
  f.Command("EditSave")->trigger();
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 4"));
  // The navigator's insert and post are counted the same way.
  f.form->DBNavigator1()->BtnClick(TDBNavigator::nbInsert);
  QVERIFY(model->setData(model->index(model->CurrentRow(), 0), QStringLiteral("eve")));
  f.form->DBNavigator1()->BtnClick(TDBNavigator::nbPost);
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 5"));

  // Records added by someone else show when the tab's table is opened again.
  f.Open(other);
  {
    TDbfTable writer;
    writer.SetTableName(path);
    writer.Open();
    writer.Append();
    writer.FieldByName("NAME").SetAsString("fay");
    writer.Post();
  }
  f.form->TabControl1()->setCurrentIndex(0);
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 6"));
  QCOMPARE(model->rowCount(), 6);
}

void TCommandsTest::EachTabComesBackWhereItWasLeft() {
  TTempDir dir;
  const std::string many = WriteNumbered(dir, "many.dbf", 300);
  const std::string few = WriteNumbered(dir, "few.dbf", 5);
  TFixture f;
  f.form->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
  TDBGrid* grid = f.form->DBGrid1();
  f.Open(many);
  f.form->Dbf1()->SetRecNo(150);
  grid->setColumnHidden(1, true);
  grid->setColumnWidth(2, 141);
  grid->SetSelectedColumn(2);
  QVERIFY(grid->verticalScrollBar()->maximum() > 0);
  grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->value() - 7);
  const int scrolled = grid->verticalScrollBar()->value();

  f.Open(few);
  QVERIFY(!grid->isColumnHidden(1));
  f.form->Dbf1()->SetRecNo(4);

  f.form->TabControl1()->setCurrentIndex(0);
  QCOMPARE(f.form->Dbf1()->RecNo(), 150);
  QCOMPARE(f.form->Label7()->text(), QStringLiteral("Record: 150"));
  QVERIFY(grid->isColumnHidden(1));
  QCOMPARE(grid->columnWidth(2), 141);
  QCOMPARE(grid->SelectedColumn(), 2);
  QCOMPARE(grid->verticalScrollBar()->value(), scrolled);

  // The other tab kept its own place, and none of the first tab's columns.
  f.form->TabControl1()->setCurrentIndex(1);
  QCOMPARE(f.form->Dbf1()->RecNo(), 4);
  QVERIFY(!grid->isColumnHidden(1));
  QVERIFY(grid->columnWidth(2) != 141);

  // A record deleted meanwhile by someone else is not gone back to.
  {
    TDbfTable writer;
    writer.SetTableName(many);
    writer.Open();
    writer.SetRecNo(150);
    writer.Delete();
  }
  f.form->TabControl1()->setCurrentIndex(0);
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->IsDeleted());
  QVERIFY(f.ui->log.isEmpty());
}

void TCommandsTest::FormViewIsFilledFromEveryEntryPoint() {
  TTempDir dir;
  const std::string memo = WriteMemoTable(dir);
  const std::string people = WritePeople(dir);
  TFixture f;
  TFormView* view = f.form->FormView();
  QWidget* box = view->ScrollBox();
  auto editorText = [&](int i) { return box->findChild<TDBEdit*>(QStringLiteral("tbl%1").arg(i))->text().trimmed(); };

  // F12 on a table never built for.
  f.Open(memo);
  f.Command("ViewFormView")->trigger();
  QVERIFY(view->isVisible());
  QCOMPARE(editorText(0), QStringLiteral("first"));
  QCOMPARE(box->findChild<QLineEdit*>(QStringLiteral("lbl2"))->y(), 157);

  // Another tab's table rebuilds the open form for its own fields.
  f.Open(people);
  QVERIFY(view->isVisible());
  QCOMPARE(box->findChild<QLineEdit*>(QStringLiteral("lbl1"))->text(), QStringLiteral("AGE"));
  QCOMPARE(editorText(0), QStringLiteral("ann"));
  QVERIFY(!box->findChild<QWidget*>(QStringLiteral("tbl2")));

  // The grid menu's entry is the same command; after a close it builds anew.
  view->close();
  QVERIFY(!view->HasEditors());
  QVERIFY(f.form->GridMenu()->actions().contains(f.Command("ViewFormView")));
  f.form->TabControl1()->setCurrentIndex(0);
  f.Command("ViewFormView")->trigger();
  QCOMPARE(editorText(2), QStringLiteral("1"));

  // Closing the last table closes the form rather than leaving it empty.
  f.Command("FileClose")->trigger();
  f.Command("FileClose")->trigger();
  QVERIFY(view->isHidden());
}

void TCommandsTest::FormViewCutsNoValue() {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"CODE", 'C', 1}, {"WORD", 'C', 8}, {"OK", 'L', 1}, {"NOTE", 'C', 6}};
  t.records.push_back(t.Record({"W", "WWWWWWWW", "T", "hidden"}));
  WriteFile(dir.File("narrow.dbf"), t.Bytes());
  TFixture f;
  f.Open(dir.File("narrow.dbf"));
  TDBGrid* grid = f.form->DBGrid1();
  // Squeezed and hidden columns are what would cut values in the form.
  grid->horizontalHeader()->setMinimumSectionSize(1);
  grid->setColumnWidth(0, 3);
  grid->setColumnWidth(1, 20);
  grid->setColumnWidth(2, 2);
  grid->setColumnHidden(3, true);
  f.Command("ToolForm")->trigger();
  QWidget* box = f.form->FormView()->ScrollBox();
  for (int i = 0; i < 4; ++i) {
    auto* edit = box->findChild<TDBEdit*>(QStringLiteral("tbl%1").arg(i));
    QVERIFY(edit);
    QCOMPARE(edit->y(), 45 + 18 * i);
    const int needed = edit->fontMetrics().horizontalAdvance(edit->text()) + 4;
    QVERIFY2(edit->width() >= needed, qPrintable(QStringLiteral("%1: %2 < %3").arg(i).arg(edit->width()).arg(needed)));
  }
  QCOMPARE(box->findChild<TDBEdit*>(QStringLiteral("tbl3"))->text().trimmed(), QStringLiteral("hidden"));
}

void TCommandsTest::EnlargeKeepsTheWindowOnItsScreen() {
  TFixture f;
  const QRect room = f.form->screen()->availableGeometry();
  // Near the bottom right corner, most of the screen's size.
  f.form->resize(room.width() * 9 / 10, room.height() * 9 / 10);
  f.form->move(room.right() - f.form->width() / 2, room.bottom() - f.form->height() / 2);
  f.Command("ViewEnlarge")->trigger();
  QVERIFY(room.contains(f.form->frameGeometry()));
  QVERIFY(f.form->width() > room.width() * 9 / 10);
  f.Command("ViewEnlarge")->trigger();
  QVERIFY(room.contains(f.form->frameGeometry()));
  // Reducing from there shrinks and stays where it is.
  const QPoint at = f.form->pos();
  f.Command("ViewReduce")->trigger();
  QVERIFY(room.contains(f.form->frameGeometry()));
  QCOMPARE(f.form->pos(), at);
}

void TCommandsTest::AHelpPageThatCannotOpenSaysWhereItIs() {
  TFixture f;
  f.ui->urlsOpen = false;
  f.Command("HelpForum")->trigger();
  QCOMPARE(f.ui->urls.size(), 1);
  QCOMPARE(f.ui->log.size(), 1);
  const QString page = f.ui->urls[0].toLocalFile();
  QVERIFY(page.endsWith(QStringLiteral("community.html")));
  QVERIFY2(f.ui->log[0].startsWith(QStringLiteral("message: ")) && f.ui->log[0].contains(page),
           qPrintable(f.ui->log[0]));

  emit f.form->SocialLink()->linkActivated(HelpPageUrl(QStringLiteral("community.html")));
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY(f.ui->log[1].contains(page));

  // A browser that opens the page leaves nothing to say.
  f.ui->urlsOpen = true;
  emit f.form->HomeLink()->linkActivated(HelpPageUrl(QStringLiteral("index.html")));
  QCOMPARE(f.ui->log.size(), 2);
}

QTEST_MAIN(TCommandsTest)
#include "commands_test.moc"
