#include "app/report/list_report.h"

#include <algorithm>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPagedPaintDevice>

namespace norvale {

namespace {
constexpr double kTitlePoints = 14;
constexpr double kSmallPoints = 8.5;
constexpr double kBodyPoints = 9;
const QChar kEllipsis(0x2026);

// A cell holds one line: a memo shows its first, with "…" when more follows
// so that the reader knows the cell is not all of it.
QString FirstLine(const QString& text) {
  qsizetype end = 0;
  while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r')) ++end;
  QString line = text.left(end);
  if (!text.mid(end).trimmed().isEmpty()) line += kEllipsis;
  for (QChar& c : line)
    if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  return line;
}

bool RightAligned(const TExportColumn& column) {
  return column.kind == TExportKind::Integer || column.kind == TExportKind::Number;
}

// The characters a column's values take when the grid did not say how wide
// it is.
int ValueChars(const TExportColumn& column) {
  switch (column.kind) {
    case TExportKind::Memo: return 30;
    // Numbers get room for the grouping commas.
    case TExportKind::Integer: return column.fieldType == 'I' ? 14 : column.length + column.length / 3;
    case TExportKind::Number: return column.length + column.length / 3;
    case TExportKind::Date: return 10;
    case TExportKind::DateTime: return 19;
    case TExportKind::Time: return 8;
    case TExportKind::Logical: return 5;
    case TExportKind::Binary: return 6;
    case TExportKind::Text: break;
  }
  return column.length;
}
}  // namespace

TReportPages::TReportPages(QPagedPaintDevice& device, const TReportHeading& heading)
    : device_(device), heading_(heading) {}

double TReportPages::PointsX(double points) const { return points * device_.logicalDpiX() / 72.0; }
double TReportPages::PointsY(double points) const { return points * device_.logicalDpiY() / 72.0; }
double TReportPages::Width() const { return device_.width(); }

QFont TReportPages::Font(double points, bool bold) const {
  QFont font = QGuiApplication::font();
  font.setPointSizeF(points);
  font.setBold(bold);
  // Shaped Latin text puts ligature glyphs in the file: "first" is then
  // found, copied and extracted as "ﬁrst". Scripts that need shaping keep it.
  font.setStyleStrategy(QFont::PreferNoShaping);
  return font;
}

void TReportPages::Open() {
  if (!painter_.begin(&device_))
    throw EExportError("Cannot print: the printer or the file to print to could not be opened.");
  titleFont_ = Font(kTitlePoints, true);
  smallFont_ = Font(kSmallPoints, false);
  const QFontMetricsF title(titleFont_, &device_);
  const QFontMetricsF small(smallFont_, &device_);
  contentTop_ = title.height() + PointsY(8);
  contentBottom_ = device_.height() - small.height() - PointsY(6);
  DrawFrame();
}

void TReportPages::NewPage() {
  if (!device_.newPage()) throw EExportError("Cannot print: a new page could not be started.");
  DrawFrame();
}

void TReportPages::Close() {
  if (painter_.isActive() && !painter_.end()) throw EExportError("Cannot print: the pages could not be finished.");
}

void TReportPages::DrawFrame() {
  ++pages_;
  const QFontMetricsF title(titleFont_, &device_);
  const QFontMetricsF small(smallFont_, &device_);
  const double width = Width();
  const double dateWidth = small.horizontalAdvance(heading_.printedOn);
  const double baseline = title.ascent();

  painter_.setPen(Qt::black);
  painter_.setFont(smallFont_);
  painter_.drawText(QPointF(width - dateWidth, baseline), heading_.printedOn);
  painter_.setFont(titleFont_);
  const double titleRoom = std::max(0.0, width - dateWidth - PointsX(12));
  painter_.drawText(QPointF(0, baseline), title.elidedText(heading_.title, Qt::ElideRight, titleRoom));

  painter_.setFont(smallFont_);
  const QString page = QStringLiteral("Page %1").arg(pages_);
  painter_.drawText(QPointF((width - small.horizontalAdvance(page)) / 2, device_.height() - small.descent()), page);
}

TListReport::TListReport(QPagedPaintDevice& device, const TReportHeading& heading) : pages_(device, heading) {}

double TListReport::WidthPixels(const TExportColumn& column) {
  if (column.widthPixels > 0) return column.widthPixels;
  // The title is bold: a character more keeps it whole.
  const int chars = std::max<int>(ValueChars(column), QString::fromStdString(column.name).size() + 1);
  // About the grid's own character width at the screen's usual font.
  return std::clamp(chars, 4, 40) * 7 + 10;
}

double TListReport::NaturalWidthPixels(const std::vector<TExportColumn>& columns) {
  double sum = 0;
  for (const auto& column : columns) sum += WidthPixels(column);
  return sum;
}

// When the columns are wider than the page they are all scaled down by one
// factor rather than carried over to further sheets: a row that reads
// across one sheet can be followed with the eye, one split over several
// cannot. No column goes below `minimum` (a few characters): the wide ones
// give up more so that the narrow ones stay readable; only when even the
// minimums pass the page do all columns share it equally.
std::vector<double> TListReport::FitWidths(std::vector<double> widths, double available, double minimum) {
  double total = 0;
  for (double w : widths) total += w;
  if (widths.empty() || total <= available) return widths;
  if (minimum * widths.size() >= available) {
    std::fill(widths.begin(), widths.end(), available / widths.size());
    return widths;
  }
  std::vector<bool> pinned(widths.size(), false);
  for (;;) {
    double free = available, scalable = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
      if (pinned[i]) {
        free -= minimum;
      } else {
        scalable += widths[i];
      }
    }
    const double factor = free / scalable;
    bool changed = false;
    for (size_t i = 0; i < widths.size(); ++i)
      if (!pinned[i] && widths[i] * factor < minimum) pinned[i] = changed = true;
    if (changed) continue;
    for (size_t i = 0; i < widths.size(); ++i) widths[i] = pinned[i] ? minimum : widths[i] * factor;
    return widths;
  }
}

