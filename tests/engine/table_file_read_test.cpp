#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/table_file.h"
#include "platform/os_misc.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TFieldSpec;
using test::TTableImage;

constexpr int kRecordCountAt = 4;
constexpr int kHeaderLengthAt = 8;
constexpr int kRecordLengthAt = 10;

// Inserts bytes at the end of the header (after the terminator) and makes the
// header length count them, so the records stay readable.
void GrowHeader(Bytes& file, const Bytes& extra) {
  const int hl = GetLE16(file.data() + kHeaderLengthAt);
  file.insert(file.begin() + hl, extra.begin(), extra.end());
  PutLE16(file.data() + kHeaderLengthAt, static_cast<uint16_t>(hl + static_cast<int>(extra.size())));
}

class TableReadTest : public ::testing::Test {
 protected:
  std::unique_ptr<TDbfFile> Make(TPagedFileMode mode) {
    auto file = std::make_unique<TDbfFile>();
    file->SetFileName(path_);
    file->SetMode(mode);
    return file;
  }
  std::unique_ptr<TDbfFile> Open(const Bytes& bytes, TPagedFileMode mode = amReadOnly) {
    test::WriteFile(path_, bytes);
    auto file = Make(mode);
    file->Open();
    return file;
  }
  // The EDbfError message of opening `bytes`; nullopt when it opens.
  std::optional<std::string> OpenError(const Bytes& bytes, TPagedFileMode mode = amExclusiveOpen) {
    test::WriteFile(path_, bytes);
    auto file = Make(mode);
    try {
      file->Open();
    } catch (const EDbfError& e) {
      EXPECT_FALSE(file->IsOpen());
      return std::string(e.what());
    }
    return std::nullopt;
  }
  Bytes OnDisk() const { return test::ReadFile(path_); }
  std::string Text(TDbfFile& file, const uint8_t* record, const char* field) {
    const TDbfFieldDef* f = file.FieldDefByName(field);
    EXPECT_NE(f, nullptr) << field;
    if (!f) return {};
    std::vector<char> out(static_cast<size_t>(f->Size()) + 1);
    return file.DecodeField(*f, ftString, false, out.data(), record) ? std::string(out.data()) : std::string();
  }
  Bytes Record(TDbfFile& file, int64_t recNo) {
    Bytes rec(static_cast<size_t>(file.RecordLength()));
    EXPECT_EQ(file.ReadPage(recNo, rec.data()), file.RecordLength());
    return rec;
  }

  test::TTempDir dir_;
  std::string path_ = dir_.File("t.dbf");
};

TTableImage SimpleImage(uint8_t versionByte = 0x03, uint8_t languageId = 0x57) {
  TTableImage image;
  image.versionByte = versionByte;
  image.languageId = languageId;
  image.fields = {{"NAME", 'C', 5}, {"QTY", 'N', 3}};
  image.records = {image.Record({"alpha", "  1"}), image.Record({"beta", " 22"}), image.Record({"gamma", "333"})};
  return image;
}

// ---- version recognition --------------------------------------------------

TEST_F(TableReadTest, VersionRecognition) {
  struct {
    uint8_t versionByte;
    uint8_t languageId;
    TXBaseVersion want;  // xUnknown: "Invalid DBF file."
  } cases[] = {
      {0x03, 0x57, xBaseIV},   {0x03, 0x00, xBaseIII},  {0x8B, 0x00, xBaseIII}, {0x8B, 0x57, xBaseIV},
      {0x83, 0x00, xBaseIII},  {0x43, 0x01, xBaseIV},   {0xCB, 0x03, xBaseIV},  {0x04, 0x00, xBaseVII},
      {0x8C, 0x00, xBaseVII},  {0x02, 0x00, xFoxPro},   {0xF5, 0x03, xFoxPro},  {0xE5, 0x00, xFoxPro},
      {0x30, 0x03, xFoxPro},   {0x31, 0x00, xFoxPro},   {0x32, 0x00, xFoxPro},  {0x8E, 0x00, xUnknown},
      {0x00, 0x00, xUnknown},  {0x01, 0x57, xUnknown},  {0x07, 0x00, xUnknown}, {0x36, 0x00, xUnknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "version byte 0x" << std::hex << int(c.versionByte));
    const Bytes bytes = SimpleImage(c.versionByte, c.languageId).Bytes();
    if (c.want == xUnknown) {
      EXPECT_EQ(OpenError(bytes), "Invalid DBF file.");
      EXPECT_EQ(OnDisk(), bytes);
      continue;
    }
    auto file = Open(bytes);
    EXPECT_EQ(file->Version(), c.want);
    EXPECT_EQ(file->FieldDefs().Version(), c.want);
    EXPECT_EQ(file->FieldDefs().Count(), 2);
    EXPECT_EQ(file->RecordCount(), 3u);
    const Bytes rec = Record(*file, 2);
    EXPECT_EQ(Text(*file, rec.data(), "name"), "beta");
  }
}

