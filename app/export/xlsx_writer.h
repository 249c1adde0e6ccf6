// Export to an Excel workbook (.xlsx) through libxlsxwriter.
//
// Rows are streamed: each one goes to the sheet's temporary file as it comes,
// so a table of millions of records never sits in memory. Numbers are number
// cells grouped by thousands with the field's decimals, dates and date-times
// real date cells, logicals booleans, text and memo strings; a null value
// leaves its cell out. A sheet holds at most 1,048,576 rows; the rest go on
// further sheets, and the person is told.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/export/export_value.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace norvale {

// What Excel holds and no more.
constexpr int64_t kXlsxMaxRows = 1048576;
constexpr int kXlsxMaxColumns = 16384;
constexpr int kXlsxMaxCellChars = 32767;  // UTF-16 units, as Excel counts them

class TXlsxWriter : public TExportWriter {
 public:
  // `rowLimit` is the rows a sheet takes before the next begins; only tests
  // give anything but Excel's own.
  TXlsxWriter(const std::string& path, const TExportSettings& settings, int64_t rowLimit = kXlsxMaxRows);
  ~TXlsxWriter() override;

  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

 private:
  struct TWorkbookFree {
    void operator()(lxw_workbook* workbook) const;
  };

  void AddSheet();
  void WriteTitleLine();
  void WriteCell(int column, const TExportValue& value);
  void WriteText(int column, const std::string& text);
  void WriteDate(int column, const TExportValue& value, bool withTime);
  void Check(int error, const char* what) const;

  std::string path_;
  TExportSettings settings_;
  int64_t rowLimit_;
  std::vector<TExportColumn> columns_;
  std::unique_ptr<lxw_workbook, TWorkbookFree> workbook_;
  lxw_worksheet* sheet_ = nullptr;  // owned by the workbook
  std::string tmpDir_;  // libxlsxwriter keeps a pointer to it
  std::string baseSheetName_;
  int sheetCount_ = 0;
  int64_t sheetRow_ = 0;       // the next row of the current sheet, 0-based
  int64_t sheetBytes_ = 0;     // a rough size of the current sheet's XML
  // One format per column (null for text), and the title line's bold.
  std::vector<lxw_format*> columnFormats_;
  lxw_format* boldFormat_ = nullptr;
  int64_t cutCells_ = 0;
  int64_t textDates_ = 0;
  int64_t textIntegers_ = 0;
  bool begun_ = false;
  bool finished_ = false;
};

}  // namespace norvale
