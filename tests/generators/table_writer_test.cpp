// The generators' table writer, checked byte by byte and through the engine:
// a generated table is only useful when the engine reads back exactly the
// values the generator meant.
#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/table_writer.h"
#include "engine/byte_order.h"
#include "engine/date_time.h"
#include "engine/table_file.h"
#include "tests/support/test_support.h"

namespace norvale::gen {
namespace {

using test::ReadFile;
using test::TTempDir;

const std::vector<TColumnSpec> kAllKinds = {
    {"NAME", 'C', 10}, {"QTY", 'N', 5}, {"PRICE", 'N', 8, 2}, {"BORN", 'D', 8}, {"OK", 'L', 1},
};
enum { kName, kQty, kPrice, kBorn, kOk };

std::string FieldBytes(const std::vector<uint8_t>& file, int headerLength, int recordLength, int recNo,
                       int offset, int length) {
  const size_t at = static_cast<size_t>(headerLength + (recNo - 1) * recordLength + offset);
  return std::string(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + length));
}

struct TOpenTable {
  TDbfFile file;
  explicit TOpenTable(const std::string& path) {
    file.SetFileName(path);
    file.SetMode(amReadOnly);
    file.Open();
  }
  std::vector<uint8_t> Record(int recNo) {
    std::vector<uint8_t> r(static_cast<size_t>(file.RecordLength()));
    EXPECT_EQ(file.ReadPage(recNo, r.data()), file.RecordLength());
    return r;
  }
};

TEST(TableWriter, HeaderAndLayoutAreThoseOfADbase4TableInCodePage1252) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  {
    TTableWriter w(path, kAllKinds);
    for (int i = 0; i < 3; ++i) {
      w.BeginRecord(i == 1);
      w.EndRecord();
    }
    w.Finish();
  }
  const std::vector<uint8_t> bytes = ReadFile(path);
  const int headerLength = 32 + 32 * 5 + 1;
  const int recordLength = 1 + 10 + 5 + 8 + 8 + 1;
  ASSERT_EQ(bytes.size(), static_cast<size_t>(headerLength + 3 * recordLength + 1));
  EXPECT_EQ(bytes[0], 0x03);
  EXPECT_EQ(GetLE32(&bytes[4]), 3u);
  EXPECT_EQ(GetLE16(&bytes[8]), headerLength);
  EXPECT_EQ(GetLE16(&bytes[10]), recordLength);
  EXPECT_EQ(bytes[29], 0x57);
  EXPECT_EQ(bytes[headerLength - 1], 0x0D);
  EXPECT_EQ(bytes.back(), 0x1A);

  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  EXPECT_EQ(bytes[1], today.tm_year % 256);
  EXPECT_EQ(bytes[2], today.tm_mon + 1);
  EXPECT_EQ(bytes[3], today.tm_mday);

  // The descriptor of PRICE: name NUL-padded, type, length, decimals.
  const uint8_t* d = &bytes[32 + 2 * 32];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d), 11), std::string("PRICE\0\0\0\0\0\0", 11));
  EXPECT_EQ(d[11], 'N');
  EXPECT_EQ(d[16], 8);
  EXPECT_EQ(d[17], 2);

  TOpenTable t(path);
  EXPECT_EQ(t.file.Version(), xBaseIV);
  EXPECT_EQ(t.file.LanguageId(), 0x57);
  EXPECT_EQ(t.file.UseCodePage(), 1252);
  EXPECT_EQ(t.file.RecordCount(), 3u);
  EXPECT_EQ(t.file.HeaderRecordCount(), 3u);
  ASSERT_EQ(t.file.FieldDefs().Count(), 5);
  const TFieldType expected[] = {ftString, ftInteger, ftFloat, ftDate, ftBoolean};
  for (int i = 0; i < 5; ++i) {
    const TDbfFieldDef& f = t.file.FieldDefs().Item(i);
    EXPECT_EQ(f.FieldName(), kAllKinds[static_cast<size_t>(i)].name);
    EXPECT_EQ(f.NativeFieldType(), kAllKinds[static_cast<size_t>(i)].type);
    EXPECT_EQ(f.Size(), kAllKinds[static_cast<size_t>(i)].length);
    EXPECT_EQ(f.Precision(), kAllKinds[static_cast<size_t>(i)].decimals);
    EXPECT_EQ(f.FieldType(), expected[i]) << f.FieldName();
  }
  EXPECT_EQ(t.Record(1)[0], ' ');
  EXPECT_EQ(t.Record(2)[0], '*');
}

