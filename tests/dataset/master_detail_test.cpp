// A detail table following its master: the records shown are exactly those
// whose key in the detail's current index equals the master key of the
// master's current record, through every way the master moves, and the
// restriction goes with the link (master closed, source cleared or gone).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/table_file.h"
#include "expr/expr_messages.h"
#include "index/table_indexes.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

std::string Num(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%4d", value);
  return text;
}

void CreateTags(const std::string& path, const std::vector<std::pair<std::string, TIndexOptions>>& tags) {
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amExclusiveOpen);
  file.Open();
  TTableIndexes indexes(file);
  for (const auto& [expression, options] : tags) {
    std::string name = expression;
    if (options & ixDescending) name += "D";
    indexes.AttachIndex(name, expression, options, true);
  }
}

struct TMasterRow {
  int id;
  std::string code, lcode, alt;
};

struct TDetailRow {
  int mid;
  std::string code;
  bool deleted;
};

// m.dbf: ID N(4), CODE C(4), LCODE C(4) (the code in lower case), ALT C(4).
// d.dbf: MID N(4), CODE C(4), ITEM C(10), with tags CODE, CODED (CODE
// descending), MID and ITEM. Master Z has no details; one detail has a
// blank code and MID 0, one is deleted. Detail records are scattered, so
// that index order is no accident of record order.
struct TMasterDetail {
  TTempDir dir;
  std::string masterPath = dir.File("m.dbf");
  std::string detailPath = dir.File("d.dbf");
  std::vector<TMasterRow> masters = {
      {1, "A", "a", "C"}, {2, "B", "b", "A"}, {7, "Z", "z", "B"}, {3, "C", "c", "Z"}};
  std::vector<TDetailRow> details;

  explicit TMasterDetail(bool emptyMaster = false) {
    TTableImage m;
    m.fields = {{"ID", 'N', 4}, {"CODE", 'C', 4}, {"LCODE", 'C', 4}, {"ALT", 'C', 4}};
    if (emptyMaster) masters.clear();
    for (const TMasterRow& r : masters) m.records.push_back(m.Record({Num(r.id), r.code, r.lcode, r.alt}));
    WriteFile(masterPath, m.Bytes());

    const char* codes = "CABACCBAB ACBBCA";
    TTableImage d;
    d.fields = {{"MID", 'N', 4}, {"CODE", 'C', 4}, {"ITEM", 'C', 10}};
    for (int i = 0; codes[i]; ++i) {
      const char c = codes[i];
      const int mid = c == 'A' ? 1 : c == 'B' ? 2 : c == 'C' ? 3 : 0;
      details.push_back({mid, std::string(1, c), i == 3});
      d.records.push_back(d.Record({Num(mid), std::string(1, c), "i" + std::to_string(i + 1)}, i == 3));
    }
    WriteFile(detailPath, d.Bytes());
    CreateTags(detailPath, {{"CODE", 0}, {"CODE", ixDescending}, {"MID", 0}, {"ITEM", 0}});
  }

  // The live detail records with this code, in record-number order (the
  // order of equal keys in an ascending tag).
  std::vector<int> WithCode(const std::string& code) const {
    std::vector<int> r;
    for (size_t i = 0; i < details.size(); ++i)
      if (!details[i].deleted && details[i].code == code) r.push_back(int(i) + 1);
    return r;
  }
  std::vector<int> WithMid(int mid) const {
    std::vector<int> r;
    for (size_t i = 0; i < details.size(); ++i)
      if (!details[i].deleted && details[i].mid == mid) r.push_back(int(i) + 1);
    return r;
  }
  size_t LiveDetails() const {
    return size_t(std::count_if(details.begin(), details.end(), [](const TDetailRow& r) { return !r.deleted; }));
  }
};

int64_t Phys(TDbfTable& table) { return TDbfTable::BookmarkRecNo(table.GetBookmark()); }

