// Exports the records a table object visits, in its order and under its
// filter, into any of the file types the viewer and norvale-cli offer.
//
// The file is written under a temporary name beside the target and takes the
// target's name only once complete, so a failure or a cancel leaves what was
// there before; and no export may name one of the source table's own files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/export/export_value.h"

namespace norvale {

class TDbfTable;
class TField;

enum class TExportFormat { Txt, Pdf, Xls, Rtf, Wks, Xml, Html, Dbf, Csv, Xlsx, Json, Sqlite, Pgsql };

struct TExportFormatInfo {
  TExportFormat format;
  const char* name;       // norvale-cli's --format
  const char* filter;     // the save dialog's type, "Text (TXT)|*.TXT"
  const char* extension;  // without the dot, lower case
};

// The export dialog's nine types in their order, then the newer ones.
const std::vector<TExportFormatInfo>& ExportFormats();
const TExportFormatInfo* ExportFormatNamed(std::string_view name);
const TExportFormatInfo& ExportFormatInfo(TExportFormat format);

// The settings the viewer hands each type: a title line for CSV and HTML,
// only text quoted in plain text, the XML tags.
TExportSettings ExportSettingsFor(TExportFormat format, const std::string& title);

// A writer of `format` on `path`. `codePage` is the code page of a DBF the
// export writes (the source table's).
std::unique_ptr<TExportWriter> MakeExportWriter(TExportFormat format, const std::string& path,
                                                const TExportSettings& settings, int codePage);

// Reads the chosen fields of a table object's current record as export values.
class TExportReader {
 public:
  // `widths` holds the grid column widths in pixels beside `fields` (may be
  // shorter or empty).
  TExportReader(TDbfTable& table, const std::vector<std::string>& fields, const std::vector<int>& widths = {});
  const std::vector<TExportColumn>& Columns() const { return columns_; }
  void Read(TExportRow& row);
  // The value of column `i` alone.
  void ReadValue(size_t i, TExportValue& value);
  // The table's field behind each column.
  const std::vector<TField*>& Fields() const { return fields_; }

 private:
  std::vector<TField*> fields_;
  std::vector<TExportColumn> columns_;
  std::string text_;
};

// The file of `table` (the table, its memo file, an open index file) that
// `path` names, empty when it names none of them.
std::string OwnFileOf(TDbfTable& table, const std::string& path);

struct TExportJob {
  TExportFormat format = TExportFormat::Csv;
  std::string path;
  std::string title;
  std::vector<std::string> fields;  // empty: every field
  std::vector<int> widths;
  // Called after each record with the records done and the table's record
  // count; may raise (a Cancel) to stop the export.
  std::function<void(int64_t done, int64_t total)> progress;
};

struct TExportResult {
  int64_t rows = 0;
  std::vector<std::string> warnings;
};

// Writes every record `walker` visits from its first one. Raises
// EExportError (or what the table raises) with the reason; nothing of the
// new file stays then, and a file that was there keeps its bytes.
TExportResult RunExport(TDbfTable& walker, const TExportJob& job);

}  // namespace norvale
