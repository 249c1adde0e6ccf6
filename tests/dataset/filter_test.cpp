// The table object's filter: conditions refused and kept, when the text is
// compiled, deleted records and the record handler, a condition that fails
// on a record, finds while Filtered is off; and random conditions over
// random tables against a plain evaluation of the generated values.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/table_file.h"
#include "expr/expr_messages.h"
#include "tests/dataset/random_table.h"

namespace norvale::test {
namespace {

using TNames = std::vector<std::string>;

// NAME C(10), AGE N(3) (21, 22, ... in order), OK L; `deleted` by number.
std::string WriteNames(const TTempDir& dir, const TNames& names, const std::vector<int>& deleted = {}) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"OK", 'L', 1}};
  for (size_t i = 0; i < names.size(); ++i)
    t.records.push_back(t.Record({ToCp1252(names[i]), std::to_string(21 + i), i % 2 ? "T" : "F"},
                                 std::count(deleted.begin(), deleted.end(), static_cast<int>(i) + 1) > 0));
  WriteFile(dir.File("names.dbf"), t.Bytes());
  return dir.File("names.dbf");
}

TNames People(int count) {
  TNames names;
  for (int i = 1; i <= count; ++i) names.push_back("P" + std::to_string(i));
  return names;
}

TNames Walk(TDbfTable& table) {
  TNames out;
  for (table.First(); !table.Eof(); table.Next()) out.push_back(table.FieldByName("NAME").AsString());
  return out;
}

TEST(TableFilter, RefusesWhatIsNoConditionAndKeepsTheOneInForce) {
  TTempDir dir;
  TDbfFile file;
  file.SetFileName(WriteNames(dir, People(3)));
  file.SetMode(amReadOnly);
  file.Open();
  std::vector<uint8_t> record(static_cast<size_t>(file.RecordLength()));
  ASSERT_TRUE(file.ReadRecord(2, record.data()));  // P2, AGE 22, OK true
  TTableFilter filter(&file);
  filter.Compile("AGE > 21", false, true);
  // A single field or an expression of any other type is no condition.
  for (const char* text : {"AGE + 1", "NAME", "AGE", "STR(AGE)"})
    EXPECT_EQ(Message([&] { filter.Compile(text, false, true); }), msg::kFilterNotLogical) << text;
  EXPECT_EQ(Message([&] { filter.Compile("QTY > 1", false, true); }), FormatMessage(msg::kUnknownField, "QTY"));
  EXPECT_EQ(filter.Text(), "AGE > 21");
  EXPECT_TRUE(filter.Accepts(record.data()));
  filter.Compile("AGE > 22", false, true);
  EXPECT_FALSE(filter.Accepts(record.data()));
  filter.Compile("OK", false, true);
  EXPECT_TRUE(filter.Accepts(record.data()));
  filter.Compile("  ", false, true);
  EXPECT_TRUE(filter.Empty());
}

TEST(DbfTableFilter, TheTextIsCompiledWhenItChangesAndAtOpen) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(WriteNames(dir, {"alpha", "Alpha", "ALPHA", "beta", "alps"}));
  table.SetFilter("NAME = 'alpha'");
  table.SetFiltered(true);
  table.Open();
  // The same text is not compiled again, so the new option waits.
  table.SetFilterOptions(foCaseInsensitive);
  table.SetFilter("NAME = 'alpha'");
  EXPECT_EQ(Walk(table), (TNames{"alpha"}));
  table.SetFilter("NAME = 'AL*'");
  EXPECT_EQ(Walk(table), (TNames{"alpha", "Alpha", "ALPHA", "alps"}));
  EXPECT_EQ(table.RecNo(), 5);  // the file's numbers, gaps and all
  EXPECT_EQ(Message([&] { table.SetFilter("NAME = 'x')"); }), msg::kUnequalBrackets);
  EXPECT_EQ(Message([&] { table.SetFilter("AGE * 2"); }), msg::kFilterNotLogical);
  EXPECT_EQ(table.Filter(), "NAME = 'AL*'");
  EXPECT_EQ(Walk(table).size(), 4u);
  table.SetFilterOptions(foNoPartialCompare);
  table.Close();
  table.Open();
  EXPECT_TRUE(Walk(table).empty());
  // At open a text naming no field of the table is dropped; a text that
  // does not compile refuses the open.
  table.Close();
  table.SetFilter("QTY > 1");
  table.Open();
  EXPECT_EQ(table.Filter(), "");
  EXPECT_EQ(Walk(table).size(), 5u);
  table.Close();
  table.SetFilter("AGE + 1");
  EXPECT_EQ(Message([&] { table.Open(); }), msg::kFilterNotLogical);
  EXPECT_FALSE(table.Active());
}

