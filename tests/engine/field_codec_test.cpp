#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/date_time.h"
#include "engine/exceptions.h"
#include "engine/field_codec.h"
#include "engine/globals.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using Bytes = std::vector<uint8_t>;

// A record layout built the way a table file builds it: letter, then the
// width and decimals exactly as stored.
class TLayout {
 public:
  explicit TLayout(TXBaseVersion version) : defs_(version) { codec.version = version; }

  TDbfFieldDef& Add(const std::string& name, char letter, int size, int precision = 0) {
    TDbfFieldDef& f = defs_.Add();
    f.SetFieldName(name);
    f.SetStoredSize(size, precision);
    f.SetNativeFieldType(letter);
    f.SetStoredSize(size, precision);
    f.SetOffset(length_);
    length_ += size;
    return f;
  }
  Bytes Record(uint8_t fill = ' ') const { return Bytes(static_cast<size_t>(length_), fill); }
  int Length() const { return length_; }

  TFieldCodec codec;

 private:
  TDbfFieldDefs defs_;
  int length_ = 1;
};

void Put(Bytes& record, const TDbfFieldDef& f, const std::string& text) {
  std::string padded = text;
  padded.resize(static_cast<size_t>(f.Size()), ' ');
  std::memcpy(record.data() + f.Offset(), padded.data(), padded.size());
}

void PutBytes(Bytes& record, const TDbfFieldDef& f, const Bytes& bytes) {
  ASSERT_EQ(bytes.size(), static_cast<size_t>(f.Size()));
  std::memcpy(record.data() + f.Offset(), bytes.data(), bytes.size());
}

Bytes FieldBytes(const Bytes& record, const TDbfFieldDef& f) {
  return Bytes(record.begin() + f.Offset(), record.begin() + f.Offset() + f.Size());
}

std::string FieldText(const Bytes& record, const TDbfFieldDef& f) {
  return std::string(reinterpret_cast<const char*>(record.data()) + f.Offset(), static_cast<size_t>(f.Size()));
}

template <class T>
std::optional<T> DecodeAs(const TFieldCodec& codec, const TDbfFieldDef& f, TFieldType request, const Bytes& record,
                          bool native = false) {
  // Exactly the value's size, so that an oversized store shows up under the sanitizers.
  auto dst = std::make_unique<T>();
  if (!codec.Decode(f, request, native, dst.get(), record.data())) return std::nullopt;
  return *dst;
}

std::optional<std::string> DecodeString(const TFieldCodec& codec, const TDbfFieldDef& f, const Bytes& record) {
  std::vector<char> dst(static_cast<size_t>(f.Size()) + 1, '\x7F');
  if (!codec.Decode(f, ftString, false, dst.data(), record.data())) {
    EXPECT_EQ(dst[0], 0) << "a string destination receives empty text";
    return std::nullopt;
  }
  return std::string(dst.data());
}

// Encodes into a record filled with a marker and checks that nothing outside
// the field (and, when given, outside the null-flags byte) changed.
Bytes EncodeChecked(const TLayout& layout, const TDbfFieldDef& f, TFieldType request, const void* value,
                    bool native = false, Bytes record = {}) {
  if (record.empty()) record = layout.Record('#');
  const Bytes before = record;
  layout.codec.Encode(f, request, native, record.data(), value);
  const TDbfFieldDef* flags = layout.codec.nullFlagsField;
  for (int i = 0; i < layout.Length(); ++i) {
    if (i >= f.Offset() && i < f.Offset() + f.Size()) continue;
    if (flags && i >= flags->Offset() && i < flags->Offset() + flags->Size()) continue;
    EXPECT_EQ(record[static_cast<size_t>(i)], before[static_cast<size_t>(i)])
        << "byte " << i << " outside field " << f.FieldName() << " changed";
  }
  return record;
}

TDateTime MakeDateTime(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0, int ms = 0) {
  TDateTime v = 0;
  EXPECT_TRUE(EncodeDateTime(TDateParts{y, m, d, hh, mm, ss, ms}, &v));
  return v;
}

class CodecTest : public ::testing::Test {
 protected:
  void SetUp() override { TDbfGlobals::Instance().SetCurrentYearForTesting(2026); }
  void TearDown() override { TDbfGlobals::Instance().SetCurrentYearForTesting(0); }
};

// ---- text fields ------------------------------------------------------------

struct TTextNumberCase {
  const char* text;
  TFieldType request;
  bool has;
  double value;
};

TEST_F(CodecTest, NumericTextDecoding) {
  const TTextNumberCase cases[] = {
      {"   -12", ftInteger, true, -12},   {"  abc", ftInteger, true, 0},       {"      ", ftInteger, false, 0},
      {"    42", ftSmallint, true, 42},   {"+7", ftInteger, true, 7},          {"12.50", ftInteger, true, 0},
      {"99999999999", ftInteger, true, 0}, {" 3.25", ftFloat, true, 3.25},    {"-0.5", ftFloat, true, -0.5},
      {"12,5", ftFloat, true, 0},         {"  .75", ftCurrency, true, 0.75},  {"-", ftFloat, true, 0},
      {"inf", ftFloat, true, 0},          {"nan", ftFloat, true, 0},          {"1 2", ftInteger, true, 0},
      // Stars alone mark a missing or overflowed value (GDAL, QGIS); mixed
      // with digits they are junk like any other.
      {"**********", ftFloat, false, 0},  {"     *****", ftInteger, false, 0}, {"*", ftCurrency, false, 0},
      {"12**", ftFloat, true, 0},
  };
  for (const TTextNumberCase& c : cases) {
    TLayout layout(xBaseIV);
    TDbfFieldDef& f = layout.Add("N", 'N', 11, 2);
    Bytes rec = layout.Record();
    Put(rec, f, c.text);
    SCOPED_TRACE(std::string("text \"") + c.text + "\" as " + FieldTypeName(c.request));
    std::optional<double> got;
    switch (c.request) {
      case ftSmallint: {
        auto v = DecodeAs<int16_t>(layout.codec, f, c.request, rec);
        if (v) got = *v;
        break;
      }
      case ftInteger: {
        auto v = DecodeAs<int32_t>(layout.codec, f, c.request, rec);
        if (v) got = *v;
        break;
      }
      default:
        got = DecodeAs<double>(layout.codec, f, c.request, rec);
        break;
    }
    EXPECT_EQ(got.has_value(), c.has);
    if (got && c.has) { EXPECT_DOUBLE_EQ(*got, c.value); }
    // Without a destination only presence is asked for.
    EXPECT_EQ(layout.codec.Decode(f, c.request, false, nullptr, rec.data()), c.has);
  }
}

