// Tables made through CreateStructure with every field type a level holds,
// filled through the engine's own encoders, and the values read back as
// text: shared by the creation tests and the independent-reader tests.
//
// Values are text in one canonical form per type, std::nullopt for none:
//   C, M, G, B (blob)  the bytes themselves
//   N, F, O, B (Fox)   the shortest text of the double ("1234.5", "-0.25");
//                      N without decimals as an integer
//   I, +               decimal integer
//   D                  YYYY-MM-DD
//   T, @               YYYY-MM-DD HH:MM:SS.mmm
//   L                  T or F
//   Y                  fixed with four decimals ("-12.3400")
#pragma once

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/date_time.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"

namespace norvale::test {

using TValue = std::optional<std::string>;
using TRow = std::vector<TValue>;

struct TColumn {
  std::string name;
  char type;
  int size;  // 0: the type's own size
  int decimals = 0;
  bool nullable = false;  // FoxPro only
};

struct TCreatedTable {
  int level;
  std::vector<TColumn> columns;
  std::vector<TRow> rows;
};

// Keeps test names and failure lines short.
inline void PrintTo(const TCreatedTable& t, std::ostream* os) { *os << "level " << t.level; }

inline TXBaseVersion VersionOf(int level) { return VersionOfTableLevel(level); }

// Builds the definitions the way a caller of CreateStructure does.
inline void BuildDefs(TDbfFieldDefs& defs, const std::vector<TColumn>& columns) {
  for (const TColumn& c : columns) {
    TDbfFieldDef& def = defs.Add();
    def.SetFieldName(c.name);
    def.SetNativeFieldType(c.type);
    if (c.size > 0) def.SetSize(c.size);
    def.SetPrecision(c.decimals);
    if (c.nullable) def.SetNullPosition(0);
  }
}

// Whether the field's value lives in the memo file.
inline bool HoldsMemo(const TDbfFieldDef& f, TXBaseVersion version) {
  const char t = f.NativeFieldType();
  return t == 'M' || t == 'G' || (t == 'B' && version != xFoxPro);
}

inline TFieldType RequestFor(const TDbfFieldDef& f, TXBaseVersion version) {
  switch (f.NativeFieldType()) {
    case 'C': return ftString;
    case 'N':
    case 'F': return f.Precision() > 0 ? ftFloat : ftLargeint;
    case 'D': return ftDate;
    case 'L': return ftBoolean;
    case 'M':
    case 'G': return ftInteger;
    case 'B': return version == xFoxPro ? ftFloat : ftInteger;
    case 'O': return ftFloat;
    case 'I':
    case '+': return ftInteger;
    case '@':
    case 'T': return ftDateTime;
    case 'Y': return ftBCD;
    default: return ftUnknown;
  }
}

inline TDateTime ParseDateTime(const std::string& text) {
  TDateParts p;
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &p.year, &p.month, &p.day, &p.hour, &p.minute, &p.second,
              &p.millisecond);
  TDateTime value = 0;
  if (!EncodeDateTime(p, &value)) throw Exception("bad date in a test table: " + text);
  return value;
}

inline int64_t ParseCurrency(const std::string& text) {
  const bool negative = text[0] == '-';
  const size_t dot = text.find('.');
  const int64_t units = std::llabs(std::stoll(text.substr(0, dot)));
  std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
  frac.resize(4, '0');
  const int64_t v = units * 10000 + std::stoll(frac);
  return negative ? -v : v;
}

// Encodes `value` into `record`; memo values are written to the memo file
// first. Autoincrement fields are left to the append.
inline void PutValue(TDbfFile& table, const TDbfFieldDef& f, uint8_t* record, const TValue& value) {
  const TXBaseVersion version = table.Version();
  const TFieldType request = RequestFor(f, version);
  if (f.NativeFieldType() == '+') return;
  if (!value) {
    table.EncodeField(f, request, false, record, nullptr);
    return;
  }
  const std::string& v = *value;
  if (HoldsMemo(f, version)) {
    const int32_t block = static_cast<int32_t>(table.MemoFile()->WriteMemo(0, 0, v));
    table.EncodeField(f, ftInteger, false, record, &block);
    return;
  }
  switch (request) {
    case ftString: table.EncodeField(f, request, false, record, v.c_str()); break;
    case ftFloat: {
      const double d = std::strtod(v.c_str(), nullptr);
      table.EncodeField(f, request, false, record, &d);
      break;
    }
    case ftLargeint: {
      const int64_t i = std::stoll(v);
      table.EncodeField(f, request, false, record, &i);
      break;
    }
    case ftInteger: {
      const int32_t i = std::stoi(v);
      table.EncodeField(f, request, false, record, &i);
      break;
    }
    case ftBoolean: {
      const int16_t b = v == "T" ? 1 : 0;
      table.EncodeField(f, request, false, record, &b);
      break;
    }
    case ftDate:
    case ftDateTime: {
      const TDateTime d = ParseDateTime(v);
      table.EncodeField(f, request, false, record, &d);
      break;
    }
    case ftBCD: {
      const int64_t c = ParseCurrency(v);
      table.EncodeField(f, request, false, record, &c);
      break;
    }
    default: throw Exception("no test encoding for field " + f.FieldName());
  }
}