TEST(DbfTableFilter, DeletedRecordsFirstThenTheConditionThenTheHandler) {
  TTempDir dir;
  TDbfTable table;
  // P3 (AGE 23) is deleted: while hidden, the division by zero on it never runs.
  table.SetTableName(WriteNames(dir, People(6), {3}));
  table.Open();
  const std::string condition = "10 / (AGE - 23) > 1";
  table.SetFilter(condition);
  table.SetFiltered(true);
  TNames seen;
  table.OnFilterRecord = [&](TDataSet& ds, bool& accept) {
    seen.push_back(ds.FieldByName("NAME").AsString());
    accept = seen.back() != "P5";
  };
  EXPECT_EQ(Walk(table), (TNames{"P4", "P6"}));
  EXPECT_EQ(seen, (TNames{"P4", "P5", "P6"}));
  // Shown, the deleted record makes the condition fail: one error for the
  // walk, the filter off, the table working.
  table.SetShowDeleted(true);
  EXPECT_EQ(Message([&] { Walk(table); }),
            FormatMessage(msg::kFilterFailed, condition.c_str(), 3LL, msg::kDivisionByZero));
  EXPECT_FALSE(table.Filtered());
  EXPECT_EQ(Walk(table), People(6));
}

TEST(DbfTableFilter, AFailureInTheMiddleOfAWalkLeavesTheWindowWhereItStood) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(WriteNames(dir, People(8)));
  table.SetFilter("10 / (AGE - 26) <> 0 AND AGE <> 23");
  table.SetFiltered(true);
  table.Open();
  table.MoveBy(3);  // P1 P2 P4 P5: P3 is filtered out, P6 (AGE 26) fails
  EXPECT_NE(Message([&] { table.Next(); }).find("failed on record 6"), std::string::npos);
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "P5");
  table.Next();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "P6");
  table.MoveBy(-2);
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "P4");
}

TEST(DbfTableFilter, FindsHonourTheFilterWhileFilteredIsOff) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(WriteNames(dir, People(10), {7}));
  table.Open();
  table.SetFilter("AGE > 25");
  auto name = [&] { return table.FieldByName("NAME").AsString(); };
  EXPECT_TRUE(table.FindFirst());
  EXPECT_EQ(name(), "P6");
  EXPECT_TRUE(table.FindNext());  // P7 is deleted
  EXPECT_EQ(name(), "P8");
  table.MoveBy(-2);  // the moves themselves are not filtered
  EXPECT_EQ(name(), "P5");
  EXPECT_TRUE(table.FindLast());
  EXPECT_FALSE(table.FindNext());
  EXPECT_EQ(name(), "P10");
  table.OnFilterRecord = [](TDataSet& ds, bool& accept) { accept = ds.FieldByName("AGE").AsInteger() % 2 == 0; };
  EXPECT_TRUE(table.FindPrior());
  EXPECT_EQ(name(), "P8");
  // Nothing to find: the current record stays, and the walk from it.
  table.SetFilter("AGE > 99");
  table.First();
  table.Next();
  EXPECT_FALSE(table.FindFirst());
  EXPECT_FALSE(table.FindLast());
  table.Next();
  EXPECT_EQ(name(), "P3");
}

// ---------------------------------------------------------------- model test

struct TCondition {
  std::string text;
  std::function<bool(const TRandomRow&)> holds;
};

// The filter's "=" on text: with partial comparison a "*" at the start or
// end of the pattern makes it an ends-with, starts-with or contains test.
bool NameEquals(const std::string& value, const std::string& pattern, bool ignoreCase, bool partial) {
  const std::string v = ignoreCase ? FoldCase(value) : value, p = ignoreCase ? FoldCase(pattern) : pattern;
  const bool leading = partial && !p.empty() && p.front() == '*', trailing = partial && !p.empty() && p.back() == '*';
  if (!leading && !trailing) return v == p;
  const std::string needle = p.substr(leading, p.size() - leading - trailing);
  const size_t at = v.find(needle);
  if (leading && trailing) return at != std::string::npos;
  if (trailing) return at == 0;
  return v.size() >= needle.size() && v.compare(v.size() - needle.size(), needle.size(), needle) == 0;
}

template <typename T>
bool Compare(const T& a, const std::string& op, const T& b) {
  return op == "<"    ? a < b
         : op == "<=" ? a <= b
         : op == ">"  ? a > b
         : op == ">=" ? a >= b
         : op == "="  ? a == b
                      : a != b;
}