TEST_F(TableReadTest, ShortFilesAreNotTables) {
  EXPECT_EQ(OpenError({}), "Invalid DBF file.");
  EXPECT_EQ(OpenError(Bytes{0x03, 0x7E, 1, 1, 0, 0, 0, 0, 0x21, 0}), "Invalid DBF file.");
}

// ---- record count -----------------------------------------------------------

bool IsTodayStamp(const uint8_t* header, const TLocalTime& a, const TLocalTime& b) {
  for (const TLocalTime& t : {a, b})
    if (header[1] == ((t.year - 1900) & 0xFF) && header[2] == t.month && header[3] == t.day) return true;
  return false;
}

// The first change of an open: record 1 written back as it is.
void ChangeOnce(TDbfFile& file) {
  std::vector<uint8_t> record(static_cast<size_t>(file.RecordLength()));
  file.LockAndReadRecord(1, record.data());
  file.WriteBackRecord(1, record.data());
}

TEST_F(TableReadTest, RecordCountComesFromTheFileSizeAndIsStoredWithTheFirstChange) {
  TTableImage image = SimpleImage();
  image.headerCount = 10;
  const Bytes bytes = image.Bytes();
  const TLocalTime before = LocalNow();
  auto file = Open(bytes, amExclusiveOpen);
  EXPECT_EQ(file->RecordCount(), 3u);
  EXPECT_EQ(file->HeaderRecordCount(), 10u);
  EXPECT_EQ(OnDisk(), bytes) << "opening writes nothing";
  ChangeOnce(*file);
  file->Close();
  const TLocalTime after = LocalNow();

  const Bytes disk = OnDisk();
  ASSERT_EQ(disk.size(), static_cast<size_t>(image.HeaderLength() + 3 * image.RecordLength() + 1));
  EXPECT_EQ(GetLE32(disk.data() + kRecordCountAt), 3u);
  EXPECT_TRUE(IsTodayStamp(disk.data(), before, after))
      << int(disk[1]) << "-" << int(disk[2]) << "-" << int(disk[3]);
  EXPECT_EQ(disk.back(), TDbfFile::kEofByte);
}

TEST_F(TableReadTest, SharedOpenStoresTheCorrectedCountWithTheFirstChange) {
  TTableImage image = SimpleImage();
  image.headerCount = 0;
  auto file = Open(image.Bytes(), amSharedOpen);
  EXPECT_EQ(file->RecordCount(), 3u);
  EXPECT_EQ(GetLE32(OnDisk().data() + kRecordCountAt), 0u);
  ChangeOnce(*file);
  EXPECT_EQ(GetLE32(OnDisk().data() + kRecordCountAt), 3u) << "other processes must see it while open";
}

TEST_F(TableReadTest, ReadOnlyOpenCorrectsInMemoryOnly) {
  TTableImage image = SimpleImage();
  image.headerCount = 7;
  const Bytes bytes = image.Bytes();
  auto file = Open(bytes, amReadOnly);
  EXPECT_EQ(file->RecordCount(), 3u);
  EXPECT_FALSE(file->WriteError());
  file->Close();
  EXPECT_EQ(OnDisk(), bytes);
}

TEST_F(TableReadTest, PartialRecordsAndMissingEofAreIgnored) {
  struct {
    int records;
    int64_t headerCount;
    int extraBytes;  // a partial record after the last full one
    bool eof;
  } cases[] = {{3, 1, 4, false}, {2, 5, 0, false}, {0, 9, 0, true}, {3, 3, 7, true}};
  for (const auto& c : cases) {
    TTableImage image = SimpleImage();
    image.records.resize(static_cast<size_t>(c.records), image.Record({"x", "1"}));
    image.headerCount = c.headerCount;
    image.eof = c.eof;
    Bytes bytes = image.Bytes();
    bytes.insert(bytes.end(), static_cast<size_t>(c.extraBytes), 'p');
    auto file = Open(bytes, amReadOnly);
    EXPECT_EQ(file->RecordCount(), static_cast<uint32_t>(c.records)) << c.records << " records";
  }
}

// ---- field descriptors ------------------------------------------------------

TEST_F(TableReadTest, FoxProCharacterLengthUsesTheDecimalsByte) {
  TTableImage image;
  image.versionByte = 0x30;
  image.fields = {{"LONG", 'C', 272}, {"N", 'N', 3}};
  image.records = {image.Record({std::string(271, 'a') + "z", "-42"})};
  const Bytes bytes = image.Bytes();
  ASSERT_EQ(bytes[32 + 16], 0x10);
  ASSERT_EQ(bytes[32 + 17], 0x01);
  auto file = Open(bytes);
  const TDbfFieldDef& f = file->FieldDefs().Item(0);
  EXPECT_EQ(f.Size(), 272);
  EXPECT_EQ(f.Precision(), 0);
  EXPECT_EQ(file->FieldDefs().Item(1).Offset(), 273);
  const Bytes rec = Record(*file, 1);
  EXPECT_EQ(Text(*file, rec.data(), "LONG"), std::string(271, 'a') + "z");
  int32_t n = 0;
  EXPECT_TRUE(file->DecodeField(file->FieldDefs().Item(1), ftInteger, false, &n, rec.data()));
  EXPECT_EQ(n, -42);
}

