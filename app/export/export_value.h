// What every exporter is given: the columns of the grid that are visible, in
// column order, and the records' values one row at a time. Nothing here knows
// tables or Qt, so each file format is written and tested on its own and the
// same writers serve the viewer and norvale-cli.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace norvale {

// How a column's values are typed, which decides how a format stores them:
// a number cell, a date cell, a boolean, or text.
enum class TExportKind { Text, Memo, Integer, Number, Date, DateTime, Time, Logical, Binary };

struct TExportColumn {
  std::string name;           // the field name, UTF-8
  TExportKind kind = TExportKind::Text;
  char fieldType = 'C';       // the table's type letter: C N F I B Y D T L M G ...
  int length = 0;             // the field's length in the table
  int decimals = 0;           // digits after the point for N, F, B and Y fields
  int widthPixels = 0;        // the grid column's width; 0 when not known
};

struct TExportValue {
  bool null = false;
  // Text and Memo: the value, UTF-8, trailing blanks of the stored field
  // already cut. Number kinds: the plain form, "-1234.50" (as many decimals
  // as the field has, no grouping). Date: "YYYY-MM-DD"; DateTime:
  // "YYYY-MM-DD HH:MM:SS"; Time: "HH:MM:SS"; Logical: "T" or "F";
  // Binary: empty (exporters write binary values as empty).
  std::string text;
  double number = 0;           // Integer and Number kinds
  int64_t integer = 0;         // Integer kind: exact, for values past 2^53
  int year = 0, month = 0, day = 0;           // Date and DateTime
  int hour = 0, minute = 0, second = 0, millisecond = 0;  // DateTime and Time
  bool logical = false;        // Logical
};

using TExportRow = std::vector<TExportValue>;

// A write failure, a format limit reached, a value a format cannot hold: the
// message says which and is shown to the person as it stands.
class EExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The settings the viewer gives the exporters; norvale-cli gives the same.
struct TExportSettings {
  bool titleLine = false;      // a first line of column names (CSV and HTML have one)
  std::string title;           // the table's name: a document's or sheet's caption
  char separator = ',';        // CSV
  char quote = '"';            // CSV and text
  // XML tags
  std::string recordsTag = "RECORDS", recordTag = "RECORD", rowTag = "ROW", paramsTag = "PARAMS";
};

// One file being written. Begin once, Row for every record, Finish once; a
// writer that is destroyed without Finish leaves a file that the caller
// deletes. Every method raises EExportError with the reason on failure.
class TExportWriter {
 public:
  virtual ~TExportWriter() = default;
  virtual void Begin(const std::vector<TExportColumn>& columns) = 0;
  virtual void Row(const TExportRow& row) = 0;
  virtual void Finish() = 0;
  // Said to the person after a successful export: characters the format's
  // encoding lacks and how they were written, a second sheet begun, ...
  const std::vector<std::string>& Warnings() const { return warnings_; }
  // Files written beside the path, as extensions (".fpt"): they are renamed
  // along with it.
  virtual std::vector<std::string> CompanionExtensions() const { return {}; }

 protected:
  std::vector<std::string> warnings_;
};

// The text forms every exporter shares, whatever the user's locale:
// day/month/year dates with four-digit years, ":" between time parts, "."
// as decimal point, "True"/"False".
std::string ExportDateText(const TExportValue& v);          // "31/12/1999"
// The same into `out` (room for 16 characters); returns its length.
size_t ExportDateChars(const TExportValue& v, char* out);
std::string ExportDateTimeText(const TExportValue& v);      // "31/12/1999 23:59:58"
std::string ExportTimeText(const TExportValue& v);          // "23:59:58"
std::string ExportLogicalText(const TExportValue& v);       // "True" / "False"
// ISO forms for formats that are read by machines: "1999-12-31", and
// "23:59:58" with ".mmm" when there are milliseconds.
std::string ExportIsoDate(const TExportValue& v);
std::string ExportIsoTime(const TExportValue& v);
// The spreadsheet day number of a valid date (days since 30 December 1899,
// as Excel and 1-2-3 count), or -1; and a time of day as a fraction of one.
int64_t ExportDaySerial(const TExportValue& v);
double ExportDayFraction(const TExportValue& v);
// A whole number as a double, when the double is exactly that number.
bool ExportExactDouble(int64_t value, double& out);
// `v.text` of a number with "," between groups of thousands: "-1,234.50".
std::string ExportGroupedNumber(const std::string& plain);
// A value as a person reads it in a document; numbers grouped when `grouped`.
std::string ExportDisplayText(const TExportColumn& column, const TExportValue& v, bool grouped);

}  // namespace norvale
