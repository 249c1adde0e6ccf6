// Locate and Lookup through the table object's linear search: the shapes of
// key values, text keys with and without case and as prefixes, keys of
// other types as values, hidden and filtered records, the position kept
// when nothing is found, and a model test of random searches over random
// tables against a plain scan of the values the test generated.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/date_time.h"
#include "engine/messages.h"
#include "tests/dataset/random_table.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

struct TPerson {
  std::string name, city, qty, born, ok;
};

// NAME C(10), CITY C(10), QTY N(4), BORN D, OK L.
std::string WritePeople(const TTempDir& dir, const std::vector<TPerson>& people, std::vector<int> deleted = {}) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"CITY", 'C', 10}, {"QTY", 'N', 4}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
  for (size_t i = 0; i < people.size(); ++i) {
    const TPerson& p = people[i];
    const bool del = std::find(deleted.begin(), deleted.end(), static_cast<int>(i) + 1) != deleted.end();
    t.records.push_back(
        t.Record({ToCp1252(p.name), ToCp1252(p.city), std::string(4 - p.qty.size(), ' ') + p.qty, p.born, p.ok}, del));
  }
  const std::string path = dir.File("people.dbf");
  WriteFile(path, t.Bytes());
  return path;
}

const std::vector<TPerson> kPeople = {
    {"Smith", "Boston", "3", "20200105", "T"},       // 1
    {"Smithers", "Bordeaux", "5", "20200106", "F"},  // 2
    {"Smith", "Bordeaux", "", "", "T"},              // 3
    {"Émile", "Orléans", "5", "20200107", "?"},      // 4
    {"", "Paris", "12", "20200105", "F"},            // 5
    {"smith", "Bern", "7", "20200108", "T"},         // 6
};

class SearchTest : public ::testing::Test {
 protected:
  void OpenPeople(std::vector<int> deleted = {}) {
    table_.SetTableName(WritePeople(dir_, kPeople, std::move(deleted)));
    table_.Open();
  }
  std::string Name() { return table_.FieldByName("NAME").AsString(); }
  // The record Locate makes current, or 0 when it answers false (the
  // current record must then be the one before the call).
  int Found(const std::string& fields, const TVariant& values, TLocateOptions options = 0) {
    const int before = table_.RecNo();
    if (table_.Locate(fields, values, options)) return table_.RecNo();
    EXPECT_EQ(table_.RecNo(), before);
    return 0;
  }

  TTempDir dir_;
  TDbfTable table_;
};

TVariant Values(std::vector<TVariant> items) { return TVariant::Array(std::move(items)); }

TEST_F(SearchTest, TextKeysAndThePrefixRuleOfTheLastField) {
  OpenPeople({1});
  // Text is compared as the grid shows it: UTF-8, characters not bytes.
  EXPECT_EQ(Found("name", "émile"), 0);
  EXPECT_EQ(Found("NAME", "éMIL", loCaseInsensitive | loPartialKey), 4);
  // The empty prefix matches the first visible record, whatever its text;
  // a null key is the empty text.
  table_.Last();
  EXPECT_EQ(Found("NAME", "", loPartialKey), 2);
  EXPECT_EQ(Found("NAME", TVariant()), 5);
  EXPECT_EQ(Found("NAME;CITY", Values({"Smi", "Bor"}), loPartialKey), 0);
  EXPECT_EQ(Found("NAME;CITY", Values({"Smith", "Bor"}), loPartialKey), 3);
  EXPECT_EQ(Found(" CITY ; NAME ", Values({"Bordeaux", "Smi"}), loPartialKey), 2);
  EXPECT_EQ(Found("NAME;CITY", Values({"smith", "b"}), loCaseInsensitive | loPartialKey), 3);
  // The filter applies only while Filtered is on.
  table_.SetFilter("QTY > 4");
  EXPECT_EQ(Found("NAME", "Smith"), 3);
  table_.SetFiltered(true);
  EXPECT_EQ(Found("NAME", "Smith"), 0);
}

