// A table is changed only when somebody changes it: opening, browsing and
// closing leave every byte and the modification time alone, files that may
// not be written open read-only, and the first change brings the header up
// to date for every version.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/byte_order.h"
#include "platform/os_misc.h"
#include "platform/text_services.h"
#include "tests/dataset/dataset_tables.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

// Opens for writing, as the viewer does, reads every value of every record
// (memo text included) and closes. Tables the engine refuses count too:
// refusing must not write either.
void BrowseAll(const std::string& path) {
  TDbfTable table;
  table.SetTableName(path);
  table.SetShowDeleted(true);
  try {
    table.Open();
    std::string text;
    for (table.First(); !table.Eof(); table.Next())
      for (int i = 0; i < table.FieldCount(); ++i) text = table.Fields(i).AsString();
    table.Last();
    table.Close();
  } catch (const std::exception&) {
  }
}

class CorpusUntouched : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusUntouched, OpenBrowseCloseChangesNothing) {
  TTempDir dir;
  const std::string table = CopyCorpusTable(GetParam(), dir);
  ASSERT_FALSE(table.empty());
  TFolderState::Age(dir.Path());
  const TFolderState before = TFolderState::Of(dir.Path());
  BrowseAll(table);
  EXPECT_EQ(TFolderState::Of(dir.Path()).ChangesSince(before), "");
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusUntouched, ::testing::ValuesIn(CorpusTables()),
                         [](const auto& info) { return CorpusTestName(info.param); });

TTableImage Names(uint8_t versionByte) {
  TTableImage t;
  t.versionByte = versionByte;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}};
  for (const char* n : {"ann", "bob", "cy"}) t.records.push_back(t.Record({n, " 30"}));
  return t;
}

TEST(FirstChange, StampsTodayAndTheRepairsForEveryVersion) {
  const TLocalTime now = LocalNow();
  // dBASE III (no language driver), dBASE IV, FoxPro, dBASE 7.
  const std::pair<uint8_t, uint8_t> versions[] = {{0x03, 0}, {0x03, 0x57}, {0x30, 0x03}, {0x04, 0}};
  for (const auto& [version, language] : versions) {
    TTempDir dir;
    TTableImage t = Names(version);
    t.languageId = language;
    // An old date, and a header that lacks the end-of-file byte: both are
    // brought up to date by the first change, not before.
    t.eof = false;
    std::vector<uint8_t> bytes = t.Bytes();
    bytes[1] = 99, bytes[2] = 1, bytes[3] = 2;
    const std::string path = dir.File("t.dbf");
    WriteFile(path, bytes);

    TDbfTable table;
    table.SetTableName(path);
    table.Open();
    ASSERT_TRUE(table.CanModify()) << table.ReadOnlyReason();
    EXPECT_TRUE(ReadFile(path) == bytes) << "opening wrote the header of version " << int(version);
    table.First();
    table.Edit();
    table.FieldByName("NAME").SetAsString("anna");
    table.Post();
    const std::vector<uint8_t> after = ReadFile(path);
    EXPECT_EQ(after[1], (now.year - 1900) & 0xFF) << int(version);
    EXPECT_EQ(after[2], now.month) << int(version);
    EXPECT_EQ(after[3], now.day) << int(version);
    EXPECT_EQ(after.size(), bytes.size() + 1) << "end-of-file byte";
    EXPECT_EQ(after.back(), 0x1A);
    table.Close();
  }
}

TEST(FirstChange, RepairsOfTheOpenReachTheFileOnlyThen) {
  TTempDir dir;
  // A dBASE IV table naming a production index that is not there; a
  // memo-less table wrongly flagged as having memos.
  TTableImage t = Names(0x83);
  t.mdxFlag = 1;
  const std::vector<uint8_t> bytes = t.Bytes();
  const std::string path = dir.File("t.dbf");
  WriteFile(path, bytes);
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  ASSERT_TRUE(table.CanModify());
  table.Last();
  table.Close();
  EXPECT_TRUE(ReadFile(path) == bytes);

  table.Open();
  table.First();
  table.Delete();
  table.Close();
  const std::vector<uint8_t> after = ReadFile(path);
  EXPECT_EQ(after[0], 0x03) << "memo flag cleared";
  EXPECT_EQ(after[28], 0) << "missing index unlinked";
  EXPECT_EQ(after[static_cast<size_t>(t.HeaderLength())], '*');
}

