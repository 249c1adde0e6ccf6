// norvale-cli dump formats the common text-stored fields straight from the
// record bytes, for speed, and falls back to the engine's decoding for every
// shape it does not recognise. Whatever path a value takes, the dump must say
// what the engine reads. This test feeds it the shapes at the edges of those
// paths, and random bytes, and compares every value of both output formats
// with the engine's own decoding.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "engine/date_time.h"
#include "engine/table_file.h"
#include "platform/text_codec.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using nlohmann::json;

const std::vector<test::TFieldSpec> kFields = {
    {"TXT", 'C', 12}, {"TXT2", 'C', 6},     {"SMALL", 'N', 4},  {"INT", 'N', 7},     {"BIG", 'N', 20},
    {"F", 'N', 10, 3}, {"WIDE", 'N', 20, 4}, {"FF", 'F', 8, 2}, {"D", 'D', 8},       {"L", 'L', 1},
};

// Stored forms per field, as they sit in the record (numbers right-aligned).
const std::vector<std::vector<std::string>> kShapes = {
    {"", "   ", "abc", "  lead", "a,b", "say \"hi\"", "back\\slash", "tab\there", "nl\nx", "cr\rx",
     std::string("nul\0mid", 7), "M\xFCller", "\x80\x81\x9F\xA0", "xxxxxxxxxxxx", "\x7F", "Pe\xF1" "a, \"J\xFCrgen\""},
    {"", "a\"b", "\xE9\xE8\xFC", "\\", "x,y", "\xFF"},
    {"", "0", "-0", "007", "+12", "-12", "9999", "-999", "1 2", "abc", "00", "-", "+"},
    {"", "0", "-0", "0000012", "+123", "9999999", "-999999", "12x", "1234567", "5", "-00", "-1"},
    {"", "12345678901234567890", "-1234567890123456789", "9223372036854775807", "9223372036854775808",
     "123456789012345678", "1234567890", "-0", "0", "123456789", "-987654321"},
    {"", "-0.000", "1.", ".5", "-.5", "1e5", "12.340", "123456.891", "0.000", "+1.5", "abc", "1,5", "-", ".",
     "-.", "999999.999", "0.001", "-0.001", "100000.000", "inf", "nan", "1.2.3", "007.5", "10", "0.100"},
    {"", "1234567890123.4567", "1000000.0000", "123456789012345", "0.0001", "99999999999999.9999",
     "-1000000000000000", "1e300", "1e-300", "12345678901.2345", "0.1", "-0.3000", "120000", "0.00012"},
    {"", "1.50", "-1.50", "0.00", "12345.67", "1e10", "100.00"},
    {"", "20240229", "20230229", "00000000", "  970315", "2024 229", "19991231", "00010101", "99991231",
     "20241301", "2024-1-1", "abcdefgh", "09990101", "2024013 ", "19000229", "20000229", "20240431",
     "00000101", "20241200", "20240132"},
    {"T", "t", "F", "Y", "?", " ", "n"},
};

std::string Place(const std::string& value, const test::TFieldSpec& f) {
  std::string v = value.substr(0, static_cast<size_t>(f.length));
  const std::string pad(static_cast<size_t>(f.length) - v.size(), ' ');
  return f.type == 'N' || f.type == 'F' ? pad + v : v + pad;
}

std::string Capture(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  if (pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
  return out;
}

// Splits CSV output (CRLF records, quotes doubled inside quoted fields).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last CRLF
  return rows;
}