std::vector<int> Walk(TDbfTable& table) {
  std::vector<int> recNos;
  table.First();
  while (!table.Eof()) {
    recNos.push_back(int(Phys(table)));
    table.Next();
  }
  return recNos;
}

std::vector<int> WalkBack(TDbfTable& table) {
  std::vector<int> recNos;
  table.Last();
  while (!table.Bof()) {
    recNos.push_back(int(Phys(table)));
    table.Prior();
  }
  std::reverse(recNos.begin(), recNos.end());
  return recNos;
}

std::vector<int> Sorted(std::vector<int> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The master open on m.dbf behind a data source, and the detail on d.dbf
// in order CODE following it by CODE.
struct TLinked {
  TMasterDetail data;
  TDbfTable master;
  TDataSource source{&master};
  TDbfTable detail;
  explicit TLinked(bool emptyMaster = false, const std::string& index = "CODE", const std::string& fields = "CODE")
      : data(emptyMaster) {
    master.SetTableName(data.masterPath);
    master.Open();
    detail.SetTableName(data.detailPath);
    detail.SetExclusive(true);
    detail.SetIndexName(index);
    detail.SetMasterSource(&source);
    detail.SetMasterFields(fields);
    detail.Open();
  }
  std::string MasterCode() { return master.FieldByName("CODE").AsString(); }
};

TEST(MasterDetail, TheDetailFollowsTheMasterAsItMoves) {
  TLinked t;
  // A view of several rows on the master, as a grid is: moves inside its
  // window reach the link as scrolls, not as a new window.
  TDataLink grid;
  grid.SetDataSource(&t.source);
  grid.SetBufferCount(3);

  auto check = [&](const std::string& code) {
    SCOPED_TRACE("master " + code);
    ASSERT_EQ(t.MasterCode(), code);
    const std::vector<int> wanted = t.data.WithCode(code);
    ASSERT_FALSE(wanted.empty());
    // The master's move puts the detail on the first of its records.
    EXPECT_EQ(Phys(t.detail), wanted.front());
    EXPECT_FALSE(t.detail.Eof());
    EXPECT_EQ(Walk(t.detail), wanted);
    EXPECT_EQ(WalkBack(t.detail), wanted);
  };
  check("A");
  t.master.Next();
  check("B");
  t.master.Next();
  t.master.Next();
  check("C");
  t.master.Prior();
  t.master.Prior();
  check("B");
  t.master.Last();
  check("C");
  t.master.MoveBy(-3);
  check("A");
  t.master.SetRecNo(4);
  check("C");
  ASSERT_TRUE(t.master.Locate("CODE", TVariant("B"), 0));
  check("B");
  t.master.First();
  check("A");
}

TEST(MasterDetail, NumericKeysAndKeyExpressions) {
  {
    TLinked t(false, "MID", "ID");
    for (int i = 0; i < 4; ++i) {
      if (i == 2) {  // master Z, ID 7: no detail has it
        EXPECT_TRUE(t.detail.Eof());
      } else {
        EXPECT_EQ(Walk(t.detail), t.data.WithMid(t.data.masters[size_t(i)].id)) << "master " << i;
      }
      t.master.Next();
    }
    // A computed number keys the numeric tag the same way.
    t.master.First();
    t.detail.SetMasterFields("ID * 3 - ID - ID");
    EXPECT_EQ(Walk(t.detail), t.data.WithMid(1));
    t.master.Last();
    EXPECT_EQ(Walk(t.detail), t.data.WithMid(3));
  }
  {
    // A computed text: padded to the key length like the stored keys.
    TLinked t(false, "CODE", "UPPER(LCODE)");
    EXPECT_EQ(Walk(t.detail), t.data.WithCode("A"));
    t.master.Next();
    EXPECT_EQ(Walk(t.detail), t.data.WithCode("B"));
    t.master.Last();
    EXPECT_EQ(Walk(t.detail), t.data.WithCode("C"));
  }
  {
    // Text built from a number: ITEM "i1" belongs to master ID 1, "i7" to 7.
    TLinked t(false, "ITEM", "'i' + STR(ID, 1)");
    for (int recNo : {1, 2, 7, 3}) {
      EXPECT_EQ(Walk(t.detail), std::vector<int>{recNo});
      t.master.Next();
    }
  }
}

TEST(MasterDetail, AMasterWithoutDetailsShowsNone) {
  {
    TLinked t;
    const int count = t.detail.RecordCount();
    t.master.SetRecNo(3);
    ASSERT_EQ(t.MasterCode(), "Z");
    EXPECT_TRUE(t.detail.Eof());
    EXPECT_TRUE(t.detail.Bof());
    EXPECT_TRUE(t.detail.IsEmpty());
    EXPECT_EQ(t.detail.WindowRecordCount(), 0);
    EXPECT_TRUE(t.detail.FieldByName("ITEM").IsNull());
    EXPECT_TRUE(Walk(t.detail).empty());
    EXPECT_TRUE(WalkBack(t.detail).empty());
    // The count is the index's, whatever range is set on it.
    EXPECT_EQ(t.detail.RecordCount(), count);
    // The next master with details shows them again.
    t.master.Next();
    EXPECT_EQ(Walk(t.detail), t.data.WithCode("C"));
  }
  {
    // An empty master stands on no record: its key is that of a blank one.
    TLinked t(true);
    EXPECT_EQ(Walk(t.detail), t.data.WithCode(" "));
  }
}

TEST(MasterDetail, ChangingMasterFieldsReevaluatesTheLink) {
  TLinked t;
  t.master.Next();  // B, whose ALT is A
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("B"));
  t.detail.SetMasterFields("ALT");
  EXPECT_EQ(Phys(t.detail), t.data.WithCode("A").front());
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("A"));
  t.master.Next();  // Z, whose ALT is B
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("B"));

  // A key that does not compile is refused but kept; the master's old
  // records are not left standing as if they were still its.
  EXPECT_EQ(Message([&] { t.detail.SetMasterFields("NOSUCH"); }),
            FormatMessage(msg::kUnknownField, "NOSUCH"));
  EXPECT_EQ(t.detail.MasterFields(), "NOSUCH");
  EXPECT_EQ(Walk(t.detail).size(), t.data.LiveDetails());
  t.master.Next();
  EXPECT_EQ(Walk(t.detail).size(), t.data.LiveDetails());

  t.detail.SetMasterFields("CODE");
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("C"));
  // No key at all: the detail is no longer restricted.
  t.detail.SetMasterFields("");
  EXPECT_EQ(Walk(t.detail).size(), t.data.LiveDetails());
  t.master.First();
  EXPECT_EQ(Walk(t.detail).size(), t.data.LiveDetails());
}