TEST_F(CodecTest, NulBytesPadNumbersAndDatesLikeBlanks) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& n = layout.Add("N", 'N', 10, 1);
  TDbfFieldDef& d = layout.Add("D", 'D', 8);
  TDbfFieldDef& c = layout.Add("C", 'C', 6);
  Bytes rec = layout.Record();
  PutBytes(rec, n, Bytes{'1', '2', '3', '4', '.', 0, 0, 0, 0, 0});
  PutBytes(rec, d, Bytes(8, 0));
  PutBytes(rec, c, Bytes{'a', 'b', 0, 'c', ' ', ' '});
  EXPECT_EQ(DecodeAs<double>(layout.codec, n, ftFloat, rec), 1234.0);
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, n, ftInteger, rec), 0) << "1234. is no integer text";
  EXPECT_EQ(DecodeAs<double>(layout.codec, d, ftDate, rec), std::nullopt);
  EXPECT_FALSE(layout.codec.Decode(d, ftDate, false, nullptr, rec.data()));
  // Text still ends at its first NUL.
  EXPECT_EQ(DecodeString(layout.codec, c, rec), "ab");
  PutBytes(rec, n, Bytes{0, 0, ' ', '-', '7', '.', '5', 0, ' ', 0});
  EXPECT_EQ(DecodeAs<double>(layout.codec, n, ftFloat, rec), -7.5);
}

TEST_F(CodecTest, LargeintTextKeepsAllDigits) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& f = layout.Add("BIG", 'N', 20);
  Bytes rec = layout.Record();
  Put(rec, f, " -9007199254740993");
  EXPECT_EQ(DecodeAs<int64_t>(layout.codec, f, ftLargeint, rec), int64_t(-9007199254740993));
}

TEST_F(CodecTest, StringKeepsLeadingSpacesOnly) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& f = layout.Add("S", 'C', 6);
  TDbfFieldDef& next = layout.Add("NEXT", 'C', 3);
  Bytes rec = layout.Record();
  Put(rec, next, "XYZ");
  for (const auto& [text, want] : std::vector<std::pair<std::string, std::optional<std::string>>>{
           {"  AB  ", "  AB"}, {"ABCDEF", "ABCDEF"}, {"      ", std::nullopt}, {"A", "A"}}) {
    Put(rec, f, text);
    EXPECT_EQ(DecodeString(layout.codec, f, rec), want) << '"' << text << '"';
  }
}

TEST_F(CodecTest, LogicalTextDecoding) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& f = layout.Add("L", 'L', 1);
  Bytes rec = layout.Record();
  struct {
    const char* text;
    std::optional<int16_t> want;
  } cases[] = {{"Y", 1}, {"y", 1}, {"t", 1}, {"T", 1}, {"F", 0}, {"f", 0}, {"N", 0}, {"n", 0},
               {"?", std::nullopt}, {"X", std::nullopt}, {"1", std::nullopt}, {" ", std::nullopt}};
  for (const auto& c : cases) {
    Put(rec, f, c.text);
    EXPECT_EQ(DecodeAs<int16_t>(layout.codec, f, ftBoolean, rec), c.want) << c.text;
    EXPECT_EQ(layout.codec.Decode(f, ftBoolean, false, nullptr, rec.data()), c.want.has_value()) << c.text;
    // The stored letter stays readable as text.
    EXPECT_EQ(DecodeString(layout.codec, f, rec), c.text[0] == ' ' ? std::nullopt : std::optional<std::string>(c.text));
  }
  // Writing stays T and F.
  for (const int16_t v : {int16_t(1), int16_t(0)})
    EXPECT_EQ(FieldText(EncodeChecked(layout, f, ftBoolean, &v), f), v ? "T" : "F");
}

struct TDateCase {
  const char* text;
  bool has;
  int y, m, d;
};

TEST_F(CodecTest, DateTextDecodingWithTheTwoDigitYearWindow) {
  const TDateCase cases[] = {
      {"  970315", true, 1997, 3, 15}, {"  050315", true, 2005, 3, 15}, {"  760101", true, 1976, 1, 1},
      {"  751231", true, 2075, 12, 31}, {"  000229", true, 2000, 2, 29}, {"20240229", true, 2024, 2, 29},
      {"00970315", true, 97, 3, 15},   {"        ", false, 0, 0, 0},
      // No date rather than day 0 of the calendar or the first of January.
      {"20230229", false, 0, 0, 0},    {"20230231", false, 0, 0, 0},    {"00000000", false, 0, 0, 0},
      {"2024XX15", false, 0, 0, 0},    {"NotAYear", false, 0, 0, 0},    {"2024-1-5", false, 0, 0, 0},
  };
  for (const TDateCase& c : cases) {
    TLayout layout(xBaseIV);
    TDbfFieldDef& f = layout.Add("D", 'D', 8);
    Bytes rec = layout.Record();
    Put(rec, f, c.text);
    SCOPED_TRACE(c.text);
    auto v = DecodeAs<double>(layout.codec, f, ftDate, rec);
    ASSERT_EQ(v.has_value(), c.has);
    EXPECT_EQ(layout.codec.Decode(f, ftDate, false, nullptr, rec.data()), c.has);
    if (c.has) {
      EXPECT_EQ(*v, MakeDateTime(c.y, c.m, c.d));
    }
  }
}

