#include "app/export/table_export.h"

#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/export/csv_rows.h"
#include "app/export/dbf_writer.h"
#include "app/export/pdf_writer.h"
#include "app/export/sqlite_writer.h"
#include "app/export/text_writers.h"
#include "app/export/wks_writer.h"
#include "app/export/xls_writer.h"
#include "app/export/xlsx_writer.h"
#include "dataset/dbf_table.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"

namespace norvale {

namespace fs = std::filesystem;

const std::vector<TExportFormatInfo>& ExportFormats() {
  static const std::vector<TExportFormatInfo> formats{
      {TExportFormat::Txt, "txt", "Text (TXT)|*.TXT", "txt"},
      {TExportFormat::Pdf, "pdf", "Portable Document Format (PDF)|*.PDF", "pdf"},
      {TExportFormat::Xls, "xls", "Excel (XLS)|*.XLS", "xls"},
      {TExportFormat::Rtf, "rtf", "Rich Text Format (RTF)|*.RTF", "rtf"},
      {TExportFormat::Wks, "wks", "Works (WKS)|*.WKS", "wks"},
      {TExportFormat::Xml, "xml", "XML|*.XML", "xml"},
      {TExportFormat::Html, "html", "HTML|*.HTM", "htm"},
      {TExportFormat::Dbf, "dbf", "Foxpro (DBF)|*.DBF", "dbf"},
      {TExportFormat::Csv, "csv", "Comma Seperated Variable (CSV)|*.CSV", "csv"},
      {TExportFormat::Xlsx, "xlsx", "Excel Workbook (XLSX)|*.XLSX", "xlsx"},
      {TExportFormat::Json, "json", "JSON|*.JSON", "json"},
      {TExportFormat::Sqlite, "sqlite", "SQLite Database|*.SQLITE", "sqlite"},
      {TExportFormat::Pgsql, "pgsql", "PostgreSQL Script|*.SQL", "sql"},
  };
  return formats;
}

const TExportFormatInfo* ExportFormatNamed(std::string_view name) {
  for (const TExportFormatInfo& info : ExportFormats())
    if (name == info.name) return &info;
  return nullptr;
}

const TExportFormatInfo& ExportFormatInfo(TExportFormat format) {
  for (const TExportFormatInfo& info : ExportFormats())
    if (info.format == format) return info;
  return ExportFormats().front();
}

TExportSettings ExportSettingsFor(TExportFormat format, const std::string& title) {
  TExportSettings settings;
  settings.title = title;
  // XLSX is no type of the old dialog: it gets the header row a sheet is
  // expected to have today, which also lets it come back in by import.
  settings.titleLine =
      format == TExportFormat::Csv || format == TExportFormat::Html || format == TExportFormat::Xlsx;
  return settings;
}

std::unique_ptr<TExportWriter> MakeExportWriter(TExportFormat format, const std::string& path,
                                                const TExportSettings& settings, int codePage) {
  switch (format) {
    case TExportFormat::Txt: return std::make_unique<TTextWriter>(path, settings);
    case TExportFormat::Pdf: return std::make_unique<TPdfWriter>(path, settings);
    case TExportFormat::Xls: return std::make_unique<TXlsWriter>(path, settings);
    case TExportFormat::Rtf: return std::make_unique<TRtfWriter>(path, settings);
    case TExportFormat::Wks: return std::make_unique<TWksWriter>(path, settings);
    case TExportFormat::Xml: return std::make_unique<TXmlWriter>(path, settings);
    case TExportFormat::Html: return std::make_unique<THtmlWriter>(path, settings);
    case TExportFormat::Dbf: return std::make_unique<TDbfExportWriter>(path, settings, codePage);
    case TExportFormat::Csv: return std::make_unique<TCsvWriter>(path, settings);
    case TExportFormat::Xlsx: return std::make_unique<TXlsxWriter>(path, settings);
    case TExportFormat::Json: return std::make_unique<TJsonWriter>(path, settings);
    case TExportFormat::Sqlite: return std::make_unique<TSqliteWriter>(path, settings);
    case TExportFormat::Pgsql: return std::make_unique<TPgsqlWriter>(path, settings);
  }
  throw EExportError("File type not selected");
}

namespace {

TExportKind KindOf(const TField& field) {
  switch (field.DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return TExportKind::Text;
    case ftMemo:
    case ftFmtMemo:
      return TExportKind::Memo;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
    case ftAutoInc:
      return TExportKind::Integer;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return TExportKind::Number;
    case ftBoolean:
      return TExportKind::Logical;
    case ftDate:
      return TExportKind::Date;
    case ftDateTime:
      return TExportKind::DateTime;
    case ftTime:
      return TExportKind::Time;
    default:
      return TExportKind::Binary;
  }
}

// Digits at `at` as a number; the text forms here are the engine's own, so
// a short or odd text just leaves zeros.
int Digits(const std::string& text, size_t at, size_t count) {
  int value = 0;
  if (at + count > text.size()) return 0;
  std::from_chars(text.data() + at, text.data() + at + count, value);
  return value;
}

void TrimRight(std::string& text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  text.resize(end);
}

}  // namespace

TExportReader::TExportReader(TDbfTable& table, const std::vector<std::string>& fields, const std::vector<int>& widths) {
  const TDbfFieldDefs* defs = table.NativeFieldDefs();
  auto add = [&](TField& field) {
    TExportColumn column;
    column.name = field.FieldName();
    column.kind = KindOf(field);
    column.length = field.Size();
    column.decimals = field.Precision();
    if (defs && field.FieldNo() >= 1 && field.FieldNo() <= defs->Count()) {
      const TDbfFieldDef& def = defs->Item(field.FieldNo() - 1);
      column.fieldType = def.NativeFieldType();
      column.length = def.Size();
      column.decimals = def.Precision();
    }
    const size_t i = columns_.size();
    if (i < widths.size()) column.widthPixels = widths[i];
    fields_.push_back(&field);
    columns_.push_back(column);
  };
  if (fields.empty()) {
    for (int i = 0; i < table.FieldCount(); ++i) add(table.Fields(i));
  } else {
    for (const std::string& name : fields) add(table.FieldByName(name));
  }
}

void TExportReader::Read(TExportRow& row) {
  row.resize(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) ReadValue(i, row[i]);
}

void TExportReader::ReadValue(size_t i, TExportValue& v) {
  TField& field = *fields_[i];
  // The row's strings are filled in place, so that their buffers serve
  // every record of a long export.
  v.null = false;
  const TExportKind kind = columns_[i].kind;
  if (kind == TExportKind::Binary) {
    v.text.clear();
    v.null = field.IsNull();
    return;
  }
  field.GetText(v.text);
  std::string& text = v.text;
  if (kind == TExportKind::Text) TrimRight(text);
  if (text.empty()) {
    // Blank text is a value; only a field's null flag makes it NULL.
    v.null = kind == TExportKind::Text || kind == TExportKind::Memo ? field.IsNull() : true;
    return;
  }
  switch (kind) {
    case TExportKind::Integer: {
      const auto r = std::from_chars(text.data(), text.data() + text.size(), v.integer);
      if (r.ec != std::errc()) v.integer = 0;
      v.number = static_cast<double>(v.integer);
      break;
    }
    case TExportKind::Number: {
      const auto r = std::from_chars(text.data(), text.data() + text.size(), v.number);
      if (r.ec != std::errc()) v.number = 0;
      break;
    }
    case TExportKind::Logical:
      v.logical = text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y';
      text.assign(v.logical ? "T" : "F");
      break;
    case TExportKind::Date:
    case TExportKind::DateTime:
      // A date the engine could not place in years 0..9999 comes as a bare
      // day number: no date a file format could hold.
      if (text.size() < 10 || text[4] != '-') {
        v.null = true;
        text.clear();
        break;
      }
      v.year = Digits(text, 0, 4);
      v.month = Digits(text, 5, 2);
      v.day = Digits(text, 8, 2);
      v.hour = v.minute = v.second = v.millisecond = 0;
      if (kind == TExportKind::DateTime && text.size() >= 19) {
        v.hour = Digits(text, 11, 2);
        v.minute = Digits(text, 14, 2);
        v.second = Digits(text, 17, 2);
        if (text.size() >= 23 && text[19] == '.') v.millisecond = Digits(text, 20, 3);
      }
      text.resize(kind == TExportKind::Date ? 10 : std::min<size_t>(text.size(), 19));
      break;
    case TExportKind::Time:
      v.hour = Digits(text, 0, 2);
      v.minute = Digits(text, 3, 2);
      v.second = Digits(text, 6, 2);
      v.millisecond = 0;
      text.resize(std::min<size_t>(text.size(), 8));
      break;
    default:
      break;
  }
}

namespace {
std::string Canonical(const std::string& path) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(fs::absolute(path, error), error);
  return error ? fs::absolute(path).lexically_normal().string() : canonical.string();
}

std::string WithExtension(const std::string& path, const std::string& extension) {
  return fs::path(path).replace_extension(extension).string();
}
}  // namespace