TEST_F(TableReadTest, StoredWidthsAreKept) {
  TTableImage image;
  image.fields = {{"GIS", 'N', 24, 15}, {"BIG", 'N', 10}, {"SMALL", 'N', 3}, {"WIDE", 'F', 30, 25}};
  image.records = {image.Record({"     -12.345678901234567", "1234567890", "-12", "1.5"})};
  auto file = Open(image.Bytes());
  const TDbfFieldDefs& defs = file->FieldDefs();
  struct {
    int size, precision;
    TFieldType type;
    int offset;
  } want[] = {{24, 15, ftFloat, 1}, {10, 0, ftLargeint, 25}, {3, 0, ftSmallint, 35}, {30, 25, ftFloat, 38}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(defs.Item(i).Size(), want[i].size) << i;
    EXPECT_EQ(defs.Item(i).Precision(), want[i].precision) << i;
    EXPECT_EQ(defs.Item(i).FieldType(), want[i].type) << i;
    EXPECT_EQ(defs.Item(i).Offset(), want[i].offset) << i;
  }
  const Bytes rec = Record(*file, 1);
  double gis = 0;
  EXPECT_TRUE(file->DecodeField(defs.Item(0), ftFloat, false, &gis, rec.data()));
  EXPECT_DOUBLE_EQ(gis, -12.345678901234567);
  int64_t big = 0;
  EXPECT_TRUE(file->DecodeField(defs.Item(1), ftLargeint, false, &big, rec.data()));
  EXPECT_EQ(big, 1234567890);
}

TEST_F(TableReadTest, DescriptorTableEndsAtTheTerminator) {
  TTableImage image = SimpleImage();
  Bytes bytes = image.Bytes();
  GrowHeader(bytes, Bytes(64, 0));  // room for two more descriptors, never filled
  auto file = Open(bytes);
  EXPECT_EQ(file->FieldDefs().Count(), 2);
  EXPECT_EQ(file->HeaderLength(), image.HeaderLength() + 64);
  EXPECT_EQ(file->RecordCount(), 3u);
  const Bytes rec = Record(*file, 3);
  EXPECT_EQ(Text(*file, rec.data(), "NAME"), "gamma");
}

TEST_F(TableReadTest, DescriptorTableIsCutAtTheHeaderLength) {
  TTableImage image = SimpleImage();
  Bytes bytes = image.Bytes();
  ASSERT_EQ(bytes[32 + 2 * 32], TDbfFile::kTerminator);
  bytes[32 + 2 * 32] = 'Z';  // the last header byte, where a third descriptor would begin
  auto file = Open(bytes);
  EXPECT_EQ(file->FieldDefs().Count(), 2);
  const Bytes rec = Record(*file, 1);
  EXPECT_EQ(Text(*file, rec.data(), "QTY"), "  1");
}

TEST_F(TableReadTest, SystemFieldsAndNullPositions) {
  TTableImage image;
  image.versionByte = 0x30;
  image.fields = {{"A", 'N', 5, 0, 0x02},
                  {"B", 'C', 3},
                  {"C", 'T', 8, 0, 0x02},
                  {"D", 'I', 4, 0, 0x06},
                  {"_nullflags", '0', 1, 0, 0x07}};
  image.records = {image.Record({"   12", "abc", std::string(8, '\0'), std::string(4, '\0'), "\x02"})};
  auto file = Open(image.Bytes());
  const TDbfFieldDefs& defs = file->FieldDefs();
  EXPECT_EQ(defs.Item(0).NullPosition(), 0);
  EXPECT_EQ(defs.Item(1).NullPosition(), -1);
  EXPECT_EQ(defs.Item(2).NullPosition(), 1);
  EXPECT_EQ(defs.Item(3).NullPosition(), 2);
  EXPECT_EQ(defs.Item(4).NullPosition(), -1);
  ASSERT_NE(file->NullFlagsField(), nullptr);
  EXPECT_EQ(file->NullFlagsField(), file->FieldDefByName("_NullFlags"));
  EXPECT_EQ(file->LockField(), nullptr);

  const Bytes rec = Record(*file, 1);
  EXPECT_TRUE(file->DecodeField(defs.Item(0), ftInteger, false, nullptr, rec.data()));
  EXPECT_FALSE(file->DecodeField(defs.Item(2), ftDateTime, false, nullptr, rec.data())) << "bit 1 is set";
  EXPECT_TRUE(file->DecodeField(defs.Item(3), ftInteger, false, nullptr, rec.data()));

  TTableImage locked = SimpleImage();
  locked.fields.push_back({"_DBASELOCK", 'C', 12});
  locked.records = {locked.Record({"x", "1", ""})};
  file = Open(locked.Bytes());
  ASSERT_NE(file->LockField(), nullptr);
  EXPECT_EQ(file->LockField()->FieldName(), "_DBASELOCK");
  EXPECT_EQ(file->NullFlagsField(), nullptr);
}

