#include "app/export/pdf_writer.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPdfWriter>

#include "app/report/list_report.h"

namespace norvale {

namespace {
constexpr double kMarginMillimetres = 15;
constexpr double kA4WidthMillimetres = 210;
}  // namespace

TPdfWriter::TPdfWriter(const std::string& path, const TExportSettings& settings) : path_(path), settings_(settings) {}

TPdfWriter::~TPdfWriter() = default;

void TPdfWriter::Begin(const std::vector<TExportColumn>& columns) {
  // Fonts are found through the display services; without them QPdfWriter
  // has nothing to draw text with.
  if (!QGuiApplication::instance())
    throw EExportError("Cannot write a PDF file without the program's display services.");
  const QString path = QString::fromStdString(path_);
  QString title = QString::fromStdString(settings_.title);
  if (title.isEmpty()) title = QFileInfo(path).completeBaseName();

  pdf_ = std::make_unique<QPdfWriter>(path);
  pdf_->setTitle(title);
  pdf_->setCreator(QStringLiteral("Norvale"));
  const double portraitPixels = (kA4WidthMillimetres - 2 * kMarginMillimetres) / 25.4 * 96;
  const auto orientation =
      TListReport::NaturalWidthPixels(columns) > portraitPixels ? QPageLayout::Landscape : QPageLayout::Portrait;
  const QMarginsF margins(kMarginMillimetres, kMarginMillimetres, kMarginMillimetres, kMarginMillimetres);
  if (!pdf_->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), orientation, margins, QPageLayout::Millimeter)))
    throw EExportError("Cannot lay out A4 pages for the PDF file.");

  const TReportHeading heading{title, QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"))};
  report_ = std::make_unique<TListReport>(*pdf_, heading);
  try {
    report_->Begin(columns);
  } catch (const EExportError&) {
    throw EExportError("Cannot write the PDF file " + path_ + ": it could not be created.");
  }
}

void TPdfWriter::Row(const TExportRow& row) {
  if (!report_) throw EExportError("Cannot write the PDF file " + path_ + ": it was not begun.");
  report_->Row(row);
}

void TPdfWriter::Finish() {
  if (!report_) throw EExportError("Cannot write the PDF file " + path_ + ": it was not begun.");
  report_->Finish();
  pages_ = report_->Pages();
  report_.reset();
  pdf_.reset();
  // QPdfWriter writes the file as the painter ends and does not say when a
  // write failed, so the file itself is the proof.
  QFile file(QString::fromStdString(path_));
  if (!file.open(QIODevice::ReadOnly) || !file.read(5).startsWith("%PDF-") || file.size() < 64)
    throw EExportError("Cannot write the PDF file " + path_ + ": the file was not written in full.");
  file.seek(file.size() - 16);
  if (!file.read(16).contains("%%EOF"))
    throw EExportError("Cannot write the PDF file " + path_ + ": the file was not written in full.");
}

}  // namespace norvale
