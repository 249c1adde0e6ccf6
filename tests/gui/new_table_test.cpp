// The new table designer: the entry row and the list, the checks every row
// passes before anything is written, and tables that another reader opens
// with the fields designed.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTreeWidget>

#include "app/dialogs/field_dialogs.h"
#include "app/dialogs/index_dialogs.h"
#include "app/dialogs/new_table.h"
#include "app/dialogs/table_info.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

void Row(TNewTableDialog* d, const QString& name, const QString& type, const QString& size = {},
         const QString& precision = QStringLiteral("0")) {
  d->FieldName()->setText(name);
  d->Type()->setCurrentText(type);
  if (!size.isEmpty()) d->Size()->setText(size);
  d->Precision()->setText(precision);
  d->AddFieldRow();
}

QStringList Names(TNewTableDialog* d) {
  QStringList names;
  for (int i = 0; i < d->FieldList()->topLevelItemCount(); ++i) names << d->FieldList()->topLevelItem(i)->text(0);
  return names;
}

QString FieldsByDbfread(const std::string& path) {
  QProcess p;
  p.start(QStringLiteral("/usr/bin/python3"),
          {QStringLiteral("-c"),
           QStringLiteral("import sys, dbfread\n"
                          "t = dbfread.DBF(sys.argv[1])\n"
                          "print(','.join('%s:%s%d.%d' % (f.name, f.type, f.length, f.decimal_count) for f in "
                          "t.fields), len(list(t)))\n"),
           QString::fromStdString(path)});
  if (!p.waitForFinished(60000)) return QStringLiteral("python3 did not finish");
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + QString::fromUtf8(p.readAllStandardError());
}

bool DbfreadThere() {
  return QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import dbfread")}) == 0;
}

QStringList FilesIn(const TTempDir& dir) { return QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files); }

}  // namespace

class TNewTableTest : public QObject {
  Q_OBJECT

 private slots:
  void TheEntryRowAndTheList();
  void ATableOfEveryTypeOfItsLevel();
  void RefusedRowsWriteNothing();
  void AnExistingFileIsReplacedOnlyWhenFree();
  void APersonsPathFromDesignToTableInfo();
};

void TNewTableTest::TheEntryRowAndTheList() {
  TFixture f;
  TNewTableDialog* d = f.form->NewTableDialog();
  QCOMPARE(d->TableType()->currentText(), QStringLiteral("xBaseVII"));
  QVERIFY(d->Type()->findText(QStringLiteral("AutoInc")) >= 0);
  d->Type()->setCurrentText(QStringLiteral("Memo"));
  QCOMPARE(d->Size()->text(), QStringLiteral("50"));
  QVERIFY(d->Size()->isEnabled());
  d->Type()->setCurrentText(QStringLiteral("Date"));
  QCOMPARE(d->Size()->text(), QStringLiteral("0"));
  QVERIFY(!d->Size()->isEnabled());
  Row(d, QStringLiteral("A"), QStringLiteral("AutoInc"));
  Row(d, QStringLiteral("B"), QStringLiteral("Text"), QStringLiteral("5"));
  Row(d, QStringLiteral("C"), QStringLiteral("Date"));
  // The entry row empties; the precision stays.
  QVERIFY(d->FieldName()->text().isEmpty() && d->Type()->currentText().isEmpty());
  QVERIFY(d->Size()->isEnabled());
  d->TableType()->setCurrentText(QStringLiteral("xBaseIV"));
  QCOMPARE(d->Type()->findText(QStringLiteral("AutoInc")), -1);
  QCOMPARE(Names(d), (QStringList{"A", "B", "C"}));
  d->FieldList()->setCurrentItem(d->FieldList()->topLevelItem(0));
  d->MoveUp();
  QCOMPARE(Names(d), (QStringList{"B", "C", "A"}));
  d->MoveUp();
  QCOMPARE(Names(d), (QStringList{"B", "A", "C"}));
  d->RemoveRow();
  QCOMPARE(Names(d), (QStringList{"B", "C"}));
  // File > New Table keeps the list; New starts afresh.
  f.ui->onDialog = [](QDialog&) { return int(QDialog::Rejected); };
  f.Command("FileNewTable")->trigger();
  QCOMPARE(Names(d).size(), 2);
  f.Command("TableNewTable")->trigger();
  QCOMPARE(Names(d).size(), 0);
}

