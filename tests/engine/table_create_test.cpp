// New tables at every level: what was written with the engine's encoders
// reads back after reopening, the header bytes lie where other programs look
// for them, FoxPro's version byte names the kind of table, counters and null
// flags survive a reopen, and what a level cannot hold is refused before a
// byte of the file is written.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/language.h"
#include "engine/table_file.h"
#include "platform/os_file.h"
#include "platform/os_misc.h"
#include "tests/engine/created_tables.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using namespace fmt;
using Bytes = std::vector<uint8_t>;
using test::TColumn;
using test::TCreatedTable;
using test::TRow;
using test::TTempDir;

std::string TableName(int level) { return "level" + std::to_string(level) + ".dbf"; }

// The descriptor layout checked byte by byte against the definitions.
void ExpectHeaderLayout(const Bytes& file, const TCreatedTable& t, TDbfFile& reopened) {
  const bool vii = t.level == 7, fox = t.level == 25;
  const int main = vii ? kMainHeaderSizeVII : kMainHeaderSize;
  const int descriptor = vii ? kDescriptorSizeVII : kDescriptorSize;
  const int fields = reopened.FieldDefs().Count();
  ASSERT_GE(file.size(), size_t(main));
  const int headerLength = GetLE16(file.data() + kHeaderLength);
  const int recordLength = GetLE16(file.data() + kRecordLength);
  EXPECT_EQ(headerLength, main + descriptor * fields + 1 + (fox ? kFoxBacklinkSize : 0));
  int sum = 1;
  for (int i = 0; i < fields; ++i) sum += reopened.FieldDefs().Item(i).Size();
  EXPECT_EQ(recordLength, sum);
  EXPECT_EQ(GetLE32(file.data() + kRecordCount), t.rows.size());
  // Records, then exactly one end-of-file byte.
  ASSERT_EQ(file.size(), size_t(headerLength) + t.rows.size() * size_t(recordLength) + 1);
  EXPECT_EQ(file.back(), kEndOfFile);
  EXPECT_EQ(file[size_t(main + descriptor * fields)], kTerminator);

  const TLocalTime now = LocalNow();
  EXPECT_EQ(file[kUpdateYear], (now.year - 1900) & 0xFF);
  EXPECT_EQ(file[kUpdateMonth], now.month);

  int offset = 1;
  for (int i = 0; i < fields; ++i) {
    const TDbfFieldDef& f = reopened.FieldDefs().Item(i);
    SCOPED_TRACE(f.FieldName());
    const uint8_t* d = file.data() + main + descriptor * i;
    const int nameSize = vii ? kFieldNameSizeVII : kFieldNameSize;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), nameSize)),
              f.FieldName());
    for (size_t k = f.FieldName().size(); k < size_t(nameSize); ++k) EXPECT_EQ(d[k], 0) << "name padding " << k;
    EXPECT_EQ(d[vii ? kFieldTypeVII : kFieldType], uint8_t(f.NativeFieldType()));
    if (fox && f.NativeFieldType() == 'C') {
      EXPECT_EQ(d[kFieldLength] + 256 * d[kFieldDecimals], f.Size());
    } else {
      EXPECT_EQ(d[vii ? kFieldLengthVII : kFieldLength], f.Size());
      EXPECT_EQ(d[vii ? kFieldDecimalsVII : kFieldDecimals], f.Precision());
    }
    if (fox) { EXPECT_EQ(GetLE32(d + 12), uint32_t(offset)); }
    offset += f.Size();
  }
  if (t.level == 3) { EXPECT_EQ(file[kLanguageId], 0); }
}

class CreateEveryType : public ::testing::TestWithParam<TCreatedTable> {};

