// The dataset window against a plain model: random walks, bookmarks,
// edits, inserts, appends, deletions, recalls, ShowDeleted toggles and a
// second view joining and leaving, over small tables with some records
// deleted from the start. After every step the current record, Bof/Eof,
// RecNo, RecordCount, IsEmpty, the state and every record a view sees
// through its data link must agree with a vector of rows, and a view whose
// window changed must have been told.
//
// The model never asks where in the window the current record sits; it asks
// what a grid needs: the window is an unbroken run of the records in view
// (with the new record in its place while inserting), as long as the view
// asks for or the table allows, the current record at the link's active
// position, and no buffer older than the file.
//
// NORVALE_MODEL_SEED (first seed, default 1) and NORVALE_MODEL_SEQUENCES
// (default 300) choose the sequences; a failure prints the seed that
// reproduces it alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

constexpr int kSteps = 200;
constexpr int kNameLength = 8;
constexpr int kNumberLength = 4;
// Where Undelete and the second view sit among the hundred rolls of a step.
constexpr uint32_t kUndeleteFrom = 92, kUndeleteTo = 96, kSecondViewFrom = 98;

struct TRow {
  std::string name;  // as AsString gives it: trailing blanks off
  std::string n;     // digits, or empty for a blank number
  bool deleted = false;
  bool operator==(const TRow&) const = default;
};

std::string Show(const TRow& row) { return "'" + row.name + "'/'" + row.n + "'" + (row.deleted ? "*" : ""); }

enum class TModelState { browse, edit, insert };

// What the table should do, in terms of rows in file order (record number
// = index + 1) and the record the dataset stands on (0: none).
class TWindowModel {
 public:
  std::vector<TRow> rows;
  bool showDeleted = false;
  int cur = 0;
  bool bof = true, eof = true;
  TModelState state = TModelState::browse;
  TRow pending;  // the record being edited or inserted
  bool modified = false;
  // While inserting: the record the new one goes in front of (0 when the
  // view was empty), or an append to the end.
  int insertBefore = 0;
  bool appending = false;

  int Count() const { return static_cast<int>(rows.size()); }
  bool Visible(int recNo) const {
    return recNo >= 1 && recNo <= Count() && (showDeleted || !rows[static_cast<size_t>(recNo - 1)].deleted);
  }
  int NextVisible(int after) const {
    for (int r = std::max(after + 1, 1); r <= Count(); ++r)
      if (Visible(r)) return r;
    return 0;
  }
  int PriorVisible(int before) const {
    for (int r = std::min(before - 1, Count()); r >= 1; --r)
      if (Visible(r)) return r;
    return 0;
  }
  int FirstVisible() const { return NextVisible(0); }
  int LastVisible() const { return PriorVisible(Count() + 1); }
  std::vector<int> VisibleRecords() const {
    std::vector<int> out;
    for (int r = 1; r <= Count(); ++r)
      if (Visible(r)) out.push_back(r);
    return out;
  }
  // Where a re-read of the window lands when its record may have left the
  // view: the record itself, else the next one in view, else the one before.
  int Settle(int recNo) const {
    if (Visible(recNo)) return recNo;
    const int next = NextVisible(recNo);
    return next ? next : PriorVisible(recNo);
  }
  TRow& Row(int recNo) { return rows[static_cast<size_t>(recNo - 1)]; }

