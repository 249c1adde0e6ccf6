// The main window driven as a user drives it: start-up, tabs, the grid,
// the record commands, the windows they open.
#include <memory>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QTreeWidget>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>

#include "app/db_controls.h"
#include "app/db_grid.h"
#include "app/dialogs/columns_dialog.h"
#include "app/dialogs/form_view.h"
#include "app/dialogs/memo_editor.h"
#include "app/dialogs/select_field.h"
#include "app/drop_down_combo.h"
#include "app/grid_model.h"
#include "app/main_form.h"
#include "app/viewer_table.h"
#include "dataset/dbf_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

class TMainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void StartWithRelativePathOpensAbsolute();
  void StartWithFullHidesToolbarAndMaximises();
  void StartWithMissingFileOpensNothingSilently();
  void StartWithBadTableShowsErrorAndNoTab();
  void TabsStayParallelToTheirRecords();
  void ClosingTheLastTabThenCloseAgain();
  void InvalidFileIsReportedAndGetsNoTab();
  void TheTwoHundredFiftySeventhTableIsRefused();
  void GridHidesAndShowsDeletedRecords();
  void GridEditIsWrittenWhenTheRowIsLeft();
  void NavigatorDeleteAsksButEditMenuDoesNot();
  void IsDeletedAndUndelete();
  void SaveAndCancelInBrowseDoNothing();
  void FormViewPlacesRowsBelowAMemo();
  void ResizeAllGivesEqualWidths();
  void MemoPanelEditsTheMemo();
  void MemoWindowEditsTheMemo();
  void OneWheelNotchMovesOneRecord();
  void ToolbarAndStatusbarFollowTheirCheckMarks();
  void SelectFieldAndColumnsDialog();
  void QuickOpenNamesItsTab();
  void LinksOpenTheHelpPages();
  void EnlargeThenReduce();
};

void TMainWindowTest::StartWithRelativePathOpensAbsolute() {
  TTempDir dir;
  WritePeople(dir);
  TFixture f;
  const QString old = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(dir.Path()));
  f.form->HandleCommandLine({QStringLiteral("people.dbf")});
  QDir::setCurrent(old);
  const QString absolute = QString::fromStdString(dir.File("people.dbf"));
  QCOMPARE(f.Tabs(), 1);
  QCOMPARE(f.TabText(0), QStringLiteral("people.dbf"));
  QCOMPARE(f.form->TabInfo(0)->Path, absolute);
  QCOMPARE(f.form->TabInfo(0)->FileName, QStringLiteral("people.dbf"));
  QVERIFY(f.form->TabInfo(0)->FilterText.isEmpty());
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - ") + absolute);
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 3"));
  QCOMPARE(f.form->Label3()->text(), QStringLiteral("Index: "));
  QCOMPARE(f.form->Label7()->text(), QStringLiteral("Record: 1"));
  QCOMPARE(f.form->Label6()->text(), QStringLiteral("Version 1.70"));
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(f.ui->log.isEmpty());
  QVERIFY(!f.form->isMaximized());
  QVERIFY(!f.form->CoolBar1()->isHidden());
}

void TMainWindowTest::StartWithFullHidesToolbarAndMaximises() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.form->HandleCommandLine({QString::fromStdString(path), QStringLiteral("/full")});
  QCOMPARE(f.Tabs(), 1);
  QVERIFY(f.form->CoolBar1()->isHidden());
  QVERIFY(!f.form->Action(QStringLiteral("ViewShowToolbar"))->isChecked());
  QVERIFY(!f.form->Action(QStringLiteral("ViewShowStatusbar"))->isChecked());
  QVERIFY(f.form->statusBar()->isHidden());
  QVERIFY(f.form->windowState() & Qt::WindowMaximized);
}

void TMainWindowTest::StartWithMissingFileOpensNothingSilently() {
  TTempDir dir;
  TFixture f;
  f.form->HandleCommandLine({QString::fromStdString(dir.File("none.dbf")), QStringLiteral("/FULL")});
  QCOMPARE(f.Tabs(), 0);
  QVERIFY(!f.form->Dbf1()->Active());
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale"));
  QVERIFY(f.ui->log.isEmpty());
  QVERIFY(!f.form->CoolBar1()->isHidden());
}