TEST_P(CreateEveryType, ValuesStructureAndHeaderReadBack) {
  const TCreatedTable& t = GetParam();
  TTempDir dir;
  const std::string path = dir.File(TableName(t.level));
  const uint8_t languageId = t.level == 25 ? 0x03 : 0x57;  // both Windows ANSI 1252
  test::WriteCreatedTable(path, t, languageId);

  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  EXPECT_EQ(table.Version(), test::VersionOf(t.level));
  // dBASE III headers name no driver.
  EXPECT_EQ(table.FileCodePage(), t.level == 3 ? 0 : 1252);
  int user = 0;
  for (int i = 0; i < table.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = table.FieldDefs().Item(i);
    if (&f == table.NullFlagsField()) continue;
    ASSERT_LT(size_t(user), t.columns.size());
    const TColumn& c = t.columns[size_t(user++)];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(f.FieldName(), c.name);
    EXPECT_EQ(f.NativeFieldType(), c.type);
    if (c.size > 0) { EXPECT_EQ(f.Size(), c.size); }
    EXPECT_EQ(f.Precision(), c.decimals);
  }
  EXPECT_EQ(size_t(user), t.columns.size());
  const std::vector<TRow> rows = test::ReadRows(table);
  ASSERT_EQ(rows.size(), t.rows.size());
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t i = 0; i < t.columns.size(); ++i)
      EXPECT_EQ(rows[r][i], t.rows[r][i]) << "record " << r + 1 << " field " << t.columns[i].name;

  const Bytes file = test::ReadFile(path);
  ExpectHeaderLayout(file, t, table);
  const uint8_t expectedVersion = t.level == 3 ? 0x83 : t.level == 4 ? 0x8B : t.level == 7 ? 0x8C : 0x31;
  EXPECT_EQ(file[kVersion], expectedVersion);
  if (t.level == 4 || t.level == 25) { EXPECT_EQ(file[kLanguageId], languageId); }
  if (t.level == 7) {
    // Both readings of the header agree on the driver the name stands for.
    EXPECT_FALSE(table.LanguageDriverName().empty());
    EXPECT_NE(LanguageIdFromName(table.LanguageDriverName()), 0) << table.LanguageDriverName();
  }
  const std::string memo = path.substr(0, path.size() - 4) + (t.level == 25 ? ".fpt" : ".dbt");
  EXPECT_TRUE(TOsFile::Exists(memo));
}

INSTANTIATE_TEST_SUITE_P(Levels, CreateEveryType, ::testing::ValuesIn(test::EveryTypeTables()),
                         [](const auto& info) { return "Level" + std::to_string(info.param.level); });

// A table written with the given columns and nothing appended.
Bytes CreateBytes(const TTempDir& dir, int level, const std::vector<TColumn>& columns, int memoBlockSize = 512) {
  const std::string path = dir.File("t" + std::to_string(level) + ".dbf");
  test::WriteCreatedTable(path, {level, columns, {}}, 0, memoBlockSize);
  return test::ReadFile(path);
}

TEST(CreateTable, VersionBytes) {
  TTempDir dir;
  struct TCase {
    int level;
    std::vector<TColumn> columns;
    uint8_t version;
  };
  const std::vector<TCase> cases = {
      {3, {{"A", 'C', 5}, {"N", 'N', 5}}, 0x03},
      {3, {{"A", 'C', 5}, {"M", 'M', 0}}, 0x83},
      {4, {{"A", 'C', 5}}, 0x03},
      {4, {{"A", 'C', 5}, {"M", 'M', 0}}, 0x8B},
      {7, {{"A", 'C', 5}}, 0x04},
      {7, {{"A", 'C', 5}, {"G", 'G', 0}}, 0x8C},
      {25, {{"A", 'C', 5}, {"N", 'N', 5}}, 0x02},
      {25, {{"A", 'C', 5}, {"T", 'T', 0}}, 0x30},
      {25, {{"A", 'C', 5}, {"M", 'M', 0}}, 0xF5},
      {25, {{"A", 'C', 5}, {"G", 'G', 0}}, 0xF5},
      {25, {{"A", 'C', 5}, {"T", 'T', 0}, {"M", 'M', 0}}, 0x30},
      {25, {{"A", 'C', 5}, {"Y", 'Y', 0}}, 0x30},
      {25, {{"A", 'C', 5}, {"I", 'I', 0}}, 0x30},
      {25, {{"A", 'C', 5}, {"B", 'B', 8}}, 0x30},
      {25, {{"A", 'C', 5, 0, true}}, 0x30},
      {25, {{"A", 'C', 5}, {"ID", '+', 0}}, 0x31},
      {25, {{"A", 'C', 5}, {"ID", '+', 0}, {"M", 'M', 0}}, 0x31},
  };
  for (const TCase& c : cases) {
    std::string names;
    for (const TColumn& col : c.columns) names += std::string(1, col.type) + (col.nullable ? "(null) " : " ");
    SCOPED_TRACE("level " + std::to_string(c.level) + ": " + names);
    const Bytes file = CreateBytes(dir, c.level, c.columns);
    EXPECT_EQ(file[kVersion], c.version);
    // FoxPro's own flag byte says a Visual FoxPro table has a memo file.
    if (c.level == 25) { EXPECT_EQ((file[kIndexFlag] & 0x02) != 0, c.version != 0xF5 && c.columns.back().type == 'M'); }
    // Whatever the byte, the table opens again at its level.
    TDbfFile reopened;
    reopened.SetFileName(dir.File("t" + std::to_string(c.level) + ".dbf"));
    reopened.SetMode(amReadOnly);
    reopened.Open();
    EXPECT_EQ(reopened.TableLevel(), c.level);
  }
}

