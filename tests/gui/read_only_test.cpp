// Tables the viewer must not or should not write: a file without write
// permission, a header that disagrees with the file's size, an index the
// program cannot keep current, and text the code page cannot hold.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/db_controls.h"
#include "app/db_grid.h"
#include "app/dialogs/form_view.h"
#include "app/dialogs/memo_editor.h"
#include "app/drop_down_combo.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

const char* const kWritingCommands[] = {"EditInsert", "EditDelete", "EditSave", "EditCancel", "RecordUndelete"};

void MakeReadOnly(const std::string& path) { QVERIFY(::chmod(path.c_str(), 0444) == 0); }

// What the viewer lets the user do to a table that must stay as it is.
void CheckNothingWrites(TFixture& f) {
  for (const char* name : kWritingCommands) QVERIFY2(!f.Enabled(name), name);
  TDBNavigator* nav = f.form->DBNavigator1();
  for (auto button : {TDBNavigator::nbInsert, TDBNavigator::nbDelete, TDBNavigator::nbPost, TDBNavigator::nbCancel})
    QVERIFY(!nav->Button(button)->isEnabled());
  QVERIFY(nav->Button(TDBNavigator::nbNext)->isEnabled());
  TDbfGridModel* model = f.form->GridModel();
  for (int c = 0; c < model->columnCount(); ++c)
    QVERIFY(!(model->flags(model->index(0, c)) & Qt::ItemIsEditable));
  QVERIFY(!model->setData(model->index(0, 0), QStringLiteral("x")));
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  QVERIFY(f.form->ReadOnlyLabel()->isVisibleTo(f.form.get()));
  QCOMPARE(f.form->ReadOnlyLabel()->text(), QStringLiteral("read-only"));
  QCOMPARE(f.form->ReadOnlyLabel()->toolTip(), QString::fromStdString(f.form->Dbf1()->ReadOnlyReason()));
  QVERIFY(!f.form->ReadOnlyLabel()->toolTip().isEmpty());
}

}  // namespace

class TReadOnlyTest : public QObject {
  Q_OBJECT

 private slots:
  void AFileWithoutWritePermissionOpensReadOnly();
  void AnUnprivilegedUserOpensAReadOnlyFileReadOnly();
  void MemoBoxesOfAReadOnlyTableTakeNoText();
  void ATruncatedTableOpensReadOnlyAndStaysAsItWas();
  void AnUnmaintainedIndexIsAskedAbout();
  void TextTheCodePageCannotHoldIsAskedAbout();
};

// The person the report was about: a normal user, for whom the system
// refuses write access. Run in a child that gives up root (or, when the
// tests do not run as root, as the user they run as).
void TReadOnlyTest::AnUnprivilegedUserOpensAReadOnlyFileReadOnly() {
  TTempDir dir;
  QVERIFY(::chmod(dir.Path().c_str(), 0755) == 0);
  const std::string locked = WritePeople(dir, "locked.dbf");
  MakeReadOnly(locked);
  const std::vector<uint8_t> before = ReadFile(locked);
  const pid_t child = fork();
  QVERIFY(child >= 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
    int code = 0;
    {
      TFixture f;
      f.Open(locked);
      if (f.Tabs() != 1 || !f.form->Dbf1()->Active()) code = 1;
      else if (!f.form->windowTitle().endsWith(QStringLiteral("(read-only)"))) code = 2;
      else if (f.Enabled("EditInsert") || f.Enabled("EditDelete") || f.Enabled("RecordUndelete")) code = 3;
      else if (!f.ui->log.isEmpty()) code = 4;
      else {
        f.form->Action(QStringLiteral("EditLast"))->trigger();
        if (f.form->Dbf1()->FieldByName("NAME").AsString() != "cy") code = 5;
      }
    }
    _exit(code);
  }
  int status = -1;
  QCOMPARE(waitpid(child, &status, 0), child);
  QVERIFY(WIFEXITED(status));
  QCOMPARE(WEXITSTATUS(status), 0);
  QVERIFY(ReadFile(locked) == before);
}