  void CheckBrowseMode() {
    if (state == TModelState::browse) return;
    if (modified)
      Post();
    else
      Cancel();
  }
  void First() {
    CheckBrowseMode();
    cur = FirstVisible();
    bof = true;
    eof = cur == 0;
  }
  void Last() {
    CheckBrowseMode();
    cur = LastVisible();
    eof = true;
    bof = cur == 0;
  }
  int MoveBy(int distance) {
    CheckBrowseMode();
    if (distance == 0 || (distance > 0 && eof) || (distance < 0 && bof)) return 0;
    bof = eof = false;
    int moved = 0;
    for (; distance > 0; --distance, ++moved) {
      const int next = NextVisible(cur);
      if (!next) {
        eof = true;
        break;
      }
      cur = next;
    }
    for (; distance < 0; ++distance, --moved) {
      const int prior = PriorVisible(cur);
      if (!prior) {
        bof = true;
        break;
      }
      cur = prior;
    }
    return moved;
  }
  int Bookmark() const { return state == TModelState::insert ? 0 : cur; }
  void GotoBookmark(int recNo) {
    CheckBrowseMode();
    if (Visible(recNo)) {
      cur = recNo;
    } else {
      const int next = NextVisible(recNo);
      cur = next ? next : LastVisible();
    }
    bof = eof = cur == 0;
  }
  void Edit() {
    if (state != TModelState::browse) return;
    if (cur == 0) {
      BeginInsert(false);
      return;
    }
    state = TModelState::edit;
    pending = Row(cur);
    modified = false;
  }
  void SetName(const std::string& value) {
    pending.name = value;
    modified = true;
  }
  void SetNumber(const std::string& value) {
    pending.n = value;
    modified = true;
  }
  void BeginInsert(bool append) {
    CheckBrowseMode();
    state = TModelState::insert;
    pending = TRow{};
    modified = false;
    insertBefore = cur;
    appending = append;
    bof = eof = false;
  }
  // False: the dataset must refuse (nothing is being edited).
  bool Post() {
    if (state == TModelState::browse) return false;
    if (state == TModelState::edit) {
      Row(cur) = pending;
    } else {
      // Without an index a new record goes to the end of the file, wherever
      // it was inserted in the view.
      rows.push_back(TRow{pending.name, pending.n, false});
      cur = Count();
    }
    state = TModelState::browse;
    modified = false;
    bof = eof = false;
    return true;
  }
  void Cancel() {
    if (state == TModelState::browse) return;
    if (state == TModelState::insert) cur = appending ? LastVisible() : insertBefore;
    state = TModelState::browse;
    modified = false;
    bof = eof = cur == 0;
  }
  // False: the dataset must refuse (no record to delete).
  bool Delete() {
    if (state == TModelState::insert) {
      Cancel();
      return true;
    }
    if (cur == 0) return false;
    // An edit in progress is dropped: the record as stored is marked.
    Row(cur).deleted = true;
    state = TModelState::browse;
    modified = false;
    cur = Settle(cur);
    bof = eof = cur == 0;
    return true;
  }
  void Undelete() {
    if (state == TModelState::insert) return;
    if (state == TModelState::browse) {
      Edit();
      if (state != TModelState::edit) return;
    }
    // The recall reaches the file at once; the edit stays open and any
    // field changes in it stay pending.
    if (pending.deleted) {
      pending.deleted = false;
      Row(cur).deleted = false;
    }
  }
  void SetShowDeleted(bool value) {
    if (value == showDeleted) return;
    CheckBrowseMode();
    showDeleted = value;
    if (cur == 0) {
      // Nothing was in view: look again from the top.
      cur = FirstVisible();
      bof = true;
      eof = cur == 0;
    } else {
      cur = Settle(cur);
      bof = eof = cur == 0;
    }
  }

  // What the window should be a slice of: the records in view, with the new
  // record (0) in its place while inserting; and the item that is current.
  std::vector<int> ViewSequence() const {
    std::vector<int> seq = VisibleRecords();
    if (state == TModelState::insert) {
      auto at = appending || insertBefore == 0 ? seq.end() : std::find(seq.begin(), seq.end(), insertBefore);
      seq.insert(at, 0);
    }
    return seq;
  }
  int CurrentItem() const { return state == TModelState::insert ? 0 : cur; }
  TRow ExpectedRow(int item) const {
    if (item == 0 || (state == TModelState::edit && item == cur)) return pending;
    return rows[static_cast<size_t>(item - 1)];
  }
};

// A view: how many records it shows, and whether it was told of changes.
class TWatchLink : public TDataLink {
 public:
  int events = 0;
  void ActiveChanged() override { ++events; }
  void DataSetChanged() override { ++events; }
  void DataSetScrolled(int) override { ++events; }
  void RecordChanged(TField*) override { ++events; }
  void EditingChanged() override { ++events; }
};