TEST(CreateTable, LanguageDriverDefaultsToTheProcessOne) {
  TTempDir dir;
  const Bytes iv = CreateBytes(dir, 4, {{"A", 'C', 5}});
  EXPECT_EQ(iv[kLanguageId], TDbfGlobals::Instance().DefaultLanguageId());
  // dBASE III tables carry no driver, whatever the process default.
  const Bytes iii = CreateBytes(dir, 3, {{"A", 'C', 5}});
  EXPECT_EQ(iii[kLanguageId], 0);
  const Bytes vii = CreateBytes(dir, 7, {{"A", 'C', 5}});
  const std::string name(reinterpret_cast<const char*>(vii.data() + kDriverName));
  EXPECT_EQ(LanguageIdFromName(name), TDbfGlobals::Instance().DefaultLanguageId()) << name;
  EXPECT_EQ(vii[kLanguageId], 0);
}

TEST(CreateTable, MemoFileGetsTheRequestedBlockSize) {
  TTempDir dir;
  CreateBytes(dir, 25, {{"M", 'M', 0}}, 64);
  const Bytes fpt = test::ReadFile(dir.File("t25.fpt"));
  ASSERT_GE(fpt.size(), size_t(kMemoHeaderSize));
  EXPECT_EQ(GetBE16(fpt.data() + kFoxMemoBlockSize), 64);
  CreateBytes(dir, 4, {{"M", 'M', 0}}, 1024);
  const Bytes dbt = test::ReadFile(dir.File("t4.dbt"));
  ASSERT_GE(dbt.size(), size_t(kMemoHeaderSize));
  EXPECT_EQ(GetLE16(dbt.data() + kDbaseMemoBlockSize), 1024);
  // dBASE III knows one block size only.
  CreateBytes(dir, 3, {{"M", 'M', 0}}, 1024);
  TDbfFile table;
  table.SetFileName(dir.File("t3.dbf"));
  table.SetMode(amReadOnly);
  table.Open();
  ASSERT_NE(table.MemoFile(), nullptr);
  EXPECT_EQ(table.MemoFile()->BlockSize(), 512);
  // No memo field, no memo file.
  CreateBytes(dir, 7, {{"A", 'C', 5}});
  EXPECT_FALSE(TOsFile::Exists(dir.File("t7.dbt")));
}

// The counter as the descriptor of field `index` holds it.
uint32_t DescriptorCounter(const Bytes& file, int level, int index) {
  return level == 7 ? GetLE32(file.data() + kMainHeaderSizeVII + kDescriptorSizeVII * index + kAutoIncNextVII)
                    : GetLE32(file.data() + kMainHeaderSize + kDescriptorSize * index + kFoxAutoIncNext);
}

