// Add, alter, rename and remove fields through their windows: the values
// kept, the input refused before anything is touched, and the table read
// by another program afterwards.
#include <map>

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include "app/dialogs/field_dialogs.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

// staff.dbf (dBASE IV): NAME C(12), AGE N(3), CITY C(10); three records.
std::string WriteStaff(const TTempDir& dir) {
  TTableImage t;
  t.versionByte = 0x03;
  t.fields = {{"NAME", 'C', 12}, {"AGE", 'N', 3}, {"CITY", 'C', 10}};
  t.records.push_back(t.Record({"ann", " 30", "Bern"}));
  t.records.push_back(t.Record({"bartholomew", " 40", "Basel"}));
  t.records.push_back(t.Record({"cy", " 50", "Chur"}));
  WriteFile(dir.File("staff.dbf"), t.Bytes());
  return dir.File("staff.dbf");
}

// Every table file in the folder (the backups a restructure keeps aside).
std::map<QString, std::vector<uint8_t>> TableFiles(const TTempDir& dir) {
  std::map<QString, std::vector<uint8_t>> files;
  const QDir folder(QString::fromStdString(dir.Path()));
  for (const QString& name : folder.entryList(QDir::Files)) files[name] = ReadFile(dir.File(name.toStdString()));
  return files;
}

// The field names and every record's values as python3-dbfread reads them.
QString ReadByDbfread(const std::string& path) {
  QProcess p;
  p.start(QStringLiteral("/usr/bin/python3"),
          {QStringLiteral("-c"),
           QStringLiteral("import sys, dbfread\n"
                          "t = dbfread.DBF(sys.argv[1])\n"
                          "print(','.join('%s:%s%d' % (f.name, f.type, f.length) for f in t.fields))\n"
                          "for r in t: print('|'.join('' if v is None else str(v) for v in r.values()))\n"),
           QString::fromStdString(path)});
  if (!p.waitForFinished(60000)) return QStringLiteral("python3 did not finish");
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + QString::fromUtf8(p.readAllStandardError());
}

bool DbfreadThere() {
  return QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import dbfread")}) == 0;
}

}  // namespace

class TFieldDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void AFieldAddedKeepsEveryValue();
  void RefusedInputLeavesTheFilesAsTheyWere();
  void AlterConvertsAndAsksBeforeCutting();
  void RenameKeepsValuesAndRefusesAnIndexedField();
  void RemoveAsksAndKeepsTheLastField();
};

void TFieldDialogsTest::AFieldAddedKeepsEveryValue() {
  TTempDir dir;
  const std::string path = WriteStaff(dir);
  TFixture f;
  f.Open(path);
  f.Command("TableAddField")->trigger();
  TAddFieldDialog* d = f.form->AddFieldDialog();
  QVERIFY(d->isVisible());
  QCOMPARE(d->TableName()->text(), QStringLiteral("staff.dbf"));
  QCOMPARE(d->Size()->text(), QStringLiteral("30"));
  d->FieldName()->setText(QStringLiteral("note"));
  d->FieldType()->setCurrentText(QStringLiteral("TEXT"));
  d->Size()->setText(QStringLiteral("20"));
  QVERIFY(d->Add());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: New field added")});
  // The window stays for the next one; the table is shown again, shared.
  QVERIFY(d->isVisible());
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QCOMPARE(f.form->Dbf1()->FieldCount(), 4);
  if (DbfreadThere())
    QCOMPARE(ReadByDbfread(path), QStringLiteral("NAME:C12,AGE:N3,CITY:C10,NOTE:C20\n"
                                                 "ann|30|Bern|\nbartholomew|40|Basel|\ncy|50|Chur|"));
  // A date field, the Size box aside.
  d->FieldName()->setText(QStringLiteral("BORN"));
  d->FieldType()->setCurrentText(QStringLiteral("DATE"));
  d->Size()->setText(QStringLiteral("whatever"));
  QVERIFY(d->Add());
  QCOMPARE(f.form->Dbf1()->FieldByName("BORN").DataType(), ftDate);
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->FieldByName("NAME").AsString()), QStringLiteral("ann"));
}