void TListReport::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  pages_.Open();
  bodyFont_ = pages_.Font(kBodyPoints, false);
  headerFont_ = pages_.Font(kBodyPoints, true);
  const QFontMetricsF body(bodyFont_, &pages_.Device());
  rowHeight_ = body.height() + pages_.PointsY(3);
  padding_ = pages_.PointsX(3);

  std::vector<double> widths;
  const double scale = pages_.Device().logicalDpiX() / 96.0;
  for (const auto& column : columns_) widths.push_back(WidthPixels(column) * scale);
  width_ = FitWidths(std::move(widths), pages_.Width(), body.averageCharWidth() * 4 + 2 * padding_);
  double left = 0;
  left_.clear();
  for (double w : width_) {
    left_.push_back(left);
    left += w;
  }
  DrawHeaderRow();
}

void TListReport::DrawHeaderRow() {
  QPainter& painter = pages_.Painter();
  y_ = pages_.ContentTop();
  painter.setFont(headerFont_);
  for (size_t i = 0; i < columns_.size(); ++i) DrawCell(i, y_, QString::fromStdString(columns_[i].name), true);
  y_ += rowHeight_;
  const double right = left_.empty() ? 0 : left_.back() + width_.back();
  painter.setPen(QPen(Qt::black, pages_.PointsY(0.75)));
  painter.drawLine(QPointF(0, y_), QPointF(right, y_));
  painter.setPen(Qt::black);
  y_ += pages_.PointsY(2);
  painter.setFont(bodyFont_);
}

void TListReport::DrawCell(size_t column, double y, const QString& text, bool header) {
  QPainter& painter = pages_.Painter();
  const double room = std::max(0.0, width_[column] - 2 * padding_);
  const QString shown =
      QFontMetricsF(painter.font(), painter.device()).elidedText(header ? text : FirstLine(text), Qt::ElideRight, room);
  const Qt::Alignment align = RightAligned(columns_[column]) ? Qt::AlignRight : Qt::AlignLeft;
  painter.drawText(QRectF(left_[column] + padding_, y, room, rowHeight_), align | Qt::AlignVCenter | Qt::TextSingleLine,
                   shown);
}

void TListReport::Row(const TExportRow& row) {
  if (!pages_.IsOpen()) throw EExportError("Cannot print: the report was not begun.");
  if (y_ + rowHeight_ > pages_.ContentBottom()) {
    pages_.NewPage();
    DrawHeaderRow();
  }
  for (size_t i = 0; i < columns_.size() && i < row.size(); ++i)
    DrawCell(i, y_, QString::fromStdString(ExportDisplayText(columns_[i], row[i], true)), false);
  y_ += rowHeight_;
}

void TListReport::Finish() { pages_.Close(); }

}  // namespace norvale
