// The record report: one block per record, each field's name with its value
// under it, field after field down the page, the layout the program has
// always printed single records in. Memos are printed whole, wrapped to the
// page's width and carried on to the next page when they are longer than
// what is left of this one.
#pragma once

#include <vector>

#include <QFont>
#include <QString>

#include "app/report/list_report.h"

namespace norvale {

class TRecordReport : public TExportWriter {
 public:
  TRecordReport(QPagedPaintDevice& device, const TReportHeading& heading);

  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;
  int Pages() const { return pages_.Pages(); }

 private:
  // `text` broken into the lines it takes across the page.
  std::vector<QString> Wrap(const QString& text) const;
  void DrawLabel(const TExportColumn& column, double top, bool continued);
  void NewPage();

  TReportPages pages_;
  std::vector<TExportColumn> columns_;
  QFont labelFont_, valueFont_;
  double y_ = 0;
  bool pageEmpty_ = true;  // no record drawn on this page yet
};

}  // namespace norvale