std::string OwnFileOf(TDbfTable& table, const std::string& path) {
  const std::string target = Canonical(path);
  std::vector<std::string> own{table.PhysicalTableName()};
  for (const char* ext : {".dbt", ".DBT", ".fpt", ".FPT"}) own.push_back(WithExtension(own.front(), ext));
  if (TTableIndexes* indexes = table.IndexFiles())
    for (const auto& file : indexes->Files()) own.push_back(file->FileName());
  for (const std::string& file : own) {
    std::error_code error;
    if (fs::exists(file, error) && Canonical(file) == target) return file;
  }
  return {};
}

TExportResult RunExport(TDbfTable& walker, const TExportJob& job) {
  std::vector<std::string> targets{job.path};
  const TExportSettings settings = ExportSettingsFor(job.format, job.title);
  // A DBF brings its memo file; neither may be one of the source's.
  if (job.format == TExportFormat::Dbf) targets.push_back(WithExtension(job.path, ".fpt"));
  for (const std::string& target : targets)
    if (!OwnFileOf(walker, target).empty())
      throw EExportError("\"" + target + "\" is a file of the table being exported; choose another name.");

  const fs::path target(job.path);
  const std::string extension = target.extension().string();
  std::string pattern =
      (target.has_parent_path() ? target.parent_path().string() + "/" : std::string()) + ".norvale-export-XXXXXX" +
      extension;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemps(name.data(), static_cast<int>(extension.size()));
  if (fd < 0)
    throw EExportError("Cannot create a file in \"" +
                       (target.has_parent_path() ? target.parent_path().string() : std::string(".")) +
                       "\": " + std::strerror(errno));
  ::close(fd);
  const std::string temporary(name.data());

  std::vector<std::string> companions;
  auto removeTemporary = [&] {
    std::remove(temporary.c_str());
    for (const std::string& ext : companions) std::remove(WithExtension(temporary, ext).c_str());
  };
  TExportResult result;
  try {
    // Writers that make their file themselves want none there.
    std::remove(temporary.c_str());
    std::unique_ptr<TExportWriter> writer = MakeExportWriter(job.format, temporary, settings, walker.CodePage());
    companions = writer->CompanionExtensions();
    TExportReader reader(walker, job.fields, job.widths);
    writer->Begin(reader.Columns());
    const int64_t total = walker.RecordCount();
    TExportRow row;
    auto report = [&](int64_t, int64_t) {
      if (job.progress) job.progress(result.rows, std::max(total, result.rows));
    };
    walker.OnProgress = report;
    struct TForget {
      TDbfTable& table;
      ~TForget() { table.OnProgress = nullptr; }
    } forget{walker};
    std::unique_ptr<TCsvRecordRows> fast;
    if (auto* csv = dynamic_cast<TCsvWriter*>(writer.get())) {
      fast = std::make_unique<TCsvRecordRows>(walker, reader, *csv);
      if (!fast->Useful()) fast.reset();
    }
    if (fast) {
      result.rows = fast->WriteAll([&](int64_t rows) {
        if (job.progress) job.progress(rows, std::max(total, rows));
      });
    } else {
      for (walker.First(); !walker.Eof(); walker.Next()) {
        reader.Read(row);
        writer->Row(row);
        ++result.rows;
        if (job.progress) job.progress(result.rows, std::max(total, result.rows));
      }
    }
    writer->Finish();
    companions = writer->CompanionExtensions();
    result.warnings = writer->Warnings();
    writer.reset();
    for (const std::string& ext : companions) {
      const std::string from = WithExtension(temporary, ext), to = WithExtension(job.path, ext);
      if (std::rename(from.c_str(), to.c_str()) != 0)
        throw EExportError("Cannot write \"" + to + "\": " + std::strerror(errno));
    }
    if (std::rename(temporary.c_str(), job.path.c_str()) != 0)
      throw EExportError("Cannot write \"" + job.path + "\": " + std::strerror(errno));
  } catch (...) {
    removeTemporary();
    throw;
  }
  return result;
}

}  // namespace norvale