TEST_F(CodecTest, TwoDigitYearWindowMovesWithTheCurrentYear) {
  TDbfGlobals::Instance().SetCurrentYearForTesting(2090);  // window starts at 2040
  TLayout layout(xBaseIV);
  TDbfFieldDef& f = layout.Add("D", 'D', 8);
  Bytes rec = layout.Record();
  Put(rec, f, "  390101");
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDate, rec), MakeDateTime(2139, 1, 1));
  Put(rec, f, "  400101");
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDate, rec), MakeDateTime(2040, 1, 1));
}

TEST_F(CodecTest, NativeDateIsADayNumber) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& f = layout.Add("D", 'D', 8);
  Bytes rec = layout.Record();
  Put(rec, f, "20000101");
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftDate, rec, true), 730120);
  const int32_t day = DayNumberFromDate(1999, 12, 31);
  EXPECT_EQ(FieldText(EncodeChecked(layout, f, ftDate, &day, true), f), "19991231");
}

TEST_F(CodecTest, TextDateTimeNeedsFourteenCharacters) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& wide = layout.Add("TS", 'T', 14);
  TDbfFieldDef& narrow = layout.Add("TN", 'T', 12);
  TDbfFieldDef& after = layout.Add("AFTER", 'C', 2);
  TDbfFieldDef& date = layout.Add("D", 'D', 8);
  ASSERT_EQ(wide.FieldType(), ftDateTime);
  Bytes rec = layout.Record();
  Put(rec, wide, "20240315123045");
  Put(rec, narrow, "202403151230");
  Put(rec, after, "45");  // must not be taken for the seconds of TN
  Put(rec, date, "20240315");

  EXPECT_EQ(DecodeAs<double>(layout.codec, wide, ftDateTime, rec), MakeDateTime(2024, 3, 15, 12, 30, 45));
  EXPECT_EQ(DecodeAs<double>(layout.codec, wide, ftDate, rec), MakeDateTime(2024, 3, 15));
  EXPECT_EQ(DecodeAs<double>(layout.codec, narrow, ftDateTime, rec), MakeDateTime(2024, 3, 15));
  EXPECT_EQ(DecodeAs<double>(layout.codec, date, ftDateTime, rec), MakeDateTime(2024, 3, 15));

  Put(rec, wide, "20240315      ");
  EXPECT_EQ(DecodeAs<double>(layout.codec, wide, ftDateTime, rec), MakeDateTime(2024, 3, 15))
      << "a date without its time is midnight";

  Put(rec, wide, "20240315256000");
  EXPECT_EQ(DecodeAs<double>(layout.codec, wide, ftDateTime, rec), 0.0) << "an impossible time";
}

struct TTextEncodeCase {
  TXBaseVersion version;
  char letter;
  int size;
  int precision;
  TFieldType request;
  double value;
  const char* want;
};

TEST_F(CodecTest, NumericTextEncoding) {
  const TTextEncodeCase cases[] = {
      // Decimals that do not fit are rounded away, not cut.
      {xBaseIV, 'N', 6, 2, ftFloat, 1234.567, "1234.6"},
      {xBaseIV, 'N', 4, 2, ftFloat, 1234.567, "1235"},
      {xBaseIV, 'N', 5, 3, ftFloat, 99.996, "100.0"},
      {xBaseIV, 'N', 8, 2, ftFloat, 3.14159, "    3.14"},
      {xBaseIV, 'N', 8, 2, ftFloat, -2.5, "   -2.50"},
      {xBaseIV, 'N', 5, 0, ftFloat, 42.0, "   42"},
      {xBaseIV, 'N', 10, 4, ftCurrency, 0.5, "    0.5000"},
      {xBaseIV, 'N', 24, 15, ftFloat, 1.0 / 3.0, "       0.333333333333333"},
      {xBaseIV, 'N', 3, 0, ftInteger, -5, " -5"},
      {xBaseIV, 'N', 3, 0, ftInteger, -12, "-12"},
      {xBaseIV, 'N', 3, 0, ftInteger, 999, "999"},
      {xBaseIV, 'N', 3, 0, ftInteger, 7, "  7"},
      {xBaseIV, 'N', 1, 0, ftInteger, 0, "0"},
      {xBaseIV, 'N', 6, 0, ftSmallint, -300, "  -300"},
      {xBaseIV, 'M', 10, 0, ftInteger, 42, "0000000042"},
      {xBaseIV, 'M', 10, 0, ftInteger, -42, "-000000042"},
      {xBaseIV, 'B', 10, 0, ftInteger, 7, "0000000007"},
      {xBaseIV, 'G', 10, 0, ftInteger, 7, "0000000007"},
      {xBaseIV, 'M', 10, 0, ftSmallint, 42, "        42"},
      {xFoxPro, 'M', 10, 0, ftInteger, 9, "0000000009"},
      // Halves round away from zero, as dBASE programs round; a value that
      // rounds to zero loses its sign.
      {xBaseIV, 'N', 5, 2, ftFloat, 0.125, " 0.13"},
      {xBaseIV, 'N', 5, 2, ftFloat, -0.125, "-0.13"},
      {xBaseIV, 'N', 1, 0, ftFloat, 2.5, "3"},
      {xBaseIV, 'N', 3, 0, ftFloat, -0.5, " -1"},
      {xBaseIV, 'N', 5, 1, ftFloat, 99.95, "100.0"},
      {xBaseIV, 'N', 6, 2, ftFloat, 99.995, "100.00"},
      {xBaseIV, 'N', 6, 2, ftFloat, 999.995, "1000.0"},
      {xBaseIV, 'N', 6, 2, ftFloat, -0.001, "  0.00"},
      {xBaseIV, 'N', 6, 2, ftFloat, 2.675, "  2.67"},  // stored as 2.67499999...
  };
  for (const TTextEncodeCase& c : cases) {
    TLayout layout(c.version);
    layout.Add("BEFORE", 'C', 2);
    TDbfFieldDef& f = layout.Add("F", c.letter, c.size, c.precision);
    layout.Add("AFTER", 'C', 2);
    SCOPED_TRACE(std::string(1, c.letter) + std::to_string(c.size) + " " + FieldTypeName(c.request) + " " +
                 std::to_string(c.value));
    Bytes rec;
    if (c.request == ftInteger) {
      const int32_t v = static_cast<int32_t>(c.value);
      rec = EncodeChecked(layout, f, c.request, &v);
    } else if (c.request == ftSmallint) {
      const int16_t v = static_cast<int16_t>(c.value);
      rec = EncodeChecked(layout, f, c.request, &v);
    } else {
      rec = EncodeChecked(layout, f, c.request, &c.value);
    }
    EXPECT_EQ(FieldText(rec, f), c.want);
  }
}