void TFieldDialogsTest::RefusedInputLeavesTheFilesAsTheyWere() {
  TTempDir dir;
  const std::string path = WriteStaff(dir);
  TFixture f;
  f.Open(path);
  const auto before = TableFiles(dir);
  const struct {
    const char* name;
    const char* type;
    const char* size;
    const char* says;
  } refused[] = {
      {"", "TEXT", "10", "error: Give the field a name."},
      {"1ST", "TEXT", "10", "error: \"1ST\" is no valid field name: letters, digits and underscores, the first a letter."},
      {"MY FIELD", "TEXT", "10", nullptr},
      {"ELEVENCHARS", "TEXT", "10", "error: \"ELEVENCHARS\" is longer than 10 characters."},
      {"city", "TEXT", "10", "error: The table has a field CITY already."},
      {"PRICE", "CURRENCY", "10", "error: Invalid field type 'CURRENCY' for field 'PRICE'."},
      {"PRICE", "MONEY", "10", "error: Invalid field type 'MONEY' for field 'PRICE'."},
      {"CODE", "TEXT", "ten", "error: The size must be a whole number from 1 to 254."},
      {"CODE", "TEXT", "300", "error: The size must be a whole number from 1 to 254."},
      {"WHEN", "DATETIME", "8", nullptr},
  };
  TAddFieldDialog* d = f.form->AddFieldDialog();
  f.Command("TableAddField")->trigger();
  for (const auto& r : refused) {
    f.ui->log.clear();
    d->FieldName()->setText(QString::fromUtf8(r.name));
    d->FieldType()->setCurrentText(QString::fromUtf8(r.type));
    d->Size()->setText(QString::fromUtf8(r.size));
    QVERIFY2(!d->Add(), r.name);
    QCOMPARE(f.ui->log.size(), 1);
    if (r.says) QCOMPARE(f.ui->log.front(), QString::fromUtf8(r.says));
    else QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: ")), qPrintable(f.ui->log.front()));
    QCOMPARE(TableFiles(dir), before);
    QVERIFY(f.form->Dbf1()->Active());
  }
  // A table another program has open is not rewritten.
  f.ui->log.clear();
  {
    TDbfTable holder;
    holder.SetTableName(path);
    holder.Open();
    d->FieldName()->setText(QStringLiteral("OK"));
    d->FieldType()->setCurrentText(QStringLiteral("BIT"));
    QVERIFY(!d->Add());
  }
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log.front().startsWith(QStringLiteral("error: ")));
  QCOMPARE(TableFiles(dir), before);
  QVERIFY(f.form->Dbf1()->Active());
}

void TFieldDialogsTest::AlterConvertsAndAsksBeforeCutting() {
  TTempDir dir;
  const std::string path = WriteStaff(dir);
  TFixture f;
  f.Open(path);
  TFieldChangeDialog* d = f.form->AlterFieldDialog();
  QString field = QStringLiteral("NAME"), type = QStringLiteral("TEXT"), size = QStringLiteral("5");
  QString shownType, shownSize;
  f.ui->onDialog = [&](QDialog& dialog) {
    if (&dialog != d) return int(QDialog::Rejected);
    d->Field()->setCurrentIndex(d->Field()->findText(field));
    emit d->Field()->activated(d->Field()->currentIndex());
    shownType = d->NewType()->currentText();
    shownSize = d->NewValue()->text();
    d->NewType()->setEditText(type);
    d->NewValue()->setText(size);
    return d->Apply() ? int(QDialog::Accepted) : int(QDialog::Rejected);
  };
  // Narrowing that would cut values is refused, naming how many.
  const auto before = TableFiles(dir);
  f.Command("TableAlterField")->trigger();
  QCOMPARE(shownType, QStringLiteral("Text"));
  QCOMPARE(shownSize, QStringLiteral("12"));
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: 1 of the values of NAME are longer than 5 characters and "
                                                 "would be cut; the field stays as it is.")});
  QCOMPARE(TableFiles(dir), before);
  // Narrowing that cuts nothing asks first; No keeps it.
  size = QStringLiteral("11");
  f.ui->log.clear();
  f.ui->confirmAnswer = false;
  f.Command("TableAlterField")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: Make NAME 11 characters wide? No value is longer.")});
  QCOMPARE(TableFiles(dir), before);
  f.ui->confirmAnswer = true;
  f.ui->log.clear();
  f.Command("TableAlterField")->trigger();
  QCOMPARE(f.ui->log.back(), QStringLiteral("message: Field altered"));
  f.Command("EditNext")->trigger();
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->FieldByName("NAME").AsString()), QStringLiteral("bartholomew"));

  // A number made wider keeps its value.
  field = QStringLiteral("AGE");
  type = QStringLiteral("INTEGER");
  size = QStringLiteral("6");
  f.ui->log.clear();
  f.Command("TableAlterField")->trigger();
  QCOMPARE(shownType, QStringLiteral("SmallInt"));  // an N(3) reads as a small integer
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Field altered")});
  f.Command("EditLast")->trigger();
  QCOMPARE(f.form->Dbf1()->FieldByName("AGE").AsInteger(), 50);
  // A type the level cannot hold, and a size that is no number, are refused.
  const auto now = TableFiles(dir);
  for (const QString& bad : {QStringLiteral("DATETIME"), QStringLiteral("SOMETHING")}) {
    type = bad;
    f.ui->log.clear();
    f.Command("TableAlterField")->trigger();
    QCOMPARE(f.ui->log.size(), 1);
    QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: ")), qPrintable(f.ui->log.front()));
  }
  type = QStringLiteral("INTEGER");
  size = QStringLiteral("six");
  f.ui->log.clear();
  f.Command("TableAlterField")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: The size must be a whole number from 1 to 20.")});
  QCOMPARE(TableFiles(dir), now);
  if (DbfreadThere())
    QCOMPARE(ReadByDbfread(path).section(QLatin1Char('\n'), 0, 0), QStringLiteral("NAME:C11,AGE:N6,CITY:C10"));
}