TEST(TableWriter, ValuesReadBackThroughTheEngineAsWritten) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  TTableWriter w(path, kAllKinds);
  w.BeginRecord();
  w.SetText(kName, "M\xFCller");  // cp1252 u-umlaut
  w.SetInteger(kQty, -42);
  w.SetScaled(kPrice, 123450);
  w.SetDate(kBorn, 2024, 2, 29);
  w.SetLogical(kOk, true);
  w.EndRecord();
  w.BeginRecord();
  w.SetText(kName, "  far too long for ten");
  w.SetScaled(kPrice, -5);
  w.SetLogical(kOk, false);
  w.EndRecord();
  w.BeginRecord();  // every field blank
  w.EndRecord();
  w.BeginRecord();
  w.SetInteger(kPrice, 7);
  w.SetText(kName, "x");
  w.SetBlank(kName);
  w.EndRecord();
  w.Finish();

  const std::vector<uint8_t> bytes = ReadFile(path);
  const int hl = w.HeaderLength(), rl = w.RecordLength();
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 1, 1, 10), "M\xFCller    ");
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 1, 11, 5), "  -42");
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 1, 16, 8), " 1234.50");
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 1, 24, 8), "20240229");
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 2, 1, 10), "  far too ");
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 2, 16, 8), "   -0.05");
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 2, 32, 1), "F");
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 3, 0, rl), std::string(static_cast<size_t>(rl), ' '));
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 4, 1, 10), std::string(10, ' '));
  EXPECT_EQ(FieldBytes(bytes, hl, rl, 4, 16, 8), "    7.00");

  TOpenTable t(path);
  const TDbfFieldDefs& defs = t.file.FieldDefs();
  char text[32];
  int16_t small = 0;
  double number = 0;
  int32_t whole = 0;
  int32_t day = 0;

  std::vector<uint8_t> r = t.Record(1);
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kName), ftString, false, text, r.data()));
  EXPECT_STREQ(text, "M\xFCller");
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kQty), ftInteger, false, &whole, r.data()));
  EXPECT_EQ(whole, -42);
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kPrice), ftFloat, false, &number, r.data()));
  EXPECT_EQ(number, 1234.5);
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kBorn), ftDate, true, &day, r.data()));
  EXPECT_EQ(day, DayNumberFromDate(2024, 2, 29));
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kOk), ftBoolean, false, &small, r.data()));
  EXPECT_EQ(small, 1);

  r = t.Record(2);
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kName), ftString, false, text, r.data()));
  EXPECT_STREQ(text, "  far too");
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kPrice), ftFloat, false, &number, r.data()));
  EXPECT_EQ(number, -0.05);
  ASSERT_TRUE(t.file.DecodeField(defs.Item(kOk), ftBoolean, false, &small, r.data()));
  EXPECT_EQ(small, 0);

  // Fields never set have no value, whatever their type.
  r = t.Record(3);
  for (int i = 0; i < defs.Count(); ++i)
    EXPECT_FALSE(t.file.DecodeField(defs.Item(i), defs.Item(i).FieldType(), false, nullptr, r.data()))
        << defs.Item(i).FieldName();
}

TEST(TableWriter, NumbersThatDoNotFitAreRefusedNotCut) {
  TTempDir dir;
  TTableWriter w(dir.File("t.dbf"), {{"A", 'N', 4, 1}, {"B", 'N', 3}, {"C", 'N', 1}});
  w.BeginRecord();
  w.SetScaled(0, -99);  // -9.9 fills the field exactly
  w.SetScaled(0, 999);  // 99.9
  EXPECT_THROW(w.SetScaled(0, 1000), std::invalid_argument);  // 100.0
  EXPECT_THROW(w.SetScaled(0, -100), std::invalid_argument);  // -10.0
  w.SetInteger(1, -99);
  EXPECT_THROW(w.SetInteger(1, 1000), std::invalid_argument);
  EXPECT_THROW(w.SetInteger(1, -100), std::invalid_argument);
  w.SetInteger(2, 0);
  EXPECT_THROW(w.SetInteger(2, -1), std::invalid_argument);
  EXPECT_THROW(w.SetInteger(0, INT64_MAX / 5), std::invalid_argument);
  EXPECT_THROW(w.SetScaled(1, INT64_MIN), std::invalid_argument);
  w.EndRecord();
  w.Finish();
}

TEST(TableWriter, RefusesImpossibleDatesAndValuesOfTheWrongKind) {
  TTempDir dir;
  TTableWriter w(dir.File("t.dbf"), kAllKinds);
  w.BeginRecord();
  EXPECT_THROW(w.SetDate(kBorn, 2023, 2, 29), std::invalid_argument);
  EXPECT_THROW(w.SetDate(kBorn, 1900, 2, 29), std::invalid_argument);
  EXPECT_THROW(w.SetDate(kBorn, 2023, 13, 1), std::invalid_argument);
  EXPECT_THROW(w.SetDate(kBorn, 10000, 1, 1), std::invalid_argument);
  w.SetDate(kBorn, 2000, 2, 29);
  EXPECT_THROW(w.SetText(kQty, "12"), std::invalid_argument);
  EXPECT_THROW(w.SetInteger(kName, 12), std::invalid_argument);
  w.EndRecord();
  w.Finish();
}

