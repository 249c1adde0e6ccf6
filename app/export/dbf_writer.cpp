#include "app/export/dbf_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "dataset/dbf_table.h"
#include "engine/date_time.h"
#include "engine/fields.h"

namespace norvale {

namespace {
constexpr int kFoxProLevel = 25;
constexpr int kMaxCharWidth = 254;

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// The FoxPro field for a column, by the source field's letter first so that
// an integer stays an integer and a currency a currency.
void DefineField(TDbfFieldDef& def, const TExportColumn& c) {
  auto set = [&](char letter, int size, int precision) {
    def.SetNativeFieldType(letter);
    def.SetSize(size);
    def.SetPrecision(precision);
  };
  switch (c.kind) {
    case TExportKind::Text:
      if (c.length > kMaxCharWidth)
        set('M', 10, 0);
      else
        set('C', std::max(1, c.length), 0);
      return;
    case TExportKind::Memo:
    case TExportKind::Binary:
      set('M', 10, 0);
      return;
    case TExportKind::Integer:
      if (c.fieldType == 'I' || c.fieldType == '+')
        set('I', 4, 0);
      else
        set('N', std::clamp(c.length, 1, 20), 0);
      return;
    case TExportKind::Number:
      if (c.fieldType == 'Y') {
        set('Y', 8, 4);
      } else if (c.fieldType == 'B' || c.fieldType == 'O') {
        set('B', 8, std::clamp(c.decimals, 0, 18));
      } else {
        const int size = std::clamp(c.length, 1, 20);
        set(c.fieldType == 'F' ? 'F' : 'N', size, std::clamp(c.decimals, 0, std::max(0, size - 2)));
      }
      return;
    case TExportKind::Date:
      set('D', 8, 0);
      return;
    case TExportKind::DateTime:
      set('T', 8, 0);
      return;
    case TExportKind::Time:
      set('C', 8, 0);
      return;
    case TExportKind::Logical:
      set('L', 1, 0);
      return;
  }
}
}  // namespace

std::string FoxProFieldName(const std::string& name, const std::vector<std::string>& taken) {
  std::string base;
  for (unsigned char c : name) {
    if (base.size() >= 10) break;
    base += std::isalnum(c) && c < 0x80 ? static_cast<char>(std::toupper(c)) : '_';
  }
  if (base.empty() || !std::isalpha(static_cast<unsigned char>(base[0]))) base = ("F" + base).substr(0, 10);
  auto isTaken = [&](const std::string& candidate) {
    return std::any_of(taken.begin(), taken.end(), [&](const std::string& t) { return SameName(t, candidate); });
  };
  std::string candidate = base;
  for (int n = 2; isTaken(candidate); ++n) {
    const std::string suffix = "_" + std::to_string(n);
    candidate = base.substr(0, 10 - suffix.size()) + suffix;
  }
  return candidate;
}

TDbfExportWriter::TDbfExportWriter(const std::string& path, const TExportSettings&, int codePage)
    : path_(path), codePage_(codePage) {}

TDbfExportWriter::~TDbfExportWriter() {
  try {
    if (table_) table_->Close();
  } catch (...) {
    // The caller removes what is left of an unfinished file.
  }
}

std::vector<std::string> TDbfExportWriter::CompanionExtensions() const {
  if (hasMemo_) return {".fpt"};
  return {};
}

void TDbfExportWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  if (columns.empty()) throw EExportError("A table needs at least one field; no column is shown.");
  TDbfFieldDefs defs(xFoxPro);
  std::vector<std::string> names;
  for (const TExportColumn& column : columns) {
    TDbfFieldDef& def = defs.Add();
    names.push_back(FoxProFieldName(column.name, names));
    def.SetFieldName(names.back());
    DefineField(def, column);
    def.SetRequired(false);
    hasMemo_ = hasMemo_ || def.NativeFieldType() == 'M';
  }
  try {
    {
      TDbfTable create;
      create.SetTableName(path_);
      create.SetTableLevel(kFoxProLevel);
      create.CreateTable(&defs);
    }
    table_ = std::make_unique<TDbfTable>();
    table_->SetTableName(path_);
    table_->SetExclusive(true);
    table_->SetDetectCodePage(false);
    table_->Open();
    if (codePage_ > 0 && codePage_ != table_->CodePage()) table_->SetTableCodePage(codePage_);
  } catch (const EExportError&) {
    throw;
  } catch (const std::exception& e) {
    throw EExportError(std::string("The table was not created: ") + e.what());
  }
  table_->OnUnstorableText = [this](TDbfTable&, const TField&, const std::string&, bool& storeAnyway) {
    ++unstorable_;
    storeAnyway = true;
  };
  for (const std::string& name : names) fields_.push_back(&table_->FieldByName(name));
}

void TDbfExportWriter::Row(const TExportRow& row) {
  try {
    table_->Append();
    for (size_t i = 0; i < fields_.size() && i < row.size(); ++i) {
      const TExportValue& v = row[i];
      TField& field = *fields_[i];
      if (v.null) continue;
      switch (columns_[i].kind) {
        case TExportKind::Text:
        case TExportKind::Memo:
          if (!v.text.empty()) field.SetAsString(v.text);
          break;
        case TExportKind::Integer:
          field.SetAsLargeInt(v.integer);
          break;
        case TExportKind::Number:
          field.SetAsFloat(v.number);
          break;
        case TExportKind::Date:
        case TExportKind::DateTime: {
          TDateParts parts;
          parts.year = v.year, parts.month = v.month, parts.day = v.day;
          parts.hour = v.hour, parts.minute = v.minute, parts.second = v.second, parts.millisecond = v.millisecond;
          TDateTime value{};
          if (EncodeDateTime(parts, &value)) field.SetAsDateTime(value);
          break;
        }
        case TExportKind::Time:
          field.SetAsString(v.text);
          break;
        case TExportKind::Logical:
          field.SetAsBoolean(v.logical);
          break;
        case TExportKind::Binary:
          break;
      }
    }
    table_->Post();
  } catch (const EExportError&) {
    throw;
  } catch (const std::exception& e) {
    throw EExportError(std::string("Cannot write the table: ") + e.what());
  }
}

void TDbfExportWriter::Finish() {
  try {
    table_->Close();
    table_.reset();
  } catch (const std::exception& e) {
    throw EExportError(std::string("Cannot write the table: ") + e.what());
  }
  if (unstorable_ > 0)
    warnings_.push_back(std::to_string(unstorable_) + " value(s) held characters code page " +
                        std::to_string(codePage_) + " lacks; they were written as \"?\".");
}

}  // namespace norvale
