#include "app/report/record_report.h"

#include <algorithm>

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QTextLayout>

namespace norvale {

namespace {
// In points: each field takes a slot of kSlot from its label's top, with its
// value kValueOffset below the label; a value of more lines than the slot
// holds makes its slot taller.
constexpr double kSlot = 50;
constexpr double kValueOffset = 20;
constexpr double kAfterValue = 6;
constexpr double kBetweenRecords = 12;
constexpr double kLabelPoints = 8;
constexpr double kValuePoints = 10;
}  // namespace

TRecordReport::TRecordReport(QPagedPaintDevice& device, const TReportHeading& heading) : pages_(device, heading) {}

void TRecordReport::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  pages_.Open();
  labelFont_ = pages_.Font(kLabelPoints, true);
  valueFont_ = pages_.Font(kValuePoints, false);
  y_ = pages_.ContentTop();
  pageEmpty_ = true;
}

std::vector<QString> TRecordReport::Wrap(const QString& text) const {
  QString normal = text;
  normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  normal.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  for (QChar& c : normal)
    if (c != QLatin1Char('\n') && c != QLatin1Char('\t') && c.category() == QChar::Other_Control) c = QLatin1Char(' ');

  std::vector<QString> lines;
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  for (const QString& paragraph : normal.split(QLatin1Char('\n'))) {
    if (paragraph.isEmpty()) {
      lines.emplace_back();
      continue;
    }
    QTextLayout layout(paragraph, valueFont_, &pages_.Device());
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(pages_.Width());
      QString part = paragraph.mid(line.textStart(), line.textLength());
      while (!part.isEmpty() && part.back().isSpace()) part.chop(1);
      lines.push_back(part);
    }
    layout.endLayout();
  }
  while (lines.size() > 1 && lines.back().trimmed().isEmpty()) lines.pop_back();
  return lines;
}

void TRecordReport::DrawLabel(const TExportColumn& column, double top, bool continued) {
  QPainter& painter = pages_.Painter();
  QString label = QString::fromStdString(column.name);
  if (continued) label += QStringLiteral(" (continued)");
  painter.setFont(labelFont_);
  painter.setPen(QColor(64, 64, 64));
  painter.drawText(QPointF(0, top + QFontMetricsF(labelFont_, &pages_.Device()).ascent()), label);
  painter.setPen(Qt::black);
  painter.setFont(valueFont_);
}

void TRecordReport::NewPage() {
  pages_.NewPage();
  y_ = pages_.ContentTop();
  pageEmpty_ = true;
}

void TRecordReport::Row(const TExportRow& row) {
  if (!pages_.IsOpen()) throw EExportError("Cannot print: the report was not begun.");
  const QFontMetricsF value(valueFont_, &pages_.Device());
  const double line = value.lineSpacing();
  const double slot = pages_.PointsY(kSlot), offset = pages_.PointsY(kValueOffset);
  const double after = pages_.PointsY(kAfterValue);
  const double bottom = pages_.ContentBottom();

  std::vector<std::vector<QString>> values;
  double height = pages_.PointsY(kBetweenRecords);
  for (size_t i = 0; i < columns_.size(); ++i) {
    const QString text =
        i < row.size() ? QString::fromStdString(ExportDisplayText(columns_[i], row[i], true)) : QString();
    values.push_back(Wrap(text));
    height += std::max(slot, offset + values.back().size() * line + after);
  }
  // A record starts on a fresh page rather than being split, unless it is
  // taller than a page anyway.
  if (!pageEmpty_ && y_ + height > bottom) NewPage();

  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!pageEmpty_ && y_ + offset + line > bottom) NewPage();
    double top = y_;
    DrawLabel(columns_[i], top, false);
    pageEmpty_ = false;
    double lineTop = top + offset;
    for (const QString& text : values[i]) {
      if (lineTop + line > bottom) {
        NewPage();
        top = y_;
        DrawLabel(columns_[i], top, true);
        pageEmpty_ = false;
        lineTop = top + offset;
      }
      pages_.Painter().drawText(QPointF(0, lineTop + value.ascent()), text);
      lineTop += line;
    }
    y_ = std::max(top + slot, lineTop + after);
  }

  const double gap = pages_.PointsY(kBetweenRecords);
  if (y_ + gap <= bottom) {
    QPainter& painter = pages_.Painter();
    painter.setPen(QPen(QColor(160, 160, 160), pages_.PointsY(0.5)));
    const double ruleY = y_ + gap / 3;
    painter.drawLine(QPointF(0, ruleY), QPointF(pages_.Width(), ruleY));
    painter.setPen(Qt::black);
  }
  y_ += gap;
}

void TRecordReport::Finish() { pages_.Close(); }

}  // namespace norvale