std::vector<std::string> Ids(const std::string& path) {
  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  std::vector<std::string> ids;
  for (const TRow& row : test::ReadRows(table)) ids.push_back(row.at(1).value_or("null"));
  return ids;
}

void Append(const std::string& path, TPagedFileMode mode, const std::vector<std::string>& names) {
  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(mode);
  table.Open();
  std::vector<uint8_t> record(size_t(table.RecordLength()));
  for (const std::string& name : names) {
    table.BlankRecord(record.data());
    test::PutValue(table, table.FieldDefs().Item(0), record.data(), name);
    table.AppendRecord(record.data());
  }
}

TEST(CreateTable, AutoIncrementCountersContinueAfterReopen) {
  for (const int level : {7, 25}) {
    SCOPED_TRACE(level);
    TTempDir dir;
    const std::string path = dir.File("auto.dbf");
    test::WriteCreatedTable(path, {level, {{"NAME", 'C', 10}, {"ID", '+', 0}}, {{"a", "1"}, {"b", "2"}, {"c", "3"}}});
    Bytes file = test::ReadFile(path);
    EXPECT_EQ(DescriptorCounter(file, level, 1), 4u);
    if (level == 25) { EXPECT_EQ(file[kMainHeaderSize + kDescriptorSize + kFoxAutoIncStep], 1); }
    Append(path, amExclusiveOpen, {"d"});
    // Shared appenders read the counter from the header each time.
    Append(path, amSharedOpen, {"e", "f"});
    file = test::ReadFile(path);
    EXPECT_EQ(DescriptorCounter(file, level, 1), 7u);
    EXPECT_EQ(Ids(path), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
  }
}

TEST(CreateTable, AutoIncrementStartsFromTheDefinitionsCounter) {
  // A restructured table keeps counting where the old one stopped.
  for (const int level : {7, 25}) {
    SCOPED_TRACE(level);
    TTempDir dir;
    const std::string path = dir.File("auto.dbf");
    TDbfFieldDefs defs(test::VersionOf(level));
    test::BuildDefs(defs, {{"NAME", 'C', 10}, {"ID", '+', 0}});
    defs.Item(1).SetAutoIncNext(100);
    {
      TDbfFile table;
      table.SetFileName(path);
      table.SetMode(amExclusiveCreate);
      table.SetCreateVersion(test::VersionOf(level));
      table.Open();
      table.CreateStructure(defs, 512);
    }
    EXPECT_EQ(DescriptorCounter(test::ReadFile(path), level, 1), 100u);
    Append(path, amExclusiveOpen, {"a", "b"});
    EXPECT_EQ(Ids(path), (std::vector<std::string>{"100", "101"}));
  }
}

TEST(CreateTable, NullFlagsRoundTrip) {
  TTempDir dir;
  const std::string path = dir.File("nulls.dbf");
  // Nine fields that may hold null need a second byte of flags.
  std::vector<TColumn> columns = {{"CODE", 'C', 4}};
  for (int i = 1; i <= 6; ++i) columns.push_back({"C" + std::to_string(i), 'C', 3, 0, true});
  columns.push_back({"AMOUNT", 'N', 8, 2, true});
  columns.push_back({"COUNTER", 'I', 0, 0, true});
  columns.push_back({"WHEN", 'D', 0, 0, true});
  const std::vector<TRow> rows = {
      {"full", "a", "b", "c", "d", "e", "f", "1.5", "0", "2024-01-31"},
      {"none", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
       std::nullopt, std::nullopt},
      {"last", "a", "b", "c", "d", "e", "f", "-2", "7", std::nullopt},
  };
  test::WriteCreatedTable(path, {25, columns, rows});

  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  const TDbfFieldDef* flags = table.NullFlagsField();
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(flags->FieldName(), "_NULLFLAGS");
  EXPECT_EQ(flags->NativeFieldType(), '0');
  EXPECT_EQ(flags->Size(), 2);
  EXPECT_EQ(table.FieldDefs().Count(), int(columns.size()) + 1);
  for (size_t i = 0; i < columns.size(); ++i)
    EXPECT_EQ(table.FieldDefs().Item(int(i)).NullPosition(), i == 0 ? -1 : int(i) - 1) << columns[i].name;
  // A zero integer is a value, not null: only the flag says null.
  EXPECT_EQ(test::ReadRows(table), rows);

  const Bytes file = test::ReadFile(path);
  EXPECT_EQ(file[kVersion], 0x30);
  for (size_t i = 0; i <= columns.size(); ++i) {
    const uint8_t descriptorFlags = file[kMainHeaderSize + kDescriptorSize * i + kFieldFlags];
    const uint8_t want = i == columns.size() ? 0x05 : i == 0 ? 0 : kFieldNullable;
    EXPECT_EQ(descriptorFlags, want) << "descriptor " << i;
  }
}

TEST(CreateTable, DbaseSevenFieldPropertiesRoundTrip) {
  TTempDir dir;
  const std::string path = dir.File("props.dbf");
  TDbfFieldDefs defs(xBaseVII);
  test::BuildDefs(defs, {{"NAME", 'C', 10}, {"AMOUNT", 'N', 10, 2}, {"PLAIN", 'C', 3}, {"BORN", 'D', 0}});
  auto put = [](uint8_t* area, const std::string& text) { std::memcpy(area, text.data(), text.size()); };
  defs.Item(0).SetRequired(true);
  defs.Item(0).SetHasDefault(true);
  put(defs.Item(0).DefaultBuf(), "Unknown   ");
  defs.Item(1).SetHasMin(true);
  put(defs.Item(1).MinBuf(), "   -100.00");
  defs.Item(1).SetHasMax(true);
  put(defs.Item(1).MaxBuf(), "   1000.00");
  defs.Item(1).SetHasDefault(true);
  put(defs.Item(1).DefaultBuf(), "      1.50");
  defs.Item(3).SetRequired(true);
  {
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amExclusiveCreate);
    table.SetCreateVersion(xBaseVII);
    table.Open();
    table.CreateStructure(defs, 512);
  }
  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  auto area = [](TDbfFieldDef& f, uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), size_t(f.Size())); };
  TDbfFieldDef& name = table.FieldDefs().Item(0);
  TDbfFieldDef& amount = table.FieldDefs().Item(1);
  TDbfFieldDef& plain = table.FieldDefs().Item(2);
  TDbfFieldDef& born = table.FieldDefs().Item(3);
  EXPECT_TRUE(name.Required());
  EXPECT_FALSE(name.HasMin());
  EXPECT_FALSE(name.HasMax());
  ASSERT_TRUE(name.HasDefault());
  EXPECT_EQ(area(name, name.DefaultBuf()), "Unknown   ");
  EXPECT_FALSE(amount.Required());
  ASSERT_TRUE(amount.HasMin() && amount.HasMax() && amount.HasDefault());
  EXPECT_EQ(area(amount, amount.MinBuf()), "   -100.00");
  EXPECT_EQ(area(amount, amount.MaxBuf()), "   1000.00");
  EXPECT_EQ(area(amount, amount.DefaultBuf()), "      1.50");
  EXPECT_FALSE(plain.Required() || plain.HasMin() || plain.HasMax() || plain.HasDefault());
  EXPECT_TRUE(born.Required());
  EXPECT_FALSE(born.HasDefault());

  // The section after the terminator: six entries, four of them with data,
  // all counted in the header length.
  const Bytes file = test::ReadFile(path);
  const int at = kMainHeaderSizeVII + kDescriptorSizeVII * 4 + 1;
  EXPECT_EQ(file[size_t(at - 1)], kTerminator);
  EXPECT_EQ(GetLE16(file.data() + at + kPropertyCount), 6);
  EXPECT_EQ(GetLE16(file.data() + at + kPropertyStart), kPropertiesHeaderSize);
  EXPECT_EQ(GetLE16(file.data() + kHeaderLength), at + kPropertiesHeaderSize + 6 * kPropertyEntrySize + 4 * 10);
  EXPECT_EQ(file.size(), size_t(GetLE16(file.data() + kHeaderLength)) + 1);
}

