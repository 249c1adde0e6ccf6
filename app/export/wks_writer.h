// Export to a Lotus 1-2-3 release 1A worksheet (.wks), the oldest binary
// spreadsheet most programs still open.
//
// A worksheet is one sheet of at most 8,192 rows (1-2-3 release 2's grid;
// release 1A itself had 2,048) and 256 columns: an export past either is
// refused with the limit named, never cut short. Text is 8-bit in code page
// 850 (DOS Western European), which is what LibreOffice reads a release 1A
// file as; characters that page lacks become '?'. A label is one line of
// at most 240 bytes with its alignment prefix, so line breaks become
// blanks and longer texts are cut. All of these are counted in Warnings().
//
// The format has no logical cells; logicals are written as the labels
// "True" and "False", as every text export writes them, rather than as 1
// and 0, which read as counts. Dates are day numbers with a date format
// (1-2-3 shares Excel's 1900 day count and ends with 2099, so other dates
// are written as text). Date-times are text: no release 1A format shows a
// time with its date, and LibreOffice rounds such numbers to whole days.
// Numbers are IEEE doubles, read whole by 1-2-3; LibreOffice keeps about
// eight significant digits of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/export/export_value.h"

namespace norvale {

class TWksWriter : public TExportWriter {
 public:
  static constexpr int kMaxColumns = 256;
  static constexpr int kMaxRows = 8192;       // column names included
  static constexpr int kMaxLabelBytes = 240;  // the alignment prefix included
  static constexpr int kCodePage = 850;

  TWksWriter(const std::string& path, const TExportSettings& settings);
  ~TWksWriter() override;

  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

 private:
  struct TCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  void WriteCell(int col, const TExportColumn& column, const TExportValue& value);
  void WriteLabel(int col, const std::string& utf8);
  void WriteNumber(int col, uint8_t format, double value);
  void Put(const void* data, size_t count);
  [[noreturn]] void Fail() const;

  std::string path_;
  TExportSettings settings_;
  std::vector<TExportColumn> columns_;
  std::vector<uint8_t> columnFormat_;
  std::unique_ptr<std::FILE, TCloser> file_;
  int rows_ = 0;  // rows written, column names included
  int64_t cutLabels_ = 0;
  int64_t brokenLabels_ = 0;
  int64_t lossyLabels_ = 0;
  int64_t textDates_ = 0;
  int64_t textNumbers_ = 0;
};

}  // namespace norvale