struct TSeen {
  int recNo = 0;
  TRow row;
};

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

class TSequence {
 public:
  TSequence(int bufferCount, uint32_t seed, const std::string& path)
      : bufferCount_(bufferCount), windowSize_(bufferCount), seed_(seed), path_(path), rng_(seed) {}

  // False after reporting a disagreement.
  bool Run() {
    BuildTable();
    table_.SetTableName(path_);
    table_.SetShowDeleted(model_.showDeleted);
    link_.SetBufferCount(bufferCount_);
    link_.SetDataSource(&source_);
    table_.Open();
    model_.cur = model_.FirstVisible();
    model_.bof = true;
    model_.eof = model_.cur == 0;
    if (!Check("open", "")) return false;
    for (int step = 0; step < kSteps; ++step)
      if (!Step()) return false;
    table_.Close();
    return true;
  }

 private:
  uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

  std::string RandomName() {
    if (Pick(8) == 0) return "";
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string s(1 + Pick(kNameLength), ' ');
    for (char& c : s) c = kLetters[Pick(sizeof kLetters - 1)];
    return s;
  }
  std::string RandomNumber() { return Pick(6) == 0 ? "" : std::to_string(Pick(10000)); }

  void BuildTable() {
    TTableImage t;
    t.fields = {{"NAME", 'C', kNameLength}, {"N", 'N', kNumberLength}};
    const int count = static_cast<int>(Pick(13));
    const uint32_t deletedOneIn = 2 + Pick(3);
    for (int i = 0; i < count; ++i) {
      TRow row{RandomName(), RandomNumber(), Pick(deletedOneIn) == 0};
      const std::string number = std::string(kNumberLength - row.n.size(), ' ') + row.n;
      t.records.push_back(t.Record({row.name, number}, row.deleted));
      model_.rows.push_back(row);
    }
    model_.showDeleted = Pick(4) == 0;
    WriteFile(path_, t.Bytes());
    std::ostringstream out;
    out << "table of " << count << (model_.showDeleted ? " (deleted shown):" : ":");
    for (const TRow& row : model_.rows) out << " " << Show(row);
    log_.push_back(out.str());
  }

  TRow CurrentRow() {
    return TRow{table_.FieldByName("NAME").AsString(), table_.FieldByName("N").AsString(), table_.IsDeleted()};
  }

  std::vector<TSeen> Window() {
    std::vector<TSeen> out;
    TDataSet* ds = link_.DataSet();
    for (int i = 0; i < ds->WindowRecordCount(); ++i) {
      TSeen seen;
      table_.WithFieldsOn(ds->WindowBuffer(i), [&] {
        seen.recNo = table_.RecNo();
        seen.row = CurrentRow();
      });
      out.push_back(seen);
    }
    return out;
  }

  std::string ShowWindow(const std::vector<TSeen>& window) {
    std::ostringstream out;
    out << "[";
    for (size_t i = 0; i < window.size(); ++i) {
      out << (i ? " " : "") << (static_cast<int>(i) == link_.ActiveRecord() ? ">" : "") << "#" << window[i].recNo
          << " " << Show(window[i].row);
    }
    out << "]";
    return out.str();
  }

  static const char* StateName(TDataSetState s) {
    return s == dsBrowse ? "browse" : s == dsEdit ? "edit" : s == dsInsert ? "insert" : "other";
  }