// Keeping the low-order digits would store another number without a word.
TEST_F(CodecTest, NumbersTooWideForTheFieldAreRefused) {
  struct {
    char letter;
    int size, precision;
    TFieldType request;
    double value;
    const char* message;
  } cases[] = {
      {'N', 3, 0, ftInteger, 12345, "Value 12345 does not fit field F (width 3, 0 decimals)."},
      {'N', 3, 0, ftInteger, -123, "Value -123 does not fit field F (width 3, 0 decimals)."},
      {'N', 6, 2, ftFloat, 1234567.5, "Value 1234567.5 does not fit field F (width 6, 2 decimals)."},
      {'N', 4, 0, ftFloat, -9999.4, "Value -9999.4 does not fit field F (width 4, 0 decimals)."},
      {'N', 3, 1, ftFloat, 999.5, "Value 999.5 does not fit field F (width 3, 1 decimals)."},
      {'F', 5, 0, ftFloat, 1e300, nullptr},
  };
  for (const auto& c : cases) {
    TLayout layout(xBaseIV);
    TDbfFieldDef& f = layout.Add("F", c.letter, c.size, c.precision);
    Bytes rec = layout.Record('#');
    const int32_t i = c.request == ftInteger ? static_cast<int32_t>(c.value) : 0;
    const void* value = c.request == ftInteger ? static_cast<const void*>(&i) : &c.value;
    try {
      layout.codec.Encode(f, c.request, false, rec.data(), value);
      ADD_FAILURE() << c.value << " was stored as " << FieldText(rec, f);
    } catch (const EDbfError& e) {
      if (c.message) {
        EXPECT_STREQ(e.what(), c.message);
      }
    }
    EXPECT_EQ(rec, layout.Record('#')) << "nothing is written";
  }
}

TEST_F(CodecTest, LargeintTextEncoding) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& f = layout.Add("BIG", 'N', 20);
  const int64_t v = -9007199254740993;
  EXPECT_EQ(FieldText(EncodeChecked(layout, f, ftLargeint, &v), f), "   -9007199254740993");
  const int64_t minimum = INT64_MIN;
  EXPECT_EQ(FieldText(EncodeChecked(layout, f, ftLargeint, &minimum), f), "-9223372036854775808");
}

// Other programs read "." whatever the user's locale; the viewer runs under
// the user's locale, so the encoder must not follow it.
TEST_F(CodecTest, DecimalPointIgnoresTheLocale) {
  struct TNumericLocale {
    std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    std::unique_ptr<test::TTempDir> built;
    ~TNumericLocale() {
      std::setlocale(LC_NUMERIC, previous.c_str());
      if (built) unsetenv("LOCPATH");
    }
    bool Select() {
      for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name)) return true;
      if (std::system("command -v localedef >/dev/null 2>&1") != 0) return false;
      // No comma locale installed: compile one for this test.
      built = std::make_unique<test::TTempDir>();
      const std::string cmd = "localedef -i de_DE -f UTF-8 " + built->File("de_DE.UTF-8") + " >/dev/null 2>&1";
      if (std::system(cmd.c_str()) != 0) return false;
      setenv("LOCPATH", built->Path().c_str(), 1);
      return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    }
  } locale;
  if (!locale.Select()) GTEST_SKIP() << "no locale with a decimal comma available";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");

  TLayout layout(xBaseIV);
  TDbfFieldDef& f = layout.Add("N", 'N', 8, 2);
  TDbfFieldDef& narrow = layout.Add("E", 'N', 4, 0);
  const double v = 3.25;
  EXPECT_EQ(FieldText(EncodeChecked(layout, f, ftFloat, &v), f), "    3.25");
  const double rounded = 12.625;  // rounded to fit: still a point
  const std::string fitted = FieldText(EncodeChecked(layout, narrow, ftFloat, &rounded), narrow);
  EXPECT_EQ(fitted, "  13");
  Bytes rec = layout.Record();
  Put(rec, f, "  -7.75");
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftFloat, rec), -7.75);
}

