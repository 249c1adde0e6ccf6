// Pack, restructure and zap: what the new table holds, what happens to the
// old files, and that a failure, a full disk or a crash at any step of the
// swap leaves a table whose name opens completely, old or new.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/exceptions.h"
#include "engine/file_swap.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"
#include "index/table_rewrite.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

struct TRow {
  std::string name;
  std::string amount;  // as stored text, trimmed
  std::string note;    // memo value
  bool deleted = false;
};

void AddField(TDbfFieldDefs& defs, const char* name, char type, int size, int decimals = 0) {
  TDbfFieldDef& d = defs.Add();
  d.SetFieldName(name);
  d.SetNativeFieldType(type);
  d.SetSize(size);
  d.SetPrecision(decimals);
}

// NAME C(20), AMOUNT N(8,2), NOTE M; with a NAME tag in the production index.
void MakeTable(const std::string& path, const std::vector<TRow>& rows, TXBaseVersion version = xBaseIV,
               bool withIndex = true) {
  TDbfFile file;
  file.SetFileName(path);
  file.SetCreateVersion(version);
  file.SetMode(amExclusiveCreate);
  file.Open();
  TDbfFieldDefs defs(version);
  AddField(defs, "NAME", 'C', 20);
  AddField(defs, "AMOUNT", 'N', 8, 2);
  AddField(defs, "NOTE", 'M', 10);
  file.CreateStructure(defs, 512);
  file.Close();
  file.SetMode(amExclusiveOpen);
  file.Open();
  std::vector<uint8_t> rec(static_cast<size_t>(file.RecordLength()));
  const TDbfFieldDef* name = file.FieldDefByName("NAME");
  const TDbfFieldDef* amount = file.FieldDefByName("AMOUNT");
  const TDbfFieldDef* note = file.FieldDefByName("NOTE");
  for (const TRow& r : rows) {
    file.BlankRecord(rec.data());
    std::copy(r.name.begin(), r.name.end(), rec.begin() + name->Offset());
    std::copy(r.amount.begin(), r.amount.end(), rec.begin() + amount->Offset() + amount->Size() - int(r.amount.size()));
    if (!r.note.empty()) {
      const int32_t block = static_cast<int32_t>(file.MemoFile()->WriteMemo(0, 0, r.note));
      file.EncodeField(*note, ftInteger, false, rec.data(), &block);
    }
    if (r.deleted) rec[0] = '*';
    file.AppendRecord(rec.data());
  }
  file.Close();
  if (withIndex) {
    file.Open();
    TTableIndexes indexes(file);
    indexes.AttachIndex("NAME", "NAME", static_cast<TIndexOptions>(0), true);
  }
}

std::string Text(TDbfFile& file, const uint8_t* rec, const char* field) {
  const TDbfFieldDef* f = file.FieldDefByName(field);
  std::string s(reinterpret_cast<const char*>(rec) + f->Offset(), static_cast<size_t>(f->Size()));
  s.erase(s.find_last_not_of(' ') + 1);
  s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
  return s;
}

std::vector<TRow> ReadRows(const std::string& path) {
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  std::vector<TRow> rows;
  std::vector<uint8_t> rec(static_cast<size_t>(file.RecordLength()));
  for (int64_t n = 1; n <= file.RecordsInFile(); ++n) {
    file.ReadRecord(n, rec.data());
    TRow r{Text(file, rec.data(), "NAME"), Text(file, rec.data(), "AMOUNT"), "", rec[0] == '*'};
    if (const TDbfFieldDef* note = file.FieldDefByName("NOTE")) {
      int32_t block = 0;
      if (file.DecodeField(*note, ftInteger, false, &block, rec.data()) && block > 0) file.MemoFile()->ReadMemo(block, r.note);
    }
    rows.push_back(r);
  }
  EXPECT_EQ(file.HeaderRecordCount(), rows.size()) << path;
  return rows;
}