  // The first way the table and the model disagree, or empty.
  std::string Compare() {
    std::ostringstream why;
    const TDataSetState wantState = model_.state == TModelState::browse ? dsBrowse
                                    : model_.state == TModelState::edit ? dsEdit
                                                                        : dsInsert;
    if (table_.State() != wantState)
      why << "state " << StateName(table_.State()) << ", want " << StateName(wantState) << "; ";
    if (table_.Bof() != model_.bof || table_.Eof() != model_.eof)
      why << "Bof/Eof " << table_.Bof() << "/" << table_.Eof() << ", want " << model_.bof << "/" << model_.eof << "; ";
    const int wantRecNo = model_.state == TModelState::insert ? 0 : model_.cur;
    if (table_.RecNo() != wantRecNo) why << "RecNo " << table_.RecNo() << ", want " << wantRecNo << "; ";
    if (table_.RecordCount() != model_.Count())
      why << "RecordCount " << table_.RecordCount() << ", want " << model_.Count() << "; ";
    const bool wantEmpty = model_.cur == 0 && model_.state != TModelState::insert;
    if (table_.IsEmpty() != wantEmpty) why << "IsEmpty " << table_.IsEmpty() << ", want " << wantEmpty << "; ";
    const int item = model_.CurrentItem();
    // No current record reads as blank fields and counts as deleted.
    const TRow wantCurrent = item == 0 && model_.state != TModelState::insert ? TRow{"", "", true}
                                                                               : model_.ExpectedRow(item);
    const TRow current = CurrentRow();
    if (current != wantCurrent) why << "current " << Show(current) << ", want " << Show(wantCurrent) << "; ";
    if (!why.str().empty()) return why.str();

    // The window the view sees.
    const std::vector<TSeen> window = Window();
    snapshot_ = std::string(StateName(table_.State())) + ShowWindow(window);
    const std::vector<int> seq = wantEmpty ? std::vector<int>{} : model_.ViewSequence();
    const int count = static_cast<int>(window.size());
    const int wantCount = std::min(windowSize_, static_cast<int>(seq.size()));
    std::ostringstream want;
    want << "a run of " << wantCount << " from";
    for (int r : seq) want << " #" << r << " " << Show(model_.ExpectedRow(r));
    if (count != wantCount) return "window " + ShowWindow(window) + ", want " + want.str();
    if (count == 0) return "";
    const int active = link_.ActiveRecord();
    const int at = static_cast<int>(std::find(seq.begin(), seq.end(), item) - seq.begin());
    const int start = at - active;
    bool ok = active >= 0 && active < count && start >= 0 && start + count <= static_cast<int>(seq.size());
    for (int i = 0; ok && i < count; ++i) {
      const int r = seq[static_cast<size_t>(start + i)];
      ok = window[static_cast<size_t>(i)].recNo == r && window[static_cast<size_t>(i)].row == model_.ExpectedRow(r);
    }
    if (!ok) return "window " + ShowWindow(window) + " (> active), want " + want.str() + " with #" +
                    std::to_string(item) + " active";
    return "";
  }

  bool Check(const std::string& op, const std::string& snapshotBefore) {
    std::string why = Compare();
    // A view that was not told would go on showing what it showed before.
    if (why.empty() && !snapshotBefore.empty() && snapshot_ != snapshotBefore && link_.events == 0)
      why = "the window changed but the view was not told";
    if (why.empty()) return true;
    std::ostringstream report;
    report << "window of " << bufferCount_ << ", seed " << seed_ << " (NORVALE_MODEL_SEED=" << seed_
           << " NORVALE_MODEL_SEQUENCES=1 reproduces it), after " << op << ":\n  " << why << "\nsteps:\n";
    for (const std::string& line : log_) report << "  " << line << "\n";
    ADD_FAILURE() << report.str();
    return false;
  }

  // Runs `action` on the table, which must raise `refusal` when the model
  // refuses the operation (non-null) and succeed otherwise. Returns a
  // disagreement, or empty.
  template <typename F>
  std::string Expect(const char* refusal, F action) {
    try {
      action();
    } catch (const std::exception& e) {
      if (refusal && e.what() == std::string(refusal)) return "";
      return std::string("raised \"") + e.what() + "\"" + (refusal ? std::string(", want \"") + refusal + "\"" : "");
    }
    return refusal ? std::string("did not raise \"") + refusal + "\"" : "";
  }