TEST_F(CodecTest, OtherTextEncodings) {
  TLayout layout(xBaseIV);
  layout.Add("BEFORE", 'C', 1);
  TDbfFieldDef& s = layout.Add("S", 'C', 5);
  TDbfFieldDef& l = layout.Add("L", 'L', 1);
  TDbfFieldDef& d = layout.Add("D", 'D', 8);
  TDbfFieldDef& ts = layout.Add("TS", 'T', 14);
  TDbfFieldDef& n = layout.Add("N", 'N', 5, 1);
  layout.Add("AFTER", 'C', 1);

  EXPECT_EQ(FieldText(EncodeChecked(layout, s, ftString, "ABCDEFG"), s), "ABCDE");
  EXPECT_EQ(FieldText(EncodeChecked(layout, s, ftString, "AB"), s), "AB   ");
  EXPECT_EQ(FieldText(EncodeChecked(layout, s, ftString, nullptr), s), "     ");
  const int16_t yes = 1, no = 0;
  EXPECT_EQ(FieldText(EncodeChecked(layout, l, ftBoolean, &yes), l), "T");
  EXPECT_EQ(FieldText(EncodeChecked(layout, l, ftBoolean, &no), l), "F");
  const TDateTime when = MakeDateTime(2024, 3, 5, 13, 45, 1);
  EXPECT_EQ(FieldText(EncodeChecked(layout, d, ftDate, &when), d), "20240305");
  EXPECT_EQ(FieldText(EncodeChecked(layout, ts, ftDateTime, &when), ts), "20240305134501");
  // The time does not fit a date field; the date alone is kept.
  EXPECT_EQ(FieldText(EncodeChecked(layout, d, ftDateTime, &when), d), "20240305");
  const TDateTime early = MakeDateTime(5, 1, 2);
  EXPECT_EQ(FieldText(EncodeChecked(layout, d, ftDate, &early), d), "00050102");
  EXPECT_EQ(FieldText(EncodeChecked(layout, n, ftFloat, nullptr), n), "     ");
}

// ---- binary fields ----------------------------------------------------------

TEST_F(CodecTest, BigEndianIntegersOutsideFoxPro) {
  for (TXBaseVersion version : {xBaseVII, xBaseIV}) {
    TLayout layout(version);
    TDbfFieldDef& f = layout.Add("I", 'I', 4);
    Bytes rec = layout.Record();
    SCOPED_TRACE(VersionName(version));
    PutBytes(rec, f, {0x80, 0x00, 0x00, 0x2A});
    EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftInteger, rec), 42);
    PutBytes(rec, f, {0x7F, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftInteger, rec), -1);
    EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftFloat, rec), -1.0);
    PutBytes(rec, f, {0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftInteger, rec), std::nullopt);

    struct {
      int32_t value;
      Bytes bytes;
    } encodings[] = {{0, {0x80, 0, 0, 0}},
                     {-1, {0x7F, 0xFF, 0xFF, 0xFF}},
                     {42, {0x80, 0, 0, 0x2A}},
                     {INT32_MIN, {0, 0, 0, 0}},
                     {INT32_MAX, {0xFF, 0xFF, 0xFF, 0xFF}}};
    for (const auto& e : encodings)
      EXPECT_EQ(FieldBytes(EncodeChecked(layout, f, ftInteger, &e.value), f), e.bytes) << e.value;
    EXPECT_EQ(FieldBytes(EncodeChecked(layout, f, ftInteger, nullptr), f), Bytes(4, 0));
  }
}

TEST_F(CodecTest, LittleEndianIntegersAtFoxPro) {
  TLayout layout(xFoxPro);
  TDbfFieldDef& i = layout.Add("I", 'I', 4);
  TDbfFieldDef& a = layout.Add("ID", '+', 4);
  ASSERT_EQ(a.FieldType(), ftAutoInc);
  Bytes rec = layout.Record();
  PutBytes(rec, i, {0x2A, 0, 0, 0});
  PutBytes(rec, a, {0xD6, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, i, ftInteger, rec), 42);
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, a, ftAutoInc, rec), -42);
  PutBytes(rec, i, {0, 0, 0, 0});
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, i, ftInteger, rec), 0) << "zero is a value at FoxPro";
  const int32_t v = -42;
  EXPECT_EQ(FieldBytes(EncodeChecked(layout, a, ftAutoInc, &v), a), (Bytes{0xD6, 0xFF, 0xFF, 0xFF}));
}

TEST_F(CodecTest, SortableDoubles) {
  TLayout layout(xBaseVII);
  TDbfFieldDef& f = layout.Add("O", 'O', 8);
  struct {
    double value;
    Bytes bytes;
  } cases[] = {{1.5, {0xBF, 0xF8, 0, 0, 0, 0, 0, 0}},
               {-1.5, {0x40, 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
               {0.0, {0x80, 0, 0, 0, 0, 0, 0, 0}},
               {2.75, {0xC0, 0x06, 0, 0, 0, 0, 0, 0}}};
  for (const auto& c : cases) {
    const Bytes rec = EncodeChecked(layout, f, ftFloat, &c.value);
    EXPECT_EQ(FieldBytes(rec, f), c.bytes) << c.value;
    EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftFloat, rec), c.value);
  }
  // The encoding keeps the byte order of the values.
  const double ordered[] = {-1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 1.0, 2.5, 1e300};
  Bytes previous;
  for (double v : ordered) {
    const Bytes now = FieldBytes(EncodeChecked(layout, f, ftFloat, &v), f);
    if (!previous.empty()) { EXPECT_LT(previous, now) << v; }
    previous = now;
  }
  Bytes rec = layout.Record();
  PutBytes(rec, f, Bytes(8, 0));
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftFloat, rec), std::nullopt);
  const int32_t fromInteger = -3;
  rec = EncodeChecked(layout, f, ftInteger, &fromInteger);
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftInteger, rec), -3);
}

TEST_F(CodecTest, FoxProDateTime) {
  TLayout layout(xFoxPro);
  TDbfFieldDef& f = layout.Add("T", 'T', 8);
  const TDateTime noon = MakeDateTime(2000, 1, 1, 12, 0, 0);
  const Bytes rec = EncodeChecked(layout, f, ftDateTime, &noon);
  // Julian day 2451545 and 43,200,000 ms, both little-endian.
  EXPECT_EQ(FieldBytes(rec, f), (Bytes{0x59, 0x68, 0x25, 0x00, 0x00, 0x2E, 0x93, 0x02}));
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDateTime, rec), noon);
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftDate, rec, true), 730120);
  EXPECT_EQ(FieldBytes(EncodeChecked(layout, f, ftDateTime, nullptr), f), Bytes(8, 0));
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDateTime, layout.Record(0)), std::nullopt);
}