// ---- refused headers --------------------------------------------------------

TEST_F(TableReadTest, RefusedHeaders) {
  struct TCase {
    const char* what;
    std::function<Bytes()> make;
    const char* message;
  };
  const char* const kInvalid = "Invalid DBF file.";
  const char* const kBadType = "Invalid DBF file. or Invalid field type";
  const char* const kNoFields = "Invalid field count: 0 (must be between 1 and 4095).";
  auto patched = [](TTableImage image, std::function<void(Bytes&)> patch) {
    return [image, patch] {
      Bytes b = image.Bytes();
      patch(b);
      return b;
    };
  };
  TTableImage empty;
  empty.records = {" ", " "};
  TTableImage emptyFox = empty;
  emptyFox.versionByte = 0xF5;
  TTableImage vii = SimpleImage(0x04);
  TTableImage badLetter = SimpleImage();
  badLetter.fields[1].type = 'X';
  TTableImage plusBelowVii = SimpleImage();
  plusBelowVii.fields[1] = {"ID", '+', 4};
  TTableImage noName = SimpleImage();
  noName.fields[0].name = "";

  const TCase cases[] = {
      {"terminator right after the main header", [empty] { return empty.Bytes(); }, kNoFields},
      {"FoxPro table without fields", [emptyFox] { return emptyFox.Bytes(); }, kNoFields},
      {"header too short for one descriptor",
       patched(SimpleImage(), [](Bytes& b) { PutLE16(b.data() + kHeaderLengthAt, 40); }), kInvalid},
      {"header shorter than the main header",
       patched(SimpleImage(), [](Bytes& b) { PutLE16(b.data() + kHeaderLengthAt, 20); }), kInvalid},
      {"header of one byte", patched(SimpleImage(), [](Bytes& b) { PutLE16(b.data() + kHeaderLengthAt, 1); }),
       kInvalid},
      {"dBASE 7 header too short for one descriptor",
       patched(vii, [](Bytes& b) { PutLE16(b.data() + kHeaderLengthAt, 100); }), kInvalid},
      {"dBASE 7 header shorter than its main header",
       patched(vii, [](Bytes& b) { PutLE16(b.data() + kHeaderLengthAt, 40); }), kInvalid},
      {"field ends past the record", patched(SimpleImage(), [](Bytes& b) { PutLE16(b.data() + kRecordLengthAt, 8); }),
       kInvalid},
      {"field wider than the record at FoxPro",
       patched(SimpleImage(0x30), [](Bytes& b) { b[32 + 17] = 0x01; }), kInvalid},
      {"unknown letter", [badLetter] { return badLetter.Bytes(); }, kBadType},
      {"autoincrement below dBASE 7", [plusBelowVii] { return plusBelowVii.Bytes(); }, kBadType},
      {"empty field name", [noName] { return noName.Bytes(); }, kBadType},
      {"zeroed descriptors", patched(SimpleImage(), [](Bytes& b) { std::fill(b.begin() + 32, b.begin() + 96, 0); }),
       kBadType},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes bytes = c.make();
    EXPECT_EQ(OpenError(bytes), std::optional<std::string>(c.message));
    EXPECT_EQ(OnDisk(), bytes) << "a refused file was written to";
  }
}

TEST_F(TableReadTest, ZeroLengthsGiveUpWithoutError) {
  for (int at : {kHeaderLengthAt, kRecordLengthAt}) {
    Bytes bytes = SimpleImage().Bytes();
    PutLE16(bytes.data() + at, 0);
    auto file = Open(bytes, amExclusiveOpen);
    EXPECT_TRUE(file->GiveUp()) << at;
    EXPECT_EQ(file->HeaderLength(), 0);
    EXPECT_EQ(file->RecordLength(), 0);
    EXPECT_EQ(file->RecordCount(), 0u);
    file->Close();
    EXPECT_EQ(OnDisk(), bytes);
  }
}