// What the engine reads from a field: null, or a JSON value of the kind the
// dump writes.
json EngineValue(const TDbfFile& t, const TDbfFieldDef& f, const uint8_t* record, const TCodePageDecoder& text) {
  switch (f.FieldType()) {
    case ftString: {
      std::vector<char> bytes(static_cast<size_t>(f.Size()) + 1);
      t.DecodeField(f, ftString, false, bytes.data(), record);  // blank text is ""
      std::string utf8;
      text.AppendUtf8(utf8, bytes.data(), std::strlen(bytes.data()));
      return utf8;
    }
    case ftSmallint: {
      int16_t v = 0;
      return t.DecodeField(f, ftSmallint, false, &v, record) ? json(v) : json();
    }
    case ftInteger: {
      int32_t v = 0;
      return t.DecodeField(f, ftInteger, false, &v, record) ? json(v) : json();
    }
    case ftLargeint: {
      int64_t v = 0;
      return t.DecodeField(f, ftLargeint, false, &v, record) ? json(v) : json();
    }
    case ftFloat: {
      double v = 0;
      return t.DecodeField(f, ftFloat, false, &v, record) ? json(v) : json();
    }
    case ftDate: {
      int32_t day = 0;
      if (!t.DecodeField(f, ftDate, true, &day, record)) return json();
      int y, m, d;
      DateFromDayNumber(day, &y, &m, &d);
      char iso[16];
      std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", y, m, d);
      return iso;
    }
    case ftBoolean: {
      int16_t b = 0;
      return t.DecodeField(f, ftBoolean, false, &b, record) ? json(b != 0) : json();
    }
    default: return "unexpected type";
  }
}

bool SameValue(const json& dumped, const json& engine) {
  if (dumped.is_number_integer() && engine.is_number_integer()) return dumped.get<int64_t>() == engine.get<int64_t>();
  if (dumped.is_number() && engine.is_number()) return dumped.get<double>() == engine.get<double>();
  return dumped == engine;
}

// The CSV text of a value: empty for null; a number as the shortest text
// that reads back as the engine's value (std::to_chars), so that no digit
// is lost or invented on the way.
bool SameCsv(const std::string& csv, const json& engine) {
  if (engine.is_null()) return csv.empty();
  if (engine.is_string()) return csv == engine.get<std::string>();
  if (engine.is_boolean()) return csv == (engine.get<bool>() ? "true" : "false");
  if (engine.is_number_integer()) return csv == std::to_string(engine.get<int64_t>());
  char shortest[32];
  const auto r = std::to_chars(shortest, shortest + sizeof shortest, engine.get<double>());
  return csv == std::string(shortest, r.ptr);
}

// Dumps the table at `path` in both formats and expects every value to be
// what the engine reads from the record.
void ExpectDumpMatchesEngine(const std::string& path, size_t recordCount) {
  TDbfFile t;
  t.SetFileName(path);
  t.SetMode(amReadOnly);
  t.Open();
  const TCodePageDecoder text(t.UseCodePage());
  ASSERT_EQ(t.UseCodePage(), 1252);

  const std::string cli = std::string(NORVALE_CLI) + " dump '" + path + "' --deleted --format ";
  const json dumped = json::parse(Capture(cli + "json"));
  const std::vector<std::vector<std::string>> csv = ParseCsv(Capture(cli + "csv"));
  ASSERT_EQ(dumped["records"].size(), recordCount);
  ASSERT_EQ(csv.size(), recordCount + 1);

  std::vector<uint8_t> r(static_cast<size_t>(t.RecordLength()));
  for (uint32_t n = 1; n <= t.RecordCount(); ++n) {
    ASSERT_EQ(t.ReadPage(n, r.data()), t.RecordLength());
    const json& values = dumped["records"][n - 1]["values"];
    const std::vector<std::string>& row = csv[n];
    ASSERT_EQ(row.size(), static_cast<size_t>(t.FieldDefs().Count()) + 1) << "CSV record " << n;
    EXPECT_EQ(row[0], r[0] == '*' ? "true" : "false");
    for (int i = 0; i < t.FieldDefs().Count(); ++i) {
      const TDbfFieldDef& f = t.FieldDefs().Item(i);
      const json expected = EngineValue(t, f, r.data(), text);
      const std::string stored(reinterpret_cast<const char*>(r.data()) + f.Offset(), static_cast<size_t>(f.Size()));
      EXPECT_TRUE(SameValue(values[static_cast<size_t>(i)], expected))
          << "record " << n << " " << f.FieldName() << " stored \"" << stored << "\": JSON "
          << values[static_cast<size_t>(i)] << ", engine " << expected;
      EXPECT_TRUE(SameCsv(row[static_cast<size_t>(i) + 1], expected))
          << "record " << n << " " << f.FieldName() << " stored \"" << stored << "\": CSV \""
          << row[static_cast<size_t>(i) + 1] << "\", engine " << expected;
    }
  }
}