std::vector<TRow> Sample() {
  std::vector<TRow> rows;
  for (int i = 1; i <= 10; ++i)
    rows.push_back({"name" + std::to_string(11 - i), std::to_string(i) + ".25", "note of record " + std::to_string(i),
                    i == 2 || i == 5 || i == 9});
  rows[3].note = std::string(3000, 'x');  // a value over several blocks
  return rows;
}

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// The record numbers of a tag in key order, as the index file holds them.
std::vector<int64_t> TagOrder(const std::string& path, const std::string& tag) {
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  TTableIndexes indexes(file);
  indexes.OpenProduction();
  int t = -1;
  TIndexFile* index = indexes.Find(tag, &t);
  if (!index) return {};
  index->SelectTag(t);
  std::vector<int64_t> order;
  index->MoveFirst();
  int64_t batch[64];
  for (int n; (n = index->MoveNextMany(batch, 64)) > 0;) order.insert(order.end(), batch, batch + n);
  return order;
}

std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& name : Listing(dir)) files[name] = test::ReadFile(dir + "/" + name);
  return files;
}

TEST(Pack, KeepsTheLiveRecordsInOrderWithTheirOwnMemoValuesAndRebuiltIndex) {
  TTempDir dir;
  const std::string path = dir.File("customer.dbf");
  const std::vector<TRow> rows = Sample();
  MakeTable(path, rows);
  const auto memoBefore = fs::file_size(dir.File("customer.dbt"));

  const TRewriteResult result = PackTable(path);
  EXPECT_EQ(result.records, 7);
  EXPECT_EQ(result.dropped, 3);
  const std::vector<TRow> packed = ReadRows(path);
  std::vector<TRow> live;
  for (const TRow& r : rows)
    if (!r.deleted) live.push_back(r);
  ASSERT_EQ(packed.size(), live.size());
  for (size_t i = 0; i < live.size(); ++i) {
    EXPECT_EQ(packed[i].name, live[i].name);
    EXPECT_EQ(packed[i].amount, live[i].amount);
    EXPECT_EQ(packed[i].note, live[i].note);
    EXPECT_FALSE(packed[i].deleted);
  }
  EXPECT_LT(fs::file_size(dir.File("customer.dbt")), memoBefore) << "the deleted records' values went";
  EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"customer.dbf", "customer.dbt", "customer.mdx"}))
      << "no backup and no temporary file stays";

  // The tag holds the new record numbers, in name order.
  std::vector<int64_t> expected(live.size());
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = int64_t(i) + 1;
  std::sort(expected.begin(), expected.end(), [&](int64_t a, int64_t b) { return live[a - 1].name < live[b - 1].name; });
  EXPECT_EQ(TagOrder(path, "NAME"), expected);
  const std::vector<uint8_t> header = test::ReadFile(dir.File("customer.mdx"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.data()) + 4), "CUSTOMER") << "the index names its table";
}

TEST(Pack, CompanionsKeepTheNamesTheTableOpenedThemBy) {
  TTempDir dir;
  MakeTable(dir.File("tmp.dbf"), Sample(), xBaseIV, false);
  fs::rename(dir.File("tmp.dbf"), dir.File("CUSTOMER.DBF"));
  fs::rename(dir.File("tmp.dbt"), dir.File("customer.dbt"));
  PackTable(dir.File("CUSTOMER.DBF"));
  EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"CUSTOMER.DBF", "customer.dbt"}));
  const std::vector<TRow> rows = ReadRows(dir.File("CUSTOMER.DBF"));
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[2].note, std::string(3000, 'x'));
}

TEST(Pack, RefusesATableAnotherProgramHasOpen) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, Sample());
  const auto before = Snapshot(dir.Path());
  TDbfFile other;
  other.SetFileName(path);
  other.SetMode(amSharedOpen);
  other.Open();
  EXPECT_THROW(PackTable(path), Exception);
  other.Close();
  EXPECT_EQ(Snapshot(dir.Path()), before);
}

TEST(Zap, LeavesTheHeaderAndEmptyTags) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, Sample());
  ZapTable(path);
  EXPECT_TRUE(ReadRows(path).empty());
  EXPECT_TRUE(TagOrder(path, "NAME").empty());
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  EXPECT_EQ(fs::file_size(path), size_t(file.HeaderLength()) + 1) << "cut to the header and its end byte";
}