void TFieldDialogsTest::RenameKeepsValuesAndRefusesAnIndexedField() {
  TTempDir dir;
  const std::string path = WriteStaff(dir);
  TFixture f;
  f.Open(path);
  TFieldChangeDialog* d = f.form->RenameFieldDialog();
  f.Command("TableRenameField")->trigger();
  QVERIFY(d->isVisible());
  d->Field()->setCurrentIndex(d->Field()->findText(QStringLiteral("CITY")));
  emit d->Field()->activated(d->Field()->currentIndex());
  QCOMPARE(d->NewValue()->text(), QStringLiteral("CITY"));
  d->NewValue()->setText(QStringLiteral("town"));
  QVERIFY(d->Apply());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Field Renamed")});
  QVERIFY(!d->isVisible());
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->FieldByName("TOWN").AsString()), QStringLiteral("Bern"));
  if (DbfreadThere())
    QCOMPARE(ReadByDbfread(path).section(QLatin1Char('\n'), 0, 1),
             QStringLiteral("NAME:C12,AGE:N3,TOWN:C10\nann|30|Bern"));

  // A field an index uses keeps its name; the index is named.
  f.Command("IndexCreate")->trigger();
  QVERIFY(f.form->CreateIndex(QStringLiteral("BYAGE"), QStringLiteral("STR(AGE,3)+NAME"), false));
  const auto before = TableFiles(dir);
  f.ui->log.clear();
  f.Command("TableRenameField")->trigger();
  d->Field()->setCurrentIndex(d->Field()->findText(QStringLiteral("NAME")));
  d->NewValue()->setText(QStringLiteral("FULLNAME"));
  QVERIFY(!d->Apply());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: The index BYAGE uses the field NAME: remove the index first.")});
  // And a name another field has is refused.
  f.ui->log.clear();
  d->Field()->setCurrentIndex(d->Field()->findText(QStringLiteral("TOWN")));
  d->NewValue()->setText(QStringLiteral("age"));
  QVERIFY(!d->Apply());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: The table has a field AGE already.")});
  QCOMPARE(TableFiles(dir), before);
}

void TFieldDialogsTest::RemoveAsksAndKeepsTheLastField() {
  TTempDir dir;
  const std::string path = WriteStaff(dir);
  TFixture f;
  f.Open(path);
  TRemoveFieldDialog* d = f.form->RemoveFieldDialog();
  f.Command("TableDeleteField")->trigger();
  QVERIFY(d->isVisible());
  QCOMPARE(d->Field()->count(), 3);
  // Nothing chosen, nothing done.
  QVERIFY(!d->Remove());
  QVERIFY(f.ui->log.isEmpty());
  d->Field()->setCurrentIndex(d->Field()->findText(QStringLiteral("AGE")));
  const auto before = TableFiles(dir);
  f.ui->confirmAnswer = false;
  QVERIFY(!d->Remove());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: Are you sure you wish to delete the field column")});
  QCOMPARE(TableFiles(dir), before);
  // A field an index uses stays, the index named.
  QVERIFY(f.form->CreateIndex(QStringLiteral("BYAGE"), QStringLiteral("AGE"), false));
  f.ui->log.clear();
  f.Command("TableDeleteField")->trigger();
  d->Field()->setCurrentIndex(d->Field()->findText(QStringLiteral("AGE")));
  QVERIFY(!d->Remove());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: The index BYAGE uses the field AGE: remove the index first.")});
  f.ui->confirmAnswer = true;
  QVERIFY(f.form->RemoveIndex(QStringLiteral("BYAGE")));
  f.ui->log.clear();
  f.Command("TableDeleteField")->trigger();
  d->Field()->setCurrentIndex(d->Field()->findText(QStringLiteral("AGE")));
  QVERIFY(d->Remove());
  QCOMPARE(f.form->Dbf1()->FieldCount(), 2);
  QCOMPARE(d->Field()->count(), 2);
  QCOMPARE(QString::fromStdString(f.form->Dbf1()->FieldByName("CITY").AsString()), QStringLiteral("Bern"));
  if (DbfreadThere())
    QCOMPARE(ReadByDbfread(path), QStringLiteral("NAME:C12,CITY:C10\nann|Bern\nbartholomew|Basel\ncy|Chur"));
  d->Field()->setCurrentIndex(0);
  QVERIFY(d->Remove());
  f.ui->log.clear();
  d->Field()->setCurrentIndex(0);
  QVERIFY(!d->Remove());
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: A table needs at least one field: CITY stays.")});
  QCOMPARE(f.form->Dbf1()->FieldCount(), 1);
}

QTEST_MAIN(TFieldDialogsTest)
#include "field_dialogs_test.moc"
