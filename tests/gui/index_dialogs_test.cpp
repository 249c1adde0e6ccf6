// Create Index and the Indexes window: the names they propose and refuse,
// the files they make and remove, and the table shown again, shared.
#include <map>

#include <QComboBox>
#include <QFile>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/dialogs/index_dialogs.h"
#include "app/drop_down_combo.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

// Every file in the folder with its bytes: what a refused command must
// leave exactly as it was.
std::map<QString, std::vector<uint8_t>> Folder(const TTempDir& dir) {
  std::map<QString, std::vector<uint8_t>> files;
  const QDir folder(QString::fromStdString(dir.Path()));
  for (const QString& name : folder.entryList(QDir::Files)) files[name] = ReadFile(dir.File(name.toStdString()));
  return files;
}

QStringList Names(TFixture& f) {
  TDbfGridModel* model = f.form->GridModel();
  model->SetScanStep(std::chrono::microseconds(0));
  QTest::qWaitFor([&] { return !model->Scanning(); }, 30000);
  QStringList names;
  for (int row = 0; row < model->rowCount(); ++row) names << model->index(row, 0).data().toString().trimmed();
  return names;
}

bool Create(TFixture& f, const QString& field, const QString& name, bool descending = false) {
  TCreateIndexDialog* d = f.form->CreateIndexDialog();
  f.Command("IndexCreate")->trigger();
  d->FieldCombo()->setEditText(field);
  d->IndexName()->setText(name);
  d->Options()->setCurrentIndex(descending ? 1 : 0);
  return d->Create();
}

}  // namespace

class TIndexDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void ProposesANameOnlyFromAFieldThatFits();
  void CreatesATagOrAnNdxFileWithTheTableShared();
  void RefusedInputLeavesEveryFileAsItWas();
  void AFoxProTableTakesNdxFilesOnly();
  void TheIndexesWindowSwitchesRemovesAndRegenerates();
  void TheWindowsFollowTheShownTable();
};

void TIndexDialogsTest::ProposesANameOnlyFromAFieldThatFits() {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"LASTNAME", 'C', 10}, {"VERYLONGNM", 'C', 4}};
  t.records.push_back(t.Record({"a", "b", "c"}));
  WriteFile(dir.File("names.dbf"), t.Bytes());
  TFixture f;
  f.Open(dir.File("names.dbf"));
  TCreateIndexDialog* d = f.form->CreateIndexDialog();
  f.Command("IndexCreate")->trigger();
  QVERIFY(d->isVisible());
  QVERIFY(!d->isModal());
  QCOMPARE(d->TableName()->text(), QStringLiteral("names.dbf"));
  QCOMPARE(d->FieldCombo()->count(), 3);
  QCOMPARE(d->FieldCombo()->itemText(1), QStringLiteral("LASTNAME"));
  auto proposed = [&](const QString& field) {
    d->IndexName()->setText(QStringLiteral("typed"));
    d->FieldCombo()->setEditText(field);
    d->ProposeName();
    return d->IndexName()->text();
  };
  QCOMPARE(proposed(QStringLiteral("name")), QStringLiteral("IDX_NAME"));
  QCOMPARE(proposed(QStringLiteral("LASTNAME")), QStringLiteral("LASTNAME"));
  QCOMPARE(proposed(QStringLiteral("VERYLONGNM")), QStringLiteral("VERYLONGNM"));
  QCOMPARE(proposed(QStringLiteral("UPPER(NAME)")), QStringLiteral("typed"));
  QCOMPARE(proposed(QStringLiteral("  ")), QStringLiteral("typed"));
  // The name box proposes when it gets the focus.
  d->FieldCombo()->setEditText(QStringLiteral("NAME"));
  d->IndexName()->clear();
  QFocusEvent in(QEvent::FocusIn);
  QCoreApplication::sendEvent(d->IndexName(), &in);
  QCOMPARE(d->IndexName()->text(), QStringLiteral("IDX_NAME"));
  QVERIFY(f.ui->log.isEmpty());
}