void TMainWindowTest::StartWithBadTableShowsErrorAndNoTab() {
  TTempDir dir;
  WriteFile(dir.File("bad.dbf"), {'n', 'o', 't', ' ', 'a', ' ', 't', 'a', 'b', 'l', 'e'});
  TFixture f;
  f.form->HandleCommandLine({QString::fromStdString(dir.File("bad.dbf")), QStringLiteral("/FULL")});
  QCOMPARE(f.Tabs(), 0);
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log[0].startsWith(QStringLiteral("error: ")));
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale"));
  QVERIFY(!f.form->CoolBar1()->isHidden());
}

void TMainWindowTest::TabsStayParallelToTheirRecords() {
  TTempDir dir;
  const std::string a = WritePeople(dir, "a.dbf");
  const std::string b = WritePeople(dir, "b.dbf");
  TFixture f;
  f.Open(a);
  f.Open(b);
  f.Open(a);
  QCOMPARE(f.Tabs(), 3);
  QCOMPARE(f.TabText(0), QStringLiteral("a.dbf"));
  QCOMPARE(f.TabText(2), QStringLiteral("a.dbf"));
  TDBFInfo* first = f.form->TabInfo(0);
  TDBFInfo* second = f.form->TabInfo(1);
  TDBFInfo* third = f.form->TabInfo(2);
  QVERIFY(first != third);
  QCOMPARE(f.form->TabControl1()->currentIndex(), 2);
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - ") + QString::fromStdString(a));

  // The user picks the middle tab: its table is opened.
  f.form->TabControl1()->setCurrentIndex(1);
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - ") + QString::fromStdString(b));
  QCOMPARE(f.form->Edit1()->text(), QStringLiteral("b.dbf"));
  QVERIFY(f.form->Dbf1()->Active());

  // Closing it removes exactly that tab and that record.
  f.form->Action(QStringLiteral("FileClose"))->trigger();
  QCOMPARE(f.Tabs(), 2);
  QCOMPARE(f.form->TabInfo(0), first);
  QCOMPARE(f.form->TabInfo(1), third);
  for (int i = 0; i < f.Tabs(); ++i) QCOMPARE(f.TabText(i), f.form->TabInfo(i)->FileName);
  Q_UNUSED(second);

  // Closing the first of the two equal tabs leaves the other.
  f.form->TabControl1()->setCurrentIndex(0);
  f.form->Action(QStringLiteral("FileClose"))->trigger();
  QCOMPARE(f.Tabs(), 1);
  QCOMPARE(f.form->TabInfo(0), third);
  QVERIFY(f.ui->log.isEmpty());
}

void TMainWindowTest::ClosingTheLastTabThenCloseAgain() {
  TTempDir dir;
  const std::string a = WritePeople(dir, "a.dbf");
  TFixture f;
  f.Open(a);
  f.form->Action(QStringLiteral("FileClose"))->trigger();
  QCOMPARE(f.Tabs(), 0);
  QVERIFY(!f.form->Dbf1()->Active());
  QCOMPARE(f.form->GridModel()->rowCount(), 0);
  QVERIFY(f.ui->log.isEmpty());
  // With no tab there is nothing to close: the command is off, and run
  // anyway it does nothing.
  QVERIFY(!f.form->Action(QStringLiteral("FileClose"))->isEnabled());
  f.form->CloseCommand();
  QVERIFY(f.ui->log.isEmpty());
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale"));
}

void TMainWindowTest::InvalidFileIsReportedAndGetsNoTab() {
  TTempDir dir;
  const std::string a = WritePeople(dir, "a.dbf");
  WriteFile(dir.File("junk.dbf"), std::vector<uint8_t>(300, 0x41));
  TFixture f;
  f.Open(a);
  f.Open(dir.File("junk.dbf"));
  QCOMPARE(f.Tabs(), 1);
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY2(f.ui->log[0].startsWith(QStringLiteral("error: Error openning DBF File with: ")), qPrintable(f.ui->log[0]));
  QVERIFY(f.ui->log[0].size() > QStringLiteral("error: Error openning DBF File with: ").size());
  // The tab that stays selected has its table again.
  QVERIFY(f.form->Dbf1()->Active());
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - ") + QString::fromStdString(a));
  // A cancelled file dialog adds nothing.
  f.form->Action(QStringLiteral("FileOpen"))->trigger();
  QCOMPARE(f.Tabs(), 1);
}

