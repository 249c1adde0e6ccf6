#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/exceptions.h"
#include "engine/fields.h"

namespace norvale {
namespace {

// Definitions made through the logical type: letter, default size, then the
// size rules of the version.
struct TLogicalCase {
  TXBaseVersion version;
  TFieldType type;
  char letter;
  int size;
  int precision;
};

class LogicalTypeTest : public ::testing::TestWithParam<TLogicalCase> {};

TEST_P(LogicalTypeTest, DerivesLetterAndDefaultSize) {
  const TLogicalCase& c = GetParam();
  TDbfFieldDefs defs(c.version);
  TDbfFieldDef& f = defs.Add();
  f.SetFieldName("F");
  f.SetFieldType(c.type);
  EXPECT_EQ(f.FieldType(), c.type);
  EXPECT_EQ(f.NativeFieldType(), c.letter);
  EXPECT_EQ(f.Size(), c.size);
  EXPECT_EQ(f.Precision(), c.precision);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, LogicalTypeTest,
    ::testing::Values(TLogicalCase{xBaseIV, ftInteger, 'N', 9, 0}, TLogicalCase{xBaseIII, ftInteger, 'N', 9, 0},
                      TLogicalCase{xFoxPro, ftInteger, 'N', 9, 0}, TLogicalCase{xBaseVII, ftInteger, 'I', 4, 0},
                      TLogicalCase{xBaseIV, ftFloat, 'N', 18, 8}, TLogicalCase{xBaseIV, ftString, 'C', 30, 0},
                      TLogicalCase{xBaseIV, ftFixedChar, 'C', 30, 0}, TLogicalCase{xBaseIV, ftWideString, 'C', 30, 0},
                      TLogicalCase{xBaseIV, ftSmallint, 'N', 4, 0}, TLogicalCase{xBaseIV, ftWord, 'N', 4, 0},
                      TLogicalCase{xBaseIV, ftLargeint, 'N', 18, 0}, TLogicalCase{xBaseIV, ftBoolean, 'L', 1, 0},
                      TLogicalCase{xBaseIV, ftDate, 'D', 8, 0}, TLogicalCase{xBaseIV, ftDateTime, 'D', 8, 0},
                      TLogicalCase{xBaseVII, ftDateTime, '@', 8, 0}, TLogicalCase{xFoxPro, ftDateTime, 'T', 8, 0},
                      TLogicalCase{xFoxPro, ftCurrency, 'Y', 8, 4}, TLogicalCase{xFoxPro, ftBCD, 'Y', 8, 4},
                      TLogicalCase{xBaseVII, ftAutoInc, '+', 4, 0}, TLogicalCase{xFoxPro, ftAutoInc, '+', 4, 0},
                      TLogicalCase{xBaseIV, ftMemo, 'M', 10, 0}, TLogicalCase{xFoxPro, ftMemo, 'M', 4, 0},
                      TLogicalCase{xBaseIV, ftBlob, 'B', 10, 0}, TLogicalCase{xBaseIV, ftDBaseOle, 'G', 10, 0},
                      TLogicalCase{xFoxPro, ftDBaseOle, 'G', 4, 0}));

struct TUnsupportedCase {
  TXBaseVersion version;
  TFieldType type;
  const char* message;
};

class UnsupportedTypeTest : public ::testing::TestWithParam<TUnsupportedCase> {};

// The type number is shown in hexadecimal, so ftBytes (12) reads "c".
TEST_P(UnsupportedTypeTest, RaisesWithNameAndHexNumber) {
  const TUnsupportedCase& c = GetParam();
  TDbfFieldDefs defs(c.version);
  TDbfFieldDef& f = defs.Add();
  f.SetFieldName("PRICE");
  try {
    f.SetFieldType(c.type);
    FAIL() << "no error for " << FieldTypeName(c.type);
  } catch (const EDbfError& e) {
    EXPECT_STREQ(e.what(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, UnsupportedTypeTest,
    ::testing::Values(
        TUnsupportedCase{xBaseIV, ftCurrency,
                         "Cannot create field \"PRICE\", VCL field type 7 not supported by DBF."},
        TUnsupportedCase{xBaseVII, ftBCD, "Cannot create field \"PRICE\", VCL field type 8 not supported by DBF."},
        TUnsupportedCase{xFoxPro, ftBytes, "Cannot create field \"PRICE\", VCL field type c not supported by DBF."},
        TUnsupportedCase{xFoxPro, ftTime, "Cannot create field \"PRICE\", VCL field type a not supported by DBF."},
        TUnsupportedCase{xBaseIV, ftGraphic,
                         "Cannot create field \"PRICE\", VCL field type 11 not supported by DBF."}));

// Letters read from a file: the logical type follows from the letter and, for
// numeric text, from the width and decimals already known.
struct TLetterCase {
  TXBaseVersion version;
  char letter;
  int storedSize;
  int storedPrecision;
  TFieldType type;
  char storedLetter;
};

class NativeLetterTest : public ::testing::TestWithParam<TLetterCase> {};

TEST_P(NativeLetterTest, DerivesLogicalType) {
  const TLetterCase& c = GetParam();
  TDbfFieldDefs defs(c.version);
  TDbfFieldDef& f = defs.Add();
  f.SetStoredSize(c.storedSize, c.storedPrecision);
  f.SetNativeFieldType(c.letter);
  EXPECT_EQ(f.FieldType(), c.type) << "letter " << c.letter;
  EXPECT_EQ(f.NativeFieldType(), c.storedLetter);
}

INSTANTIATE_TEST_SUITE_P(
    Letters, NativeLetterTest,
    ::testing::Values(
        TLetterCase{xBaseIV, 'C', 10, 0, ftString, 'C'}, TLetterCase{xBaseIV, 'c', 10, 0, ftString, 'C'},
        TLetterCase{xBaseIV, static_cast<char>(0x91), 10, 0, ftString, static_cast<char>(0x91)},
        TLetterCase{xBaseIV, 'N', 10, 2, ftFloat, 'N'}, TLetterCase{xBaseIV, 'N', 4, 0, ftSmallint, 'N'},
        TLetterCase{xBaseIV, 'N', 5, 0, ftInteger, 'N'}, TLetterCase{xBaseIV, 'N', 9, 0, ftInteger, 'N'},
        TLetterCase{xBaseIV, 'N', 10, 0, ftLargeint, 'N'}, TLetterCase{xBaseIV, 'f', 3, 1, ftFloat, 'F'},
        TLetterCase{xBaseIV, 'F', 12, 0, ftLargeint, 'F'}, TLetterCase{xBaseVII, 'I', 4, 0, ftInteger, 'I'},
        TLetterCase{xBaseVII, '+', 4, 0, ftAutoInc, '+'}, TLetterCase{xFoxPro, '+', 4, 0, ftAutoInc, '+'},
        TLetterCase{xBaseIV, '+', 4, 0, ftUnknown, '+'}, TLetterCase{xBaseIV, 'L', 1, 0, ftBoolean, 'L'},
        TLetterCase{xBaseIV, 'D', 8, 0, ftDate, 'D'}, TLetterCase{xBaseVII, '@', 8, 0, ftDateTime, '@'},
        TLetterCase{xFoxPro, 'T', 8, 0, ftDateTime, 'T'}, TLetterCase{xBaseIV, 'T', 14, 0, ftDateTime, 'T'},
        TLetterCase{xBaseVII, 'O', 8, 0, ftFloat, 'O'}, TLetterCase{xFoxPro, 'B', 8, 0, ftFloat, 'B'},
        TLetterCase{xBaseIV, 'B', 10, 0, ftBlob, 'B'}, TLetterCase{xBaseIV, 'M', 10, 0, ftMemo, 'M'},
        TLetterCase{xFoxPro, 'G', 4, 0, ftDBaseOle, 'G'}, TLetterCase{xFoxPro, 'Y', 8, 4, ftBCD, 'Y'},
        TLetterCase{xFoxPro, '0', 2, 0, ftBytes, '0'}, TLetterCase{xBaseIV, 'X', 5, 0, ftUnknown, 0},
        TLetterCase{xBaseIV, 'Q', 5, 0, ftUnknown, 0}));

TEST(NativeLetter, CurrencyLetterFollowsTheBcdOption) {
  TDbfFieldDefs defs(xFoxPro);
  defs.SetCurrencyAsBCD(false);
  TDbfFieldDef& f = defs.Add();
  f.SetNativeFieldType('Y');
  EXPECT_EQ(f.FieldType(), ftCurrency);
}

// Size rules applied after SetSize / SetPrecision.
struct TNormaliseCase {
  TXBaseVersion version;
  char letter;
  int size;
  int precision;
  int wantSize;
  int wantPrecision;
};

class NormaliseTest : public ::testing::TestWithParam<TNormaliseCase> {};

TEST_P(NormaliseTest, AppliesTheLetterRule) {
  const TNormaliseCase& c = GetParam();
  TDbfFieldDefs defs(c.version);
  TDbfFieldDef& f = defs.Add();
  f.SetNativeFieldType(c.letter);
  f.SetSize(c.size);
  f.SetPrecision(c.precision);
  EXPECT_EQ(f.Size(), c.wantSize) << VersionName(c.version) << " " << c.letter;
  EXPECT_EQ(f.Precision(), c.wantPrecision) << VersionName(c.version) << " " << c.letter;
}

INSTANTIATE_TEST_SUITE_P(
    Letters, NormaliseTest,
    ::testing::Values(
        TNormaliseCase{xBaseIV, 'C', 300, 2, 255, 0}, TNormaliseCase{xBaseIII, 'C', 256, 0, 255, 0},
        TNormaliseCase{xBaseVII, 'C', 255, 0, 255, 0}, TNormaliseCase{xFoxPro, 'C', 300, 0, 300, 0},
        TNormaliseCase{xFoxPro, 'C', 70000, 0, 65535, 0}, TNormaliseCase{xBaseIV, 'C', -3, 0, 0, 0},
        TNormaliseCase{xBaseIV, 'N', 25, 30, 20, 18}, TNormaliseCase{xBaseIV, 'N', 0, 0, 1, 0},
        TNormaliseCase{xBaseIV, 'N', 1, 5, 1, 0}, TNormaliseCase{xBaseIV, 'N', 10, -3, 10, 0},
        TNormaliseCase{xBaseIV, 'F', 5, 4, 5, 3}, TNormaliseCase{xBaseVII, 'I', 10, 2, 4, 0},
        TNormaliseCase{xBaseVII, '+', 7, 0, 4, 0}, TNormaliseCase{xBaseVII, '@', 3, 0, 8, 0},
        TNormaliseCase{xBaseIV, 'D', 10, 1, 8, 0}, TNormaliseCase{xBaseVII, 'O', 4, 2, 8, 0},
        TNormaliseCase{xBaseIV, 'B', 4, 0, 10, 0}, TNormaliseCase{xFoxPro, 'B', 8, 0, 8, 0},
        TNormaliseCase{xFoxPro, 'B', 3, 2, 3, 2}, TNormaliseCase{xBaseIV, 'M', 4, 0, 10, 0},
        TNormaliseCase{xFoxPro, 'M', 10, 0, 10, 0}, TNormaliseCase{xFoxPro, 'M', 4, 0, 4, 0},
        TNormaliseCase{xFoxPro, 'M', 7, 0, 4, 0}, TNormaliseCase{xFoxPro, 'G', 7, 0, 4, 0},
        TNormaliseCase{xBaseIV, 'G', 4, 0, 10, 0}, TNormaliseCase{xBaseIV, 'L', 5, 1, 1, 0},
        TNormaliseCase{xBaseIV, 'T', 8, 0, 14, 0}, TNormaliseCase{xBaseVII, 'T', 8, 0, 14, 0},
        TNormaliseCase{xFoxPro, 'T', 14, 0, 8, 0}, TNormaliseCase{xFoxPro, 'Y', 3, 0, 8, 4},
        TNormaliseCase{xFoxPro, '0', 7, 0, 7, 0}));

TEST(FieldDef, FloatWithoutSizeIsN18_8) {
  TDbfFieldDefs defs(xBaseIV);
  TDbfFieldDef& f = defs.AddWithValues("AMOUNT", ftFloat, false, 0);
  EXPECT_EQ(f.NativeFieldType(), 'N');
  EXPECT_EQ(f.Size(), 18);
  EXPECT_EQ(f.Precision(), 8);
}

TEST(FieldDef, AddWithValuesAppliesANonZeroSize) {
  TDbfFieldDefs defs(xBaseIV);
  TDbfFieldDef& name = defs.AddWithValues("NAME", ftString, true, 12);
  TDbfFieldDef& wide = defs.AddWithValues("WIDE", ftString, false, 400);
  EXPECT_EQ(name.FieldName(), "NAME");
  EXPECT_TRUE(name.Required());
  EXPECT_EQ(name.Size(), 12);
  EXPECT_FALSE(wide.Required());
  EXPECT_EQ(wide.Size(), 255);
  EXPECT_EQ(defs.Count(), 2);
  EXPECT_EQ(wide.Index(), 1);
}

// A file's own width survives even where the size rules would cut it.
TEST(FieldDef, StoredSizeBypassesNormalisation) {
  TDbfFieldDefs defs(xBaseIV);
  TDbfFieldDef& f = defs.Add();
  f.SetStoredSize(24, 15);
  f.SetNativeFieldType('N');
  f.SetStoredSize(24, 15);
  EXPECT_EQ(f.FieldType(), ftFloat);
  EXPECT_EQ(f.Size(), 24);
  EXPECT_EQ(f.Precision(), 15);
  // A later explicit change goes through the rules again.
  f.SetSize(24);
  EXPECT_EQ(f.Size(), 20);
  EXPECT_EQ(f.Precision(), 15);
}

TEST(FieldDef, MemoAndBlockTests) {
  struct {
    TXBaseVersion version;
    char letter;
    int size;
    bool memo;
    bool block;
  } cases[] = {
      {xBaseIV, 'M', 10, true, false}, {xFoxPro, 'M', 4, true, true},  {xBaseIV, 'M', 4, true, true},
      {xFoxPro, 'G', 4, true, true},   {xBaseIV, 'G', 4, true, false}, {xFoxPro, 'B', 8, true, false},
      {xBaseIV, 'B', 10, true, false}, {xBaseIV, 'C', 4, false, false}, {xFoxPro, 'I', 4, false, false},
  };
  for (const auto& c : cases) {
    TDbfFieldDefs defs(c.version);
    TDbfFieldDef& f = defs.Add();
    f.SetNativeFieldType(c.letter);
    f.SetStoredSize(c.size, 0);
    EXPECT_EQ(f.IsMemoField(), c.memo) << VersionName(c.version) << " " << c.letter << c.size;
    EXPECT_EQ(f.IsBinaryBlockField(), c.block) << VersionName(c.version) << " " << c.letter << c.size;
  }
}

TEST(FieldDef, ValueAreasAreSeparateAndFollowTheSize) {
  TDbfFieldDefs defs(xBaseVII);
  TDbfFieldDef& f = defs.AddWithValues("CODE", ftString, false, 4);
  std::memcpy(f.DefaultBuf(), "DDDD", 4);
  std::memcpy(f.MinBuf(), "AAAA", 4);
  std::memcpy(f.MaxBuf(), "ZZZZ", 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.DefaultBuf()), 4), "DDDD");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.MinBuf()), 4), "AAAA");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.MaxBuf()), 4), "ZZZZ");

  // After growing, each area must hold the new width (the sanitizers watch
  // the writes) and keep what fitted before.
  f.SetSize(9);
  std::memset(f.MaxBuf(), 'z', 9);
  std::memset(f.MinBuf() + 4, 'a', 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.MinBuf()), 9), "AAAAaaaaa");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.DefaultBuf()), 4), "DDDD");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.MaxBuf()), 9), "zzzzzzzzz");
}

