#include "app/field_changes.h"

#include <QRegularExpression>

#include "dataset/dbf_table.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"

namespace norvale {

namespace {
constexpr int kLevel7 = 7;
constexpr int kFoxPro = 25;
}  // namespace

int MaxFieldNameLength(int level) { return level == kLevel7 ? 31 : 10; }

QString FieldNameProblem(const QString& name, int level, const TDbfFieldDefs& defs, int except) {
  if (name.trimmed().isEmpty()) return QStringLiteral("Give the field a name.");
  static const QRegularExpression valid(QStringLiteral("^[A-Za-z][A-Za-z0-9_]*$"));
  if (!valid.match(name).hasMatch())
    return QStringLiteral("\"%1\" is no valid field name: letters, digits and underscores, the first a letter.")
        .arg(name);
  const int longest = MaxFieldNameLength(level);
  if (name.size() > longest) return QStringLiteral("\"%1\" is longer than %2 characters.").arg(name).arg(longest);
  for (int i = 0; i < defs.Count(); ++i) {
    if (i == except) continue;
    if (QString::fromStdString(defs.Item(i).FieldName()).compare(name, Qt::CaseInsensitive) == 0)
      return QStringLiteral("The table has a field %1 already.").arg(name.toUpper());
  }
  return {};
}

char AddTypeLetter(const QString& typeName, int level) {
  static const struct {
    const char* name;
    char letter;
  } kTypes[] = {{"TEXT", 'C'},  {"INTEGER", 'N'},        {"BIT", 'L'},  {"DATETIME", 'T'}, {"FLOAT", 'O'},
                {"MEMO", 'M'},  {"AUTO INCREMENT", '+'}, {"BLOB", 'B'}, {"OLE", 'M'},      {"DATE", 'D'}};
  for (const auto& t : kTypes)
    if (typeName == QLatin1String(t.name)) return t.letter;
  // FoxPro has a currency type; the other levels none.
  if (typeName == QLatin1String("CURRENCY") && level == kFoxPro) return 'Y';
  return 0;
}

TFieldType AlterType(const QString& typeName) {
  static const struct {
    const char* name;
    TFieldType type;
  } kTypes[] = {{"TEXT", ftString},   {"INTEGER", ftInteger}, {"BIT", ftBoolean},         {"DATETIME", ftDateTime},
                {"FLOAT", ftFloat},   {"MEMO", ftMemo},       {"AUTO INCREMENT", ftAutoInc}, {"BLOB", ftBlob},
                {"OLE", ftDBaseOle}, {"DATE", ftDate}};
  const QString upper = typeName.trimmed().toUpper();
  for (const auto& t : kTypes)
    if (upper == QLatin1String(t.name)) return t.type;
  return ftUnknown;
}

int FieldSize(char letter, const QString& text, int level, QString* problem) {
  problem->clear();
  switch (letter) {
    case 'L': return 1;
    case 'D': return 8;
    case 'T':
    case 'O':
    case '@': return 8;
    case '+':
    case 'I': return 4;
    case 'Y': return 8;
    case 'M':
    case 'B':
    case 'G': return level == kFoxPro ? 4 : 10;
    default: break;
  }
  bool ok = false;
  const int size = text.trimmed().toInt(&ok);
  const int largest = letter == 'C' ? 254 : 20;
  if (!ok || size < 1 || size > largest) {
    *problem = QStringLiteral("The size must be a whole number from 1 to %1.").arg(largest);
    return 0;
  }
  return size;
}

QStringList IndexesUsingField(TDbfTable& table, const QString& field) {
  QStringList names;
  const QRegularExpression word(QStringLiteral("(^|[^A-Za-z0-9_])%1($|[^A-Za-z0-9_])")
                                    .arg(QRegularExpression::escape(field)),
                                QRegularExpression::CaseInsensitiveOption);
  if (TTableIndexes* indexes = table.IndexFiles()) {
    for (const auto& file : indexes->Files()) {
      for (int t = 0; t < file->TagCount(); ++t) {
        const TIndexTagInfo info = file->TagInfo(t);
        if (word.match(QString::fromStdString(info.expression)).hasMatch())
          names << (file->IsMultiple() ? QString::fromStdString(info.name)
                                       : QString::fromStdString(file->FileName()).section(QLatin1Char('/'), -1));
      }
    }
  }
  return names;
}

int64_t ValuesLongerThan(TDbfTable& table, const QString& field, int size) {
  TDbfTable reader;
  reader.SetReadOnly(true);
  reader.SetTableName(table.PhysicalTableName());
  reader.SetChosenCodePage(table.CodePage());
  reader.SetShowDeleted(true);
  reader.Open();
  TField& f = reader.FieldByName(field.toStdString());
  int64_t longer = 0;
  std::string text;
  for (reader.First(); !reader.Eof(); reader.Next()) {
    f.GetText(text);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (QString::fromStdString(text).size() > size) ++longer;
  }
  return longer;
}

void CopyFieldDefs(const TDbfTable& table, TDbfFieldDefs& into) {
  const TDbfFieldDefs* defs = table.NativeFieldDefs();
  into.Clear();
  if (!defs) return;
  into.SetVersion(defs->Version());
  into.SetCurrencyAsBCD(defs->CurrencyAsBCD());
  for (int i = 0; i < defs->Count(); ++i) {
    TDbfFieldDef& copy = into.Add();
    copy.Assign(defs->Item(i));
    copy.SetCopyFrom(i);
  }
}

}  // namespace norvale