TEST(ReadOnlyOpen, TruncatedTableOpensReadOnlyAndStaysAsItWas) {
  TTempDir dir;
  TTableImage t = Names(0x03);
  t.headerCount = 1000;
  std::vector<uint8_t> bytes = t.Bytes();
  bytes.resize(bytes.size() - 6);  // the last record cut short, no end byte
  const std::string path = dir.File("cut.dbf");
  WriteFile(path, bytes);

  TDbfTable table;
  table.SetTableName(path);
  std::vector<std::string> told;
  table.OnOpenReadOnly = [&](TDbfTable&, TReadOnlyCause cause, const std::string& message, bool& editAnyway) {
    EXPECT_EQ(cause, rcSizeMismatch);
    told.push_back(message);
    editAnyway = true;  // not offered for a damaged header
  };
  table.Open();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("counts 1000 records"), std::string::npos) << told[0];
  EXPECT_NE(told[0].find("holds 2"), std::string::npos) << told[0];
  EXPECT_FALSE(table.CanModify());
  EXPECT_EQ(table.ReadOnlyCause(), rcSizeMismatch);
  EXPECT_EQ(table.RecordCount(), 2);
  table.Last();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "bob");
  EXPECT_EQ(Message([&] { table.Edit(); }), msg::kDataSetReadOnly);
  EXPECT_EQ(Message([&] { table.Append(); }), msg::kDataSetReadOnly);
  table.Close();
  EXPECT_EQ(table.ReadOnlyCause(), rcNone);
  EXPECT_TRUE(ReadFile(path) == bytes);
}

TEST(ReadOnlyOpen, IndexThatCannotBeKeptCurrentUnlessThePersonChooses) {
  struct TCase {
    uint8_t version;
    uint8_t flag;
    const char* index;
  };
  for (const TCase c : {TCase{0x30, 0x01, "t.CDX"}, TCase{0xF5, 0x01, "t.cdx"}, TCase{0x03, 0x01, "t.mdx"}}) {
    TTempDir dir;
    TTableImage t = Names(c.version);
    if (c.version == 0x03) t.languageId = 0x57;  // dBASE IV
    t.mdxFlag = c.flag;
    const std::vector<uint8_t> bytes = t.Bytes();
    WriteFile(dir.File("t.dbf"), bytes);
    WriteFile(dir.File(c.index), std::vector<uint8_t>(1024, 0));
    for (const bool anyway : {false, true}) {
      TDbfTable table;
      table.SetTableName(dir.File("t.dbf"));
      std::string told;
      table.OnOpenReadOnly = [&](TDbfTable&, TReadOnlyCause cause, const std::string& message, bool& editAnyway) {
        EXPECT_EQ(cause, rcUnmaintainedIndex);
        told = message;
        editAnyway = anyway;
      };
      table.Open();
      EXPECT_NE(told.find(c.index), std::string::npos) << told;
      EXPECT_EQ(table.CanModify(), anyway) << c.index;
      EXPECT_EQ(table.ReadOnlyCause(), anyway ? rcNone : rcUnmaintainedIndex);
      table.Close();
      EXPECT_TRUE(ReadFile(dir.File("t.dbf")) == bytes) << c.index;
    }
    // A FoxPro table whose flag names no index, beside a stray .cdx, is
    // nobody's business.
  }
}