inline std::string ShortestText(double d) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, d);
  return std::string(text, r.ptr);
}

inline TValue GetValue(TDbfFile& table, const TDbfFieldDef& f, const uint8_t* record) {
  const TXBaseVersion version = table.Version();
  const TFieldType request = RequestFor(f, version);
  if (!table.DecodeField(f, request, false, nullptr, record)) return std::nullopt;
  std::vector<uint8_t> buffer(static_cast<size_t>(f.Size()) + 16, 0);
  void* dst = buffer.data();
  table.DecodeField(f, request, false, dst, record);
  if (HoldsMemo(f, version)) {
    int32_t block;
    std::memcpy(&block, dst, sizeof block);
    std::string text;
    table.MemoFile()->ReadMemo(block, text);
    return text;
  }
  char text[64];
  switch (request) {
    case ftString: return std::string(reinterpret_cast<const char*>(dst));
    case ftFloat: {
      double d;
      std::memcpy(&d, dst, sizeof d);
      return ShortestText(d);
    }
    case ftLargeint: {
      int64_t i;
      std::memcpy(&i, dst, sizeof i);
      return std::to_string(i);
    }
    case ftInteger: {
      int32_t i;
      std::memcpy(&i, dst, sizeof i);
      return std::to_string(i);
    }
    case ftBoolean: {
      int16_t b;
      std::memcpy(&b, dst, sizeof b);
      return b ? "T" : "F";
    }
    case ftDate:
    case ftDateTime: {
      TDateTime d;
      std::memcpy(&d, dst, sizeof d);
      const TDateParts p = DecodeDateTime(d);
      if (request == ftDate) std::snprintf(text, sizeof text, "%04d-%02d-%02d", p.year, p.month, p.day);
      else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
                      p.minute, p.second, p.millisecond);
      return std::string(text);
    }
    case ftBCD: {
      int64_t c;
      std::memcpy(&c, dst, sizeof c);
      const uint64_t magnitude = c < 0 ? 0 - static_cast<uint64_t>(c) : static_cast<uint64_t>(c);
      std::snprintf(text, sizeof text, "%s%" PRIu64 ".%04" PRIu64, c < 0 ? "-" : "", magnitude / 10000,
                    magnitude % 10000);
      return std::string(text);
    }
    default: return std::nullopt;
  }
}

// Creates `path` at the table's level and appends its rows.
inline void WriteCreatedTable(const std::string& path, const TCreatedTable& t, uint8_t languageId = 0,
                              int memoBlockSize = 512) {
  TDbfFieldDefs defs(VersionOf(t.level));
  BuildDefs(defs, t.columns);
  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amExclusiveCreate);
  table.SetCreateVersion(VersionOf(t.level));
  table.SetCreateLanguageId(languageId);
  table.Open();
  table.CreateStructure(defs, memoBlockSize);
  std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
  for (const TRow& row : t.rows) {
    table.BlankRecord(record.data());
    for (size_t i = 0; i < t.columns.size(); ++i)
      PutValue(table, table.FieldDefs().Item(static_cast<int>(i)), record.data(), row.at(i));
    table.AppendRecord(record.data());
  }
  table.Close();
}

// Every live record's values, the user fields only (no _NULLFLAGS).
inline std::vector<TRow> ReadRows(TDbfFile& table) {
  std::vector<TRow> rows;
  std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
  for (int64_t n = 1; n <= int64_t(table.RecordCount()) && table.ReadRecord(n, record.data()); ++n) {
    TRow row;
    for (int i = 0; i < table.FieldDefs().Count(); ++i) {
      const TDbfFieldDef& f = table.FieldDefs().Item(i);
      if (&f == table.NullFlagsField()) continue;
      row.push_back(GetValue(table, f, record.data()));
    }
    rows.push_back(row);
  }
  return rows;
}