TEST(CreateTable, LongNamesAndWideCharacterFields) {
  TTempDir dir;
  // dBASE 7 keeps 31 characters of a name; FoxPro text fields pass 255.
  const std::string name31 = "A_FIELD_NAME_OF_31_CHARACTERS_X";
  ASSERT_EQ(name31.size(), 31u);
  test::WriteCreatedTable(dir.File("long.dbf"), {7, {{name31, 'C', 5}, {"a_field_name_of_31_characters_y", 'C', 5}},
                                                {{"one", "two"}}});
  TDbfFile vii;
  vii.SetFileName(dir.File("long.dbf"));
  vii.SetMode(amReadOnly);
  vii.Open();
  EXPECT_EQ(vii.FieldDefs().Item(0).FieldName(), name31);
  EXPECT_EQ(vii.FieldDefs().Item(1).FieldName(), "A_FIELD_NAME_OF_31_CHARACTERS_Y");
  EXPECT_EQ(test::ReadRows(vii), (std::vector<TRow>{{"one", "two"}}));

  // The largest record a 16-bit length holds, in one field.
  const std::string wide(65533, 'w');
  test::WriteCreatedTable(dir.File("wide.dbf"), {25, {{"WIDE", 'C', 65533}}, {{wide}}});
  TDbfFile fox;
  fox.SetFileName(dir.File("wide.dbf"));
  fox.SetMode(amReadOnly);
  fox.Open();
  EXPECT_EQ(fox.RecordLength(), 65534);
  EXPECT_EQ(fox.FieldDefs().Item(0).Size(), 65533);
  // Not EXPECT_EQ: a failure would print the 64 KB value.
  EXPECT_TRUE(test::ReadRows(fox) == (std::vector<TRow>{{wide}}));
}