TEST(MasterDetail, TheRangeGoesWithTheLink) {
  TLinked t;
  const size_t all = t.data.LiveDetails();
  // The master closes, and opens again.
  t.master.Close();
  EXPECT_EQ(Walk(t.detail).size(), all);
  t.master.Open();
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("A"));
  // The source is cleared, and set again.
  t.detail.SetMasterSource(nullptr);
  EXPECT_EQ(t.detail.MasterSource(), nullptr);
  EXPECT_EQ(Walk(t.detail).size(), all);
  t.master.Next();
  EXPECT_EQ(Walk(t.detail).size(), all);
  t.detail.SetMasterSource(&t.source);
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("B"));
  // The source is switched off.
  t.source.SetEnabled(false);
  EXPECT_EQ(Walk(t.detail).size(), all);
  t.source.SetEnabled(true);
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("B"));

  // The range of a tag left while linked must not come back with that tag
  // once the link is gone.
  t.detail.SetIndexName("CODED");
  EXPECT_EQ(Sorted(Walk(t.detail)), t.data.WithCode("B"));
  t.master.Close();
  EXPECT_EQ(Walk(t.detail).size(), all);
  t.detail.SetIndexName("CODE");
  EXPECT_EQ(Walk(t.detail).size(), all);
  t.master.Open();
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("A"));

  // A source that goes away takes the link with it.
  {
    TDataSource other(&t.master);
    t.detail.SetMasterSource(&other);
    t.master.Last();
    EXPECT_EQ(Walk(t.detail), t.data.WithCode("C"));
  }
  EXPECT_EQ(t.detail.MasterSource(), nullptr);
  EXPECT_EQ(Walk(t.detail).size(), all);
}