  bool Step() {
    const std::string before = snapshot_;
    link_.events = 0;
    std::string op, why;
    uint32_t roll = Pick(100);
    // A second view joins only while browsing: a window that grows during an
    // edit is filled by the next move, not at once.
    while (roll >= kSecondViewFrom && !extra_.DataSource() && model_.state != TModelState::browse)
      roll = Pick(100);
    if (roll < 6) {
      op = "First";
      model_.First();
      why = Expect(nullptr, [&] { table_.First(); });
    } else if (roll < 12) {
      op = "Last";
      model_.Last();
      why = Expect(nullptr, [&] { table_.Last(); });
    } else if (roll < 38) {
      // Single steps are what people do most; long jumps cross the window.
      int distance;
      const uint32_t kind = Pick(4);
      if (kind == 0) distance = 1;
      else if (kind == 1) distance = -1;
      else if (kind == 2) distance = static_cast<int>(Pick(11)) - 5;
      else distance = (Pick(2) ? 1 : -1) * static_cast<int>(4 + Pick(20));
      op = "MoveBy(" + std::to_string(distance) + ")";
      const int want = model_.MoveBy(distance);
      int moved = 0;
      why = Expect(nullptr, [&] {
        // Next and Prior report no distance; the window shows where they went.
        if (distance == 1)
          table_.Next();
        else if (distance == -1)
          table_.Prior();
        else
          moved = table_.MoveBy(distance);
      });
      if (why.empty() && distance != 1 && distance != -1 && moved != want)
        why = "moved " + std::to_string(moved) + ", want " + std::to_string(want);
    } else if (roll < 43) {
      op = "GetBookmark";
      const int want = model_.Bookmark();
      const TBookmark b = table_.GetBookmark();
      const int64_t got = b.empty() ? 0 : TDbfTable::BookmarkRecNo(b);
      if (got != want) why = "bookmark of #" + std::to_string(got) + ", want #" + std::to_string(want);
      if (!b.empty()) bookmarks_.push_back({b, want});
      if (bookmarks_.size() > 4) bookmarks_.erase(bookmarks_.begin());
    } else if (roll < 49) {
      if (bookmarks_.empty()) {
        op = "GotoBookmark(null)";
        why = Expect(nullptr, [&] { table_.GotoBookmark(TBookmark{}); });
      } else {
        const std::pair<TBookmark, int>& saved = bookmarks_[Pick(static_cast<uint32_t>(bookmarks_.size()))];
        const TBookmark& bookmark = saved.first;
        const int recNo = saved.second;
        op = "GotoBookmark(#" + std::to_string(recNo) + ")";
        model_.GotoBookmark(recNo);
        why = Expect(nullptr, [&] { table_.GotoBookmark(bookmark); });
      }
    } else if (roll < 56) {
      op = "Edit";
      model_.Edit();
      why = Expect(nullptr, [&] { table_.Edit(); });
    } else if (roll < 66) {
      const bool browsing = model_.state == TModelState::browse;
      if (Pick(2)) {
        const std::string value = RandomName();
        op = "NAME := '" + value + "'";
        if (!browsing) model_.SetName(value);
        why = Expect(browsing ? msg::kNotEditing : nullptr, [&] { table_.FieldByName("NAME").SetAsString(value); });
      } else {
        const std::string value = RandomNumber();
        op = "N := '" + value + "'";
        if (!browsing) model_.SetNumber(value);
        why = Expect(browsing ? msg::kNotEditing : nullptr, [&] { table_.FieldByName("N").SetAsString(value); });
      }
    } else if (roll < 72) {
      op = "Post";
      const bool refused = !model_.Post();
      why = Expect(refused ? msg::kNotEditing : nullptr, [&] { table_.Post(); });
    } else if (roll < 77) {
      op = "Cancel";
      model_.Cancel();
      why = Expect(nullptr, [&] { table_.Cancel(); });
    } else if (roll < 81) {
      op = "Insert";
      model_.BeginInsert(false);
      why = Expect(nullptr, [&] { table_.Insert(); });
    } else if (roll < 85) {
      op = "Append";
      model_.BeginInsert(true);
      why = Expect(nullptr, [&] { table_.Append(); });
    } else if (roll < kUndeleteFrom) {
      op = "Delete";
      const bool refused = !model_.Delete();
      why = Expect(refused ? msg::kDataSetEmpty : nullptr, [&] { table_.Delete(); });
    } else if (roll < kUndeleteTo) {
      op = "Undelete";
      model_.Undelete();
      why = Expect(nullptr, [&] { table_.Undelete(); });
    } else if (roll < kSecondViewFrom) {
      const bool value = !model_.showDeleted;
      op = std::string("ShowDeleted := ") + (value ? "true" : "false");
      model_.SetShowDeleted(value);
      why = Expect(nullptr, [&] { table_.SetShowDeleted(value); });
    } else if (extra_.DataSource()) {
      op = "second view leaves";
      why = Expect(nullptr, [&] { extra_.SetDataSource(nullptr); });
      windowSize_ = bufferCount_;
    } else {
      static const int kCounts[] = {2, 5, 20};
      const int count = kCounts[Pick(3)];
      op = "second view of " + std::to_string(count) + " joins";
      extra_.SetBufferCount(count);
      why = Expect(nullptr, [&] { extra_.SetDataSource(&source_); });
      windowSize_ = std::max(bufferCount_, count);
    }
    log_.push_back(op);
    if (!why.empty()) return Fail(op, why);
    return Check(op, before);
  }

