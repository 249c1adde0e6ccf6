// Every table of the corpus opened in the viewer, browsed to its last record
// and closed: not one byte and not the modification time of the table or its
// companions may change. A viewer is trusted only if it leaves files alone.
#include <QTest>

#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

class TUntouchedFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void BrowsingTheCorpusChangesNothing() {
    int opened = 0;
    for (const std::string& name : CorpusTables()) {
      TTempDir dir;
      const std::string table = CopyCorpusTable(name, dir);
      QVERIFY2(!table.empty(), name.c_str());
      TFolderState::Age(dir.Path());
      const TFolderState before = TFolderState::Of(dir.Path());
      {
        TFixture f;
        // Asked whether to edit a table whose index cannot be kept current:
        // no, as a careful person answers.
        f.ui->confirmAnswer = false;
        f.Open(table);
        if (f.Tabs() == 1) {
          ++opened;
          f.form->Action(QStringLiteral("EditLast"))->trigger();
          f.form->Action(QStringLiteral("EditFirst"))->trigger();
          f.form->Action(QStringLiteral("FileClose"))->trigger();
          QCOMPARE(f.Tabs(), 0);
        }
      }
      const std::string changes = TFolderState::Of(dir.Path()).ChangesSince(before);
      QVERIFY2(changes.empty(), (name + ": " + changes).c_str());
    }
    // Most of the corpus opens; the few the engine refuses were checked too.
    QVERIFY(opened >= 40);
  }
};

QTEST_MAIN(TUntouchedFilesTest)
#include "untouched_files_test.moc"