void TMainWindowTest::TheTwoHundredFiftySeventhTableIsRefused() {
  TTempDir dir;
  const std::string a = WritePeople(dir, "a.dbf");
  TFixture f;
  for (int i = 0; i < TForm1::kMaxTabs; ++i) f.Open(a);
  QCOMPARE(f.Tabs(), 256);
  QVERIFY(f.ui->log.isEmpty());
  f.Open(a);
  QCOMPARE(f.Tabs(), 256);
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: Too many tables open (256).")});
}

void TMainWindowTest::GridHidesAndShowsDeletedRecords() {
  TTempDir dir;
  const std::string path = WritePeople(dir, "people.dbf", true);
  TFixture f;
  f.Open(path);
  TDbfGridModel* model = f.form->GridModel();
  QCOMPARE(model->rowCount(), 2);
  QCOMPARE(model->columnCount(), 2);
  QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("NAME"));
  QCOMPARE(model->data(model->index(1, 0)).toString().trimmed(), QStringLiteral("cy"));
  // Shading follows the record number: record 3 odd, plain; record 2 shaded.
  QVERIFY(!model->data(model->index(1, 0), Qt::BackgroundRole).isValid());

  f.form->Action(QStringLiteral("ViewShowDeleted"))->trigger();
  QVERIFY(f.form->Dbf1()->ShowDeleted());
  QCOMPARE(model->rowCount(), 3);
  const QModelIndex bob = model->index(1, 0);
  QCOMPARE(model->data(bob).toString().trimmed(), QStringLiteral("bob"));
  QCOMPARE(model->data(bob, Qt::ForegroundRole).value<QColor>(), QColor(128, 0, 0));
  QVERIFY(model->data(bob, Qt::FontRole).value<QFont>().strikeOut());
  QCOMPARE(model->data(bob, Qt::BackgroundRole).value<QColor>(), QColor(238, 243, 247));
  QVERIFY(!model->data(model->index(0, 0), Qt::ForegroundRole).isValid());

  f.form->Action(QStringLiteral("ViewShowDeleted"))->trigger();
  QCOMPARE(model->rowCount(), 2);
}

void TMainWindowTest::GridEditIsWrittenWhenTheRowIsLeft() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  TDbfGridModel* model = f.form->GridModel();
  TDBGrid* grid = f.form->DBGrid1();
  QVERIFY(model->setData(model->index(1, 0), QStringLiteral("zed")));
  // The edit moved the table to the row and holds it there, unposted.
  QCOMPARE(f.form->Dbf1()->State(), dsEdit);
  QCOMPARE(f.form->Dbf1()->RecNo(), 2);
  QCOMPARE(grid->currentIndex().row(), 1);
  QCOMPARE(model->data(model->index(1, 0)).toString().trimmed(), QStringLiteral("zed"));
  QCOMPARE(StoredValue(path, 2, "NAME"), std::string("bob"));

  grid->setCurrentIndex(model->index(2, 0));
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  QCOMPARE(f.form->Dbf1()->RecNo(), 3);
  QCOMPARE(StoredValue(path, 2, "NAME"), std::string("zed"));
  QCOMPARE(f.form->Label7()->text(), QStringLiteral("Record: 3"));

  // A value the field cannot take is reported, and nothing is edited.
  QVERIFY(!model->setData(model->index(2, 1), QStringLiteral("abc")));
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log[0].startsWith(QStringLiteral("error: ")));
}

void TMainWindowTest::NavigatorDeleteAsksButEditMenuDoesNot() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  TDBNavigator* nav = f.form->DBNavigator1();
  f.ui->confirmAnswer = false;
  QTest::mouseClick(nav->Button(TDBNavigator::nbDelete), Qt::LeftButton);
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: Delete record?")});
  QVERIFY(!StoredDeleted(path, 1));
  QCOMPARE(f.form->GridModel()->rowCount(), 3);

  f.ui->confirmAnswer = true;
  QTest::mouseClick(nav->Button(TDBNavigator::nbDelete), Qt::LeftButton);
  QVERIFY(StoredDeleted(path, 1));
  QCOMPARE(f.form->GridModel()->rowCount(), 2);
  QCOMPARE(f.form->Dbf1()->RecNo(), 2);
  QCOMPARE(f.form->DBGrid1()->currentIndex().row(), 0);

  f.ui->log.clear();
  f.form->Action(QStringLiteral("EditDelete"))->trigger();
  QVERIFY(f.ui->log.isEmpty());
  QVERIFY(StoredDeleted(path, 2));
  QCOMPARE(f.form->GridModel()->rowCount(), 1);
  QCOMPARE(f.form->GridModel()->data(f.form->GridModel()->index(0, 0)).toString().trimmed(), QStringLiteral("cy"));
}