// The restructure's fields: the old ones by position unless changed.
TDbfFieldDefs Changed(const std::vector<std::tuple<const char*, char, int, int, int>>& fields) {
  TDbfFieldDefs defs(xBaseIV);
  for (const auto& [name, type, size, decimals, from] : fields) {
    AddField(defs, name, type, size, decimals);
    defs.Item(defs.Count() - 1).SetCopyFrom(from);
  }
  return defs;
}

TEST(Restructure, ConvertsNumbersByValue) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, {{"a", "123", ""}, {"b", "123.45", ""}, {"c", "-0.5", ""}, {"d", "", ""}}, xBaseIV, false);
  RestructureTable(path, Changed({{"NAME", 'C', 20, 0, 0}, {"AMOUNT", 'N', 10, 3, 1}, {"WHOLE", 'N', 6, 0, 1}}), false);
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  std::vector<uint8_t> rec(static_cast<size_t>(file.RecordLength()));
  const TDbfFieldDef* amount = file.FieldDefByName("AMOUNT");
  const TDbfFieldDef* whole = file.FieldDefByName("WHOLE");
  const auto stored = [&](int64_t n, const TDbfFieldDef* f) {
    file.ReadRecord(n, rec.data());
    return std::string(reinterpret_cast<const char*>(rec.data()) + f->Offset(), size_t(f->Size()));
  };
  EXPECT_EQ(stored(1, amount), "   123.000");
  EXPECT_EQ(stored(2, amount), "   123.450");
  EXPECT_EQ(stored(2, whole), "   123");
  EXPECT_EQ(stored(3, whole), "    -1") << "rounded half away from zero";
  EXPECT_EQ(stored(4, amount), "          ") << "no value stays no value";
}

TEST(Restructure, WidensAWholeNumberToDecimals) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, {{"a", "123", ""}}, xBaseIV, false);
  // N(8,2) holding 123.00 becomes N(6,0) and back to N(8,2).
  RestructureTable(path, Changed({{"NAME", 'C', 20, 0, 0}, {"AMOUNT", 'N', 6, 0, 1}}), false);
  RestructureTable(path, Changed({{"NAME", 'C', 20, 0, 0}, {"AMOUNT", 'N', 8, 2, 1}}), false);
  EXPECT_EQ(ReadRows(path)[0].amount, "123.00");
}

struct TRefusal {
  const char* what;
  std::vector<TRow> rows;
  std::vector<std::tuple<const char*, char, int, int, int>> fields;
  const char* message;
};