TEST_F(TableReadTest, ReopenReadsTheFileAfresh) {
  Bytes refused = SimpleImage().Bytes();
  PutLE16(refused.data() + kRecordLengthAt, 0);
  test::WriteFile(path_, refused);
  auto file = Make(amReadOnly);
  file->Open();
  EXPECT_TRUE(file->GiveUp());
  file->Close();

  // Same record length as the next table, so a stale blank record would fit.
  TTableImage text;
  text.fields = {{"A", 'C', 8}, {"B", 'C', 2}};
  test::WriteFile(path_, text.Bytes());
  file->Open();
  EXPECT_FALSE(file->GiveUp());
  Bytes blank(static_cast<size_t>(file->RecordLength()));
  file->BlankRecord(blank.data());
  file->Close();

  TTableImage fox;
  fox.versionByte = 0x30;
  fox.fields = {{"T", 'T', 8}, {"C", 'C', 2}};
  test::WriteFile(path_, fox.Bytes());
  file->Open();
  file->Open();  // already open: nothing happens
  EXPECT_EQ(file->Version(), xFoxPro);
  ASSERT_EQ(file->FieldDefs().Count(), 2);
  EXPECT_EQ(file->FieldDefs().Item(0).FieldType(), ftDateTime);
  file->BlankRecord(blank.data());
  EXPECT_EQ(Bytes(blank.begin() + 1, blank.begin() + 9), Bytes(8, 0));
}

// ---- header maintenance at open ----------------------------------------------

TEST_F(TableReadTest, MissingProductionIndex) {
  struct {
    const char* what;
    uint8_t versionByte;
    std::optional<bool> answer;  // nullopt: no handler
    const char* mdxName;         // created beside the table when given
    int wantCalls;
    bool wantGiveUp;
    uint8_t wantFlag;
  } cases[] = {
      {"unlinked", 0x03, true, nullptr, 1, false, 0},
      {"declined", 0x03, false, nullptr, 1, true, 1},
      {"no handler", 0x03, std::nullopt, nullptr, 0, false, 0},
      {"dBASE III", 0x83, true, nullptr, 1, false, 0},
      {"present in upper case", 0x03, false, "t.MDX", 0, false, 1},
      {"FoxPro ignores the flag", 0x30, false, nullptr, 0, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TTempDir dir;
    path_ = dir.File("t.dbf");
    if (c.mdxName) test::WriteFile(dir.File(c.mdxName), Bytes(512, 0));
    TTableImage image = SimpleImage(c.versionByte, c.versionByte == 0x83 ? 0 : 0x57);
    image.mdxFlag = 1;
    test::WriteFile(path_, image.Bytes());
    auto file = Make(amExclusiveOpen);
    int calls = 0;
    if (c.answer) {
      const bool answer = *c.answer;
      file->OnIndexMissing = [&calls, answer](bool& deleteLink) {
        ++calls;
        EXPECT_TRUE(deleteLink) << "offered as true";
        deleteLink = answer;
      };
    }
    file->Open();
    EXPECT_EQ(calls, c.wantCalls);
    EXPECT_EQ(file->GiveUp(), c.wantGiveUp);
    EXPECT_EQ(file->Header()[28], c.wantFlag);
    EXPECT_EQ(OnDisk()[28], 1) << "opening writes nothing";
    if (!file->GiveUp()) ChangeOnce(*file);
    file->Close();
    EXPECT_EQ(OnDisk()[28], c.wantFlag);
  }
}

TEST_F(TableReadTest, MemoBitFollowsTheFields) {
  struct {
    uint8_t versionByte;
    uint8_t languageId;
    bool memoField;
    TPagedFileMode mode;
    uint8_t want;
  } cases[] = {
      {0x8B, 0x57, false, amExclusiveOpen, 0x0B}, {0x03, 0x57, true, amExclusiveOpen, 0x83},
      {0x83, 0x00, false, amExclusiveOpen, 0x03}, {0x8C, 0x00, false, amExclusiveOpen, 0x0C},
      {0xF5, 0x03, false, amExclusiveOpen, 0xF5}, {0x30, 0x03, true, amExclusiveOpen, 0x30},
      {0x8B, 0x57, false, amReadOnly, 0x8B},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "0x" << std::hex << int(c.versionByte) << " memo " << c.memoField);
    TTableImage image = SimpleImage(c.versionByte, c.languageId);
    if (c.memoField) {
      image.fields.push_back({"NOTES", 'M', (c.versionByte & 7) == 0 ? 4 : 10});
      image.records = {image.Record({"a", "1", ""})};
    }
    auto file = Open(image.Bytes(), c.mode);
    EXPECT_EQ(file->HasMemoFields(), c.memoField);
    if (c.mode != amReadOnly) {
      EXPECT_EQ(file->Header()[0], c.want);
    }
    EXPECT_EQ(OnDisk()[0], c.versionByte) << "opening writes nothing";
    if (c.mode != amReadOnly) ChangeOnce(*file);
    file->Close();
    EXPECT_EQ(OnDisk()[0], c.want);
  }
}