void TMainWindowTest::IsDeletedAndUndelete() {
  TTempDir dir;
  const std::string path = WritePeople(dir, "people.dbf", true);
  TFixture f;
  f.Open(path);
  QAction* isDeleted = f.form->Action(QStringLiteral("GridIsDeleted"));
  isDeleted->trigger();
  f.form->Action(QStringLiteral("ViewShowDeleted"))->trigger();
  f.form->Action(QStringLiteral("EditNext"))->trigger();
  QCOMPARE(f.form->Dbf1()->RecNo(), 2);
  isDeleted->trigger();
  QCOMPARE(f.ui->log, (QStringList{QStringLiteral("message: Not deleted"), QStringLiteral("message: Deleted")}));

  f.form->Action(QStringLiteral("RecordUndelete"))->trigger();
  QVERIFY(!StoredDeleted(path, 2));
  // Undelete leaves the record in edit until the user saves.
  QCOMPARE(f.form->Dbf1()->State(), dsEdit);
  f.form->Action(QStringLiteral("EditSave"))->trigger();
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  QVERIFY(!f.form->GridModel()->data(f.form->GridModel()->index(1, 0), Qt::ForegroundRole).isValid());
  f.form->Action(QStringLiteral("ViewShowDeleted"))->trigger();
  QCOMPARE(f.form->GridModel()->rowCount(), 3);
}

void TMainWindowTest::SaveAndCancelInBrowseDoNothing() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  const std::vector<uint8_t> before = ReadFile(path);
  f.form->Action(QStringLiteral("EditSave"))->trigger();
  f.form->Action(QStringLiteral("EditCancel"))->trigger();
  QVERIFY(f.ui->log.isEmpty());
  QVERIFY(ReadFile(path) == before);

  // Insert shows a new row, Cancel takes it away again.
  f.form->Action(QStringLiteral("EditLast"))->trigger();
  f.form->Action(QStringLiteral("EditInsert"))->trigger();
  QCOMPARE(f.form->GridModel()->rowCount(), 4);
  QCOMPARE(f.form->Label7()->text(), QStringLiteral("Record: 0"));
  f.form->Action(QStringLiteral("EditCancel"))->trigger();
  QCOMPARE(f.form->GridModel()->rowCount(), 3);
  QVERIFY(ReadFile(path) == before);

  // An inserted record typed into the grid lands at the end of the file.
  f.form->Action(QStringLiteral("EditInsert"))->trigger();
  TDbfGridModel* model = f.form->GridModel();
  const int row = model->CurrentRow();
  QVERIFY(model->setData(model->index(row, 0), QStringLiteral("dee")));
  f.form->Action(QStringLiteral("EditSave"))->trigger();
  QCOMPARE(model->rowCount(), 4);
  QCOMPARE(model->data(model->index(3, 0)).toString().trimmed(), QStringLiteral("dee"));
  QCOMPARE(StoredValue(path, 4, "NAME"), std::string("dee"));
  QCOMPARE(f.form->DBGrid1()->currentIndex().row(), 3);
}