void TNewTableTest::ATableOfEveryTypeOfItsLevel() {
  TTempDir dir;
  TFixture f;
  TNewTableDialog* d = f.form->NewTableDialog();
  const QString path = QString::fromStdString(dir.File("made.dbf"));
  f.ui->onDialog = [&](QDialog& dialog) {
    if (&dialog != d) return int(QDialog::Rejected);
    d->TableType()->setCurrentText(QStringLiteral("xBaseIV"));
    Row(d, QStringLiteral("name"), QStringLiteral("Text"), QStringLiteral("20"));
    Row(d, QStringLiteral("QTY"), QStringLiteral("Integer"));
    Row(d, QStringLiteral("BORN"), QStringLiteral("Date"));
    Row(d, QStringLiteral("OK"), QStringLiteral("Boolean"));
    Row(d, QStringLiteral("PRICE"), QStringLiteral("Float"), {}, QStringLiteral("2"));
    Row(d, QStringLiteral("NOTE"), QStringLiteral("Memo"));
    d->Create();
    return d->result();
  };
  f.ui->saveFiles << path;
  f.Command("TableNewTable")->trigger();
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));
  QCOMPARE(d->CreatedPath(), path);
  // Shown in a tab of its own.
  QCOMPARE(f.Tabs(), 1);
  QCOMPARE(f.TabText(0), QStringLiteral("made.dbf"));
  QVERIFY(f.form->Dbf1()->Active());
  QCOMPARE(f.form->Dbf1()->FieldCount(), 6);
  QCOMPARE(d->FieldList()->topLevelItemCount(), 0);
  if (DbfreadThere())
    QCOMPARE(FieldsByDbfread(path.toStdString()),
             QStringLiteral("NAME:C20.0,QTY:N10.0,BORN:D8.0,OK:L1.0,PRICE:F20.2,NOTE:M10.0 0"));

  // dBASE 7 with its own types.
  const QString seven = QString::fromStdString(dir.File("seven"));
  f.ui->onDialog = [&](QDialog& dialog) {
    if (&dialog != d) return int(QDialog::Rejected);
    d->TableType()->setCurrentText(QStringLiteral("xBaseVII"));
    Row(d, QStringLiteral("ID"), QStringLiteral("AutoInc"));
    Row(d, QStringLiteral("LONGER_FIELD_NAME"), QStringLiteral("Text"), QStringLiteral("8"));
    d->Create();
    return d->result();
  };
  f.ui->saveFiles << seven;
  f.Command("TableNewTable")->trigger();
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));
  QCOMPARE(f.Tabs(), 2);
  QCOMPARE(ReadFile(dir.File("seven.dbf"))[0] & 0x07, 4);
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->Fields(1).FieldName()), QStringLiteral("LONGER_FIELD_NAME"));
}

void TNewTableTest::RefusedRowsWriteNothing() {
  TTempDir dir;
  TFixture f;
  TNewTableDialog* d = f.form->NewTableDialog();
  const struct {
    const char* level;
    const char* name;
    const char* type;
    const char* size;
    const char* precision;
    const char* says;
  } refused[] = {
      {"xBaseIV", "", "Text", "10", "0", "error: Give the field a name."},
      {"xBaseIV", "A B", "Text", "10", "0", nullptr},
      {"xBaseIV", "ELEVENCHARS", "Text", "10", "0", "error: \"ELEVENCHARS\" is longer than 10 characters."},
      {"xBaseIV", "CODE", "Text", "ten", "0", "error: Field CODE: The size must be a whole number from 1 to 254."},
      {"xBaseIV", "CODE", "Text", "255", "0", "error: Field CODE: The size must be a whole number from 1 to 254."},
      {"xBaseIV", "QTY", "Integer", "0", "x", "error: 'x' is not a valid integer value"},
      {"xBaseIV", "PRICE", "Float", "0", "19", "error: Field PRICE: 19 decimals do not fit a width of 20."},
      {"xBaseIV", "ID", "AutoInc", "0", "0", "error: Invalid field type 'AutoInc' for field 'ID'."},
      {"xBaseIV", "WHEN", "DateTime", "0", "0", "error: Invalid field type 'DateTime' for field 'WHEN'."},
  };
  for (const auto& r : refused) {
    d->ClearFields();
    d->TableType()->setCurrentText(QString::fromUtf8(r.level));
    Row(d, QStringLiteral("FIRST"), QStringLiteral("Text"), QStringLiteral("4"));
    Row(d, QString::fromUtf8(r.name), QString::fromUtf8(r.type), QString::fromUtf8(r.size), QString::fromUtf8(r.precision));
    f.ui->log.clear();
    f.ui->saveFiles = QStringList{QString::fromStdString(dir.File("never.dbf"))};
    QVERIFY(!d->Create());
    QCOMPARE(f.ui->log.size(), 1);
    if (r.says) QCOMPARE(f.ui->log.front(), QString::fromUtf8(r.says));
    else QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: ")), qPrintable(f.ui->log.front()));
    // Refused before the save dialog: its answer is still there.
    QCOMPARE(f.ui->saveFiles.size(), 1);
    QCOMPARE(Names(d).size(), 2);
  }
  // A name twice, whatever its case, and no field at all.
  d->ClearFields();
  Row(d, QStringLiteral("code"), QStringLiteral("Text"), QStringLiteral("4"));
  Row(d, QStringLiteral("CODE"), QStringLiteral("Date"));
  f.ui->log.clear();
  QVERIFY(!d->Create());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: The table has a field CODE already.")});
  d->ClearFields();
  f.ui->log.clear();
  QVERIFY(!d->Create());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: Add at least one field.")});
  // A cancelled save dialog cancels the designer.
  Row(d, QStringLiteral("CODE"), QStringLiteral("Text"), QStringLiteral("4"));
  f.ui->saveFiles.clear();
  QVERIFY(!d->Create());
  QCOMPARE(d->result(), int(QDialog::Rejected));
  QVERIFY(FilesIn(dir).isEmpty());
  QCOMPARE(f.Tabs(), 0);
}