// Runs `body` in a child process as the unprivileged user "nobody" when the
// test runs as root, else in a child as the current (unprivileged) user.
int AsUnprivileged(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST(ReadOnlyOpen, FileWithoutWritePermissionOpensReadOnlyForEveryone) {
  TTempDir dir;
  chmod(dir.Path().c_str(), 0755);
  const TTableImage t = Names(0x03);
  const std::string path = dir.File("ro.dbf");
  WriteFile(path, t.Bytes());
  chmod(path.c_str(), 0444);
  const std::vector<uint8_t> bytes = ReadFile(path);

  // As root too: a file marked read-only is not written, though the
  // system would allow it.
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  EXPECT_FALSE(table.CanModify());
  EXPECT_EQ(table.ReadOnlyCause(), rcNoWriteAccess);
  EXPECT_NE(table.ReadOnlyReason().find(path), std::string::npos);
  table.Last();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "cy");
  EXPECT_EQ(Message([&] { table.Delete(); }), msg::kDataSetReadOnly);
  table.Close();

  const int status = AsUnprivileged([&] {
    TDbfTable mine;
    mine.SetTableName(path);
    try {
      mine.Open();
    } catch (...) {
      return 1;
    }
    if (mine.CanModify() || mine.ReadOnlyCause() != rcNoWriteAccess) return 2;
    mine.First();
    if (mine.FieldByName("NAME").AsString() != "ann" || mine.RecordCount() != 3) return 3;
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ReadFile(path) == bytes);

  // A writable table whose memo file is marked read-only cannot be posted
  // either: read-only from the start, not a failure at the first memo.
  TTempDir memoDir;
  WriteEmptyMemoTable(memoDir, false);
  chmod(memoDir.File("memo.dbt").c_str(), 0444);
  TDbfTable memo;
  memo.SetTableName(memoDir.File("memo.dbf"));
  memo.Open();
  EXPECT_EQ(memo.ReadOnlyCause(), rcNoWriteAccess);
  EXPECT_NE(memo.ReadOnlyReason().find("memo.dbt"), std::string::npos);
}

// A memo table of one record whose NOTES value is `text`, as DOS programs
// write them: dBASE III (0x83) and dBASE IV (0x8B) .dbt, FoxPro (0xF5) .fpt.
void WriteMemoWithText(const TTempDir& dir, uint8_t version, const std::string& text) {
  const bool fox = version == 0xF5;
  TTableImage t;
  t.versionByte = version;
  t.languageId = version == 0x83 ? 0 : 0x57;
  t.fields = {{"NAME", 'C', 8}, {"NOTES", 'M', fox ? 4 : 10}};
  std::string block = fox ? std::string("\x08\0\0\0", 4) : std::string("         1");
  t.records.push_back(t.Record({"first", block}));
  WriteFile(dir.File("memo.dbf"), t.Bytes());
  std::vector<uint8_t> memo(512, 0);
  std::string value;
  if (fox) {
    PutBE32(memo.data(), 8 + static_cast<uint32_t>((text.size() + 8 + 63) / 64));
    memo[7] = 64;
    value.resize(8);
    PutBE32(reinterpret_cast<uint8_t*>(value.data()), 1);
    PutBE32(reinterpret_cast<uint8_t*>(value.data()) + 4, static_cast<uint32_t>(text.size()));
    value += text;
  } else if (version == 0x8B) {
    PutLE32(memo.data(), 1 + static_cast<uint32_t>((text.size() + 8 + 511) / 512));
    memo[21] = 2;
    value = std::string("\xFF\xFF\x08\x00", 4);
    value.resize(8);
    PutLE32(reinterpret_cast<uint8_t*>(value.data()) + 4, static_cast<uint32_t>(text.size() + 8));
    value += text;
  } else {
    PutLE32(memo.data(), 1 + static_cast<uint32_t>((text.size() + 2 + 511) / 512));
    memo[16] = 3;
    value = text + "\x1A\x1A";
  }
  memo.insert(memo.end(), value.begin(), value.end());
  memo.resize((memo.size() + 511) / 512 * 512, 0);
  WriteFile(dir.File(fox ? "memo.fpt" : "memo.dbt"), memo);
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  return s;
}

TEST(MemoText, KeepsItsLineBreaksWhateverTheEditorHandsBack) {
  std::string text;
  for (int i = 1; i <= 32; ++i) text += "Line " + std::to_string(i) + (i < 32 ? " of the note\r\n" : " ends");
  for (const uint8_t version : {uint8_t(0x83), uint8_t(0x8B), uint8_t(0xF5)}) {
    TTempDir dir;
    WriteMemoWithText(dir, version, text);
    TDbfTable table;
    table.SetTableName(dir.File("memo.dbf"));
    table.Open();
    table.First();
    ASSERT_EQ(table.FieldByName("NOTES").AsString(), text) << int(version);
    table.Edit();
    // A text editor turns every CR LF into LF.
    const std::string edited = ReplaceAll(ReplaceAll(text, "\r\n", "\n"), "Line 7 of", "Line seven of");
    table.FieldByName("NOTES").SetAsString(edited);
    table.Post();
    table.Close();

    table.Open();
    table.First();
    EXPECT_EQ(table.FieldByName("NOTES").AsString(), ReplaceAll(text, "Line 7 of", "Line seven of")) << int(version);
    // A new value takes the DOS convention; a value written through a
    // stream that never read the old one still learns it.
    table.Edit();
    table.FieldByName("NOTES").SetAsString("one\ntwo");
    table.Post();
    table.First();
    EXPECT_EQ(table.FieldByName("NOTES").AsString(), "one\r\ntwo") << int(version);
    table.Close();
  }
}

TEST(MemoText, UnixLineBreaksStayUnix) {
  TTempDir dir;
  WriteMemoWithText(dir, 0x8B, "a\nb\nc");
  TDbfTable table;
  table.SetTableName(dir.File("memo.dbf"));
  table.Open();
  table.First();
  table.Edit();
  table.FieldByName("NOTES").SetAsString("a\nB\nc");
  table.Post();
  table.First();
  EXPECT_EQ(table.FieldByName("NOTES").AsString(), "a\nB\nc");
}

TEST(UnstorableText, NamesTheCharactersAndStoresOnlyWhenAllowed) {
  EXPECT_EQ(UnstorableCharacters(1252, "Lind\xC3\xA4 \xCE\xA9mega \xE2\x82\xAC \xCE\xA9"), "\xCE\xA9");
  EXPECT_EQ(UnstorableCharacters(866, "\xD0\x90\xD0\x9E \xC3\xA4"), "\xC3\xA4");
  EXPECT_EQ(UnstorableCharacters(1251, "plain ascii"), "");
  EXPECT_EQ(UnstorableCharacters(65001, "\xCE\xA9"), "");
  // 1252 has no Greek letter; a "best fit" converter would store "a" for
  // alpha: that is a change of the value too.
  EXPECT_EQ(UnstorableCharacters(1252, "\xCE\xB1"), "\xCE\xB1");

  TTempDir dir;
  TTableImage t = Names(0x03);
  t.languageId = 0x57;  // code page 1252
  WriteFile(dir.File("t.dbf"), t.Bytes());
  TDbfTable table;
  table.SetTableName(dir.File("t.dbf"));
  bool allow = false;
  std::vector<std::string> asked;
  table.OnUnstorableText = [&](TDbfTable& self, const TField& field, const std::string& characters, bool& store) {
    EXPECT_EQ(self.CodePage(), 1252);
    asked.push_back(field.FieldName() + ":" + characters);
    store = allow;
  };
  table.Open();
  table.First();
  table.Edit();
  TField& name = table.FieldByName("NAME");
  EXPECT_EQ(Message([&] { name.SetAsString("Lind\xC3\xA4 \xCE\xA9"); }), msg::kOperationAborted);
  EXPECT_EQ(name.AsString(), "ann");
  name.SetAsString("Lind\xC3\xA4");  // every character fits: nobody is asked
  allow = true;
  name.SetAsString("Lind\xC3\xA4 \xCE\xA9");
  table.Post();
  EXPECT_EQ(asked, (std::vector<std::string>{"NAME:\xCE\xA9", "NAME:\xCE\xA9"}));
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Lind\xC3\xA4 ?");
}

TEST(ChosenCodePage, TextIsWrittenInItAndTheHeaderKeepsItsDriver) {
  TTempDir dir;
  TTableImage t = Names(0x03);
  t.languageId = 0x57;  // code page 1252
  WriteFile(dir.File("t.dbf"), t.Bytes());
  TDbfTable table;
  table.SetTableName(dir.File("t.dbf"));
  table.SetChosenCodePage(866);
  table.Open();
  EXPECT_EQ(table.CodePage(), 866);
  EXPECT_EQ(table.CodePageSourceText(), "chosen");
  EXPECT_EQ(Message([&] { table.SetChosenCodePage(1251); }), msg::kDataSetOpen);
  table.First();
  table.Edit();
  table.FieldByName("NAME").SetAsString("\xD0\x90\xD0\x9E \xD0\x91\xD0\xB0\xD0\xBD\xD0\xBA");  // "АО Банк"
  table.Post();
  table.Close();
  const std::vector<uint8_t> bytes = ReadFile(dir.File("t.dbf"));
  EXPECT_EQ(bytes[29], 0x57);
  std::string stored;
  Utf8ToCodePage(866, "\xD0\x90\xD0\x9E \xD0\x91\xD0\xB0\xD0\xBD\xD0\xBA", stored);
  const int header = bytes[8] | (bytes[9] << 8);
  EXPECT_EQ(std::string(bytes.begin() + header + 1, bytes.begin() + header + 1 + static_cast<long>(stored.size())),
            stored);
  // Opened without the choice the driver speaks again.
  table.SetChosenCodePage(0);
  table.Open();
  EXPECT_EQ(table.CodePage(), 1252);
  EXPECT_EQ(table.CodePageSourceText(), "language driver 0x57");
}

}  // namespace
}  // namespace norvale::test