TEST_F(TableReadTest, MemoFileIsFoundWhateverItsCase) {
  TTableImage image = SimpleImage();
  image.fields.push_back({"NOTES", 'M', 10});
  image.records = {image.Record({"a", "1", "         1"})};
  test::WriteFile(dir_.File("t.DBT"), Bytes(512, 0));
  auto file = Open(image.Bytes());
  EXPECT_EQ(file->MemoFileName(), dir_.File("t.DBT"));
}

TEST_F(TableReadTest, DbaseSevenLanguageDriverName) {
  struct {
    const char* name;
    int codePage;
  } cases[] = {{"DBWINUS0", 1252}, {"DB437US0", 437}, {"DB852CZ0", 852}, {"DBHEBREW", 1255},
               {"DB1251CY", 1251}, {"FOX44WIN", 1252}, {"FOX44437", 437}, {"XYZ", 0}};
  for (const auto& c : cases) {
    Bytes bytes = SimpleImage(0x04).Bytes();
    std::fill(bytes.begin() + 32, bytes.begin() + 64, 0);
    std::memcpy(bytes.data() + 32, c.name, std::strlen(c.name));
    auto file = Open(bytes);
    EXPECT_EQ(file->FileCodePage(), c.codePage) << c.name;
    EXPECT_EQ(file->LanguageDriverName(), c.name);
    EXPECT_EQ(file->UseCodePage(), c.codePage ? c.codePage : TDbfGlobals::Instance().DefaultCodePage());
  }
  auto iv = Open(SimpleImage(0x03, 0x57).Bytes());
  EXPECT_EQ(iv->LanguageId(), 0x57);
  EXPECT_EQ(iv->LanguageDriverName(), "");
}

// ---- blank record -------------------------------------------------------------

struct TBlankCase {
  TFieldSpec field;
  uint8_t fill;        // every byte of the blank field
  bool decodesEmpty;   // reads back as "no value"
};

void CheckBlank(TDbfFile& file, const std::vector<TBlankCase>& cases) {
  Bytes blank(static_cast<size_t>(file.RecordLength()) + 1, 0xEE);
  file.BlankRecord(blank.data());
  EXPECT_EQ(blank.back(), 0xEE) << "wrote past the record";
  EXPECT_EQ(blank[0], ' ') << "deletion flag";
  for (size_t i = 0; i < cases.size(); ++i) {
    const TDbfFieldDef& f = file.FieldDefs().Item(static_cast<int>(i));
    SCOPED_TRACE(f.FieldName());
    for (int b = 0; b < f.Size(); ++b)
      ASSERT_EQ(blank[static_cast<size_t>(f.Offset() + b)], cases[i].fill) << "byte " << b;
    if (cases[i].decodesEmpty) { EXPECT_FALSE(file.DecodeField(f, f.FieldType(), false, nullptr, blank.data())); }
  }
}

Bytes ImageOf(uint8_t versionByte, const std::vector<TBlankCase>& cases) {
  TTableImage image;
  image.versionByte = versionByte;
  for (const TBlankCase& c : cases) image.fields.push_back(c.field);
  return image.Bytes();
}

TEST_F(TableReadTest, BlankRecordDbaseIV) {
  const std::vector<TBlankCase> cases = {
      {{"C", 'C', 4}, ' ', true},    {{"N", 'N', 6, 2}, ' ', true}, {{"L", 'L', 1}, ' ', true},
      {{"D", 'D', 8}, ' ', true},    {{"M", 'M', 10}, ' ', true},   {{"M4", 'M', 4}, 0, true},
      {{"G", 'G', 10}, ' ', true},   {{"B", 'B', 10}, ' ', true},   {{"I", 'I', 4}, 0, true},
      {{"TS", 'T', 14}, ' ', true},  {{"T8", 'T', 8}, 0, true},     {{"AT", '@', 8}, 0, true},
      {{"O", 'O', 8}, 0, true},      {{"RAW", '0', 3}, 0, false},   {{"Y", 'Y', 8, 4}, 0, false},
  };
  auto file = Open(ImageOf(0x03, cases));
  CheckBlank(*file, cases);
}

TEST_F(TableReadTest, BlankRecordDbaseVII) {
  const std::vector<TBlankCase> cases = {
      {{"ID", '+', 4}, 0, true}, {{"I", 'I', 4}, 0, true}, {{"AT", '@', 8}, 0, true},
      {{"O", 'O', 8}, 0, true},  {{"C", 'C', 3}, ' ', true}, {{"M", 'M', 10}, ' ', true},
  };
  auto file = Open(ImageOf(0x04, cases));
  CheckBlank(*file, cases);
}