void TIndexDialogsTest::CreatesATagOrAnNdxFileWithTheTableShared() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  QVERIFY(Create(f, QStringLiteral("NAME"), QStringLiteral("IDX_NAME")));
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Index created")});
  QVERIFY(!f.form->CreateIndexDialog()->isVisible());
  QVERIFY(QFile::exists(QString::fromStdString(dir.File("people.mdx"))));
  QCOMPARE(ReadFile(path)[28] & 1, 1);
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->Exclusive());

  // Descending is honoured; an .NDX name makes a file beside the table.
  f.ui->log.clear();
  QVERIFY(Create(f, QStringLiteral("AGE"), QStringLiteral("ages.ndx"), true));
  QVERIFY(QFile::exists(QString::fromStdString(dir.File("ages.ndx"))));
  f.form->SelectOrder(QString::fromStdString(dir.File("ages.ndx")));
  QVERIFY(!f.form->Dbf1()->IndexName().empty());
  QCOMPARE(Names(f), (QStringList{"cy", "bob", "ann"}));

  // Building an existing one anew asks first, and No leaves it.
  f.ui->log.clear();
  const auto before = Folder(dir);
  f.ui->confirmAnswer = false;
  QVERIFY(!Create(f, QStringLiteral("AGE"), QStringLiteral("idx_name")));
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log.front().startsWith(QStringLiteral("confirm: Index \"idx_name\" exists.")));
  QCOMPARE(Folder(dir), before);
  // A tag name the production index cannot hold whole is refused, not cut
  // into another tag's name.
  f.ui->confirmAnswer = true;
  f.ui->log.clear();
  QVERIFY(!Create(f, QStringLiteral("UPPER(NAME)"), QStringLiteral("LONGERTHANTEN")));
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY2(f.ui->log.front().contains(QStringLiteral("at most 10")), qPrintable(f.ui->log.front()));
  QCOMPARE(Folder(dir), before);
  // Yes builds it anew on the new key.
  QVERIFY(Create(f, QStringLiteral("AGE"), QStringLiteral("IDX_NAME"), true));
  f.form->SelectOrder(QStringLiteral("IDX_NAME"));
  QCOMPARE(Names(f), (QStringList{"cy", "bob", "ann"}));
}

void TIndexDialogsTest::RefusedInputLeavesEveryFileAsItWas() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  const auto before = Folder(dir);
  const struct {
    const char* field;
    const char* name;
    const char* says;
  } refused[] = {
      {"NAME", "", "error: Give the index a name."},
      {"", "BYNAME", "error: Give the index a key: a field name or an expression."},
      {"NAME", "names.idx", "error: A single-index file needs the extension .NDX."},
      {"NAME", "people.dbf", "error: A single-index file needs the extension .NDX."},
      {"NOPE", "BYNOPE", nullptr},
      {"NAME +", "BYBAD", nullptr},
  };
  for (const auto& r : refused) {
    f.ui->log.clear();
    QVERIFY2(!Create(f, QString::fromUtf8(r.field), QString::fromUtf8(r.name)), r.name);
    QCOMPARE(f.ui->log.size(), 1);
    if (r.says) QCOMPARE(f.ui->log.front(), QString::fromUtf8(r.says));
    else QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: ")), qPrintable(f.ui->log.front()));
    QCOMPARE(Folder(dir), before);
    QVERIFY(f.form->Dbf1()->Active());
    QVERIFY(!f.form->Dbf1()->Exclusive());
    // The window stays open for another try.
    QVERIFY(f.form->CreateIndexDialog()->isVisible());
  }
  // Another program holds the table: said, and nothing written.
  f.ui->log.clear();
  {
    TDbfTable holder;
    holder.SetTableName(path);
    holder.Open();
    QVERIFY(!Create(f, QStringLiteral("NAME"), QStringLiteral("IDX_NAME")));
  }
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log.front().startsWith(QStringLiteral("error: ")));
  QCOMPARE(Folder(dir), before);
  QVERIFY(f.form->Dbf1()->Active());
}

void TIndexDialogsTest::AFoxProTableTakesNdxFilesOnly() {
  TTempDir dir;
  TTableImage t;
  t.versionByte = 0x30;
  t.fields = {{"NAME", 'C', 10}};
  t.records.push_back(t.Record({"b"}));
  t.records.push_back(t.Record({"a"}));
  WriteFile(dir.File("fox.dbf"), t.Bytes());
  TFixture f;
  f.Open(dir.File("fox.dbf"));
  QCOMPARE(f.form->Dbf1()->TableLevel(), 25);
  const auto before = Folder(dir);
  QVERIFY(!Create(f, QStringLiteral("NAME"), QStringLiteral("BYNAME")));
  QCOMPARE(f.ui->log, QStringList{QStringLiteral(
                          "error: FoxPro tables take single-index files here: give the name the extension .NDX.")});
  QCOMPARE(Folder(dir), before);
  TCreateIndexDialog* d = f.form->CreateIndexDialog();
  d->FieldCombo()->setEditText(QStringLiteral("NAME"));
  d->ProposeName();
  QCOMPARE(d->IndexName()->text(), QStringLiteral("IDX_NAME.ndx"));
  f.ui->log.clear();
  QVERIFY(d->Create());
  QVERIFY(QFile::exists(QString::fromStdString(dir.File("IDX_NAME.ndx"))));
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Index created")});
}