TEST(MasterDetail, OpeningAndSelectingAnIndexApplyTheRange) {
  TMasterDetail data;
  TDbfTable master;
  master.SetTableName(data.masterPath);
  TDataSource source(&master);
  TDbfTable detail;
  detail.SetTableName(data.detailPath);
  // Linked while both are closed.
  detail.SetMasterSource(&source);
  detail.SetMasterFields("CODE");
  master.Open();
  master.Next();
  // Opened in record order: not restricted.
  detail.Open();
  EXPECT_EQ(Walk(detail).size(), data.LiveDetails());
  detail.SetRecNo(1);
  detail.SetIndexName("CODE");
  EXPECT_EQ(Phys(detail), data.WithCode("B").front());
  EXPECT_EQ(Walk(detail), data.WithCode("B"));
  detail.SetIndexName("");
  EXPECT_EQ(Walk(detail).size(), data.LiveDetails());
  // Opened with the index chosen: restricted from its first record.
  detail.Close();
  detail.SetIndexName("CODE");
  master.Last();
  detail.Open();
  EXPECT_EQ(Phys(detail), data.WithCode("C").front());
  EXPECT_EQ(Walk(detail), data.WithCode("C"));
  // Another tag over the same key, descending: the same records.
  detail.SetIndexName("CODED");
  const std::vector<int> records = Walk(detail);
  EXPECT_EQ(Sorted(records), data.WithCode("C"));
}

TEST(MasterDetail, CircularLinksAreRefused) {
  TDbfTable a, b, c;
  TDataSource sa(&a), sb(&b), sc(&c);
  EXPECT_EQ(Message([&] { a.SetMasterSource(&sa); }), msg::kCircularDataLink);
  b.SetMasterSource(&sa);
  EXPECT_EQ(Message([&] { a.SetMasterSource(&sb); }), msg::kCircularDataLink);
  c.SetMasterSource(&sb);
  EXPECT_EQ(Message([&] { a.SetMasterSource(&sc); }), msg::kCircularDataLink);
  EXPECT_EQ(a.MasterSource(), nullptr);
  // The middle of the chain may change its master to one outside it.
  TDbfTable outside;
  TDataSource so(&outside);
  b.SetMasterSource(&so);
  EXPECT_EQ(b.MasterSource(), &so);
  // Now a follows nothing that follows a.
  EXPECT_EQ(Message([&] { a.SetMasterSource(&sc); }), "(no error)");
  EXPECT_EQ(a.MasterSource(), &sc);
}