void TMainWindowTest::FormViewPlacesRowsBelowAMemo() {
  TTempDir dir;
  const std::string path = WriteMemoTable(dir);
  TFixture f;
  // Without a table the Form command builds nothing.
  f.form->Action(QStringLiteral("ToolForm"))->trigger();
  QVERIFY(f.form->FormView()->isHidden());
  f.Open(path);
  f.form->Action(QStringLiteral("ToolForm"))->trigger();
  TFormView* view = f.form->FormView();
  QVERIFY(view->isVisible());
  QWidget* box = view->ScrollBox();
  const int expected[] = {45, 63, 157};
  for (int i = 0; i < 3; ++i) {
    auto* caption = box->findChild<QLineEdit*>(QStringLiteral("lbl%1").arg(i));
    QWidget* editor = box->findChild<QWidget*>(QStringLiteral("tbl%1").arg(i));
    QVERIFY(caption && editor);
    QCOMPARE(caption->y(), expected[i]);
    QCOMPARE(editor->y(), expected[i]);
    QCOMPARE(caption->x(), 12);
    QCOMPARE(editor->x(), 120);
  }
  QCOMPARE(box->findChild<QLineEdit*>(QStringLiteral("lbl1"))->text(), QStringLiteral("NOTES"));
  auto* memo = qobject_cast<TDBMemo*>(box->findChild<QWidget*>(QStringLiteral("tbl1")));
  QVERIFY(memo);
  QCOMPARE(memo->height(), 95);
  QVERIFY(memo->width() >= 300);
  auto* name = qobject_cast<TDBEdit*>(box->findChild<QWidget*>(QStringLiteral("tbl0")));
  QVERIFY(name);
  QCOMPARE(name->text().trimmed(), QStringLiteral("first"));
  // The editors follow the table.
  f.form->Action(QStringLiteral("EditNext"))->trigger();
  QCOMPARE(name->text().trimmed(), QStringLiteral("second"));

  // Closing removes them; Form View from the menu builds them again rather
  // than showing an empty window.
  view->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(!box->findChild<QWidget*>(QStringLiteral("tbl0")));
  f.form->Action(QStringLiteral("ViewFormView"))->trigger();
  QVERIFY(view->isVisible());
  QCOMPARE(box->findChild<QLineEdit*>(QStringLiteral("lbl2"))->y(), 157);
}

void TMainWindowTest::ResizeAllGivesEqualWidths() {
  TTempDir dir;
  TFixture f;
  TDBGrid* grid = f.form->DBGrid1();
  // No table: nothing to do, and nothing fails.
  f.form->Action(QStringLiteral("ViewResizeAll"))->trigger();
  QVERIFY(f.ui->log.isEmpty());

  grid->setFixedWidth(825);
  f.Open(WriteWide(dir, 4));
  QCOMPARE(grid->width(), 825);
  f.form->Action(QStringLiteral("ToolResizeAll"))->trigger();
  for (int c = 0; c < 4; ++c) QCOMPARE(grid->columnWidth(c), 200);

  f.Open(WriteWide(dir, 40));
  f.form->Action(QStringLiteral("ViewResizeAll"))->trigger();
  for (int c = 0; c < 40; ++c) QCOMPARE(grid->columnWidth(c), 50);
}

void TMainWindowTest::MemoPanelEditsTheMemo() {
  TTempDir dir;
  const std::string path = WriteMemoTable(dir);
  TFixture f;
  f.Open(path);
  QVERIFY(f.form->MemoPanel()->isHidden());
  f.form->CheckBox1()->setChecked(true);
  QVERIFY(!f.form->MemoPanel()->isHidden());
  TDropDownCombo* combo = f.form->MemoFieldCombo();
  combo->OnDropDown();
  QCOMPARE(combo->count(), 1);
  QCOMPARE(combo->itemText(0), QStringLiteral("NOTES"));
  emit combo->textActivated(QStringLiteral("NOTES"));
  TDBMemo* memo = f.form->PanelMemo();
  QCOMPARE(memo->DataField(), std::string("NOTES"));

  memo->setFocus();
  memo->setPlainText(QStringLiteral("line one\nline two"));
  QCOMPARE(f.form->Dbf1()->State(), dsEdit);
  // Moving on posts the memo with the record.
  f.form->Action(QStringLiteral("EditNext"))->trigger();
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  // A memo that had no line breaks gets those of the DOS programs that
  // read these files.
  QCOMPARE(QByteArray::fromStdString(StoredValue(path, 1, "NOTES")), QByteArray("line one\r\nline two"));
  QVERIFY(memo->toPlainText().isEmpty());
  f.form->Action(QStringLiteral("EditFirst"))->trigger();
  QCOMPARE(memo->toPlainText(), QStringLiteral("line one\nline two"));
  QCOMPARE(f.form->GridModel()->data(f.form->GridModel()->index(0, 1)).toString(), QStringLiteral("(MEMO)"));
  QCOMPARE(f.form->GridModel()->data(f.form->GridModel()->index(1, 1)).toString(), QStringLiteral("(memo)"));

  f.form->CheckBox1()->setChecked(false);
  QVERIFY(f.form->MemoPanel()->isHidden());
}

