// The table binding: field variables of each type, raw and converted text,
// single-field expressions, key lengths, and the options that reload the
// word tables.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/exceptions.h"
#include "engine/stream.h"
#include "engine/table_file.h"
#include "expr/expr_exceptions.h"
#include "expr/table_parser.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTableImage;

// A table image opened from memory.
struct TMemoryTable {
  explicit TMemoryTable(const TTableImage& image) {
    const std::vector<uint8_t> bytes = image.Bytes();
    stream.WriteAt(0, bytes.data(), bytes.size());
    file.SetStream(&stream);
    file.SetMode(amMemoryOpen);
    file.Open();
  }
  TMemoryStream stream;
  TDbfFile file;
};

TTableImage PeopleImage() {
  TTableImage image;  // dBASE III, code page 1252
  image.fields = {{"NAME", 'C', 20},    {"QTY", 'N', 4},  {"PRICE", 'N', 8, 2}, {"BORN", 'D', 8},
                  {"OK", 'L', 1},       {"BIG", 'N', 12}, {"MEMO", 'M', 10},    {"STR", 'N', 3},
                  {"COUNT", 'N', 7}};
  return image;
}

std::string Record(const TTableImage& image, const std::vector<std::string>& values) { return image.Record(values); }

const uint8_t* Bytes(const std::string& record) { return reinterpret_cast<const uint8_t*>(record.data()); }

std::string Value(TDbfParser& p, const std::string& record) {
  const char* v = p.EvaluateRecord(Bytes(record));
  switch (p.ResultType()) {
    case rtBoolean: return std::to_string(int(v[0]));
    case rtString: return p.ResultLength() >= 0 ? std::string(v, static_cast<size_t>(p.ResultLength())) : v;
    case rtInteger: {
      int32_t i;
      std::memcpy(&i, v, sizeof i);
      return std::to_string(i);
    }
    case rtLargeInt: {
      int64_t i;
      std::memcpy(&i, v, sizeof i);
      return std::to_string(i);
    }
    case rtFloat:
    case rtDateTime: {
      double d;
      std::memcpy(&d, v, sizeof d);
      char text[64];
      std::snprintf(text, sizeof text, "%.10g", d);
      return text;
    }
    default: return "?";
  }
}

class TableParser : public ::testing::Test {
 protected:
  TTableImage image = PeopleImage();
  TMemoryTable table{image};
  std::string smith = Record(image, {"SMITH", "  -5", "   12.50", "20040301", "T", " 12345678901", "         1", "  7",
                                     "1000000"});
  std::string blank = Record(image, {});

  // A filter's settings: converted text, wildcards, no case.
  std::unique_ptr<TDbfParser> Filter() {
    auto p = std::make_unique<TDbfParser>(&table.file);
    p->SetRawStrings(false);
    p->SetPartialCompare(true);
    return p;
  }
};