void TReadOnlyTest::AFileWithoutWritePermissionOpensReadOnly() {
  TTempDir dir;
  const std::string locked = WritePeople(dir, "locked.dbf");
  const std::string open = WritePeople(dir, "open.dbf");
  MakeReadOnly(locked);
  const std::vector<uint8_t> before = ReadFile(locked);
  TFixture f;
  f.Open(locked);
  // Even for root, who could write it, a file marked read-only is left alone.
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->CanModify());
  QCOMPARE(f.form->Dbf1()->ReadOnlyCause(), rcNoWriteAccess);
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - %1 (read-only)").arg(QString::fromStdString(locked)));
  CheckNothingWrites(f);
  QVERIFY(f.ui->log.isEmpty());
  // The form view's editors show the values and take no typing.
  f.Command("ToolForm")->trigger();
  auto* name = f.form->FormView()->ScrollBox()->findChild<TDBEdit*>(QStringLiteral("tbl0"));
  QVERIFY(name);
  QCOMPARE(name->text().trimmed(), QStringLiteral("ann"));
  QVERIFY(name->isReadOnly());

  // A writable table in another tab has it all back, and the first tab
  // is read-only again when it returns.
  f.Open(open);
  QCOMPARE(f.form->windowTitle(), QStringLiteral("Norvale - ") + QString::fromStdString(open));
  QVERIFY(!f.form->ReadOnlyLabel()->isVisibleTo(f.form.get()));
  QVERIFY(f.Enabled("EditInsert") && f.Enabled("EditDelete"));
  name = f.form->FormView()->ScrollBox()->findChild<TDBEdit*>(QStringLiteral("tbl0"));
  QVERIFY(name && !name->isReadOnly());
  f.form->TabControl1()->setCurrentIndex(0);
  CheckNothingWrites(f);
  f.Command("EditLast")->trigger();
  f.Command("FileClose")->trigger();
  QVERIFY(ReadFile(locked) == before);
}

void TReadOnlyTest::MemoBoxesOfAReadOnlyTableTakeNoText() {
  TTempDir dir;
  const std::string path = WriteMemoTable(dir);
  MakeReadOnly(path);
  TFixture f;
  f.Open(path);
  QVERIFY(!f.form->Dbf1()->CanModify());
  f.Command("EditMemo")->trigger();
  TMemoEditor* editor = f.form->MemoEditor();
  QVERIFY(editor->isVisible());
  QVERIFY(editor->DBMemo1()->isReadOnly());
  QVERIFY(!editor->SaveButton()->isEnabled());
  emit f.form->MemoFieldCombo()->textActivated(QStringLiteral("NOTES"));
  QVERIFY(f.form->PanelMemo()->isReadOnly());
  // Text put in anyway (a paste by a program) starts no edit.
  f.form->PanelMemo()->setPlainText(QStringLiteral("not stored"));
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  QVERIFY(f.ui->log.isEmpty());
}

void TReadOnlyTest::ATruncatedTableOpensReadOnlyAndStaysAsItWas() {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}};
  for (const char* name : {"ann", "bob", "cy"}) t.records.push_back(t.Record({name}));
  t.headerCount = 5;  // two records lost when the file was cut short
  const std::string path = dir.File("cut.dbf");
  WriteFile(path, t.Bytes());
  const std::vector<uint8_t> before = ReadFile(path);
  TFixture f;
  f.Open(path);
  QVERIFY(f.form->Dbf1()->Active());
  QCOMPARE(f.form->Dbf1()->ReadOnlyCause(), rcSizeMismatch);
  QCOMPARE(f.ui->log.size(), 1);
  const QString& box = f.ui->log[0];
  QVERIFY2(box.startsWith(QStringLiteral("message: The size of cut.dbf does not match its header.")), qPrintable(box));
  QVERIFY2(box.contains(QStringLiteral("5")) && box.contains(QStringLiteral("3")), qPrintable(box));
  QVERIFY2(box.contains(QStringLiteral("read-only")), qPrintable(box));
  QVERIFY(f.form->windowTitle().endsWith(QStringLiteral(" (read-only)")));
  CheckNothingWrites(f);
  QCOMPARE(f.form->GridModel()->rowCount(), 3);

  f.Command("EditLast")->trigger();
  QCOMPARE(f.form->Dbf1()->RecNo(), 3);
  f.Command("FileClose")->trigger();
  QVERIFY(ReadFile(path) == before);
}

