// The code page in the viewer: a table that names none shows its text as
// detected, View > Code Page reads it again in another page at once, the
// status bar says which page and why, and Table > Set Code Page writes the
// page into the header only when asked and only with the table to itself.
#include <QLabel>
#include <QTest>

#include "app/code_page_menu.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "platform/text_services.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

const char* const kNames[] = {"АО ЮниКредит Банк", "ПАО Сбербанк", "Банк ВТБ (ПАО)", "Иванов Пётр Сергеевич",
                              "Москва, ул. Ленина 15"};

std::string InPage(int codePage, const char* utf8) {
  std::string out;
  Utf8ToCodePage(codePage, utf8, out);
  return out;
}

// banks.dbf: NAME C(40) in cp866 with driver byte 0, as a DOS program
// that never heard of drivers wrote it.
std::string WriteBanks(const TTempDir& dir) {
  TTableImage t;
  t.languageId = 0;
  t.fields = {{"NAME", 'C', 40}};
  for (const char* name : kNames) t.records.push_back(t.Record({InPage(866, name)}));
  WriteFile(dir.File("banks.dbf"), t.Bytes());
  return dir.File("banks.dbf");
}

QString Cell(TFixture& f, int row) {
  TDbfGridModel* model = f.form->GridModel();
  return model->data(model->index(row, 0), Qt::DisplayRole).toString();
}

QString InUtf8(int codePage, const char* utf8) {
  std::string back;
  CodePageToUtf8(codePage, InPage(866, utf8), back);
  return QString::fromStdString(back);
}

}  // namespace

class TCodePageTest : public QObject {
  Q_OBJECT

 private slots:
  void ATableThatNamesNoPageShowsItsText();
  void TheMenuReadsTheTableAgainInAnotherPage();
  void SetCodePageWritesTheHeaderOnlyWhenAsked();
};

void TCodePageTest::ATableThatNamesNoPageShowsItsText() {
  TTempDir dir;
  const std::string path = WriteBanks(dir);
  const std::vector<uint8_t> before = ReadFile(path);
  TFixture f;
  f.Open(path);
  QVERIFY(f.form->Dbf1()->Active());
  for (int i = 0; i < 3; ++i) QCOMPARE(Cell(f, i), QString::fromUtf8(kNames[i]));
  const QString label = f.form->CodePageLabel()->text();
  QVERIFY2(label.startsWith(QStringLiteral("Code page 866: detected (confidence 0.")), qPrintable(label));
  QCOMPARE(f.form->CodePageLabel()->toolTip(), QStringLiteral("Cyrillic (DOS 866)"));
  f.Command("FileClose")->trigger();
  QCOMPARE(ReadFile(path), before);
}

void TCodePageTest::TheMenuReadsTheTableAgainInAnotherPage() {
  TTempDir dir;
  const std::string path = WriteBanks(dir);
  const std::vector<uint8_t> before = ReadFile(path);
  TFixture f;
  f.Open(path);
  f.form->Dbf1()->SetRecNo(3);

  f.Command("ViewCodePage1251")->trigger();
  QVERIFY(f.form->Dbf1()->Active());
  QCOMPARE(f.form->Dbf1()->CodePage(), 1251);
  QCOMPARE(Cell(f, 0), InUtf8(1251, kNames[0]));
  QVERIFY(Cell(f, 0) != QString::fromUtf8(kNames[0]));
  QCOMPARE(f.form->CodePageLabel()->text(), QStringLiteral("Code page 1251: chosen"));
  QCOMPARE(f.form->Dbf1()->RecNo(), 3);  // the person stays where they were
  f.form->CodePageMenu()->ShowCurrent(1251, false);
  QVERIFY(f.Command("ViewCodePage1251")->isChecked());

  // "Other…" takes a name; one that is no code page is refused and the
  // table stays as it was read.
  f.ui->texts << QStringLiteral("koi8-r");
  f.Command("ViewCodePageOther")->trigger();
  QCOMPARE(f.form->Dbf1()->CodePage(), 20866);
  QCOMPARE(Cell(f, 0), InUtf8(20866, kNames[0]));
  f.ui->texts << QStringLiteral("klingon");
  f.Command("ViewCodePageOther")->trigger();
  QCOMPARE(f.ui->log.last(), QStringLiteral("error: \"klingon\" is not a code page this system can convert."));
  QCOMPARE(f.form->Dbf1()->CodePage(), 20866);

  f.Command("ViewCodePageAuto")->trigger();
  QCOMPARE(f.form->Dbf1()->CodePage(), 866);
  QCOMPARE(Cell(f, 0), QString::fromUtf8(kNames[0]));

  // Each tab keeps its own choice.
  f.Command("ViewCodePage1251")->trigger();
  f.Open(WritePeople(dir));
  QCOMPARE(f.form->Dbf1()->CodePage(), 1252);
  f.form->TabControl1()->setCurrentIndex(0);
  QCOMPARE(f.form->Dbf1()->CodePage(), 1251);
  QCOMPARE(Cell(f, 0), InUtf8(1251, kNames[0]));

  f.Command("FileClose")->trigger();
  f.Command("FileClose")->trigger();
  QCOMPARE(ReadFile(path), before);
}

void TCodePageTest::SetCodePageWritesTheHeaderOnlyWhenAsked() {
  TTempDir dir;
  const std::string path = WriteBanks(dir);
  TFixture f;
  f.Open(path);
  QVERIFY(f.Enabled("TableSetCodePage"));

  f.ui->confirmAnswer = false;
  f.Command("TableSetCodePage")->trigger();
  QVERIFY(f.ui->log.last().startsWith(QStringLiteral("confirm: Write code page 866 (Cyrillic (DOS 866)) into banks.dbf?")));
  QCOMPARE(ReadFile(path)[29], uint8_t(0));

  // Another program has the table open: nothing is written, and the person
  // is told why.
  f.ui->confirmAnswer = true;
  {
    TDbfTable holder;
    holder.SetTableName(path);
    holder.Open();
    f.Command("TableSetCodePage")->trigger();
    QVERIFY2(f.ui->log.last().startsWith(QStringLiteral("error: The code page was not written: ")),
             qPrintable(f.ui->log.last()));
    QCOMPARE(ReadFile(path)[29], uint8_t(0));
    QVERIFY(f.form->Dbf1()->Active());
  }

  f.Command("TableSetCodePage")->trigger();
  const uint8_t id = ReadFile(path)[29];
  QVERIFY(id != 0);
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QCOMPARE(f.form->Dbf1()->CodePage(), 866);
  QVERIFY2(f.form->CodePageLabel()->text().startsWith(QStringLiteral("Code page 866: language driver 0x")),
           qPrintable(f.form->CodePageLabel()->text()));
  QCOMPARE(Cell(f, 0), QString::fromUtf8(kNames[0]));
}

QTEST_MAIN(TCodePageTest)
#include "code_page_test.moc"
