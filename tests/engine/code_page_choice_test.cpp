// Which code page a table is read in, and where that came from: the
// person's choice, the .cpg sidecar, the language driver, the text, the
// default; and writing the page into a table.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/code_page_choice.h"
#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/language.h"
#include "engine/table_file.h"
#include "platform/os_file.h"
#include "platform/text_services.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTableImage;

TEST(CodePageNames, CpgContentsAndTypedNames) {
  const struct {
    const char* text;
    int codePage;
  } cases[] = {
      {"UTF-8", 65001},       {"utf8\r\n", 65001},     {"\xEF\xBB\xBFUTF-8\n", 65001}, {" 1252 \n", 1252},
      {"CP1251", 1251},       {"cp866", 866},          {"866", 866},                   {"OEM", 437},
      {"ansi", 1252},         {"ANSI 1251", 1251},     {"windows-1250", 1250},         {"IBM852", 852},
      {"ISO-8859-1", 28591},  {"iso8859_5", 28595},    {"8859-2", 28592},              {"ISO-8859-15", 28605},
      {"KOI8-R", 20866},      {"Big5", 950},           {"Shift_JIS", 932},             {"GB18030", 54936},
      {"", 0},                {"garbage", 0},          {"ISO-8859-12", 0},             {"123456", 0},
      {"CP", 0},              {"LATIN1", 28591},
  };
  for (const auto& c : cases) EXPECT_EQ(CodePageFromName(c.text), c.codePage) << '"' << c.text << '"';
  // What a .cpg is written with reads back as the same page.
  for (int cp : {65001, 1252, 866, 28591, 28605, 20866, 950})
    EXPECT_EQ(CodePageFromName(CpgTextFor(cp)), cp) << cp;
}

std::string Cp(int codePage, const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(Utf8ToCodePage(codePage, utf8, out));
  return out;
}

const std::vector<std::string> kRussian = {"АО ЮниКредит Банк", "ПАО Сбербанк",     "Банк ВТБ (ПАО)",
                                           "Иванов Пётр",       "ул. Ленина, д. 15", "Москва",
                                           "Санкт-Петербург",   "Новосибирск",       "Смирнова Ольга"};