TEST(MasterDetail, ADetailEditIsLeftWhenTheMasterMoves) {
  TLinked t;
  int posts = 0;
  t.detail.BeforePost = [&](TDataSet&) { ++posts; };
  const int target = t.data.WithCode("A")[1];
  t.detail.Next();
  ASSERT_EQ(Phys(t.detail), target);
  t.detail.Edit();
  t.detail.FieldByName("ITEM").SetAsString("edited");
  t.master.Next();
  EXPECT_EQ(t.detail.State(), dsBrowse);
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("B"));
  t.master.First();
  ASSERT_TRUE(t.detail.Locate("ITEM", TVariant("edited"), 0));
  EXPECT_EQ(Phys(t.detail), target);

  // A record begun in the detail with the master's key is posted, and
  // belongs to the master from then on.
  t.detail.Append();
  t.detail.FieldByName("CODE").SetAsString("A");
  t.detail.FieldByName("ITEM").SetAsString("new");
  t.master.Next();
  EXPECT_EQ(t.detail.State(), dsBrowse);
  EXPECT_EQ(posts, 2);
  t.master.Prior();
  std::vector<int> withNew = t.data.WithCode("A");
  withNew.push_back(int(t.data.details.size()) + 1);
  EXPECT_EQ(Walk(t.detail), withNew);

  // An edit that changed nothing is cancelled, not written.
  t.detail.First();
  t.detail.Edit();
  t.master.Next();
  EXPECT_EQ(t.detail.State(), dsBrowse);
  EXPECT_EQ(posts, 2);
  EXPECT_EQ(t.detail.EditRecNo(), -1);

  // The master's own browse check leaves the detail's edit too, before
  // the master's post goes on.
  t.detail.Edit();
  t.detail.FieldByName("ITEM").SetAsString("checked");
  t.master.CheckBrowseMode();
  EXPECT_EQ(t.detail.State(), dsBrowse);
  EXPECT_EQ(posts, 3);
  std::vector<std::string> order;
  t.master.BeforePost = [&](TDataSet&) { order.push_back("master"); };
  t.detail.BeforePost = [&](TDataSet&) { order.push_back("detail"); };
  t.master.Edit();
  t.detail.Edit();
  t.detail.FieldByName("ITEM").SetAsString("posted");
  t.master.Post();
  EXPECT_EQ(t.detail.State(), dsBrowse);
  EXPECT_EQ(order, (std::vector<std::string>{"detail", "master"}));
  EXPECT_TRUE(t.detail.Locate("ITEM", TVariant("posted"), 0));

  // Typing into a master field the key does not read leaves the detail
  // where it is; the key field moves it.
  t.master.Edit();
  t.detail.Last();
  const int64_t last = Phys(t.detail);
  ASSERT_NE(last, t.data.WithCode("B").front());
  t.master.FieldByName("ALT").SetAsString("Q");
  EXPECT_EQ(Phys(t.detail), last);
  t.master.FieldByName("CODE").SetAsString("C");
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("C"));
  t.master.Cancel();
  EXPECT_EQ(Walk(t.detail), t.data.WithCode("B"));
}

TEST(MasterDetail, KeyTextIsConvertedBetweenCodePages) {
  TTempDir dir;
  TTableImage m;
  m.languageId = 0x57;  // code page 1252: é is E9
  m.fields = {{"NAME", 'C', 6}};
  m.records.push_back(m.Record({"caf\xE9"}));
  m.records.push_back(m.Record({"cafe"}));
  WriteFile(dir.File("m.dbf"), m.Bytes());
  TTableImage d;
  d.languageId = 0x01;  // code page 437: é is 82, E9 is a Greek letter
  d.fields = {{"NAME", 'C', 8}};
  for (const char* name : {"cafe", "caf\x82", "caf\xE9", "caf\x82", "caf"})
    d.records.push_back(d.Record({name}));
  WriteFile(dir.File("d.dbf"), d.Bytes());
  CreateTags(dir.File("d.dbf"), {{"NAME", 0}});

  TDbfTable master;
  master.SetTableName(dir.File("m.dbf"));
  master.Open();
  TDataSource source(&master);
  TDbfTable detail;
  detail.SetTableName(dir.File("d.dbf"));
  detail.SetIndexName("NAME");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("NAME");
  detail.Open();
  ASSERT_NE(master.CodePage(), detail.CodePage());
  EXPECT_EQ(Walk(detail), (std::vector<int>{2, 4}));
  detail.First();
  EXPECT_EQ(detail.FieldByName("NAME").AsString(), "caf\xC3\xA9");
  master.Next();
  EXPECT_EQ(Walk(detail), (std::vector<int>{1}));
}

}  // namespace
}  // namespace norvale::test