// Other programs write binary "T" fields into dBASE tables too.
TEST_F(CodecTest, EightByteDateTimeIsBinaryAtEveryVersion) {
  for (TXBaseVersion version : {xBaseIII, xBaseIV, xBaseVII}) {
    TLayout layout(version);
    TDbfFieldDef& f = layout.Add("T", 'T', 8);
    Bytes rec = layout.Record();
    PutBytes(rec, f, {0x59, 0x68, 0x25, 0x00, 0x00, 0x2E, 0x93, 0x02});
    EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDateTime, rec), MakeDateTime(2000, 1, 1, 12))
        << VersionName(version);
  }
}

TEST_F(CodecTest, TimestampInBothModes) {
  TLayout layout(xBaseVII);
  TDbfFieldDef& f = layout.Add("TS", '@', 8);
  const TDateTime noon = MakeDateTime(2000, 1, 1, 12);
  const TDateTime first = MakeDateTime(1, 1, 1);

  layout.codec.dateTimeHandling = dtBDETimeStamp;
  Bytes rec = EncodeChecked(layout, f, ftDateTime, &first);
  EXPECT_EQ(FieldBytes(rec, f), (Bytes{0x41, 0x94, 0x99, 0x70, 0, 0, 0, 0})) << "86,400,000 ms";
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDateTime, rec), first);
  rec = EncodeChecked(layout, f, ftDateTime, &noon);
  EXPECT_EQ(FieldBytes(rec, f), (Bytes{0x42, 0xCC, 0xAF, 0xC2, 0x5B, 0x07, 0, 0}));
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDateTime, rec), noon);
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftDate, rec, true), 730120);

  layout.codec.dateTimeHandling = dtDateTime;
  rec = EncodeChecked(layout, f, ftDateTime, &noon);
  EXPECT_EQ(FieldBytes(rec, f), (Bytes{0x40, 0xE1, 0xD5, 0xD0, 0, 0, 0, 0})) << "36526.5";
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDateTime, rec), noon);

  EXPECT_EQ(FieldBytes(EncodeChecked(layout, f, ftDateTime, nullptr), f), Bytes(8, 0));
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftDateTime, layout.Record(0)), std::nullopt);
}

TEST_F(CodecTest, Currency) {
  TLayout layout(xFoxPro);
  TDbfFieldDef& f = layout.Add("Y", 'Y', 8, 4);
  struct {
    double value;
    Bytes bytes;
  } cases[] = {{12.5, {0x48, 0xE8, 0x01, 0, 0, 0, 0, 0}},
               {-1.5, {0x68, 0xC5, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
               // 19.99 x 10000 is 199899.99999999997 in binary; the typed value must survive.
               {19.99, {0xDC, 0x0C, 0x03, 0, 0, 0, 0, 0}},
               {0.57, {0x44, 0x16, 0, 0, 0, 0, 0, 0}},
               {0.0, Bytes(8, 0)}};
  for (const auto& c : cases) {
    const Bytes rec = EncodeChecked(layout, f, ftCurrency, &c.value);
    EXPECT_EQ(FieldBytes(rec, f), c.bytes) << c.value;
    EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftCurrency, rec), c.value);
  }
  // Digits beyond the fourth decimal are cut, not rounded.
  const double fine = 1.23456;
  Bytes rec = EncodeChecked(layout, f, ftCurrency, &fine);
  EXPECT_EQ(DecodeAs<int64_t>(layout.codec, f, ftBCD, rec), 12345);
  const double negativeFine = -1.23456;
  rec = EncodeChecked(layout, f, ftCurrency, &negativeFine);
  EXPECT_EQ(DecodeAs<int64_t>(layout.codec, f, ftBCD, rec), -12345);

  const int64_t bcd = 1234567;
  rec = EncodeChecked(layout, f, ftBCD, &bcd);
  EXPECT_EQ(FieldBytes(rec, f), (Bytes{0x87, 0xD6, 0x12, 0, 0, 0, 0, 0}));
  EXPECT_EQ(DecodeAs<int64_t>(layout.codec, f, ftBCD, rec), bcd);
  EXPECT_EQ(DecodeAs<double>(layout.codec, f, ftCurrency, rec), 123.4567);
  EXPECT_EQ(FieldBytes(EncodeChecked(layout, f, ftBCD, nullptr), f), Bytes(8, 0));
  EXPECT_EQ(DecodeAs<int64_t>(layout.codec, f, ftBCD, layout.Record(0)), 0) << "always a value";
}

TEST_F(CodecTest, FoxProDoubleAndBlockNumbers) {
  TLayout layout(xFoxPro);
  TDbfFieldDef& b = layout.Add("B", 'B', 8);
  TDbfFieldDef& m = layout.Add("M", 'M', 4);
  TDbfFieldDef& g = layout.Add("G", 'G', 4);
  TDbfFieldDef& mt = layout.Add("MT", 'M', 10);
  const double v = 2.75;
  Bytes rec = EncodeChecked(layout, b, ftFloat, &v);
  EXPECT_EQ(FieldBytes(rec, b), (Bytes{0, 0, 0, 0, 0, 0, 0x06, 0x40}));
  EXPECT_EQ(DecodeAs<double>(layout.codec, b, ftFloat, rec), 2.75);
  EXPECT_EQ(DecodeAs<double>(layout.codec, b, ftFloat, layout.Record(0)), 0.0) << "always a value";

  for (TDbfFieldDef* f : {&m, &g}) {
    const int32_t block = 0x01020304;
    rec = EncodeChecked(layout, *f, ftInteger, &block);
    EXPECT_EQ(FieldBytes(rec, *f), (Bytes{4, 3, 2, 1})) << f->FieldName();
    EXPECT_EQ(DecodeAs<int32_t>(layout.codec, *f, ftInteger, rec), block);
    EXPECT_EQ(FieldBytes(EncodeChecked(layout, *f, ftInteger, nullptr), *f), Bytes(4, 0));
    EXPECT_EQ(DecodeAs<int32_t>(layout.codec, *f, ftInteger, layout.Record(0)), std::nullopt);
  }
  rec = layout.Record();
  Put(rec, mt, "0000000042");
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, mt, ftInteger, rec), 42);
}