void TReadOnlyTest::AnUnmaintainedIndexIsAskedAbout() {
  TTempDir dir;
  TTableImage t;
  t.versionByte = 0x03;
  t.mdxFlag = 1;
  t.fields = {{"NAME", 'C', 10}};
  t.records.push_back(t.Record({"ann"}));
  const std::string path = dir.File("indexed.dbf");
  WriteFile(path, t.Bytes());
  WriteFile(dir.File("indexed.mdx"), std::vector<uint8_t>(1024, 0));
  const std::vector<uint8_t> before = ReadFile(path);

  TFixture f;
  f.ui->confirmAnswer = false;
  f.Open(path);
  QCOMPARE(f.ui->log.size(), 1);
  const QString question = f.ui->log[0];
  QVERIFY2(question.startsWith(QStringLiteral("confirm: ")), qPrintable(question));
  QVERIFY2(question.contains(QStringLiteral("out of date")), qPrintable(question));
  QVERIFY2(question.endsWith(QStringLiteral("Edit the table anyway?")), qPrintable(question));
  QCOMPARE(f.form->Dbf1()->ReadOnlyCause(), rcUnmaintainedIndex);
  CheckNothingWrites(f);
  f.Command("FileClose")->trigger();
  QVERIFY(ReadFile(path) == before);

  // Yes: the person takes the stale index on and edits.
  f.ui->confirmAnswer = true;
  f.Open(path);
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY(f.form->Dbf1()->CanModify());
  QVERIFY(!f.form->windowTitle().endsWith(QStringLiteral(" (read-only)")));
  QVERIFY(f.Enabled("EditInsert"));
  TDbfGridModel* model = f.form->GridModel();
  QVERIFY(model->setData(model->index(0, 0), QStringLiteral("amy")));
  f.Command("EditSave")->trigger();
  QCOMPARE(StoredValue(path, 1, "NAME"), std::string("amy"));
}

void TReadOnlyTest::TextTheCodePageCannotHoldIsAskedAbout() {
  TTempDir dir;
  const std::string path = WritePeople(dir);  // language driver of code page 1252
  TFixture f;
  f.Open(path);
  QCOMPARE(f.form->Dbf1()->CodePage(), 1252);
  TDbfGridModel* model = f.form->GridModel();
  const QString question =
      QStringLiteral("confirm: The characters \"\u03A9\u0416\" cannot be stored in code page 1252. Store them as \"?\"?");

  // No: nothing changes and nothing else is said.
  f.ui->confirmAnswer = false;
  QVERIFY(!model->setData(model->index(0, 0), QStringLiteral("\u03A9a\u0416\u03A9")));
  QCOMPARE(f.ui->log, QStringList{question});
  QCOMPARE(model->data(model->index(0, 0)).toString().trimmed(), QStringLiteral("ann"));
  f.Command("EditSave")->trigger();
  f.Command("EditCancel")->trigger();
  QCOMPARE(StoredValue(path, 1, "NAME"), std::string("ann"));

  // Yes: they are stored as question marks; characters the code page has
  // go in as they are.
  f.ui->confirmAnswer = true;
  QVERIFY(model->setData(model->index(0, 0), QStringLiteral("\u03A9a\u0416\u00E9")));
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY2(f.ui->log[1].contains(QStringLiteral("\"\u03A9\u0416\"")), qPrintable(f.ui->log[1]));
  f.Command("EditSave")->trigger();
  QCOMPARE(StoredValue(path, 1, "NAME"), std::string("?a?\u00E9"));
}

QTEST_MAIN(TReadOnlyTest)
#include "read_only_test.moc"