// What CreateStructure raises for these columns, with the file it leaves.
struct TRefusal {
  std::string message;
  uint64_t fileSize;
  bool memoFile;
};

TRefusal Refuse(int level, const std::vector<TColumn>& columns) {
  TTempDir dir;
  const std::string path = dir.File("refused.dbf");
  TDbfFieldDefs defs(test::VersionOf(level));
  test::BuildDefs(defs, columns);
  TRefusal result;
  {
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amExclusiveCreate);
    table.SetCreateVersion(test::VersionOf(level));
    table.Open();
    result.message = test::Message([&] { table.CreateStructure(defs, 512); });
  }
  result.fileSize = test::ReadFile(path).size();
  result.memoFile = TOsFile::Exists(dir.File(level == 25 ? "refused.fpt" : "refused.dbt"));
  return result;
}

std::vector<TColumn> ManyFields(int count, int size) {
  std::vector<TColumn> columns;
  for (int i = 0; i < count; ++i) columns.push_back({"F" + std::to_string(i), 'C', size});
  return columns;
}

TEST(CreateTable, RefusalsLeaveTheFileEmpty) {
  struct TCase {
    const char* what;
    int level;
    std::vector<TColumn> columns;
    std::string message;
  };
  const std::vector<TCase> cases = {
      {"no fields", 4, {}, "A table needs at least one field."},
      {"empty name", 4, {{"A", 'C', 5}, {"", 'C', 5}, {"M", 'M', 0}}, "Field 2 has no name."},
      {"blank name", 3, {{"   ", 'C', 5}}, "Field 1 has no name."},
      {"name with a blank", 4, {{"MY NAME", 'C', 5}}, "Field name \"MY NAME\" holds characters a table cannot store."},
      {"repeated after the cut",
       4,
       {{"CUSTOMER_NAME1", 'C', 5}, {"M", 'M', 0}, {"Customer_Name2", 'C', 5}},
       "Field name \"CUSTOMER_N\" appears twice (names are cut to 10 characters)."},
      {"repeated in other case", 25, {{"name", 'C', 5}, {"NAME", 'M', 0}},
       "Field name \"NAME\" appears twice (names are cut to 10 characters)."},
      {"autoincrement at level 4", 4, {{"NAME", 'C', 5}, {"ID", '+', 0}, {"M", 'M', 0}},
       "Invalid field type '  \"+\" (#2B) ' for field 'ID'."},
      {"integer at level 3", 3, {{"N", 'I', 0}}, "Invalid field type '  \"I\" (#49) ' for field 'N'."},
      {"currency at level 7", 7, {{"P", 'Y', 0}}, "Invalid field type '  \"Y\" (#59) ' for field 'P'."},
      {"record past 65534 bytes", 25, {{"A", 'C', 40000}, {"B", 'C', 30000}, {"M", 'M', 0}},
       "Table structure too large for this table type."},
      {"record one byte too long", 25, {{"A", 'C', 65534}}, "Table structure too large for this table type."},
      {"null flags push the record too long", 25, {{"A", 'C', 65533, 0, true}},
       "Table structure too large for this table type."},
      {"too many fields for the header", 4, ManyFields(2047, 1), "Table structure too large for this table type."},
      {"too many fields at level 7", 7, ManyFields(1364, 1), "Table structure too large for this table type."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TRefusal r = Refuse(c.level, c.columns);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.fileSize, 0u);
    EXPECT_FALSE(r.memoFile);
  }
  // The limits themselves are allowed.
  EXPECT_EQ(Refuse(4, ManyFields(2046, 1)).message, "(no error)");
  EXPECT_EQ(Refuse(7, ManyFields(1363, 1)).message, "(no error)");
  EXPECT_EQ(Refuse(25, ManyFields(2038, 1)).message, "(no error)");
  EXPECT_EQ(Refuse(25, ManyFields(2039, 1)).message, "Table structure too large for this table type.");
  // A table open for reading is not one to write a structure into.
  TTempDir dir;
  test::WriteCreatedTable(dir.File("open.dbf"), {4, {{"A", 'C', 5}}, {{"x"}}});
  const Bytes before = test::ReadFile(dir.File("open.dbf"));
  TDbfFieldDefs defs;
  test::BuildDefs(defs, {{"B", 'C', 5}});
  TDbfFile table;
  table.SetFileName(dir.File("open.dbf"));
  table.SetMode(amExclusiveOpen);
  table.Open();
  EXPECT_EQ(test::Message([&] { table.CreateStructure(defs, 512); }), "Invalid DBF file.");
  table.Close();
  EXPECT_EQ(test::ReadFile(dir.File("open.dbf")), before);
}