void TIndexDialogsTest::TheIndexesWindowSwitchesRemovesAndRegenerates() {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TFixture f;
  f.Open(path);
  TIndexesDialog* d = f.form->IndexesDialog();
  f.Command("IndexShow")->trigger();
  QVERIFY(d->isVisible());
  QCOMPARE(d->CountLabel()->text(), QStringLiteral("Count: 0"));
  d->SwitchTo();
  QVERIFY(f.form->Dbf1()->IndexName().empty());
  QVERIFY(Create(f, QStringLiteral("AGE"), QStringLiteral("BYAGE"), true));
  QVERIFY(Create(f, QStringLiteral("NAME"), QStringLiteral("BYNAME")));
  // The window follows the table, reopened after each creation.
  QCOMPARE(d->CountLabel()->text(), QStringLiteral("Count: 2"));
  QCOMPARE(d->List()->currentRow(), 0);
  QCOMPARE(d->List()->item(0)->text(), QStringLiteral("BYAGE"));
  d->SwitchTo();
  QCOMPARE(f.form->Dbf1()->IndexName(), std::string("BYAGE"));
  QCOMPARE(Names(f), (QStringList{"cy", "bob", "ann"}));

  f.ui->log.clear();
  f.ui->confirmAnswer = false;
  const auto before = Folder(dir);
  d->RemoveIndex();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: Are you sure you wish to delete the Index \"BYAGE\"")});
  QCOMPARE(Folder(dir), before);
  f.ui->confirmAnswer = true;
  d->RemoveIndex();
  QCOMPARE(d->CountLabel()->text(), QStringLiteral("Count: 1"));
  QVERIFY(f.form->Dbf1()->IndexName().empty());
  QCOMPARE(Names(f), (QStringList{"ann", "bob", "cy"}));
  QVERIFY(!f.form->Dbf1()->Exclusive());

  f.ui->log.clear();
  d->Regenerate();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Regeneration Complete.")});
  // The last tag goes with its file and the header's flag.
  d->RemoveIndex();
  QCOMPARE(d->CountLabel()->text(), QStringLiteral("Count: 0"));
  QVERIFY(!QFile::exists(QString::fromStdString(dir.File("people.mdx"))));
  QCOMPARE(ReadFile(path)[28] & 1, 0);
  QVERIFY(f.form->Dbf1()->Active());
}

void TIndexDialogsTest::TheWindowsFollowTheShownTable() {
  TTempDir dir;
  TFixture f;
  for (const char* name : {"IndexCreate", "IndexShow", "ToolIndexes", "ToolAddIndex"}) QVERIFY2(!f.Enabled(name), name);
  f.Open(WritePeople(dir));
  for (const char* name : {"IndexCreate", "IndexShow", "ToolIndexes", "ToolAddIndex"}) QVERIFY2(f.Enabled(name), name);
  QVERIFY(Create(f, QStringLiteral("NAME"), QStringLiteral("BYNAME")));
  f.Command("IndexShow")->trigger();
  f.Command("IndexCreate")->trigger();
  QCOMPARE(f.form->IndexesDialog()->CountLabel()->text(), QStringLiteral("Count: 1"));
  // Another tab's table, without indexes.
  TTableImage t;
  t.fields = {{"CODE", 'C', 4}};
  WriteFile(dir.File("codes.dbf"), t.Bytes());
  f.Open(dir.File("codes.dbf"));
  QCOMPARE(f.form->IndexesDialog()->CountLabel()->text(), QStringLiteral("Count: 0"));
  QCOMPARE(f.form->CreateIndexDialog()->TableName()->text(), QStringLiteral("codes.dbf"));
  QCOMPARE(f.form->CreateIndexDialog()->FieldCombo()->itemText(0), QStringLiteral("CODE"));
  f.Command("FileClose")->trigger();
  f.Command("FileClose")->trigger();
  QCOMPARE(f.form->IndexesDialog()->List()->count(), 0);
  QVERIFY(!f.form->CreateIndexDialog()->CreateButton()->isEnabled());
}

QTEST_MAIN(TIndexDialogsTest)
#include "index_dialogs_test.moc"