TEST_F(CodecTest, BlockNumbersOutsideFoxPro) {
  TLayout layout(xBaseIV);
  TDbfFieldDef& m4 = layout.Add("M4", 'M', 4);
  TDbfFieldDef& g4 = layout.Add("G4", 'G', 4);
  TDbfFieldDef& b = layout.Add("B", 'B', 10);
  Bytes rec = layout.Record();
  PutBytes(rec, m4, {7, 0, 0, 0});
  Put(rec, g4, "  12");
  Put(rec, b, "        31");
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, m4, ftInteger, rec), 7);
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, g4, ftInteger, rec), 12) << "G of size 4 is text below FoxPro";
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, b, ftInteger, rec), 31);
}

TEST_F(CodecTest, RawBytes) {
  TLayout layout(xFoxPro);
  TDbfFieldDef& f = layout.Add("RAW", '0', 3);
  const uint8_t raw[3] = {0x00, 0x20, 0xFF};
  Bytes rec = EncodeChecked(layout, f, ftBytes, raw);
  EXPECT_EQ(FieldBytes(rec, f), (Bytes{0x00, 0x20, 0xFF}));
  uint8_t back[3] = {9, 9, 9};
  EXPECT_TRUE(layout.codec.Decode(f, ftBytes, false, back, rec.data()));
  EXPECT_EQ(Bytes(back, back + 3), (Bytes{0x00, 0x20, 0xFF}));
}

// Values that make no sense as the requested type must not be undefined behaviour.
TEST_F(CodecTest, OutOfRangeDoublesGiveZeroAsIntegers) {
  TLayout layout(xBaseVII);
  TDbfFieldDef& f = layout.Add("O", 'O', 8);
  for (double v : {1e300, -1e300, 1.0 / 0.0, 0.0 / 0.0}) {
    const Bytes rec = EncodeChecked(layout, f, ftFloat, &v);
    EXPECT_EQ(DecodeAs<int32_t>(layout.codec, f, ftInteger, rec), 0) << v;
    EXPECT_EQ(DecodeAs<int16_t>(layout.codec, f, ftSmallint, rec), 0) << v;
    EXPECT_EQ(DecodeAs<int64_t>(layout.codec, f, ftLargeint, rec), 0) << v;
    EXPECT_EQ(DecodeAs<int64_t>(layout.codec, f, ftBCD, rec), 0) << v;
  }
}

// Binary fields narrower than their encoding (damaged or foreign files) are
// neither read nor written past their end.
TEST_F(CodecTest, ShortBinaryFieldsStayInside) {
  for (char letter : {'I', '+', '@', 'O', 'Y', 'T', 'B'}) {
    TLayout layout(letter == 'Y' || letter == 'T' || letter == 'B' ? xFoxPro : xBaseVII);
    TDbfFieldDef& f = layout.Add("F", letter, 2);
    const double d = 1;
    const int32_t i = 1;
    const int64_t l = 1;
    const void* value = letter == 'I' || letter == '+' ? static_cast<const void*>(&i)
                        : letter == 'Y'                 ? static_cast<const void*>(&l)
                                                        : static_cast<const void*>(&d);
    const TFieldType request = letter == 'I' || letter == '+' ? ftInteger : letter == 'Y' ? ftBCD : ftFloat;
    Bytes rec = layout.Record(0x11);
    EncodeChecked(layout, f, request, value, false, rec);
    double out;
    EXPECT_FALSE(layout.codec.Decode(f, ftFloat, false, &out, rec.data())) << letter;
  }
}

// ---- null flags -------------------------------------------------------------

TEST_F(CodecTest, NullFlags) {
  TLayout layout(xFoxPro);
  TDbfFieldDef& a = layout.Add("A", 'N', 5);
  TDbfFieldDef& t = layout.Add("T", 'T', 8);
  TDbfFieldDef& plain = layout.Add("P", 'C', 3);
  TDbfFieldDef& flags = layout.Add("_NULLFLAGS", '0', 2);
  a.SetNullPosition(0);
  t.SetNullPosition(10);  // bit 2 of the second byte
  layout.codec.nullFlagsField = &flags;

  Bytes rec = layout.Record();
  PutBytes(rec, flags, {0x00, 0x00});
  const int32_t v = 5;
  rec = EncodeChecked(layout, a, ftInteger, nullptr, false, rec);
  EXPECT_EQ(FieldBytes(rec, flags), (Bytes{0x01, 0x00}));
  EXPECT_FALSE(layout.codec.Decode(a, ftInteger, false, nullptr, rec.data()));
  EXPECT_TRUE(layout.codec.IsNullFlagged(a, rec.data()));

  rec = EncodeChecked(layout, t, ftDateTime, nullptr, false, rec);
  EXPECT_EQ(FieldBytes(rec, flags), (Bytes{0x01, 0x04}));

  rec = EncodeChecked(layout, a, ftInteger, &v, false, rec);
  EXPECT_EQ(FieldBytes(rec, flags), (Bytes{0x00, 0x04}));
  EXPECT_TRUE(layout.codec.Decode(a, ftInteger, false, nullptr, rec.data()));
  EXPECT_EQ(DecodeAs<int32_t>(layout.codec, a, ftInteger, rec), 5);
  EXPECT_FALSE(layout.codec.Decode(t, ftDateTime, false, nullptr, rec.data()));

  // A field without a null position ignores the flags entirely.
  PutBytes(rec, flags, {0xFF, 0xFF});
  rec = EncodeChecked(layout, plain, ftString, "AB", false, rec);
  EXPECT_EQ(FieldBytes(rec, flags), (Bytes{0xFF, 0xFF}));
  EXPECT_TRUE(layout.codec.Decode(plain, ftString, false, nullptr, rec.data()));
  EXPECT_FALSE(layout.codec.IsNullFlagged(plain, rec.data()));
}

