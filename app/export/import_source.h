// The rows the import wizard reads into a table: from a CSV file in any
// encoding Qt knows, or from the first sheet of an Excel workbook (.xlsx).
//
// Both read as they go, so a file of gigabytes is never held in memory, and
// both treat the file as untrusted: damaged or hostile input ends in an
// EExportError that says what is wrong and where, never in a crash, a hang
// or memory without bound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/export/export_value.h"

namespace norvale {

struct TImportCell {
  bool empty = true;
  std::string text;  // UTF-8; numbers, dates and booleans of a workbook have their text form here too
  bool isNumber = false;
  double number = 0;
  bool isBool = false;
  bool boolean = false;
  // A workbook's date cell. A time of day on its own has year, month and
  // day 0.
  bool isDate = false;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class TImportSource {
 public:
  virtual ~TImportSource() = default;
  // The header's names, or "Column1", "Column2", ... when there is no header.
  // A blank name is given as "ColumnN" of its place.
  virtual const std::vector<std::string>& ColumnNames() const = 0;
  // The next row: at least as many cells as there are column names (short
  // rows are padded with empty cells; a longer row keeps its extra cells).
  // Rows with no value at all are passed over. False at the end; raises
  // EExportError on bad input.
  virtual bool Next(std::vector<TImportCell>& row) = 0;
  // The 1-based line (CSV: where the record begins) or sheet row of the row
  // Next last gave, for messages.
  virtual int64_t RowNumber() const = 0;
  // 0..1, how far through the file.
  virtual double Progress() const = 0;
};

struct TCsvImportOptions {
  char separator = ',';
  char quote = '"';  // '\0': no quoting
  bool header = true;
  std::string encoding = "UTF-8";  // any name in CsvEncodings(), or another that Qt knows
};

// CSV as RFC 4180 has it: quoted values with doubled quotes, separators
// and line breaks inside quotes, CR LF or LF line ends; a UTF-8 byte order
// mark means UTF-8 whatever the encoding asked for. Every cell is text.
// Lenient where that loses nothing: a quote inside an unquoted value, or
// text after a closing quote, is kept as it stands.
std::unique_ptr<TImportSource> OpenCsvSource(const std::string& path, const TCsvImportOptions& options);

// The first sheet of a workbook; its first row gives the column names.
std::unique_ptr<TImportSource> OpenXlsxSource(const std::string& path);

// The encodings offered in the wizard, those of them this Qt can decode.
std::vector<std::string> CsvEncodings();

}  // namespace norvale