class CodePageSourceTest : public ::testing::Test {
 protected:
  // A table of names in `codePage` with driver byte `languageId`; the
  // Cyrillic names come after `asciiFirst` ASCII ones.
  void Write(uint8_t languageId, int codePage, int asciiFirst = 0, uint8_t version = 0x03) {
    TTableImage t;
    t.versionByte = version;
    t.languageId = languageId;
    t.fields = {{"NAME", 'C', 40}};
    for (int i = 0; i < asciiFirst; ++i) t.records.push_back(t.Record({"Name " + std::to_string(i)}));
    for (const std::string& name : kRussian) t.records.push_back(t.Record({Cp(codePage, name)}));
    test::WriteFile(path_, t.Bytes());
  }
  void WriteCpg(const std::string& text) {
    test::WriteFile(dir_.File("t.cpg"), std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::unique_ptr<TDbfFile> Open(TPagedFileMode mode = amReadOnly, int chosen = 0, bool detect = true) {
    auto file = std::make_unique<TDbfFile>();
    file->SetFileName(path_);
    file->SetMode(mode);
    file->SetChosenCodePage(chosen);
    file->SetDetectCodePage(detect);
    file->Open();
    return file;
  }
  test::TTempDir dir_;
  std::string path_ = dir_.File("t.dbf");
};

TEST_F(CodePageSourceTest, EachSourceInItsOrder) {
  Write(0, 866);
  {
    auto f = Open();
    EXPECT_EQ(f->UseCodePage(), 866);
    EXPECT_EQ(f->CodePageSource(), cpsDetected);
    EXPECT_GT(f->CodePageConfidence(), 0.5);
    EXPECT_EQ(f->CodePageSourceText().rfind("detected (confidence 0.", 0), 0u) << f->CodePageSourceText();
  }
  {
    auto f = Open(amReadOnly, 0, false);
    EXPECT_EQ(f->UseCodePage(), TDbfGlobals::Instance().DefaultCodePage());
    EXPECT_EQ(f->CodePageSourceText(), "default");
  }
  // A .cpg is the writer's word; a chosen page is the person's and wins.
  WriteCpg("CP1251\r\n");
  {
    auto f = Open();
    EXPECT_EQ(f->UseCodePage(), 1251);
    EXPECT_EQ(f->CodePageSourceText(), ".cpg file");
    EXPECT_EQ(f->CpgFileName(), dir_.File("t.cpg"));
  }
  {
    auto f = Open(amReadOnly, 852);
    EXPECT_EQ(f->UseCodePage(), 852);
    EXPECT_EQ(f->CodePageSourceText(), "chosen");
  }
  // A .cpg that names nothing known is passed over, and says so when the
  // text cannot decide either.
  WriteCpg("no such page");
  {
    auto f = Open();
    EXPECT_EQ(f->UseCodePage(), 866);
    EXPECT_EQ(f->CodePageSource(), cpsDetected);
  }
  {
    auto f = Open(amReadOnly, 0, false);
    EXPECT_EQ(f->CodePageSourceText(), "default (the .cpg file names no code page known here)");
  }
}

TEST_F(CodePageSourceTest, DetectionNeverOverridesADriverByte) {
  // cp1251 text behind a cp866 driver: the driver is believed.
  Write(0x26, 1251);
  auto f = Open();
  EXPECT_EQ(f->UseCodePage(), 866);
  EXPECT_EQ(f->CodePageSourceText(), "language driver 0x26");
  // A driver byte naming no page we know is not replaced by a guess either.
  Write(0x7F, 1251);
  EXPECT_EQ(Open()->CodePageSource(), cpsDefault);
}

TEST_F(CodePageSourceTest, AsciiTextKeepsTheDefaultAndSaysWhy) {
  TTableImage t;
  t.languageId = 0;
  t.fields = {{"NAME", 'C', 20}, {"QTY", 'N', 5}};
  for (int i = 0; i < 50; ++i) t.records.push_back(t.Record({"Smith " + std::to_string(i), "   12"}));
  test::WriteFile(path_, t.Bytes());
  auto f = Open();
  EXPECT_EQ(f->CodePageSource(), cpsDefault);
  EXPECT_EQ(f->CodePageSourceText(), "default (the text is ASCII)");
}

TEST_F(CodePageSourceTest, TextFarFromTheStartIsFound) {
  // Sorted tables often start with plain names; the sample is spread over
  // the whole file.
  Write(0, 1251, 20000);
  auto f = Open();
  EXPECT_EQ(f->UseCodePage(), 1251);
  EXPECT_EQ(f->CodePageSource(), cpsDetected);
}

TEST_F(CodePageSourceTest, WritingThePageNeedsTheTableToItself) {
  Write(0, 866);
  auto shared = Open(amSharedOpen);
  EXPECT_EQ(test::Message([&] { shared->WriteCodePage(866); }), "Exclusive access is required for this operation.");
  shared.reset();
  auto before = test::ReadFile(path_);
  {
    auto f = Open(amExclusiveOpen);
    f->WriteCodePage(866);
    char expected[32];
    std::snprintf(expected, sizeof expected, "language driver 0x%02X", f->LanguageId());
    EXPECT_EQ(f->CodePageSourceText(), expected);
  }
  auto after = test::ReadFile(path_);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(LanguageEntry(after[29]).codePage, 866);
  EXPECT_EQ(LanguageFamily(after[29]), lfDBase);
  // Only the date and the driver byte changed; every record is as it was.
  for (size_t i = 0; i < after.size(); ++i)
    if (i != 29 && (i < 1 || i > 3)) ASSERT_EQ(after[i], before[i]) << "byte " << i;
  EXPECT_FALSE(TOsFile::Exists(dir_.File("t.cpg")));
  auto reopened = Open();
  EXPECT_EQ(reopened->CodePageSource(), cpsLanguageDriver);
  EXPECT_EQ(reopened->UseCodePage(), 866);
}

TEST_F(CodePageSourceTest, APageNoDriverNamesGoesToTheCpg) {
  Write(0x26, 866);
  WriteCpg("866\n");
  {
    auto f = Open(amExclusiveOpen);
    f->WriteCodePage(1251);
  }
  EXPECT_EQ(test::ReadFileText(dir_.File("t.cpg")), "1251\n");
  EXPECT_EQ(LanguageEntry(test::ReadFile(path_)[29]).codePage, 1251);
  {
    auto f = Open(amExclusiveOpen);
    f->WriteCodePage(65001);
  }
  EXPECT_EQ(test::ReadFileText(dir_.File("t.cpg")), "UTF-8\n");
  EXPECT_EQ(test::ReadFile(path_)[29], 0);
  auto f = Open();
  EXPECT_EQ(f->UseCodePage(), 65001);
  EXPECT_EQ(f->CodePageSource(), cpsCpgFile);
}

TEST_F(CodePageSourceTest, FoxProTablesGetAFoxProDriver) {
  TTableImage t;
  t.versionByte = 0x30;
  t.languageId = 0x03;
  t.fields = {{"NAME", 'C', 40}};
  t.records.push_back(t.Record({Cp(1251, "Москва")}));
  std::vector<uint8_t> bytes = t.Bytes();
  test::WriteFile(path_, bytes);
  {
    auto f = Open(amExclusiveOpen);
    f->WriteCodePage(1251);
  }
  const uint8_t id = test::ReadFile(path_)[29];
  EXPECT_EQ(LanguageEntry(id).codePage, 1251);
  EXPECT_EQ(LanguageFamily(id), lfFoxPro);
}

}  // namespace
}  // namespace norvale