void TNewTableTest::AnExistingFileIsReplacedOnlyWhenFree() {
  TTempDir dir;
  const std::string old = WritePeople(dir, "old.dbf");
  const std::vector<uint8_t> before = ReadFile(old);
  TFixture f;
  TNewTableDialog* d = f.form->NewTableDialog();
  auto design = [&] {
    d->ClearFields();
    d->TableType()->setCurrentText(QStringLiteral("xBaseIII"));
    Row(d, QStringLiteral("CODE"), QStringLiteral("Text"), QStringLiteral("4"));
    f.ui->saveFiles = QStringList{QString::fromStdString(old)};
    return d->Create();
  };
  f.ui->confirmAnswer = false;
  QVERIFY(!design());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: old.dbf exists. Replace it with a new, empty table?")});
  QCOMPARE(ReadFile(old), before);
  f.ui->confirmAnswer = true;
  f.ui->log.clear();
  {
    TDbfTable holder;
    holder.SetTableName(old);
    holder.Open();
    QVERIFY(!design());
  }
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY2(f.ui->log[1].startsWith(QStringLiteral("error: old.dbf was not replaced: ")), qPrintable(f.ui->log[1]));
  QCOMPARE(ReadFile(old), before);
  // With every tab taken, no table is made that could not be shown.
  {
    TFixture full;
    const std::string a = WritePeople(dir, "a.dbf");
    for (int i = 0; i < TForm1::kMaxTabs; ++i) full.Open(a);
    QCOMPARE(full.Tabs(), TForm1::kMaxTabs);
    TNewTableDialog* nd = full.form->NewTableDialog();
    nd->ClearFields();
    Row(nd, QStringLiteral("CODE"), QStringLiteral("Text"), QStringLiteral("4"));
    full.ui->saveFiles = QStringList{QString::fromStdString(dir.File("extra.dbf"))};
    QVERIFY(!nd->Create());
    QCOMPARE(full.ui->log, QStringList{QStringLiteral("error: Too many tables open (256).")});
    QVERIFY(!QFile::exists(QString::fromStdString(dir.File("extra.dbf"))));
    QCOMPARE(full.Tabs(), TForm1::kMaxTabs);
  }
  // The table shown is not replaced under the viewer.
  f.Open(old);
  f.ui->log.clear();
  QVERIFY(!design());
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log.front().contains(QStringLiteral("is the table shown here")));
  QCOMPARE(ReadFile(old), before);
  f.Command("FileClose")->trigger();
  f.ui->log.clear();
  QVERIFY(design());
  QCOMPARE(f.form->Dbf1()->FieldCount(), 1);
  QCOMPARE(f.form->Dbf1()->RecordCount(), 0);
}