TEST_F(TableParser, FieldsOfEveryKindInAFilter) {
  auto p = Filter();
  struct TCase {
    const char* text;
    const char* onSmith;
    const char* onBlank;
  } cases[] = {
      {"NAME = 'SMITH'", "1", "0"},
      {"NAME = 'smi*'", "1", "0"},
      {"NAME = ''", "0", "1"},
      {"QTY < 0", "1", "0"},
      {"QTY", "-5", "0"},
      {"QTY * 2 + 1", "-9", "1"},
      {"PRICE", "12.5", "0"},
      {"PRICE > 12.4 AND PRICE < 12.6", "1", "0"},
      {"BIG + 1", "12345678902", "1"},
      {"BIG > 2147483647", "1", "0"},
      {"COUNT / 1000", "1000", "0"},
      {"OK", "1", "0"},
      {"OK AND QTY = -5", "1", "0"},
      {"DTOS(BORN)", "20040301", "18991230"},
      {"DTOS(BORN) >= '20040101'", "1", "0"},
      {"NAME + STR(QTY, 4)", "SMITH  -5", "   0"},
      {"UPPER(LOWER(NAME)) = NAME", "1", "1"},
      {"name = 'Smith' and not qty > 0", "1", "0"},
      // A field named like a function, with and without brackets.
      {"STR + 1", "8", "1"},
      {"STR(STR, 2)", " 7", " 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    p->ParseExpression(c.text);
    EXPECT_EQ(Value(*p, smith), c.onSmith);
    EXPECT_EQ(Value(*p, blank), c.onBlank);
  }
}

TEST_F(TableParser, MessagesForNamesThatAreNoUsableField) {
  auto p = Filter();
  auto message = [&](const std::string& text) {
    try {
      p->ParseExpression(text);
    } catch (const EDbfError& e) {
      return std::string("D:") + e.what();
    } catch (const Exception& e) {
      return std::string("E:") + e.what();
    }
    return std::string("parsed");
  };
  EXPECT_EQ(message("NOPE > 5"), "D:Index based on unknown field \"NOPE\".");
  EXPECT_EQ(message("MEMO = 'x'"), "D:Field \"MEMO\" is an invalid field type to base index on.");
  EXPECT_EQ(message("MEMO"), "D:Field \"MEMO\" is an invalid field type to base index on.");
  // An operator that fits no overload is offered to the table as a name.
  EXPECT_EQ(message("NAME - 'x'"), "D:Index based on unknown field \"-\".");
  EXPECT_EQ(message("QTY > 'x'"), "D:Index based on unknown field \">\".");
  // With signs, a negative constant is no longer taken for a field "-".
  EXPECT_EQ(message("QTY > -5"), "parsed");
  EXPECT_EQ(message("UPPER(QTY)"), "E:Argument type mismatch");
  // A failed parse leaves nothing behind.
  EXPECT_EQ(message("QTY + NOPE"), "D:Index based on unknown field \"NOPE\".");
  EXPECT_TRUE(p->CurrentExpression().empty());
  EXPECT_EQ(p->ResultType(), rtUnknown);
  EXPECT_TRUE(p->FieldVars().empty());
  EXPECT_EQ(p->WordTable().Contains("QTY"), false);
}

TEST_F(TableParser, SingleFieldExpressions) {
  TDbfParser p(&table.file);  // index defaults: raw text
  p.ParseExpression("NAME");
  EXPECT_TRUE(p.IsSingleField());
  EXPECT_EQ(p.ResultType(), rtString);
  EXPECT_EQ(p.ResultLength(), 20);
  // The stored bytes themselves, trailing blanks included.
  const char* raw = p.EvaluateRecord(Bytes(smith));
  EXPECT_EQ(raw, smith.data() + 1);
  EXPECT_EQ(std::string(raw, 20), "SMITH               ");

  p.SetRawStrings(false);
  EXPECT_EQ(p.ResultLength(), -1);
  EXPECT_STREQ(p.EvaluateRecord(Bytes(smith)), "SMITH");

  struct TLength {
    const char* text;
    TExpressionType type;
    int length;
  } lengths[] = {
      {"QTY", rtInteger, 4},       {"COUNT", rtInteger, 4},  {"PRICE", rtFloat, 8},     {"BORN", rtDateTime, 8},
      {"OK", rtBoolean, 1},        {"BIG", rtLargeInt, -1},  {"QTY + 1", rtInteger, 4}, {"NAME + 'x'", rtString, -1},
      {"PRICE * 2", rtFloat, 8},   {"QTY > 1", rtBoolean, 1},
  };
  for (const auto& l : lengths) {
    SCOPED_TRACE(l.text);
    p.ParseExpression(l.text);
    EXPECT_EQ(p.ResultType(), l.type);
    EXPECT_EQ(p.ResultLength(), l.length);
  }
}

TEST_F(TableParser, NamesAreFoundWhateverTheirCase) {
  TDbfParser p(&table.file);
  p.ParseExpression("name + Name");
  ASSERT_EQ(p.FieldVars().size(), 1u);  // "Name" finds the variable "name" made for the first
  EXPECT_EQ(p.FieldVars()[0]->FieldName(), "name");
  EXPECT_EQ(p.FieldVars()[0]->FieldDef().FieldName(), "NAME");
  p.ParseExpression("qty");
  EXPECT_TRUE(p.IsSingleField());
  EXPECT_EQ(Value(p, smith), "-5");
}

TEST_F(TableParser, RawAndConvertedTextCompareDifferently) {
  TDbfParser p(&table.file);
  p.ParseExpression("NAME = 'SMITH'");
  EXPECT_EQ(Value(p, smith), "0");  // raw: the trailing blanks take part
  p.SetRawStrings(false);
  EXPECT_EQ(Value(p, smith), "1");
  p.SetRawStrings(true);
  EXPECT_EQ(Value(p, smith), "0");
}

TEST_F(TableParser, TextInTheTableCodePage) {
  const std::string mueller = Record(image, {"M\xFCller"});  // code page 1252
  auto p = Filter();
  for (const char* text : {"NAME = 'Müller'", "UPPER(NAME) = 'MÜLLER'", "NAME = 'mü*'", "NAME = '*LLER'",
                           "SUBSTR(NAME, 2, 1) = 'ü'", "LOWER(NAME) + '!' = 'müller!'"}) {
    SCOPED_TRACE(text);
    p->ParseExpression(text);
    EXPECT_EQ(Value(*p, mueller), "1");
  }
  // Raw text stays in the code page; case mapping follows the page.
  TDbfParser raw(&table.file);
  raw.ParseExpression("UPPER(NAME)");
  EXPECT_EQ(std::string(raw.EvaluateRecord(Bytes(mueller))), "M\xDCLLER              ");
}

TEST_F(TableParser, OptionsReloadTheWordTablesAndParseAgain) {
  const std::string lower = Record(image, {"smith"});
  TDbfParser p(&table.file);
  p.SetRawStrings(false);
  p.ParseExpression("NAME = 'SMI*'");
  EXPECT_EQ(Value(p, smith), "0");  // no wildcards yet
  p.SetPartialCompare(true);
  EXPECT_EQ(p.CurrentExpression(), "NAME = 'SMI*'");
  EXPECT_EQ(Value(p, smith), "1");
  EXPECT_EQ(Value(p, lower), "1");
  p.SetIgnoreCase(false);
  EXPECT_EQ(Value(p, smith), "1");
  EXPECT_EQ(Value(p, lower), "0");
  p.SetPartialCompare(true);  // unchanged: nothing happens
  EXPECT_EQ(Value(p, lower), "0");

  // Lower case sorts first when case counts; without case the two are equal.
  p.ParseExpression("NAME < 'SMITH'");
  EXPECT_EQ(Value(p, lower), "1");
  p.SetIgnoreCase(true);
  EXPECT_EQ(Value(p, lower), "0");
}

TEST_F(TableParser, IndexKeyLengths) {
  TDbfIndexParser p(&table.file);
  p.ParseExpression("NAME + STR(QTY, 5)");
  EXPECT_EQ(p.ResultType(), rtString);
  EXPECT_EQ(p.KeyLength(), 25);
  p.ParseExpression("NAME");
  EXPECT_EQ(p.KeyLength(), 20);
  p.ParseExpression("QTY");
  EXPECT_EQ(p.KeyLength(), 4);
  p.ParseExpression("DTOS(BORN) + UPPER(NAME)");
  EXPECT_EQ(p.KeyLength(), 28);
  p.ParseExpression("NAME + NAME + NAME + NAME + NAME");
  EXPECT_EQ(p.KeyLength(), 100);
  const std::string tooLong = "NAME + NAME + NAME + NAME + NAME + 'x'";
  try {
    p.ParseExpression(tooLong);
    FAIL() << "accepted";
  } catch (const EDbfError& e) {
    EXPECT_STREQ(e.what(), "Index result for \"NAME + NAME + NAME + NAME + NAME + 'x'\" too long, >100 characters (101).");
  }
  EXPECT_TRUE(p.CurrentExpression().empty());
  EXPECT_EQ(p.ResultType(), rtUnknown);
}

TEST_F(TableParser, ATableCanBeGivenLater) {
  TDbfParser p;
  p.ParseExpression("1 + 2");
  EXPECT_EQ(Value(p, smith), "3");
  EXPECT_THROW(p.ParseExpression("QTY"), EDbfError);
  p.SetDbfFile(&table.file);
  p.ParseExpression("QTY");
  EXPECT_EQ(Value(p, smith), "-5");
}

}  // namespace
}  // namespace norvale
