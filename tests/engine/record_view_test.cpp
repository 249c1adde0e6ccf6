// The record view: what it says of a record's bytes, and that it never reads
// outside them whatever the field list claims.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/record_view.h"

namespace norvale {
namespace {

// Fields live in a list that outlasts the test.
TDbfFieldDefs& Defs() {
  static TDbfFieldDefs defs(xBaseIV);
  return defs;
}

const TDbfFieldDef& Field(const char* name, char letter, int offset, int size, int decimals = 0) {
  TDbfFieldDef& f = Defs().Add();
  f.SetFieldName(name);
  f.SetStoredSize(size, decimals);
  f.SetNativeFieldType(letter);
  f.SetStoredSize(size, decimals);
  f.SetOffset(offset);
  return f;
}

TEST(RecordView, FlagBytesAndText) {
  const std::string image = std::string("*") + std::string("ab\0c  ", 6) + "  42" + "20240229";
  const TRecordView view(reinterpret_cast<const uint8_t*>(image.data()), image.size());
  EXPECT_TRUE(view.Deleted());
  const TDbfFieldDef& text = Field("T", 'C', 1, 6);
  const TDbfFieldDef& number = Field("N", 'N', 7, 4);
  const TDbfFieldDef& date = Field("D", 'D', 11, 8);
  EXPECT_EQ(view.Bytes(text), std::string_view("ab\0c  ", 6));
  EXPECT_EQ(view.Text(text), "ab") << "text ends at its first NUL";
  EXPECT_EQ(view.Bytes(number), "  42");
  EXPECT_EQ(view.Bytes(date), "20240229");
  const std::string live = " " + image.substr(1);
  EXPECT_FALSE(TRecordView(reinterpret_cast<const uint8_t*>(live.data()), live.size()).Deleted());
  EXPECT_FALSE(TRecordView().Deleted());

  std::vector<uint8_t> record(image.begin(), image.end());
  SetRecordDeleted(record.data(), false);
  EXPECT_EQ(record[0], ' ');
  SetRecordDeleted(record.data(), true);
  EXPECT_EQ(record[0], '*');
}

TEST(RecordView, FieldsOutsideTheImageReadAsEmpty) {
  const std::string image = " abc";
  const TRecordView view(reinterpret_cast<const uint8_t*>(image.data()), image.size());
  EXPECT_EQ(view.Bytes(Field("A", 'C', 1, 3)), "abc");
  EXPECT_TRUE(view.Bytes(Field("B", 'C', 2, 3)).empty()) << "reaches one byte past the image";
  EXPECT_TRUE(view.Text(Field("C", 'C', 40, 2)).empty());
  EXPECT_TRUE(TRecordView(nullptr, 10).Bytes(Field("A", 'C', 1, 3)).empty());
}

TEST(RecordView, CanonicalFormsAcceptOnlyTheTextTheValuePrintsAs) {
  struct {
    const char* stored;
    const char* integer;  // null: not canonical
    const char* fixed2;
    const char* date;
  } cases[] = {
      {"   42", "42", nullptr, nullptr},
      {"  -42", "-42", nullptr, nullptr},
      {"  042", nullptr, nullptr, nullptr},
      {"   -0", nullptr, nullptr, nullptr},
      {"   +7", nullptr, nullptr, nullptr},
      {"1234567890", nullptr, nullptr, nullptr},
      {" 12.50", nullptr, "12.50", nullptr},
      {"012.50", nullptr, nullptr, nullptr},
      {" -0.00", nullptr, nullptr, nullptr},
      {"  12.5", nullptr, nullptr, nullptr},
      {"20240229", "20240229", nullptr, "2024-02-29"},
      {"20230229", "20230229", nullptr, nullptr},
      {"2024 229", nullptr, nullptr, nullptr},
      {"        ", nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    std::string out = "x";
    EXPECT_EQ(TRecordView::AppendCanonicalInteger(c.stored, out), c.integer != nullptr);
    EXPECT_EQ(out, std::string("x") + (c.integer ? c.integer : ""));
    out.clear();
    EXPECT_EQ(TRecordView::AppendCanonicalFixed(c.stored, 2, out), c.fixed2 != nullptr);
    EXPECT_EQ(out, c.fixed2 ? c.fixed2 : "");
    out.clear();
    EXPECT_EQ(TRecordView::AppendCanonicalDate(c.stored, out), c.date != nullptr);
    EXPECT_EQ(out, c.date ? c.date : "");
  }
}

}  // namespace
}  // namespace norvale