TEST(DumpValues, EveryShapeDumpsAsTheEngineReadsIt) {
  test::TTempDir dir;
  test::TTableImage image;
  image.fields = kFields;
  std::mt19937 rng(20240611);
  // Each shape in turn in every field, then random mixtures, some of them
  // with a field of random bytes.
  for (size_t round = 0; round < 3000; ++round) {
    std::string record(1, round % 9 == 4 ? '*' : ' ');
    for (size_t i = 0; i < kFields.size(); ++i) {
      const std::vector<std::string>& shapes = kShapes[i];
      std::string stored;
      if (round >= 40 && rng() % 25 == 0) {
        for (int k = 0; k < kFields[i].length; ++k) stored += static_cast<char>(rng() % 256);
      } else {
        stored = Place(shapes[round < 40 ? round % shapes.size() : rng() % shapes.size()], kFields[i]);
      }
      record += stored;
    }
    image.records.push_back(record);
  }
  const std::string path = dir.File("shapes.dbf");
  test::WriteFile(path, image.Bytes());

  ExpectDumpMatchesEngine(path, image.records.size());
}

// Short text is scanned and copied 16 bytes at a time. Every length in
// widths around those steps, with a byte that needs care placed first,
// inside or last; the narrowest fields come last in the record, where the
// reads run furthest past it; enough records for several read blocks.
TEST(DumpValues, TextOfEveryLengthInEveryWidth) {
  const std::vector<int> widths = {15, 16, 17, 31, 32, 33, 47, 48, 49, 63, 64, 65, 100, 2, 1};
  // Bytes that are escaped, quoted, decoded through the code page, trimmed
  // or sent to the engine's decoding.
  const std::string special("\"\\,\xE9\x80\x81\xFF\x7F\t\n\r\0 ", 13);
  test::TTempDir dir;
  test::TTableImage image;
  for (size_t i = 0; i < widths.size(); ++i) image.fields.push_back({"T" + std::to_string(i), 'C', widths[i]});
  std::mt19937 rng(7);
  for (int n = 0; n < 6000; ++n) {
    std::string record(1, n % 11 == 3 ? '*' : ' ');
    for (size_t i = 0; i < widths.size(); ++i) {
      const int width = widths[i];
      const size_t length = static_cast<size_t>((n + static_cast<int>(i) * 5) % (width + 1));
      std::string value;
      for (size_t k = 0; k < length; ++k) value += n % 13 == 0 ? '\x80' : static_cast<char>('a' + (n + k) % 26);
      if (length > 0) {
        const char odd = special[static_cast<size_t>(n / (width + 1)) % special.size()];
        const size_t where[] = {0, length / 2, length - 1};
        value[where[rng() % 3]] = odd;
        if (rng() % 4 == 0) value[rng() % length] = special[rng() % special.size()];
      }
      value.resize(static_cast<size_t>(width), ' ');
      record += value;
    }
    image.records.push_back(record);
  }
  const std::string path = dir.File("text.dbf");
  test::WriteFile(path, image.Bytes());
  ExpectDumpMatchesEngine(path, image.records.size());
}

