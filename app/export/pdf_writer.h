// Export to PDF: the list report, as it prints, written to an A4 file. The
// page is turned sideways when the columns at their grid widths are wider
// than an upright page, so that fewer of them have to be narrowed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/export/export_value.h"

class QPdfWriter;

namespace norvale {

class TListReport;

class TPdfWriter : public TExportWriter {
 public:
  TPdfWriter(const std::string& path, const TExportSettings& settings);
  ~TPdfWriter() override;

  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;
  int Pages() const { return pages_; }

 private:
  std::string path_;
  TExportSettings settings_;
  // Declared before the report, which paints on it, so it outlives it.
  std::unique_ptr<QPdfWriter> pdf_;
  std::unique_ptr<TListReport> report_;
  int pages_ = 0;
};

}  // namespace norvale