TEST_F(TableReadTest, BlankRecordFoxPro) {
  const std::vector<TBlankCase> cases = {
      {{"C", 'C', 300}, ' ', true},          {{"T", 'T', 8}, 0, true},
      {{"B", 'B', 8}, 0, false},             {{"Y", 'Y', 8, 4}, 0, false},
      {{"M", 'M', 4}, 0, true},              {{"G", 'G', 4}, 0, true},
      {{"M10", 'M', 10}, ' ', true},         {{"I", 'I', 4}, 0, false},
      {{"ID", '+', 4}, 0, false},            {{"NN", 'N', 5, 0, 0x02}, ' ', true},
      {{"IN", 'I', 4, 0, 0x02}, 0, true},    {{"_NULLFLAGS", '0', 1, 0, 0x05}, 0xFF, false},
  };
  auto file = Open(ImageOf(0x31, cases));
  CheckBlank(*file, cases);
}

// ---- dBASE 7 field properties -----------------------------------------------------

struct TProperty {
  int field;
  int kind;
  std::string data;
};

// The properties structure: a 16-byte header, 15-byte entries, then the data.
Bytes PropertiesBlock(const std::vector<TProperty>& entries, int declaredCount = -1) {
  const int dataStart = 16 + 15 * static_cast<int>(entries.size());
  Bytes block(static_cast<size_t>(dataStart), 0);
  PutLE16(block.data(), static_cast<uint16_t>(declaredCount < 0 ? entries.size() : declaredCount));
  PutLE16(block.data() + 2, 16);
  for (size_t j = 0; j < entries.size(); ++j) {
    uint8_t* e = block.data() + 16 + 15 * j;
    PutLE16(e + 2, static_cast<uint16_t>(entries[j].field));
    e[4] = static_cast<uint8_t>(entries[j].kind);
    PutLE16(e + 11, static_cast<uint16_t>(block.size()));
    PutLE16(e + 13, static_cast<uint16_t>(entries[j].data.size()));
    block.insert(block.end(), entries[j].data.begin(), entries[j].data.end());
  }
  return block;
}

TTableImage SevenImage() {
  TTableImage image;
  image.versionByte = 0x04;
  image.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 5}, {"CODE", 'I', 4}};
  image.records = {image.Record({"first", "    7", std::string("\x80\x00\x00\x01", 4)})};
  return image;
}

TEST_F(TableReadTest, DbaseSevenFieldProperties) {
  Bytes bytes = SevenImage().Bytes();
  GrowHeader(bytes, PropertiesBlock({
                        {1, 1, ""},
                        {2, 4, "   42"},
                        {2, 2, "    1"},
                        {3, 3, std::string("\x80\x00\x00\x64", 4)},
                        {9, 4, "xx"},              // no such field
                        {0, 1, ""},                // nor this
                        {1, 4, "DEFAULTNAMEXX"},   // longer than the field
                        {1, 7, "ignored"},         // unknown kind
                    }));
  auto file = Open(bytes);
  TDbfFieldDef& name = file->FieldDefs().Item(0);
  TDbfFieldDef& qty = file->FieldDefs().Item(1);
  TDbfFieldDef& code = file->FieldDefs().Item(2);
  EXPECT_TRUE(name.Required());
  EXPECT_FALSE(qty.Required());
  EXPECT_FALSE(code.Required());
  EXPECT_TRUE(qty.HasDefault());
  EXPECT_TRUE(qty.HasMin());
  EXPECT_FALSE(qty.HasMax());
  EXPECT_TRUE(code.HasMax());
  EXPECT_FALSE(code.HasDefault());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(qty.DefaultBuf()), 5), "   42");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(qty.MinBuf()), 5), "    1");
  EXPECT_EQ(Bytes(code.MaxBuf(), code.MaxBuf() + 4), (Bytes{0x80, 0, 0, 0x64}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name.DefaultBuf()), 10), "DEFAULTNAM");

  Bytes blank(static_cast<size_t>(file->RecordLength()));
  file->BlankRecord(blank.data());
  EXPECT_EQ(Text(*file, blank.data(), "NAME"), "DEFAULTNAM");
  int32_t v = 0;
  EXPECT_TRUE(file->DecodeField(qty, ftInteger, false, &v, blank.data()));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(file->DecodeField(code, ftInteger, false, nullptr, blank.data()));

  // The records still start after the grown header.
  const Bytes rec = Record(*file, 1);
  EXPECT_EQ(Text(*file, rec.data(), "NAME"), "first");
  EXPECT_TRUE(file->DecodeField(code, ftInteger, false, &v, rec.data()));
  EXPECT_EQ(v, 1);
}

TEST_F(TableReadTest, DbaseSevenPropertiesBeyondTheHeaderAreIgnored) {
  Bytes bytes = SevenImage().Bytes();
  Bytes block = PropertiesBlock({{2, 1, ""}, {2, 4, "   42"}}, 5000);
  PutLE16(block.data() + 16 + 15 + 11, 0xFFF0);  // data far beyond the header
  GrowHeader(bytes, block);
  auto file = Open(bytes);
  EXPECT_TRUE(file->FieldDefs().Item(1).Required());
  EXPECT_FALSE(file->FieldDefs().Item(1).HasDefault());
  EXPECT_EQ(file->RecordCount(), 1u);
}