TEST_F(SearchTest, OtherFieldsCompareAsValuesAndWrongShapesFindNothing) {
  OpenPeople();
  EXPECT_EQ(Found("QTY", 5), 2);
  EXPECT_EQ(Found("QTY", "12"), 5);
  EXPECT_EQ(Found("QTY", 7.0), 6);
  EXPECT_EQ(Found("QTY", 7.5), 0);
  // An empty number is null, no zero.
  EXPECT_EQ(Found("QTY", TVariant()), 3);
  EXPECT_EQ(Found("QTY", 0), 0);
  TDateTime day = 0;
  ASSERT_TRUE(EncodeDateTime(TDateParts{2020, 1, 7}, &day));
  EXPECT_EQ(Found("BORN", TVariant::Date(day)), 4);
  EXPECT_EQ(Found("BORN", "2020-01-08"), 6);
  EXPECT_EQ(Found("OK", false), 2);
  EXPECT_EQ(Found("QTY;OK", Values({5, TVariant()})), 4);
  // The prefix rule is one of text: a number is no prefix of another.
  EXPECT_EQ(Found("QTY", 1, loPartialKey), 0);
  table_.First();
  table_.Next();
  EXPECT_EQ(Found("NAME;CITY", Values({"Smith", "Boston", "x"})), 0);
  EXPECT_EQ(Found("NAME;CITY", "Smith"), 0);
  EXPECT_EQ(Found("NAME", Values({Values({"Smith"})})), 0);
  EXPECT_EQ(Found("", "Smith"), 0);
  // Values that no record of the field's type can hold are refused before
  // anything moves.
  EXPECT_EQ(Message([&] { table_.Locate("QTY", "many", 0); }), FormatMessage(msg::kInvalidInteger, "many"));
  EXPECT_EQ(Message([&] { table_.Locate("BORN", "tomorrow", 0); }), FormatMessage(msg::kInvalidDate, "tomorrow"));
  EXPECT_EQ(Message([&] {
              table_.Locate("NAME;AGE", Values({"x", 1}), 0);
            }),
            FormatMessage(msg::kFieldNotFound, "AGE"));
  // The window is where it was: the walk goes on from the current record.
  table_.Next();
  EXPECT_EQ(table_.RecNo(), 3);
}

TEST_F(SearchTest, LocatePostsAnEditAndAnnouncesOnlyAMove) {
  OpenPeople();
  int before = 0, after = 0;
  table_.BeforeScroll = [&](TDataSet&) { ++before; };
  table_.AfterScroll = [&](TDataSet&) { ++after; };
  table_.Edit();
  table_.FieldByName("CITY").SetAsString("Berlin");
  EXPECT_EQ(Found("CITY", "Berlin"), 1);
  EXPECT_EQ(table_.State(), dsBrowse);
  EXPECT_EQ(Found("CITY", "Boston"), 0);
  EXPECT_EQ(before, 2);
  EXPECT_EQ(after, 1);
}

TEST_F(SearchTest, LookupAnswersWithoutMovingAndExactOnly) {
  OpenPeople({2});
  table_.Next();
  ASSERT_EQ(table_.RecNo(), 3);
  int scrolls = 0;
  table_.BeforeScroll = [&](TDataSet&) { ++scrolls; };
  EXPECT_EQ(table_.Lookup("NAME", "Smith", "CITY"), TVariant("Boston"));
  EXPECT_EQ(table_.Lookup("NAME;CITY", Values({"smith", "Bern"}), "QTY;BORN;OK;NAME"),
            Values({int64_t{7}, TVariant::Date(43838), true, "smith"}));
  EXPECT_EQ(table_.Lookup("NAME", "Smith", "QTY;QTY"), Values({int64_t{3}, int64_t{3}}));
  EXPECT_EQ(table_.Lookup("CITY", "Bordeaux", "NAME;QTY"), Values({"Smith", TVariant()}));
  // No hidden records; a null key finds nothing.
  EXPECT_TRUE(table_.Lookup("NAME", "Smithers", "CITY").IsNull());
  EXPECT_TRUE(table_.Lookup("NAME", TVariant(), "CITY").IsNull());
  EXPECT_EQ(Message([&] { table_.Lookup("NAME", "Smith", "NOPE"); }), FormatMessage(msg::kFieldNotFound, "NOPE"));
  EXPECT_EQ(scrolls, 0);
  EXPECT_EQ(table_.RecNo(), 3);
  EXPECT_EQ(Name(), "Smith");
  table_.Next();
  EXPECT_EQ(table_.RecNo(), 4);
}

// ---------------------------------------------------------------- model test

