// Export to an Excel 97-2003 workbook (.xls): the BIFF8 workbook stream in
// an OLE2 compound file, written without any library.
//
// Rows arrive one at a time and may number millions, so the cell records of
// the sheets and the shared-string table each go to a temporary file beside
// the output as they are made; Finish writes the compound file around them.
// Memory stays bounded whatever the row count: only the look-up that lets
// repeated short texts share one string is kept, and that only up to a cap.
//
// What the format cannot hold is said in Warnings(), never dropped quietly:
// a sheet holds 65,536 rows, so longer exports continue on further sheets
// ("Sheet2", or the title followed by " (2)"); a cell holds 32,767
// characters, so longer memo text is cut there; dates before 1 March 1900
// (where Excel's calendar counts a 29 February 1900 that never was) and
// whole numbers a double cannot hold exactly are written as text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/export/export_value.h"

namespace norvale {

class TXlsWriter : public TExportWriter {
 public:
  static constexpr int kMaxColumns = 256;
  static constexpr int kMaxRows = 65536;        // per sheet, column names included
  static constexpr int kMaxTextLength = 32767;  // UTF-16 units in one cell

  TXlsWriter(const std::string& path, const TExportSettings& settings);
  ~TXlsWriter() override;

  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

 private:
  class TSpillFile;
  class TSharedStrings;

  struct TSheet {
    std::u16string name;
    uint64_t start = 0;       // where its BOF is in the cell spill file
    uint64_t dimensions = 0;  // where its DIMENSIONS record is, patched at its end
    int rows = 0;
  };

  void StartSheet();
  void EndSheet();
  void WriteTitleRow();
  void WriteCell(int row, int col, const TExportColumn& column, const TExportValue& value);
  void WriteText(int row, int col, uint16_t xf, const std::string& utf8);
  void WriteNumber(int row, int col, uint16_t xf, double value);
  std::u16string SheetName(int number) const;
  std::vector<uint8_t> Globals(std::vector<size_t>& sheetOffsetAt) const;
  void WriteCompoundFile(const std::vector<uint8_t>& globals, const std::vector<uint8_t>& tail);

  std::string path_;
  TExportSettings settings_;
  std::vector<TExportColumn> columns_;
  std::vector<uint16_t> columnXf_;   // the cell format of each column's values
  std::vector<int> numberDecimals_;  // decimal counts that have a number format, in format order
  std::unique_ptr<TSpillFile> cells_;
  std::unique_ptr<TSharedStrings> strings_;
  std::vector<TSheet> sheets_;
  bool begun_ = false;
  int64_t cutTexts_ = 0;
  int64_t textDates_ = 0;
  int64_t textNumbers_ = 0;
};

}  // namespace norvale