TEST(CreateTable, ZapCutsTheTableToItsHeader) {
  TTempDir dir;
  const std::string path = dir.File("zap.dbf");
  test::WriteCreatedTable(path, {4, {{"NAME", 'C', 10}, {"NOTE", 'M', 0}}, {{"a", "first"}, {"b", "second"}}});
  const Bytes memoBefore = test::ReadFile(dir.File("zap.dbt"));
  {
    TDbfFile shared;
    shared.SetFileName(path);
    shared.SetMode(amSharedOpen);
    shared.Open();
    EXPECT_EQ(test::Message([&] { shared.Zap(); }), "Exclusive access is required for this operation.");
    EXPECT_EQ(shared.RecordCount(), 2u);
  }
  {
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amExclusiveOpen);
    table.Open();
    table.Zap();
    EXPECT_EQ(table.RecordCount(), 0u);
  }
  const Bytes file = test::ReadFile(path);
  const int headerLength = GetLE16(file.data() + kHeaderLength);
  EXPECT_EQ(file.size(), size_t(headerLength) + 1);
  EXPECT_EQ(file.back(), kEndOfFile);
  EXPECT_EQ(GetLE32(file.data() + kRecordCount), 0u);
  // Other programs read the memo file whole; it is left alone.
  EXPECT_EQ(test::ReadFile(dir.File("zap.dbt")), memoBefore);
  Append(path, amExclusiveOpen, {"c"});
  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  EXPECT_EQ(test::ReadRows(table), (std::vector<TRow>{{"c", std::nullopt}}));
}

}  // namespace
}  // namespace norvale