  bool Fail(const std::string& op, const std::string& why) {
    std::ostringstream report;
    report << "window of " << bufferCount_ << ", seed " << seed_ << ", " << op << " " << why << "\nsteps:\n";
    for (const std::string& line : log_) report << "  " << line << "\n";
    ADD_FAILURE() << report.str();
    return false;
  }

  int bufferCount_;
  // The records the dataset keeps: the most any attached view asks for.
  int windowSize_;
  uint32_t seed_;
  std::string path_;
  std::mt19937 rng_;
  TWindowModel model_;
  TDbfTable table_;
  TDataSource source_{&table_};
  TWatchLink link_;
  // Another view on the same source, joining and leaving now and then.
  TWatchLink extra_;
  std::vector<std::pair<TBookmark, int>> bookmarks_;
  std::vector<std::string> log_;
  // What the view showed after the last step: state, window, active record.
  std::string snapshot_;
};

// A recall is written at once, but it is no post: changes the open edit
// holds must stay out of the file until Post, and Cancel must drop them.
TEST(DbfTableRecall, UndeleteWritesOnlyTheRecall) {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', kNameLength}, {"N", 'N', kNumberLength}};
  t.records.push_back(t.Record({"kept", "   1"}));
  t.records.push_back(t.Record({"gone", "   2"}, true));
  WriteFile(dir.File("recall.dbf"), t.Bytes());
  {
    TDbfTable table;
    table.SetTableName(dir.File("recall.dbf"));
    table.SetShowDeleted(true);
    table.Open();
    table.SetRecNo(2);
    table.Edit();
    table.FieldByName("NAME").SetAsString("changed");
    table.Undelete();
    EXPECT_EQ(table.State(), dsEdit);
    EXPECT_FALSE(table.IsDeleted());
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "changed");
    table.Cancel();
    EXPECT_EQ(table.RecNo(), 2);
    EXPECT_FALSE(table.IsDeleted());
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "gone");
  }
  TDbfTable reread;
  reread.SetTableName(dir.File("recall.dbf"));
  reread.Open();
  reread.Last();
  EXPECT_EQ(reread.RecNo(), 2);
  EXPECT_FALSE(reread.IsDeleted());
  EXPECT_EQ(reread.FieldByName("NAME").AsString(), "gone");
}

class WindowModel : public testing::TestWithParam<int> {};

TEST_P(WindowModel, RandomSequencesAgreeWithTheModel) {
  const uint32_t first = static_cast<uint32_t>(std::stoul(EnvOr("NORVALE_MODEL_SEED", "1")));
  const int sequences = std::stoi(EnvOr("NORVALE_MODEL_SEQUENCES", "300"));
  TTempDir dir;
  int failures = 0;
  for (int i = 0; i < sequences && failures < 3; ++i) {
    TSequence sequence(GetParam(), first + static_cast<uint32_t>(i), dir.File("model.dbf"));
    if (!sequence.Run()) ++failures;
  }
}

INSTANTIATE_TEST_SUITE_P(BufferCounts, WindowModel, testing::Values(1, 3, 50),
                         [](const testing::TestParamInfo<int>& info) { return "Window" + std::to_string(info.param); });

}  // namespace
}  // namespace norvale::test
