#include "app/csv_export.h"

#include <QFileInfo>
#include <QSaveFile>

#include "app/long_work.h"
#include "app/table_walk.h"
#include "dataset/dbf_table.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"

namespace norvale {

namespace {
QString Canonical(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// The memo file beside a table: the same name with the extension the
// table's version uses, in either letter case.
QStringList MemoFilesOf(const QString& table) {
  const QFileInfo info(table);
  const QString base = info.absolutePath() + QLatin1Char('/') + info.completeBaseName();
  return {base + QStringLiteral(".dbt"), base + QStringLiteral(".DBT"), base + QStringLiteral(".fpt"),
          base + QStringLiteral(".FPT")};
}
}  // namespace

QString CsvField(const QString& value) {
  bool quote = value.startsWith(QLatin1Char(' '));
  for (QChar c : value) {
    if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
      quote = true;
      break;
    }
  }
  if (!quote) return value;
  QString quoted = value;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CsvLine(const QStringList& values) {
  QString line;
  for (qsizetype i = 0; i < values.size(); ++i) {
    if (i > 0) line += QLatin1Char(',');
    line += CsvField(values[i]);
  }
  return line;
}

QString OwnFileNamed(TDbfTable& table, const QString& path) {
  const QString target = Canonical(path);
  QStringList own{QString::fromStdString(table.PhysicalTableName())};
  own += MemoFilesOf(own.front());
  if (TTableIndexes* indexes = table.IndexFiles())
    for (const auto& file : indexes->Files()) own << QString::fromStdString(file->FileName());
  for (const QString& file : own)
    if (QFileInfo::exists(file) && Canonical(file) == target) return file;
  return {};
}

int64_t WriteCsvFile(TDbfTable& walker, const std::vector<std::string>& fields, const QString& path,
                     TLongWork& work) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    throw EDbfError("Cannot create \"" + path.toStdString() + "\": " + file.errorString().toStdString());
  std::vector<TField*> columns;
  for (const std::string& name : fields) columns.push_back(&walker.FieldByName(name));
  QStringList values;
  std::string text;
  QByteArray pending;
  auto flush = [&] {
    if (file.write(pending) != pending.size())
      throw EDbfError("Cannot write \"" + path.toStdString() + "\": " + file.errorString().toStdString());
    pending.clear();
  };
  const int64_t lines = WalkVisible(walker, work, [&] {
    values.clear();
    for (TField* field : columns) {
      field->GetText(text);
      // Character fields are stored padded; the blanks are no part of the value.
      while (!text.empty() && text.back() == ' ') text.pop_back();
      values << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    pending += CsvLine(values).toUtf8();
    pending += "\r\n";
    if (pending.size() >= (1 << 20)) flush();
  });
  flush();
  if (!file.commit())
    throw EDbfError("Cannot write \"" + path.toStdString() + "\": " + file.errorString().toStdString());
  return lines;
}

}  // namespace norvale
