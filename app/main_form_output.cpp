// The main window's commands that get data out: Export and the reports,
// printed or previewed.
#include <QDateTime>
#include <QFileInfo>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "app/db_grid.h"
#include "app/dialogs/import_wizard.h"
#include "app/export/table_import.h"
#include "app/export/table_export.h"
#include "app/long_work.h"
#include "app/main_form.h"
#include "app/report/list_report.h"
#include "app/report/record_report.h"
#include "app/table_walk.h"
#include "app/ui_services.h"
#include "app/viewer_table.h"
#include "dataset/dbf_table.h"

namespace norvale {

namespace {
QString Joined(const std::vector<std::string>& lines) {
  QString text;
  for (const std::string& line : lines) text += QLatin1Char('\n') + QString::fromStdString(line);
  return text;
}
}  // namespace

bool TForm1::ShownColumns(std::vector<std::string>& fields, std::vector<int>& widths) const {
  fields.clear();
  widths.clear();
  for (int column : grid_->ColumnsInOrder(true)) {
    fields.push_back(dbf1_->Fields(column).FieldName());
    widths.push_back(grid_->columnWidth(column));
  }
  if (!fields.empty()) return true;
  Ui().ShowError(const_cast<TForm1*>(this), QStringLiteral("No visible columns to export."));
  return false;
}

QString TForm1::ReportTitle() const {
  return QFileInfo(QString::fromStdString(dbf1_->TableName())).completeBaseName();
}

void TForm1::ExportCommand() {
  RequireOpen();
  QStringList types;
  // The dialog offers the nine types it always has, in their order.
  for (size_t i = 0; i < 9; ++i) types << QString::fromUtf8(ExportFormats()[i].filter);
  int type = 0;
  QString path = Ui().ChooseSaveFileType(this, types.join(QLatin1Char('|')), type);
  if (path.isEmpty()) return;
  if (type < 1 || type > 9) {
    Ui().ShowError(this, QStringLiteral("File type not selected"));
    return;
  }
  const TExportFormatInfo& info = ExportFormats()[static_cast<size_t>(type - 1)];
  if (QFileInfo(path).suffix().isEmpty()) path += QLatin1Char('.') + QString::fromUtf8(info.extension);
  TExportJob job;
  if (!ShownColumns(job.fields, job.widths)) return;
  job.format = info.format;
  job.path = path.toStdString();
  job.title = ReportTitle().toStdString();
  dbf1_->CheckBrowseMode();
  TExportResult result;
  {
    TLongWork work(this, QStringLiteral("Writing %1 ...").arg(QFileInfo(path).fileName()), 0);
    std::unique_ptr<TDbfTable> walker = OpenWalker(*dbf1_);
    job.progress = [&work](int64_t done, int64_t total) { work.Progress(done, total); };
    result = RunExport(*walker, job);
  }
  Ui().ShowMessage(this, QStringLiteral("Export Complete") + Joined(result.warnings));
}

void TForm1::ImportCommand() {
  RequireOpen();
  if (dbf1_->ReadOnly()) {
    Ui().ShowError(this, QStringLiteral("The table is open read-only; nothing can be imported into it."));
    return;
  }
  if (!importWizard_) importWizard_ = new TImportWizard(this);
  std::vector<std::string> fields;
  for (int i = 0; i < dbf1_->FieldCount(); ++i) fields.push_back(dbf1_->Fields(i).FieldName());
  importWizard_->Prepare(fields);
  if (Ui().ExecDialog(*importWizard_) != QDialog::Accepted) return;
  const std::vector<int> mapping = importWizard_->Mapping();
  const QString sourceName = QFileInfo(QString::fromStdString(importWizard_->SourcePath())).fileName();
  dbf1_->CheckBrowseMode();

  // The first pass reads through a twin of the table: nothing is written,
  // and the grid stays where it is.
  TImportCheck check;
  {
    TLongWork work(this, QStringLiteral("Checking %1 ...").arg(sourceName), 1000);
    std::unique_ptr<TDbfTable> walker = OpenWalker(*dbf1_);
    std::unique_ptr<TImportSource> source = importWizard_->OpenSource();
    check = CheckImport(*walker, *source, mapping,
                        [&work](double fraction) { work.Progress(static_cast<int64_t>(fraction * 1000)); });
  }
  if (check.rejectedRows > 0) {
    Ui().ShowError(this, QStringLiteral("%1 of %2 rows would be rejected; nothing was imported.\n")
                             .arg(check.rejectedRows)
                             .arg(check.rows) +
                             QString::fromStdString(check.Describe()));
    return;
  }
  if (check.rows == 0) {
    Ui().ShowMessage(this, QStringLiteral("%1 holds no rows to import.").arg(sourceName));
    return;
  }
  int64_t appended = 0;
  const bool done = WithExclusiveTable(
      [&] {
        TImportTarget target;
        target.table = dbf1_->PhysicalTableName();
        target.indexFiles = OpenIndexFileNames();
        target.codePage = dbf1_->CodePage();
        // The rows go into a copy that replaces the table's files, which
        // are let go of first.
        dbf1_->Close();
        TLongWork work(this, QStringLiteral("Importing %1 ...").arg(sourceName), 1000);
        std::unique_ptr<TImportSource> source = importWizard_->OpenSource();
        appended = AppendImport(target, *source, mapping,
                                [&work](double fraction) { work.Progress(static_cast<int64_t>(fraction * 1000)); });
      },
      false);
  if (done) Ui().ShowMessage(this, QStringLiteral("%1 records imported.").arg(appended));
}

void TForm1::PaintReport(QPrinter& printer, bool currentRecordOnly) {
  std::vector<std::string> fields;
  std::vector<int> widths;
  if (!ShownColumns(fields, widths)) return;
  dbf1_->CheckBrowseMode();
  TReportHeading heading;
  heading.title = ReportTitle();
  heading.printedOn = QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm"));
  TExportRow row;
  if (currentRecordOnly) {
    TRecordReport report(printer, heading);
    TExportReader reader(*dbf1_, fields, widths);
    report.Begin(reader.Columns());
    reader.Read(row);
    report.Row(row);
    report.Finish();
    return;
  }
  TLongWork work(this, QStringLiteral("Printing %1 ...").arg(heading.title), 0);
  std::unique_ptr<TDbfTable> walker = OpenWalker(*dbf1_);
  TListReport report(printer, heading);
  TExportReader reader(*walker, fields, widths);
  report.Begin(reader.Columns());
  WalkVisible(*walker, work, [&] {
    reader.Read(row);
    report.Row(row);
  });
  report.Finish();
}

namespace {
// A grid report whose columns are wider than a portrait page is laid
// across the page, as the PDF export lays it.
void ChooseOrientation(QPrinter& printer, TDbfTable& table, const std::vector<std::string>& fields,
                       const std::vector<int>& widths) {
  TExportReader reader(table, fields, widths);
  printer.setPageOrientation(QPageLayout::Portrait);
  const double portrait = printer.pageLayout().paintRect(QPageLayout::Inch).width() * 96;
  if (TListReport::NaturalWidthPixels(reader.Columns()) > portrait) printer.setPageOrientation(QPageLayout::Landscape);
}
}  // namespace

void TForm1::PrintCommand() {
  RequireOpen();
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(ReportTitle());
  std::vector<std::string> fields;
  std::vector<int> widths;
  if (!ShownColumns(fields, widths)) return;
  ChooseOrientation(printer, *dbf1_, fields, widths);
  if (!Ui().SetUpPrinter(this, printer)) return;
  PaintReport(printer, false);
}

void TForm1::ShowPreview(bool currentRecordOnly) {
  RequireOpen();
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(ReportTitle());
  std::vector<std::string> fields;
  std::vector<int> widths;
  if (!ShownColumns(fields, widths)) return;
  if (!currentRecordOnly) ChooseOrientation(printer, *dbf1_, fields, widths);
  QPrintPreviewDialog preview(&printer, this);
  preview.setObjectName(QStringLiteral("PrintPreview"));
  preview.setWindowTitle(QStringLiteral("Print Preview - ") + ReportTitle());
  preview.resize(980, 720);
  connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this, currentRecordOnly](QPrinter* target) {
    RunGuarded(this, [&] { PaintReport(*target, currentRecordOnly); });
  });
  Ui().ExecDialog(preview);
}

void TForm1::PrintPreviewCommand() { ShowPreview(false); }

void TForm1::PrintRecordCommand() { ShowPreview(true); }

}  // namespace norvale