inline std::string LongText(int length, const std::string& seed) {
  std::string text;
  while (static_cast<int>(text.size()) < length) text += seed + " " + std::to_string(text.size()) + "\r\n";
  text.resize(static_cast<size_t>(length));
  return text;
}

// Printable text without blanks, so that no trailing blank is trimmed.
inline std::string Pattern(int length) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string text;
  for (int i = 0; i < length; ++i) text += kChars[i % 36];
  return text;
}

// The four levels with every field type each one holds. The memo values
// span blocks; the binary ones hold NUL and high bytes.
inline std::vector<TCreatedTable> EveryTypeTables() {
  const std::string longMemo = LongText(1500, "memo line");
  const std::string binary = std::string("\x00\x01\xFF\x1A\x1A\x7F", 6) + "binary";
  std::vector<TCreatedTable> tables;
  for (const int level : {3, 4}) {
    tables.push_back({level,
                      {{"NAME", 'C', 20}, {"AMOUNT", 'N', 12, 2}, {"QTY", 'N', 7}, {"RATE", 'F', 10, 4},
                       {"BORN", 'D', 0}, {"ACTIVE", 'L', 0}, {"NOTE", 'M', 0}},
                      {{"Ann", "1234.5", "42", "0.125", "2024-02-29", "T", "short memo"},
                       {"Bob Builder", "-0.25", "-123456", "-99.5", "1901-01-01", "F", longMemo},
                       {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                        std::nullopt}}});
  }
  tables.push_back({7,
                    {{"NAME", 'C', 40},
                     {"AMOUNT", 'N', 12, 2},
                     {"RATE", 'F', 14, 5},
                     {"BORN", 'D', 0},
                     {"ACTIVE", 'L', 0},
                     {"NOTE", 'M', 0},
                     {"PICTURE", 'B', 0},
                     {"OLEOBJ", 'G', 0},
                     {"RATIO", 'O', 0},
                     {"COUNTER", 'I', 0},
                     {"ID", '+', 0},
                     {"STAMP", '@', 0}},
                    {{"Ann", "1234.5", "0.125", "2024-02-29", "T", "short memo", binary, "ole", "3.25", "-7", "1",
                      "2024-02-29 13:45:10.250"},
                     {"Bob Builder", "-0.25", "-99.5", "1901-01-01", "F", longMemo, longMemo, binary, "-1e-05",
                      "2147483647", "2", "1999-12-31 23:59:59.000"},
                     {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, std::nullopt, std::nullopt, std::nullopt, "3", std::nullopt}}});
  tables.push_back({25,
                    {{"NAME", 'C', 300},
                     {"AMOUNT", 'N', 12, 2},
                     {"RATE", 'F', 12, 4},
                     {"BORN", 'D', 0},
                     {"ACTIVE", 'L', 0},
                     {"NOTE", 'M', 0},
                     {"PRICE", 'Y', 0, 4},
                     {"WHEN", 'T', 0},
                     {"COUNTER", 'I', 0},
                     {"WEIGHT", 'B', 8},
                     {"OLEOBJ", 'G', 0},
                     {"ID", '+', 0}},
                    {{Pattern(300), "1234.5", "0.125", "2024-02-29", "T", "short memo", "19.99",
                      "2024-02-29 13:45:10.250", "-7", "3.25", "ole", "1"},
                     {"Bob Builder", "-0.25", "-99.5", "1901-01-01", "F", longMemo, "-12.3456",
                      "1999-12-31 23:59:59.000", "2147483647", "-1e-05", binary, "2"},
                     {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "0.0000",
                      std::nullopt, "0", "0", std::nullopt, "3"}}});
  // Values in the canonical forms GetValue gives.
  for (TCreatedTable& t : tables)
    for (size_t i = 0; i < t.columns.size(); ++i)
      if (t.columns[i].type == 'Y')
        for (TRow& row : t.rows)
          if (row[i] && row[i]->find('.') != std::string::npos) {
            std::string& v = *row[i];
            v.resize(v.find('.') + 5, '0');
          }
  return tables;
}

}  // namespace norvale::test