TCondition RandomTerm(std::mt19937& rng, const std::vector<TRandomRow>& rows, bool ignoreCase, bool partial) {
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  const std::string op = std::vector<std::string>{"<", "<=", ">", ">=", "=", "<>"}[static_cast<size_t>(pick(6))];
  const int n = pick(13), quarters = pick(100) - 20;
  const std::string day = "2020010" + std::to_string(pick(9) + 1);
  switch (pick(6)) {
    case 0:
    case 1: {
      // A name, a piece of one with wildcards, or a name nobody has.
      const std::vector<std::string> chars =
          Characters(rows[static_cast<size_t>(pick(static_cast<int>(rows.size())))].name);
      std::string piece;
      for (size_t i = 0, cut = static_cast<size_t>(pick(static_cast<int>(chars.size()) + 1)); i < cut; ++i)
        piece += chars[i];
      const std::string pattern = std::vector<std::string>{piece, piece + "*", "*" + piece, "*" + piece + "*",
                                                           RandomName(rng)}[static_cast<size_t>(pick(5))];
      if (pattern.find_first_not_of('*') == std::string::npos && !pattern.empty())
        return {"ACTIVE", [](const TRandomRow& r) { return r.active == 'T' || r.active == 'Y'; }};
      if (pick(4) == 0)
        return {"NAME <> '" + pattern + "'",
                [=](const TRandomRow& r) { return !NameEquals(r.name, pattern, ignoreCase, false); }};
      return {"NAME = '" + pattern + "'",
              [=](const TRandomRow& r) { return NameEquals(r.name, pattern, ignoreCase, partial); }};
    }
    case 2:
      return {"QTY " + op + " " + std::to_string(n),
              [=](const TRandomRow& r) { return Compare(r.qty.value_or(0), op, n); }};
    case 3:
      return {"AMOUNT " + op + " " + AmountText(quarters),
              [=](const TRandomRow& r) { return Compare(r.quarters.value_or(0), op, quarters); }};
    case 4:
      // An empty date is day 0, 1899-12-30.
      return {"DTOS(BORN) " + op + " '" + day + "'",
              [=](const TRandomRow& r) { return Compare(r.born.empty() ? std::string("18991230") : r.born, op, day); }};
    default: return {"ACTIVE", [](const TRandomRow& r) { return r.active == 'T' || r.active == 'Y'; }};
  }
}

// Up to three terms, some negated, joined by AND and OR inside brackets.
TCondition RandomCondition(std::mt19937& rng, const std::vector<TRandomRow>& rows, bool ignoreCase, bool partial) {
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  TCondition c;
  for (int i = 0, terms = 1 + pick(3); i < terms; ++i) {
    TCondition t = RandomTerm(rng, rows, ignoreCase, partial);
    const bool negate = pick(4) == 0, both = pick(2);
    auto left = c.holds, right = t.holds;
    t = {(negate ? "NOT (" : "(") + t.text + ")", [=](const TRandomRow& r) { return right(r) != negate; }};
    right = t.holds;
    if (i == 0)
      c = t;
    else if (both)
      c = {"(" + c.text + " AND " + t.text + ")", [=](const TRandomRow& r) { return left(r) && right(r); }};
    else
      c = {"(" + c.text + " OR " + t.text + ")", [=](const TRandomRow& r) { return left(r) || right(r); }};
  }
  return c;
}

TEST(DbfTableFilter, RandomConditionsSelectWhatThePlainEvaluationSelects) {
  std::mt19937 rng(20240917);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  int someSelected = 0, someLeftOut = 0;
  for (int round = 0; round < 60; ++round) {
    TTempDir dir;
    const std::vector<TRandomRow> rows = RandomRows(rng, 1 + pick(40));
    const std::string path = WriteRandomTable(dir, rows);
    TDbfTable table;
    table.SetTableName(path);
    const bool showDeleted = pick(3) == 0;
    table.SetShowDeleted(showDeleted);
    for (int n = 0; n < 6; ++n) {
      const bool ignoreCase = pick(2), partial = pick(4) != 0;
      const TCondition c = RandomCondition(rng, rows, ignoreCase, partial);
      SCOPED_TRACE(c.text + (ignoreCase ? " [no case]" : "") + (partial ? "" : " [no partial]") +
                   (showDeleted ? " [deleted shown]" : ""));
      std::vector<int> want;
      for (size_t i = 0; i < rows.size(); ++i)
        if ((showDeleted || !rows[i].deleted) && c.holds(rows[i])) want.push_back(static_cast<int>(i) + 1);
      someSelected += !want.empty();
      someLeftOut += want.size() < rows.size();
      table.SetFilterOptions((ignoreCase ? TFilterOptions{foCaseInsensitive} : 0) |
                             (partial ? 0 : TFilterOptions{foNoPartialCompare}));
      // Compiled while open, or at the open.
      if (pick(2) || table.Filter() == c.text) table.Close();
      table.SetFilter(c.text);
      table.SetFiltered(true);
      table.Open();
      std::vector<int> got;
      const bool backwards = pick(2);
      for (backwards ? table.Last() : table.First(); !(backwards ? table.Bof() : table.Eof());
           backwards ? table.Prior() : table.Next())
        got.insert(backwards ? got.begin() : got.end(), table.RecNo());
      EXPECT_EQ(got, want);
    }
  }
  // The conditions were neither all empty nor all full.
  EXPECT_GT(someSelected, 100);
  EXPECT_GT(someLeftOut, 100);
}

}  // namespace
}  // namespace norvale::test
