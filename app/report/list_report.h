// The list report: the records as rows under a header of column names, the
// way desktop database programs print a table. It takes the records through
// the exporters' protocol, so printing, print preview and Export to PDF walk
// the table the same way, and it draws each row as it comes: a report of a
// million records holds no more than one row at a time.
#pragma once

#include <vector>

#include <QFont>
#include <QPainter>
#include <QString>

#include "app/export/export_value.h"

class QPagedPaintDevice;

namespace norvale {

struct TReportHeading {
  QString title;
  QString printedOn;  // e.g. "09/12/2026 14:03", as the caller formats it
};

// The frame both reports share: the title at top left, the time of printing
// at top right and "Page N" centred at the foot of every page, and the
// conversion of points to the device's own units. Only the page number is
// known at the foot, not the count of pages, since that would take a second
// walk over the records.
class TReportPages {
 public:
  TReportPages(QPagedPaintDevice& device, const TReportHeading& heading);

  // Begins the painter and draws the first page's frame.
  void Open();
  // Draws the next page's frame; the content starts again at ContentTop().
  void NewPage();
  void Close();
  bool IsOpen() const { return painter_.isActive(); }

  QPainter& Painter() { return painter_; }
  QPagedPaintDevice& Device() const { return device_; }
  double PointsX(double points) const;
  double PointsY(double points) const;
  double Width() const;
  double ContentTop() const { return contentTop_; }
  double ContentBottom() const { return contentBottom_; }
  int Pages() const { return pages_; }
  // A font of the program's family at `points`, for drawing on this device.
  QFont Font(double points, bool bold) const;

 private:
  void DrawFrame();

  QPagedPaintDevice& device_;
  TReportHeading heading_;
  QPainter painter_;
  QFont titleFont_, smallFont_;
  double contentTop_ = 0, contentBottom_ = 0;
  int pages_ = 0;
};

class TListReport : public TExportWriter {
 public:
  TListReport(QPagedPaintDevice& device, const TReportHeading& heading);

  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;
  int Pages() const { return pages_.Pages(); }

  // A column's width in screen pixels (96 dpi): the grid's when known,
  // otherwise one from the field's length.
  static double WidthPixels(const TExportColumn& column);
  // The columns' widths side by side, in screen pixels: what decides
  // whether a page is turned sideways.
  static double NaturalWidthPixels(const std::vector<TExportColumn>& columns);
  // Widths in device units for `available` across: as they are when they
  // fit, otherwise scaled down together (see the .cpp).
  static std::vector<double> FitWidths(std::vector<double> widths, double available, double minimum);

 private:
  void DrawHeaderRow();
  void DrawCell(size_t column, double y, const QString& text, bool header);

  TReportPages pages_;
  std::vector<TExportColumn> columns_;
  std::vector<double> left_, width_;
  QFont bodyFont_, headerFont_;
  double rowHeight_ = 0, padding_ = 0, y_ = 0;
};

}  // namespace norvale