void TMainWindowTest::MemoWindowEditsTheMemo() {
  TTempDir dir;
  const std::string path = WriteMemoTable(dir);
  TFixture f;
  f.Open(path);
  f.form->DBGrid1()->SetSelectedColumn(1);
  f.form->Action(QStringLiteral("EditMemo"))->trigger();
  TMemoEditor* editor = f.form->MemoEditor();
  QVERIFY(editor->isVisible());
  QCOMPARE(editor->windowTitle(), QStringLiteral("Memo field"));
  QCOMPARE(editor->DBMemo1()->DataField(), std::string("NOTES"));
  editor->DBMemo1()->setPlainText(QStringLiteral("from the window"));
  f.form->Action(QStringLiteral("EditSave"))->trigger();
  QCOMPARE(StoredValue(path, 1, "NOTES"), std::string("from the window"));
  // Another tab's table takes the window over: it shows that table's memo.
  f.Open(path);
  QVERIFY(editor->isVisible());
  QCOMPARE(editor->DBMemo1()->DataField(), std::string("NOTES"));
  QCOMPARE(editor->DBMemo1()->toPlainText(), QStringLiteral("from the window"));
}

void TMainWindowTest::OneWheelNotchMovesOneRecord() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  f.form->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
  QWidget* viewport = f.form->DBGrid1()->viewport();
  const QPointF at(20, 20);
  auto wheel = [&](int delta) {
    QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &event);
  };
  wheel(-120);
  QCOMPARE(f.form->Dbf1()->RecNo(), 2);
  QCOMPARE(f.form->Label7()->text(), QStringLiteral("Record: 2"));
  wheel(-120);
  QCOMPARE(f.form->Dbf1()->RecNo(), 3);
  wheel(120);
  QCOMPARE(f.form->Dbf1()->RecNo(), 2);
  // Half notches add up to one.
  wheel(60);
  QCOMPARE(f.form->Dbf1()->RecNo(), 2);
  wheel(60);
  QCOMPARE(f.form->Dbf1()->RecNo(), 1);
}

void TMainWindowTest::ToolbarAndStatusbarFollowTheirCheckMarks() {
  TFixture f;
  f.form->show();
  QAction* toolbar = f.form->Action(QStringLiteral("ViewShowToolbar"));
  QAction* statusbar = f.form->Action(QStringLiteral("ViewShowStatusbar"));
  QVERIFY(toolbar->isChecked() && statusbar->isChecked());
  toolbar->trigger();
  QVERIFY(!toolbar->isChecked());
  QVERIFY(f.form->CoolBar1()->isHidden());
  statusbar->trigger();
  QVERIFY(f.form->statusBar()->isHidden());
  toolbar->trigger();
  statusbar->trigger();
  QVERIFY(f.form->CoolBar1()->isVisible());
  QVERIFY(f.form->statusBar()->isVisible());
  // Commands that act on a table are there, and off without one.
  QVERIFY(!f.form->Action(QStringLiteral("SearchValue"))->isEnabled());
  QVERIFY(!f.form->Action(QStringLiteral("TablePack"))->isEnabled());
  QCOMPARE(f.form->Action(QStringLiteral("FileOpen"))->shortcut(), QKeySequence(Qt::Key_F2));
  QCOMPARE(f.form->Action(QStringLiteral("ViewFormView"))->shortcut(), QKeySequence(Qt::Key_F12));
  QCOMPARE(f.form->size(), QSize(1121, 731));
}

void TMainWindowTest::SelectFieldAndColumnsDialog() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  TDBGrid* grid = f.form->DBGrid1();
  f.ui->onDialog = [](QDialog& dialog) {
    auto* select = qobject_cast<TSelectFieldDialog*>(&dialog);
    if (!select) return int(QDialog::Rejected);
    select->ComboBox1()->setEditText(QStringLiteral("age"));
    select->Apply();
    return int(QDialog::Accepted);
  };
  f.form->Action(QStringLiteral("ViewGotoColumn"))->trigger();
  QCOMPARE(grid->SelectedColumn(), 1);

  f.ui->onDialog = [](QDialog& dialog) {
    auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    if (!list) return int(QDialog::Rejected);
    dialog.show();  // filling happens on show
    list->setCurrentItem(list->topLevelItem(0));
    static_cast<TColumnsDialog&>(dialog).ShowSelected(false);
    dialog.hide();
    return int(QDialog::Accepted);
  };
  f.form->Action(QStringLiteral("ViewColumns"))->trigger();
  QVERIFY(grid->isColumnHidden(0));
  QVERIFY(!grid->isColumnHidden(1));
  // The select-field list offers only the visible columns.
  f.form->SelectFieldDialog()->FillList();
  QCOMPARE(f.form->SelectFieldDialog()->ComboBox1()->count(), 1);
}