TEST(TableWriter, RefusesLayoutsTheEngineWouldReadDifferently) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  using V = std::vector<TColumnSpec>;
  EXPECT_THROW(TTableWriter(path, V{{"ELEVENCHARS", 'C', 5}}), std::invalid_argument);
  EXPECT_THROW(TTableWriter(path, V{{"A", 'C', 256}}), std::invalid_argument);
  EXPECT_THROW(TTableWriter(path, V{{"A", 'N', 21}}), std::invalid_argument);
  EXPECT_THROW(TTableWriter(path, V{{"A", 'N', 5, 4}}), std::invalid_argument);
  EXPECT_THROW(TTableWriter(path, V{{"A", 'D', 10}}), std::invalid_argument);
  EXPECT_THROW(TTableWriter(path, V{{"A", 'M', 10}}), std::invalid_argument);
  EXPECT_NO_THROW(TTableWriter(path, V{{"TEN_CHARS1", 'N', 20, 18}}));
  EXPECT_THROW(TTableWriter(dir.File("missing/t.dbf"), V{{"A", 'C', 1}}), std::runtime_error);
}

// Enough records to pass through the write buffer several times, each with a
// value of its own, so a record lost or shifted at a buffer edge shows.
TEST(TableWriter, StreamsManyRecordsThroughItsBufferWithoutLosingAny) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  constexpr int kRecords = 25000;  // about 3.5 MB of 141-byte records
  {
    TTableWriter w(path, {{"ID", 'N', 9}, {"PAD", 'C', 131}});
    for (int i = 1; i <= kRecords; ++i) {
      w.BeginRecord(i % 7 == 0);
      w.SetInteger(0, i);
      w.SetText(1, std::to_string(i));
      w.EndRecord();
    }
    EXPECT_EQ(w.RecordCount(), static_cast<uint32_t>(kRecords));
    w.Finish();
  }
  TOpenTable t(path);
  ASSERT_EQ(t.file.RecordCount(), static_cast<uint32_t>(kRecords));
  const int rl = t.file.RecordLength();
  ASSERT_EQ(rl, 141);
  std::vector<uint8_t> all(static_cast<size_t>(kRecords) * static_cast<size_t>(rl));
  ASSERT_EQ(t.file.ReadPages(1, kRecords, all.data()), kRecords);
  const TDbfFieldDef& id = t.file.FieldDefs().Item(0);
  const TDbfFieldDef& pad = t.file.FieldDefs().Item(1);
  char text[140];
  for (int i = 1; i <= kRecords; ++i) {
    const uint8_t* r = all.data() + static_cast<size_t>(i - 1) * static_cast<size_t>(rl);
    int32_t v = 0;
    ASSERT_TRUE(t.file.DecodeField(id, ftInteger, false, &v, r)) << i;
    ASSERT_EQ(v, i);
    ASSERT_TRUE(t.file.DecodeField(pad, ftString, false, text, r));
    ASSERT_EQ(text, std::to_string(i));
    ASSERT_EQ(r[0], i % 7 == 0 ? '*' : ' ') << i;
  }
}

TEST(TableWriter, AnUnfinishedWriterStillLeavesACompleteTable) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  {
    TTableWriter w(path, {{"A", 'C', 3}});
    w.BeginRecord();
    w.SetText(0, "one");
    w.EndRecord();
    w.BeginRecord();  // abandoned half-way: must not appear
    w.SetText(0, "two");
  }
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 32u + 32 + 1 + 4 + 1);
  EXPECT_EQ(GetLE32(&bytes[4]), 1u);
  EXPECT_EQ(bytes.back(), 0x1A);
}

TEST(Cp1252FromUtf8, KeepsAsciiAndMapsLatin1Letters) {
  EXPECT_EQ(Cp1252FromUtf8("plain, \"quoted\""), "plain, \"quoted\"");
  EXPECT_EQ(Cp1252FromUtf8("Müller Peña Zoë Café ß ÿ"), "M\xFCller Pe\xF1" "a Zo\xEB Caf\xE9 \xDF \xFF");
  EXPECT_EQ(Cp1252FromUtf8("\u00A0"), "\xA0");
}

TEST(Cp1252FromUtf8, RefusesWhatItCannotMapExactly) {
  EXPECT_THROW(Cp1252FromUtf8("€"), std::invalid_argument);  // in cp1252, but not at its Latin-1 place
  EXPECT_THROW(Cp1252FromUtf8("Ā"), std::invalid_argument);
  EXPECT_THROW(Cp1252FromUtf8("\xC2\x85"), std::invalid_argument);  // U+0085, a C1 control
  EXPECT_THROW(Cp1252FromUtf8("\xC3"), std::invalid_argument);      // truncated
  EXPECT_THROW(Cp1252FromUtf8("\xC3" "A"), std::invalid_argument);  // bad continuation
  EXPECT_THROW(Cp1252FromUtf8("\xC1\x81"), std::invalid_argument);  // overlong 'A'
  EXPECT_THROW(Cp1252FromUtf8("\xFC"), std::invalid_argument);      // Latin-1 passed in by mistake
}

}  // namespace
}  // namespace norvale::gen