TEST_F(TableReadTest, DbaseSevenAutoIncrementCounter) {
  TTableImage image;
  image.versionByte = 0x04;
  image.fields = {{"NAME", 'C', 5}, {"ID", '+', 4}};
  Bytes bytes = image.Bytes();
  PutLE32(bytes.data() + 68 + 48 + 42, 1017);
  auto file = Open(bytes);
  EXPECT_TRUE(file->HasAutoIncFields());
  EXPECT_EQ(file->FieldDefs().Item(1).FieldType(), ftAutoInc);
  EXPECT_EQ(file->FieldDefs().Item(1).AutoIncNext(), 1017);
  EXPECT_EQ(file->FieldDefs().Item(0).AutoIncNext(), 0);
  file = Open(SevenImage().Bytes());
  EXPECT_FALSE(file->HasAutoIncFields());
}

// ---- damaged headers ------------------------------------------------------------

// Everything a reader does with an opened table, so that the sanitizers see
// every byte the engine touches.
void ExerciseOpenTable(TDbfFile& file) {
  const int rl = file.RecordLength();
  Bytes rec(static_cast<size_t>(std::max(rl, 1)));
  file.BlankRecord(rec.data());
  const int64_t records = std::min<int64_t>(file.RecordCount(), 4);
  for (int64_t n = 0; n <= records; ++n) {
    if (n > 0) file.ReadPage(n, rec.data());
    for (int i = 0; i < file.FieldDefs().Count(); ++i) {
      const TDbfFieldDef& f = file.FieldDefs().Item(i);
      Bytes out(static_cast<size_t>(std::max(f.Size(), 0)) + 16);
      for (TFieldType request : {f.FieldType(), ftString, ftInteger, ftFloat, ftDateTime, ftLargeint, ftBCD}) {
        if (request == ftString) out.resize(std::max<size_t>(out.size(), static_cast<size_t>(f.Size()) + 1));
        file.DecodeField(f, request, false, out.data(), rec.data());
        file.DecodeField(f, request, true, out.data(), rec.data());
        file.DecodeField(f, request, false, nullptr, rec.data());
      }
    }
  }
}

TEST_F(TableReadTest, DamagedHeadersNeverCrash) {
  std::vector<Bytes> seeds;
  seeds.push_back(SimpleImage().Bytes());
  {
    TTableImage fox;
    fox.versionByte = 0x30;
    fox.fields = {{"C", 'C', 300}, {"T", 'T', 8, 0, 0x02}, {"Y", 'Y', 8, 4}, {"_NULLFLAGS", '0', 1, 0, 0x05}};
    fox.records = {fox.Record({"x", "", "", ""}), fox.Record({"y", "", "", ""})};
    seeds.push_back(fox.Bytes());
  }
  {
    Bytes vii = SevenImage().Bytes();
    GrowHeader(vii, PropertiesBlock({{1, 1, ""}, {2, 4, "   42"}, {3, 2, std::string("\x80\0\0\0", 4)}}));
    seeds.push_back(vii);
  }
  std::mt19937 random(20240315);
  int opened = 0, refused = 0;
  for (size_t s = 0; s < seeds.size(); ++s) {
    const Bytes& seed = seeds[s];
    const int hl = GetLE16(seed.data() + kHeaderLengthAt);
    for (int round = 0; round < 300; ++round) {
      Bytes bytes = seed;
      const int edits = 1 + static_cast<int>(random() % 4);
      for (int e = 0; e < edits; ++e) {
        // Mostly the fields that steer the reader: lengths, letters, sizes.
        static constexpr int kHot[] = {0, 8, 9, 10, 11, 29, 32 + 11, 32 + 16, 32 + 17, 32 + 18, 68 + 32, 68 + 33};
        const size_t at = random() % 2 ? static_cast<size_t>(kHot[random() % std::size(kHot)])
                                       : static_cast<size_t>(random() % static_cast<unsigned>(hl));
        if (at < bytes.size()) bytes[at] = static_cast<uint8_t>(random() % 3 == 0 ? random() % 8 : random());
      }
      if (round % 10 == 0) bytes.resize(random() % bytes.size());
      SCOPED_TRACE(testing::Message() << "seed " << s << " round " << round);
      test::WriteFile(path_, bytes);
      auto file = Make(amReadOnly);
      try {
        file->Open();
      } catch (const EDbfError&) {
        ++refused;
        continue;
      }
      ++opened;
      ExerciseOpenTable(*file);
    }
  }
  // Both outcomes must actually occur, or the mutations test nothing.
  EXPECT_GT(opened, 50);
  EXPECT_GT(refused, 50);
}

}  // namespace
}  // namespace norvale
