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

  TDbfFile t;
  t.SetFileName(path);
  t.SetMode(amReadOnly);
  t.Open();
  const TCodePageDecoder text(t.UseCodePage());
  ASSERT_EQ(t.UseCodePage(), 1252);

  const std::string cli = std::string(NORVALE_CLI) + " dump '" + path + "' --deleted --format ";
  const json dumped = json::parse(Capture(cli + "json"));
  const std::vector<std::vector<std::string>> csv = ParseCsv(Capture(cli + "csv"));
  ASSERT_EQ(dumped["records"].size(), image.records.size());
  ASSERT_EQ(csv.size(), image.records.size() + 1);

  std::vector<uint8_t> r(static_cast<size_t>(t.RecordLength()));
  for (uint32_t n = 1; n <= t.RecordCount(); ++n) {
    ASSERT_EQ(t.ReadPage(n, r.data()), t.RecordLength());
    const json& values = dumped["records"][n - 1]["values"];
    const std::vector<std::string>& row = csv[n];
    ASSERT_EQ(row.size(), kFields.size() + 1) << "CSV record " << n;
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

}  // namespace
}  // namespace norvale