void TNewTableTest::APersonsPathFromDesignToTableInfo() {
  TTempDir dir;
  TFixture f;
  TNewTableDialog* d = f.form->NewTableDialog();
  // A dBASE IV table of every type the level holds.
  f.ui->onDialog = [&](QDialog& dialog) {
    if (&dialog != d) return int(QDialog::Rejected);
    d->TableType()->setCurrentText(QStringLiteral("xBaseIV"));
    Row(d, QStringLiteral("NAME"), QStringLiteral("Text"), QStringLiteral("12"));
    Row(d, QStringLiteral("QTY"), QStringLiteral("Integer"));
    Row(d, QStringLiteral("BORN"), QStringLiteral("Date"));
    Row(d, QStringLiteral("OK"), QStringLiteral("Boolean"));
    Row(d, QStringLiteral("PRICE"), QStringLiteral("Float"), {}, QStringLiteral("2"));
    Row(d, QStringLiteral("NOTE"), QStringLiteral("Memo"));
    d->Create();
    return d->result();
  };
  const std::string path = dir.File("shop.dbf");
  f.ui->saveFiles << QString::fromStdString(path);
  f.Command("TableNewTable")->trigger();
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));
  // Records typed into the grid.
  TDbfGridModel* model = f.form->GridModel();
  const char* names[] = {"pear", "apple", "fig"};
  for (int i = 0; i < 3; ++i) {
    f.Command("EditInsert")->trigger();
    const int row = f.form->GridModel()->CurrentRow();
    QVERIFY(model->setData(model->index(row, 0), QString::fromLatin1(names[i])));
    QVERIFY(model->setData(model->index(row, 1), QString::number(10 * (i + 1))));
    QVERIFY(model->setData(model->index(row, 4), QStringLiteral("1.25")));
    f.Command("EditSave")->trigger();
  }
  QCOMPARE(f.form->Dbf1()->RecordCount(), 3);
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));

  // Fields: add, alter, rename, remove; the values stay.
  QVERIFY(f.form->AddField(QStringLiteral("CITY"), QStringLiteral("TEXT"), QStringLiteral("15")));
  QVERIFY(f.form->AlterField(QStringLiteral("QTY"), QStringLiteral("INTEGER"), QStringLiteral("8")));
  QVERIFY(f.form->RenameField(QStringLiteral("PRICE"), QStringLiteral("COST")));
  f.ui->confirmAnswer = true;
  QVERIFY(f.form->RemoveField(QStringLiteral("OK")));
  QCOMPARE(f.form->Dbf1()->FieldCount(), 6);
  f.Command("EditFirst")->trigger();
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->FieldByName("NAME").AsString()), QStringLiteral("pear"));
  QCOMPARE(f.form->Dbf1()->FieldByName("QTY").AsInteger(), 10);
  QCOMPARE(f.form->Dbf1()->FieldByName("COST").AsFloat(), 1.25);

  // Indexes: one made, used, removed.
  QVERIFY(f.form->CreateIndex(QStringLiteral("BYNAME"), QStringLiteral("NAME"), false));
  f.form->SelectOrder(QStringLiteral("BYNAME"));
  f.Command("EditFirst")->trigger();
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->FieldByName("NAME").AsString()), QStringLiteral("apple"));
  QVERIFY(f.form->RemoveIndex(QStringLiteral("BYNAME")));
  QVERIFY(f.form->Dbf1()->GetIndexNames().empty());

  // Table Info says what the file says.
  f.ui->onDialog = [](QDialog&) { return int(QDialog::Accepted); };
  f.Command("TableInfo")->trigger();
  TTableInfoDialog* info = f.form->TableInfoDialog();
  QCOMPARE(info->Records()->text(), QStringLiteral("3"));
  QCOMPARE(info->FileType()->text(), QStringLiteral("dBASE IV with memo"));
  QCOMPARE(info->FieldList()->topLevelItemCount(), 6);
  QCOMPARE(info->FieldList()->topLevelItem(4)->text(0), QStringLiteral("NOTE"));
  QCOMPARE(info->FieldList()->topLevelItem(5)->text(0), QStringLiteral("CITY"));
  QVERIFY(!info->Indexed()->isChecked());
  if (DbfreadThere())
    QCOMPARE(FieldsByDbfread(path), QStringLiteral("NAME:C12.0,QTY:N8.0,BORN:D8.0,COST:F20.2,NOTE:M10.0,CITY:C15.0 3"));
  QCOMPARE(f.ui->log.filter(QStringLiteral("error")), QStringList());
}

QTEST_MAIN(TNewTableTest)
#include "new_table_test.moc"