// Stored text of a number in a field of `width` bytes with `decimals`
// places: mostly well-formed, with runs of zeros that make the shortest
// form of the value an exponent form, sometimes malformed.
std::string NumberText(std::mt19937& rng, int width, int decimals) {
  static const std::vector<std::string> kOdd = {"",   "-",  ".",   "-.",  "0",   "-0",  "00",  "1e5", "+1",
                                                "1 2", "--1", "1..2", "0.", ".0", "-.5", "1-", " 1 ", "x"};
  std::string text;
  if (rng() % 8 == 0) {
    text = kOdd[rng() % kOdd.size()];
  } else {
    const int room = width - (decimals ? decimals + 1 : 0);
    const int whole = room > 0 ? static_cast<int>(rng() % static_cast<unsigned>(room + 1)) : 0;
    const char* digits = rng() % 3 ? "0123456789" : "0000000001";
    if (rng() % 4 == 0) text = "-";
    for (int k = 0; k < whole; ++k) text += digits[rng() % 10];
    if (decimals) {
      text += '.';
      const int places = rng() % 5 ? decimals : static_cast<int>(rng() % static_cast<unsigned>(decimals + 1));
      for (int k = 0; k < places; ++k) text += digits[rng() % 10];
    }
  }
  text = text.substr(0, static_cast<size_t>(width));
  const std::string pad(static_cast<size_t>(width) - text.size(), ' ');
  return rng() % 10 ? pad + text : text + pad;
}

// Numbers of up to 16 bytes are read 16 bytes at a time, wider ones byte by
// byte: widths on both sides, with a narrow one last in the record.
TEST(DumpValues, NumbersOfEveryWidth) {
  const std::vector<test::TFieldSpec> fields = {
      {"N1", 'N', 1},       {"N2", 'N', 2},       {"N4", 'N', 4},       {"N9", 'N', 9},      {"N10", 'N', 10},
      {"N16", 'N', 16},     {"N17", 'N', 17},     {"D31", 'N', 3, 1},   {"D122", 'N', 12, 2}, {"D164", 'N', 16, 4},
      {"D1614", 'N', 16, 14}, {"F162", 'F', 16, 2}, {"D173", 'N', 17, 3}, {"D205", 'N', 20, 5}, {"D52", 'N', 5, 2},
  };
  test::TTempDir dir;
  test::TTableImage image;
  image.fields = fields;
  std::mt19937 rng(11);
  for (int n = 0; n < 4000; ++n) {
    std::string record(1, ' ');
    for (const test::TFieldSpec& f : fields) record += NumberText(rng, f.length, f.decimals);
    image.records.push_back(record);
  }
  const std::string path = dir.File("numbers.dbf");
  test::WriteFile(path, image.Bytes());
  ExpectDumpMatchesEngine(path, image.records.size());
}

// A value can outgrow the output buffer (control bytes become six bytes
// each in JSON: 360 kB here); it goes out in one piece between the values
// around it, wherever the buffer stands when it comes.
TEST(DumpValues, ValuesLongerThanTheOutputBuffer) {
  test::TTempDir dir;
  test::TTableImage image;
  image.versionByte = 0x30;  // FoxPro, whose text fields may pass 255 bytes
  image.fields = {{"A", 'C', 60000}, {"N", 'N', 5}, {"B", 'C', 3000}, {"T", 'C', 10}};
  for (int n = 0; n < 150; ++n) {
    const std::string a = n % 29 == 5 ? std::string(60000, static_cast<char>(1 + n % 8)) : std::string(60000, ' ');
    const std::string b(static_cast<size_t>(1000 + n * 13), static_cast<char>('a' + n % 26));
    const std::string number = std::to_string(n);
    image.records.push_back(" " + a + std::string(5 - number.size(), ' ') + number + b +
                            std::string(3000 - b.size(), ' ') + "name, \"q\"");
  }
  const std::string path = dir.File("long.dbf");
  test::WriteFile(path, image.Bytes());
  ExpectDumpMatchesEngine(path, image.records.size());
}

}  // namespace
}  // namespace norvale