bool TextHolds(const std::string& field, const std::string& key, TLocateOptions options) {
  const bool noCase = (options & loCaseInsensitive) != 0;
  const std::vector<std::string> f = Characters(noCase ? FoldCase(field) : field),
                                 k = Characters(noCase ? FoldCase(key) : key);
  if (f == k) return true;
  return (options & loPartialKey) && f.size() > k.size() && std::equal(k.begin(), k.end(), f.begin());
}

TEST(SearchModel, RandomSearchesFindWhatAPlainScanFinds) {
  std::mt19937 rng(20240918);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  int found = 0, missed = 0, lookedUp = 0;
  for (int round = 0; round < 80; ++round) {
    TTempDir dir;
    const std::vector<TRandomRow> rows = RandomRows(rng, 1 + pick(30));
    TDbfTable table;
    table.SetTableName(WriteRandomTable(dir, rows));
    const bool showDeleted = pick(3) == 0, filtered = pick(3) == 0;
    table.SetShowDeleted(showDeleted);
    table.SetFilter("QTY > 3");
    table.SetFiltered(filtered);
    table.Open();
    auto visible = [&](size_t i) {
      return (showDeleted || !rows[i].deleted) && (!filtered || rows[i].qty.value_or(0) > 3);
    };
    for (int n = 0; n < 10; ++n) {
      table.First();
      table.MoveBy(pick(static_cast<int>(rows.size())));
      // A name: someone's, cut short, with its case changed, or new; a
      // quantity as a number, as text, or null.
      std::string name = rows[static_cast<size_t>(pick(static_cast<int>(rows.size())))].name;
      if (pick(3) == 0) name = pick(2) ? RandomName(rng) : FoldCase(name);
      if (pick(3) == 0 && !name.empty()) name.resize(name.size() - Characters(name).back().size());
      const int q = pick(14);
      const bool noQty = q == 13;  // the null key, which only empty fields hold
      const TVariant qtyValue = noQty ? TVariant() : pick(2) ? TVariant(q) : TVariant(std::to_string(q));
      const int shape = pick(3);
      const std::string fields = shape == 0 ? "NAME" : shape == 1 ? "QTY" : "QTY;NAME";
      const TVariant values = shape == 0 ? TVariant(name) : shape == 1 ? qtyValue : TVariant::Array({qtyValue, name});
      const TLocateOptions options = static_cast<TLocateOptions>(pick(4));
      auto holds = [&](const TRandomRow& r, TLocateOptions o) {
        return (shape == 0 || (noQty ? !r.qty : r.qty == q)) && (shape == 1 || TextHolds(r.name, name, o));
      };
      SCOPED_TRACE(fields + " = " + name + "/" + qtyValue.ToText() + " options " + std::to_string(options));
      int want = 0, exact = 0;
      for (size_t i = rows.size(); i-- > 0;) {
        if (visible(i) && holds(rows[i], options)) want = static_cast<int>(i) + 1;
        if (visible(i) && holds(rows[i], 0)) exact = static_cast<int>(i) + 1;
      }
      const int before = table.RecNo();
      // Lookup is exact and stays where it is.
      const TVariant amount = table.Lookup(fields, values, "AMOUNT");
      const std::optional<int> quarters =
          exact && !values.IsNull() ? rows[static_cast<size_t>(exact - 1)].quarters : std::nullopt;
      EXPECT_EQ(amount, quarters ? TVariant(*quarters / 4.0) : TVariant()) << amount.ToText();
      lookedUp += quarters.has_value();
      EXPECT_EQ(table.RecNo(), before);

      EXPECT_EQ(table.Locate(fields, values, options), want != 0);
      EXPECT_EQ(table.RecNo(), want ? want : before);
      (want ? found : missed) += 1;
      // Whatever happened, the next move goes to the next visible record.
      size_t next = static_cast<size_t>(table.RecNo());
      while (next < rows.size() && !visible(next)) ++next;
      if (table.RecNo() > 0 && next < rows.size()) {
        table.Next();
        EXPECT_EQ(table.RecNo(), static_cast<int>(next) + 1);
      }
    }
  }
  EXPECT_GT(found, 150);
  EXPECT_GT(missed, 100);
  EXPECT_GT(lookedUp, 50);
}

}  // namespace
}  // namespace norvale::test