TEST_F(CodecTest, NullPositionBeyondTheFlagsFieldIsIgnored) {
  TLayout layout(xFoxPro);
  TDbfFieldDef& a = layout.Add("A", 'C', 2);
  TDbfFieldDef& flags = layout.Add("_NULLFLAGS", '0', 1);
  a.SetNullPosition(8);
  layout.codec.nullFlagsField = &flags;
  Bytes rec = EncodeChecked(layout, a, ftString, nullptr);
  EXPECT_EQ(FieldBytes(rec, flags), Bytes{'#'});
  EXPECT_FALSE(layout.codec.IsNullFlagged(a, rec.data()));
}

// ---- round trips ------------------------------------------------------------

// Every letter, encoded and decoded back through the same request.
struct TRoundTrip {
  TXBaseVersion version;
  char letter;
  int size;
  int precision;
  TFieldType request;
  bool native;
  Bytes value;  // the in-memory form
};

template <class T>
Bytes Mem(T v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

TEST_F(CodecTest, RoundTripEveryLetter) {
  const double noon = MakeDateTime(2031, 7, 4, 12, 30, 15);
  const double midnight = MakeDateTime(1987, 2, 28);
  const std::vector<TRoundTrip> cases = {
      {xBaseIV, 'C', 8, 0, ftString, false, Text("  hello")},
      {xFoxPro, 'C', 300, 0, ftString, false, Text(std::string(299, 'x') + "y")},
      {xBaseIV, 'N', 10, 0, ftInteger, false, Mem<int32_t>(-123456789)},
      {xBaseIV, 'N', 4, 0, ftSmallint, false, Mem<int16_t>(-999)},
      {xBaseIV, 'N', 19, 0, ftLargeint, false, Mem<int64_t>(1234567890123456789)},
      {xBaseIV, 'N', 12, 3, ftFloat, false, Mem<double>(-98765.125)},
      {xBaseIV, 'F', 12, 4, ftCurrency, false, Mem<double>(42.5)},
      {xBaseVII, 'I', 4, 0, ftInteger, false, Mem<int32_t>(-7)},
      {xBaseVII, '+', 4, 0, ftAutoInc, false, Mem<int32_t>(100000)},
      {xFoxPro, 'I', 4, 0, ftInteger, false, Mem<int32_t>(INT32_MIN)},
      {xFoxPro, '+', 4, 0, ftAutoInc, false, Mem<int32_t>(17)},
      {xBaseIV, 'L', 1, 0, ftBoolean, false, Mem<int16_t>(1)},
      {xBaseIV, 'L', 1, 0, ftBoolean, false, Mem<int16_t>(0)},
      {xBaseIV, 'D', 8, 0, ftDate, false, Mem<double>(midnight)},
      {xBaseIV, 'D', 8, 0, ftDate, true, Mem<int32_t>(DayNumberFromDate(1, 1, 1))},
      {xBaseVII, '@', 8, 0, ftDateTime, false, Mem<double>(noon)},
      {xBaseVII, '@', 8, 0, ftDate, true, Mem<int32_t>(DayNumberFromDate(9999, 12, 31))},
      {xFoxPro, 'T', 8, 0, ftDateTime, false, Mem<double>(noon)},
      {xBaseIV, 'T', 8, 0, ftDateTime, false, Mem<double>(noon)},
      {xBaseIV, 'T', 14, 0, ftDateTime, false, Mem<double>(noon)},
      {xBaseVII, 'O', 8, 0, ftFloat, false, Mem<double>(-0.1)},
      {xFoxPro, 'B', 8, 0, ftFloat, false, Mem<double>(6.02214076e23)},
      {xBaseIV, 'B', 10, 0, ftInteger, false, Mem<int32_t>(815)},
      {xBaseIV, 'M', 10, 0, ftInteger, false, Mem<int32_t>(2)},
      {xFoxPro, 'M', 4, 0, ftInteger, false, Mem<int32_t>(123456)},
      {xFoxPro, 'G', 4, 0, ftInteger, false, Mem<int32_t>(9)},
      {xBaseIV, 'G', 10, 0, ftInteger, false, Mem<int32_t>(77)},
      {xFoxPro, 'Y', 8, 4, ftBCD, false, Mem<int64_t>(-922337203685477580)},
      {xFoxPro, 'Y', 8, 4, ftCurrency, false, Mem<double>(19.99)},
      {xFoxPro, '0', 4, 0, ftBytes, false, Bytes{1, 0, 0xFE, 0x20}},
  };
  for (const TRoundTrip& c : cases) {
    TLayout layout(c.version);
    layout.Add("LEAD", 'C', 3);
    TDbfFieldDef& f = layout.Add("F", c.letter, c.size, c.precision);
    layout.Add("TAIL", 'C', 3);
    SCOPED_TRACE(std::string(VersionName(c.version)) + " " + c.letter + std::to_string(c.size) + " " +
                 FieldTypeName(c.request));
    const Bytes rec = EncodeChecked(layout, f, c.request, c.value.data(), c.native);
    Bytes out(std::max<size_t>(c.value.size(), static_cast<size_t>(f.Size()) + 1), 0xCC);
    ASSERT_TRUE(layout.codec.Decode(f, c.request, c.native, out.data(), rec.data()));
    out.resize(c.value.size());
    EXPECT_EQ(out, c.value);
  }
}

}  // namespace
}  // namespace norvale
