// The grid's row map against tables whose deleted records are known.
#include <QTest>

#include "app/row_map.h"
#include "engine/table_file.h"
#include "dataset/dbf_table.h"
#include "tests/support/test_support.h"

using namespace norvale;
using namespace norvale::test;

class TRowMapTest : public QObject {
  Q_OBJECT

 private slots:
  void MapsLiveRecordsAcrossScanBlocks() {
    // Records long enough that the scan takes several blocks; every
    // seventh is deleted, and so is the last.
    TTempDir dir;
    TTableImage t;
    t.fields = {{"TEXT", 'C', 250}};
    const int count = 9000;
    for (int i = 1; i <= count; ++i) t.records.push_back(t.Record({std::to_string(i)}, i % 7 == 0 || i == count));
    WriteFile(dir.File("big.dbf"), t.Bytes());
    TDbfTable table;
    table.SetTableName(dir.File("big.dbf"));
    table.Open();

    TRowMap map;
    map.Build(table.DbfFile(), table.RecordCount(), false);
    int64_t live = 0;
    for (int i = 1; i <= count; ++i) live += (i % 7 == 0 || i == count) ? 0 : 1;
    QCOMPARE(map.Count(), live);
    QCOMPARE(map.RecNoAt(0), int64_t(1));
    QCOMPARE(map.RecNoAt(6), int64_t(8));
    QCOMPARE(map.RowOf(7), int64_t(-1));
    QCOMPARE(map.RowOf(8), int64_t(6));
    QCOMPARE(map.RecNoAt(map.Count() - 1), int64_t(count - 1));
    QCOMPARE(map.RecNoAt(map.Count()), int64_t(0));
    for (int64_t row = 0; row < map.Count(); row += 97) QCOMPARE(map.RowOf(map.RecNoAt(row)), row);

    QCOMPARE(map.Remove(8), int64_t(6));
    QCOMPARE(map.RecNoAt(6), int64_t(9));
    QCOMPARE(map.Remove(8), int64_t(-1));

    TRowMap all;
    all.Build(table.DbfFile(), table.RecordCount(), true);
    QCOMPARE(all.Count(), int64_t(count));
    QCOMPARE(all.RowOf(7), int64_t(6));
    QCOMPARE(all.Remove(7), int64_t(-1));
    QCOMPARE(all.Count(), int64_t(count));
  }

  void ExtendTakesAppendedRecords() {
    TTempDir dir;
    TTableImage t;
    t.fields = {{"A", 'C', 3}};
    t.records = {t.Record({"a"}), t.Record({"b"}, true), t.Record({"c"}), t.Record({"d"}, true), t.Record({"e"})};
    WriteFile(dir.File("t.dbf"), t.Bytes());
    TDbfTable table;
    table.SetTableName(dir.File("t.dbf"));
    table.Open();
    TRowMap map;
    // As if the map had been built when the table held two records.
    map.Build(table.DbfFile(), 2, false);
    QCOMPARE(map.Count(), int64_t(1));
    map.Extend(table.DbfFile(), 5);
    QCOMPARE(map.Count(), int64_t(3));
    QCOMPARE(map.RecNoAt(1), int64_t(3));
    QCOMPARE(map.RecNoAt(2), int64_t(5));
    QCOMPARE(map.RecordCount(), int64_t(5));
  }
};

QTEST_MAIN(TRowMapTest)
#include "row_map_test.moc"