TEST(Restructure, AValueThatCannotArriveStopsItAndLeavesEveryFileAsItWas) {
  const std::vector<TRefusal> cases = {
      {"too wide", {{"a", "1.5", ""}, {"b", "12345.67", ""}}, {{"NAME", 'C', 20, 0, 0}, {"AMOUNT", 'N', 6, 2, 1}},
       "Record 2: Value 12345.67 does not fit field AMOUNT (width 6, 2 decimals)."},
      {"not a number", {{"12", "1", ""}, {"x1", "2", ""}}, {{"NAME", 'N', 5, 0, 0}},
       "Record 2: Value \"x1\" cannot become a number in field NAME."},
      {"text cut", {{"abcdef", "1", ""}}, {{"NAME", 'C', 3, 0, 0}},
       "Record 1: Value \"abcdef\" does not fit field NAME (width 3, 0 decimals)."},
      {"memo to text", {{"a", "1", "memo"}}, {{"NAME", 'C', 20, 0, 0}, {"NOTE", 'C', 10, 0, 2}},
       "Field NOTE cannot change from type M to type C."},
  };
  for (const TRefusal& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    const std::string path = dir.File("t.dbf");
    MakeTable(path, c.rows);
    const auto before = Snapshot(dir.Path());
    try {
      RestructureTable(path, Changed(c.fields), false);
      ADD_FAILURE() << "accepted";
    } catch (const EDbfError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(Snapshot(dir.Path()), before) << "byte-identical, and nothing left beside";
  }
}

TEST(Restructure, KeepsTheOldTableAsTheBackupAndMovesMemoValuesWithTheirField) {
  TTempDir dir;
  const std::string path = dir.File("customer.dbf");
  MakeTable(path, Sample());
  // A name the new table must not take, and an unrelated file where the
  // backup's memo would go.
  test::WriteFile(dir.File("customer_1.dbf"), {'x'});
  test::WriteFile(dir.File("customer_3.dbt"), {'y'});
  const TRewriteResult result =
      RestructureTable(path, Changed({{"NOTE", 'M', 10, 0, 2}, {"NAME", 'C', 25, 0, 0}, {"EXTRA", 'L', 1, 0, -1}}), false);
  EXPECT_EQ(result.backup, dir.File("customer_4.dbf"));
  EXPECT_EQ(test::ReadFile(dir.File("customer_1.dbf")), std::vector<uint8_t>{'x'});
  EXPECT_EQ(test::ReadFile(dir.File("customer_3.dbt")), std::vector<uint8_t>{'y'});
  EXPECT_TRUE(fs::exists(dir.File("customer_4.dbt")));
  EXPECT_TRUE(fs::exists(dir.File("customer_4.mdx")));
  EXPECT_FALSE(fs::exists(dir.File("customer_2.dbf"))) << "the new table's own name is gone";

  const std::vector<TRow> original = Sample();
  const std::vector<TRow> old = ReadRows(result.backup);
  ASSERT_EQ(old.size(), original.size());
  for (size_t i = 0; i < old.size(); ++i) EXPECT_EQ(old[i].note, original[i].note) << "the backup opens whole";

  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  ASSERT_EQ(file.RecordsInFile(), 10);
  EXPECT_EQ(file.FieldDefs().Item(0).FieldName(), "NOTE");
  std::vector<uint8_t> rec(static_cast<size_t>(file.RecordLength()));
  for (int64_t n = 1; n <= 10; ++n) {
    file.ReadRecord(n, rec.data());
    std::string note;
    int32_t block = 0;
    if (file.DecodeField(file.FieldDefs().Item(0), ftInteger, false, &block, rec.data())) file.MemoFile()->ReadMemo(block, note);
    EXPECT_EQ(note, original[size_t(n - 1)].note);
    EXPECT_EQ(Text(file, rec.data(), "NAME"), original[size_t(n - 1)].name);
    EXPECT_EQ(rec[0] == '*', original[size_t(n - 1)].deleted) << "deleted records stay deleted";
  }
  EXPECT_EQ(TagOrder(path, "NAME").size(), 10u);
}

TEST(Restructure, AnIndexOnARemovedFieldStopsIt) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, Sample());
  const auto before = Snapshot(dir.Path());
  EXPECT_THROW(RestructureTable(path, Changed({{"AMOUNT", 'N', 8, 2, 1}}), false), EDbfError);
  EXPECT_EQ(Snapshot(dir.Path()), before);
}

TEST(IndexCreation, ABadNameOrExpressionTouchesNoFile) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, Sample(), xBaseIV, false);
  const auto before = Snapshot(dir.Path());
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amExclusiveOpen);
  file.Open();
  TTableIndexes indexes(file);
  for (const auto& [name, expression] : std::vector<std::pair<std::string, std::string>>{
           {"BYNOTHING", "NOSUCHFIELD"}, {"NAMEDTOOLONG", "NAME"}, {"BAD NAME", "NAME"}, {"BYDATE", "NAME = 'x'"},
           {"x.ndx", "NAME +"}}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(indexes.AttachIndex(name, expression, static_cast<TIndexOptions>(0), true), Exception);
  }
  file.Close();
  EXPECT_EQ(Snapshot(dir.Path()), before);

  // Shared, nothing may be created; and a bad expression for an existing tag
  // keeps the tag.
  file.SetMode(amSharedOpen);
  file.Open();
  TTableIndexes shared(file);
  EXPECT_THROW(shared.AttachIndex("BYNAME", "NAME", static_cast<TIndexOptions>(0), true), EDbfError);
  EXPECT_THROW(shared.AttachIndex("y.ndx", "NAME", static_cast<TIndexOptions>(0), true), EDbfError);
  file.Close();
  EXPECT_EQ(Snapshot(dir.Path()), before);
  MakeTable(dir.File("tagged.dbf"), Sample());
  file.SetFileName(dir.File("tagged.dbf"));
  file.SetMode(amExclusiveOpen);
  file.Open();
  TTableIndexes tagged(file);
  tagged.OpenProduction();
  EXPECT_THROW(tagged.AttachIndex("NAME", "NOSUCHFIELD", static_cast<TIndexOptions>(0), true), Exception);
  file.Close();
  EXPECT_EQ(TagOrder(dir.File("tagged.dbf"), "NAME").size(), 10u);
}