TEST(FieldDef, AssignCopiesEverythingDeeply) {
  TDbfFieldDefs defs(xBaseVII);
  defs.AddWithValues("FIRST", ftString, false, 5);
  TDbfFieldDef& src = defs.AddWithValues("QTY", ftInteger, true, 0);
  src.SetOffset(6);
  src.SetNullPosition(3);
  src.SetAutoIncNext(77);
  src.SetHasDefault(true);
  src.SetHasMax(true);
  std::memcpy(src.DefaultBuf(), "\x80\x00\x00\x05", 4);
  std::memcpy(src.MaxBuf(), "\x80\x00\x00\x63", 4);

  TDbfFieldDefs other(xBaseVII);
  TDbfFieldDef& copy = other.Add();
  copy.Assign(src);
  EXPECT_EQ(copy.FieldName(), "QTY");
  EXPECT_EQ(copy.FieldType(), ftInteger);
  EXPECT_EQ(copy.NativeFieldType(), 'I');
  EXPECT_EQ(copy.Size(), 4);
  EXPECT_TRUE(copy.Required());
  EXPECT_EQ(copy.Offset(), 6);
  EXPECT_EQ(copy.NullPosition(), 3);
  EXPECT_EQ(copy.AutoIncNext(), 77);
  EXPECT_TRUE(copy.HasDefault());
  EXPECT_FALSE(copy.HasMin());
  EXPECT_TRUE(copy.HasMax());
  EXPECT_EQ(copy.CopyFrom(), 1);
  EXPECT_EQ(std::memcmp(copy.DefaultBuf(), "\x80\x00\x00\x05", 4), 0);
  EXPECT_EQ(std::memcmp(copy.MaxBuf(), "\x80\x00\x00\x63", 4), 0);

  src.DefaultBuf()[3] = 9;
  EXPECT_EQ(copy.DefaultBuf()[3], 5) << "the copy shares the source's value areas";
}

TEST(Versions, TableLevelMapping) {
  EXPECT_EQ(TableLevelOf(xBaseIII), 3);
  EXPECT_EQ(TableLevelOf(xBaseIV), 4);
  EXPECT_EQ(TableLevelOf(xBaseVII), 7);
  EXPECT_EQ(TableLevelOf(xFoxPro), 25);
  for (int level : {3, 4, 7, 25}) EXPECT_EQ(TableLevelOf(VersionOfTableLevel(level)), level);
  for (int level : {0, 5, 6, 8, 30, -1}) EXPECT_EQ(VersionOfTableLevel(level), xBaseIV) << level;
  EXPECT_LT(xBaseIV, xFoxPro);
  EXPECT_LT(xFoxPro, xBaseVII);
}

}  // namespace
}  // namespace norvale