void TMainWindowTest::QuickOpenNamesItsTab() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  const std::string wide = WriteWide(dir, 4);
  TFixture f;
  QString typed;
  f.ui->onDialog = [&](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(typed);
    return int(QDialog::Accepted);
  };
  // With no tab, the table gets one.
  typed = QString::fromStdString(path);
  f.form->Action(QStringLiteral("FileQuickOpen"))->trigger();
  QVERIFY(f.form->Dbf1()->Active());
  QCOMPARE(f.Tabs(), 1);
  QCOMPARE(f.TabText(0), QStringLiteral("people.dbf"));
  QCOMPARE(f.form->TabInfo(0)->Path, typed);
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - ") + typed);
  QCOMPARE(f.form->GridModel()->rowCount(), 3);

  // With a tab, the tab is renamed after the table now in it, so switching
  // back to it later opens that table.
  f.Open(path);
  typed = QString::fromStdString(wide);
  f.form->Action(QStringLiteral("FileQuickOpen"))->trigger();
  QCOMPARE(f.Tabs(), 2);
  QCOMPARE(f.TabText(1), QStringLiteral("wide4.dbf"));
  QCOMPARE(f.form->TabInfo(1)->Path, typed);
  QCOMPARE(f.form->GridModel()->columnCount(), 4);
  f.form->TabControl1()->setCurrentIndex(0);
  f.form->TabControl1()->setCurrentIndex(1);
  QCOMPARE(f.form->GridModel()->columnCount(), 4);
  QVERIFY(f.ui->log.isEmpty());

  // A wrong name is reported and the table on screen stays.
  typed = QString::fromStdString(dir.File("none.dbf"));
  f.form->Action(QStringLiteral("FileQuickOpen"))->trigger();
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log[0].startsWith(QStringLiteral("error: Error openning DBF File with: ")));
  QVERIFY(f.form->Dbf1()->Active());
  QCOMPARE(f.form->GridModel()->columnCount(), 4);
  QCOMPARE(f.TabText(1), QStringLiteral("wide4.dbf"));
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - ") + QString::fromStdString(wide));
}

void TMainWindowTest::LinksOpenTheHelpPages() {
  TFixture f;
  emit f.form->HomeLink()->linkActivated(QStringLiteral("x"));
  f.form->Action(QStringLiteral("HelpForum"))->trigger();
  QCOMPARE(f.ui->urls.size(), 2);
  const QString home = f.form->HomeLink()->text();
  QVERIFY(home.contains(QStringLiteral("index.html")));
  QVERIFY(f.ui->urls[1].isLocalFile());
  QVERIFY(QFileInfo::exists(f.ui->urls[1].toLocalFile()));
  // The About box's version label tells the engine's version.
  f.ui->onDialog = [](QDialog& dialog) {
    QLabel* version = dialog.findChild<QLabel*>(QStringLiteral("VersionLabel"));
    QTest::mouseClick(version, Qt::LeftButton);
    return int(QDialog::Accepted);
  };
  f.form->Action(QStringLiteral("HelpAbout"))->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: DBF Version: 6.09")});
}

void TMainWindowTest::EnlargeThenReduce() {
  TFixture f;
  // Small enough that growing by a quarter stays on any screen.
  f.form->resize(400, 300);
  f.form->move(f.form->screen()->availableGeometry().topLeft());
  const QSize before = f.form->size();
  const qreal points = f.form->font().pointSizeF();
  f.form->Action(QStringLiteral("ViewEnlarge"))->trigger();
  QCOMPARE(f.form->size(), QSize(before.width() * 125 / 100, before.height() * 125 / 100));
  QCOMPARE(f.form->font().pointSizeF(), points * 1.25);
  f.form->Action(QStringLiteral("ViewReduce"))->trigger();
  QVERIFY(f.form->size() != before);
  QVERIFY(f.form->size().width() < before.width());
}

QTEST_MAIN(TMainWindowTest)
#include "main_window_test.moc"