// A child process packs or restructures and is killed at one step of the
// swap; the parent then opens the table by its name.
void KillAt(const std::string& path, int step, bool restructure) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TFileSwap::StepHook() = [step](int at) {
      if (at == step) raise(SIGKILL);
    };
    try {
      if (restructure)
        RestructureTable(path, Changed({{"NAME", 'C', 20, 0, 0}, {"NOTE", 'M', 10, 0, 2}, {"AMOUNT", 'N', 9, 2, 1}}), true);
      else
        PackTable(path);
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "step " << step << " status " << status;
}

TEST(RewriteCrash, EveryStepOfTheSwapLeavesACompleteTable) {
  const std::vector<TRow> rows = Sample();
  std::vector<TRow> live;
  for (const TRow& r : rows)
    if (!r.deleted) live.push_back(r);
  for (bool restructure : {false, true}) {
    for (int step = TFileSwap::kJournalWritten; step < TFileSwap::kLastStep; ++step) {
      SCOPED_TRACE((restructure ? "restructure, step " : "pack, step ") + std::to_string(step));
      TTempDir dir;
      const std::string path = dir.File("t.dbf");
      MakeTable(path, rows);
      KillAt(path, step, restructure);
      const std::vector<TRow> now = ReadRows(path);  // the open finishes or undoes the swap
      const std::vector<TRow>& expected = now.size() == rows.size() ? rows : live;
      ASSERT_EQ(now.size(), expected.size());
      for (size_t i = 0; i < now.size(); ++i) {
        EXPECT_EQ(now[i].name, expected[i].name);
        EXPECT_EQ(now[i].note, expected[i].note);
      }
      // Up to the journal's commit mark the old table comes back; after it
      // the new one stays.
      EXPECT_EQ(now.size() == live.size(), step >= TFileSwap::kCommitted);
      EXPECT_FALSE(fs::exists(TFileSwap::JournalName(path)));
      EXPECT_EQ(TagOrder(path, "NAME").size(), now.size()) << "the index belongs to the table it opens with";
      std::set<std::string> expectedFiles{"t.dbf", "t.dbt", "t.mdx"};
      if (restructure && step >= TFileSwap::kCommitted) expectedFiles.insert({"t_2.dbf", "t_2.dbt", "t_2.mdx"});
      EXPECT_EQ(Listing(dir.Path()), expectedFiles);
    }
  }
}

TEST(RewriteFullDisk, TheErrorIsReportedAndTheOldTableStays) {
  for (bool restructure : {false, true}) {
    SCOPED_TRACE(restructure ? "restructure" : "pack");
    TTempDir dir;
    const std::string path = dir.File("t.dbf");
    std::vector<TRow> rows;
    for (int i = 0; i < 400; ++i) rows.push_back({"n" + std::to_string(i), "1", std::string(600, 'a' + i % 26), i % 7 == 0});
    MakeTable(path, rows);
    const auto before = Snapshot(dir.Path());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      // Big enough for the table file, too small for the new memo file.
      rlimit limit{static_cast<rlim_t>(fs::file_size(path)) + 4096, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &limit);
      try {
        if (restructure)
          RestructureTable(path, Changed({{"NAME", 'C', 20, 0, 0}, {"NOTE", 'M', 10, 0, 2}}), false);
        else
          PackTable(path);
      } catch (const EDbfWriteError&) {
        _exit(0);
      } catch (...) {
        _exit(2);
      }
      _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no error reported; 2: another kind of error";
    EXPECT_EQ(Snapshot(dir.Path()), before);
  }
}

}  // namespace
}  // namespace norvale
