#include "app/export/table_import.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/export/export_value.h"
#include "app/export/table_export.h"
#include "dataset/dbf_table.h"
#include "engine/date_time.h"
#include "engine/exceptions.h"
#include "engine/file_swap.h"
#include "platform/ascii.h"

namespace norvale {

namespace fs = std::filesystem;

namespace {

class TDbfImportSource : public TImportSource {
 public:
  explicit TDbfImportSource(const std::string& path) {
    table_.SetReadOnly(true);
    table_.SetTableName(path);
    table_.Open();
    reader_ = std::make_unique<TExportReader>(table_, std::vector<std::string>{});
    for (const TExportColumn& column : reader_->Columns()) names_.push_back(column.name);
    total_ = table_.RecordCount();
    table_.First();
  }
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<TImportCell>& row) override {
    if (table_.Eof()) return false;
    reader_->Read(values_);
    row.assign(values_.size(), TImportCell{});
    for (size_t i = 0; i < values_.size(); ++i) {
      const TExportValue& v = values_[i];
      TImportCell& cell = row[i];
      if (v.null) continue;
      cell.empty = false;
      switch (reader_->Columns()[i].kind) {
        case TExportKind::Integer:
        case TExportKind::Number:
          cell.isNumber = true;
          cell.number = v.number;
          // The exact digits, for fields wider than a double is exact.
          cell.text = v.text;
          break;
        case TExportKind::Date:
        case TExportKind::DateTime:
          cell.isDate = true;
          cell.year = v.year, cell.month = v.month, cell.day = v.day;
          cell.hour = v.hour, cell.minute = v.minute, cell.second = v.second;
          break;
        case TExportKind::Logical:
          cell.isBool = true;
          cell.boolean = v.logical;
          break;
        default:
          cell.text = v.text;
          break;
      }
    }
    ++rowNumber_;
    table_.Next();
    return true;
  }
  int64_t RowNumber() const override { return rowNumber_; }
  double Progress() const override { return total_ > 0 ? static_cast<double>(rowNumber_) / total_ : 1.0; }

 private:
  TDbfTable table_;
  std::unique_ptr<TExportReader> reader_;
  std::vector<std::string> names_;
  TExportRow values_;
  int64_t rowNumber_ = 0;
  int64_t total_ = 0;
};

}  // namespace

std::unique_ptr<TImportSource> OpenDbfSource(const std::string& path) {
  return std::make_unique<TDbfImportSource>(path);
}

std::vector<int> MatchColumns(const std::vector<std::string>& sourceNames, const std::vector<std::string>& fieldNames) {
  std::vector<int> mapping(fieldNames.size(), -1);
  bool anyByName = false;
  for (size_t f = 0; f < fieldNames.size(); ++f) {
    for (size_t s = 0; s < sourceNames.size(); ++s) {
      std::string name = sourceNames[s];
      while (!name.empty() && name.back() == ' ') name.pop_back();
      if (EqualNoCaseAscii(name, fieldNames[f])) {
        mapping[f] = static_cast<int>(s);
        anyByName = true;
        break;
      }
    }
  }
  if (!anyByName)
    for (size_t f = 0; f < fieldNames.size() && f < sourceNames.size(); ++f) mapping[f] = static_cast<int>(f);
  return mapping;
}

std::string TImportCheck::Describe(size_t maxLines) const {
  std::string text;
  for (size_t i = 0; i < rejects.size() && i < maxLines; ++i) {
    const TImportReject& r = rejects[i];
    if (!text.empty()) text += '\n';
    text += "Row " + std::to_string(r.row) + ", " + r.field + ": " + r.reason;
  }
  if (rejects.size() > maxLines) text += "\n...";
  return text;
}

namespace {

enum class TTargetKind { Skip, Text, Memo, Number, Integer, Date, DateTime, Logical };

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool ParseNumber(std::string_view text, double* out) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(*out);
}

int TakeDigits(std::string_view& text, size_t minDigits, size_t maxDigits, bool* ok) {
  size_t n = 0;
  int value = 0;
  while (n < text.size() && n < maxDigits && text[n] >= '0' && text[n] <= '9') value = value * 10 + (text[n++] - '0');
  if (n < minDigits) *ok = false;
  text.remove_prefix(n);
  return value;
}

bool Take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// Dates as this program exports them (31/12/1999), in ISO order
// (1999-12-31) and as dBASE stores them (19991231), with an optional time
// after a blank or a "T".
bool ParseDate(std::string_view text, TDateParts* p, bool allowTime) {
  text = Trimmed(text);
  bool ok = true;
  if (text.size() >= 10 && (text[2] == '/' || text[1] == '/')) {
    p->day = TakeDigits(text, 1, 2, &ok);
    ok = ok && Take(text, '/');
    p->month = TakeDigits(text, 1, 2, &ok);
    ok = ok && Take(text, '/');
    p->year = TakeDigits(text, 4, 4, &ok);
  } else if (text.size() >= 10 && text[4] == '-') {
    p->year = TakeDigits(text, 4, 4, &ok);
    ok = ok && Take(text, '-');
    p->month = TakeDigits(text, 1, 2, &ok);
    ok = ok && Take(text, '-');
    p->day = TakeDigits(text, 1, 2, &ok);
  } else if (text.size() >= 8) {
    p->year = TakeDigits(text, 4, 4, &ok);
    p->month = TakeDigits(text, 2, 2, &ok);
    p->day = TakeDigits(text, 2, 2, &ok);
  } else {
    return false;
  }
  if (!ok) return false;
  if (!text.empty() && allowTime && (text.front() == ' ' || text.front() == 'T')) {
    text.remove_prefix(1);
    p->hour = TakeDigits(text, 1, 2, &ok);
    ok = ok && Take(text, ':');
    p->minute = TakeDigits(text, 2, 2, &ok);
    if (Take(text, ':')) p->second = TakeDigits(text, 2, 2, &ok);
    if (Take(text, '.')) TakeDigits(text, 1, 9, &ok);
  }
  return ok && text.empty() && IsValidDate(p->year, p->month, p->day) &&
         IsValidTime(p->hour, p->minute, p->second, 0);
}

bool ParseLogical(std::string_view text, bool* out) {
  text = Trimmed(text);
  for (const char* yes : {"T", "TRUE", "Y", "YES", ".T.", "1"})
    if (EqualNoCaseAscii(text, yes)) return *out = true, true;
  for (const char* no : {"F", "FALSE", "N", "NO", ".F.", "0"})
    if (EqualNoCaseAscii(text, no)) return *out = false, true;
  return false;
}

std::string NumberText(double v, int decimals) {
  char buffer[400];
  const auto r = decimals > 0 ? std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals)
                              : std::to_chars(buffer, buffer + sizeof buffer, std::round(v), std::chars_format::fixed, 0);
  std::string text(buffer, r.ptr);
  if (text == "-0" || text.find_first_not_of("-0.") == std::string::npos) text.erase(0, text.front() == '-' ? 1 : 0);
  return text;
}

std::string CellText(const TImportCell& cell) {
  if (cell.isDate) {
    // A sheet's time of day has no date part: its own text says it.
    if (cell.year == 0) return cell.text;
    TExportValue v;
    v.year = cell.year, v.month = cell.month, v.day = cell.day;
    v.hour = cell.hour, v.minute = cell.minute, v.second = cell.second;
    return cell.hour || cell.minute || cell.second ? ExportDateTimeText(v) : ExportDateText(v);
  }
  if (cell.isBool) return cell.boolean ? "True" : "False";
  if (cell.isNumber) {
    if (!cell.text.empty()) return cell.text;
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, cell.number);
    return std::string(buffer, r.ptr);
  }
  return cell.text;
}

}  // namespace

struct TImportConverter::TTarget {
  TField* field = nullptr;
  TTargetKind kind = TTargetKind::Skip;
  char letter = 'C';
  int size = 0, precision = 0;
  // The converted value of the row at hand.
  bool empty = true;
  std::string text;
  double number = 0;
  TDateParts date;
  bool logical = false;
};

TImportConverter::TImportConverter(TDbfTable& table, std::vector<int> mapping)
    : table_(table), mapping_(std::move(mapping)) {
  const TDbfFieldDefs* defs = table.NativeFieldDefs();
  for (int i = 0; i < table.FieldCount(); ++i) {
    auto target = std::make_unique<TTarget>();
    TField& field = table.Fields(i);
    target->field = &field;
    target->size = field.Size();
    target->precision = field.Precision();
    if (defs && field.FieldNo() >= 1 && field.FieldNo() <= defs->Count()) {
      const TDbfFieldDef& def = defs->Item(field.FieldNo() - 1);
      target->letter = def.NativeFieldType();
      target->size = def.Size();
      target->precision = def.Precision();
    }
    switch (field.DataType()) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
        target->kind = TTargetKind::Text;
        break;
      case ftMemo:
      case ftFmtMemo:
        target->kind = TTargetKind::Memo;
        break;
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftLargeint:
        target->kind = target->letter == 'I' ? TTargetKind::Integer : TTargetKind::Number;
        break;
      case ftFloat:
      case ftCurrency:
      case ftBCD:
        target->kind = TTargetKind::Number;
        break;
      case ftDate:
        target->kind = TTargetKind::Date;
        break;
      case ftDateTime:
        target->kind = TTargetKind::DateTime;
        break;
      case ftBoolean:
        target->kind = TTargetKind::Logical;
        break;
      default:
        // Counters number themselves; pictures and binary values have no
        // form in a text or a sheet.
        target->kind = TTargetKind::Skip;
        break;
    }
    targets_.push_back(std::move(target));
  }
  mapping_.resize(targets_.size(), -1);
}

TImportConverter::~TImportConverter() = default;

bool TImportConverter::Convert(const std::vector<TImportCell>& row, int64_t rowNumber,
                               std::vector<TImportReject>* rejects) {
  bool good = true;
  for (size_t i = 0; i < targets_.size(); ++i) {
    TTarget& t = *targets_[i];
    t.empty = true;
    const int from = mapping_[i];
    if (t.kind == TTargetKind::Skip || from < 0 || static_cast<size_t>(from) >= row.size()) continue;
    const TImportCell& cell = row[static_cast<size_t>(from)];
    std::string reason;
    std::string text = CellText(cell);
    if (cell.empty || Trimmed(text).empty()) {
      // Blank text stays what it was in a memo; elsewhere it is no value.
      if (t.kind != TTargetKind::Memo || cell.empty || text.empty()) continue;
    }
    switch (t.kind) {
      case TTargetKind::Text: {
        while (!text.empty() && text.back() == ' ') text.pop_back();
        const size_t bytes = table_.TextToTable(text, INT_MAX).size();
        if (bytes > static_cast<size_t>(t.size))
          reason = "'" + text + "' does not fit " + std::to_string(t.size) + " characters";
        t.text = std::move(text);
        break;
      }
      case TTargetKind::Memo:
        // dBASE and FoxPro memos break lines with CR LF; spreadsheets and
        // many text files bring bare LFs.
        t.text.clear();
        for (size_t k = 0; k < text.size(); ++k) {
          if (text[k] == '\n' && (k == 0 || text[k - 1] != '\r')) t.text += '\r';
          t.text += text[k];
        }
        break;
      case TTargetKind::Number:
      case TTargetKind::Integer: {
        double v = cell.number;
        if (!cell.isNumber && !ParseNumber(text, &v)) {
          reason = "'" + text + "' is not a number";
          break;
        }
        t.number = v;
        if (t.kind == TTargetKind::Integer) {
          if (v != std::floor(v) || v < INT32_MIN || v > INT32_MAX) reason = "'" + text + "' is no 32-bit whole number";
          t.text = NumberText(v, 0);
        } else if (t.letter == 'N' || t.letter == 'F') {
          t.text = NumberText(v, t.precision);
          if (t.text.size() > static_cast<size_t>(t.size))
            reason = "'" + text + "' does not fit " + std::string(1, t.letter) + "(" + std::to_string(t.size) + "," +
                     std::to_string(t.precision) + ")";
        } else {
          if (t.letter == 'Y' && std::fabs(v) >= 922337203685477.0) reason = "'" + text + "' is too large for currency";
          t.text = NumberText(v, std::max(t.precision, 4));
        }
        break;
      }
      case TTargetKind::Date:
      case TTargetKind::DateTime:
        t.date = TDateParts{};
        if (cell.isDate) {
          t.date.year = cell.year, t.date.month = cell.month, t.date.day = cell.day;
          t.date.hour = cell.hour, t.date.minute = cell.minute, t.date.second = cell.second;
        } else if (!ParseDate(text, &t.date, t.kind == TTargetKind::DateTime)) {
          reason = "'" + text + "' is not a date";
        }
        break;
      case TTargetKind::Logical:
        if (cell.isBool) {
          t.logical = cell.boolean;
        } else if (cell.isNumber && (cell.number == 0 || cell.number == 1)) {
          t.logical = cell.number == 1;
        } else if (!ParseLogical(text, &t.logical)) {
          reason = "'" + text + "' is not a logical value";
        }
        break;
      case TTargetKind::Skip:
        break;
    }
    if (!reason.empty()) {
      good = false;
      if (rejects) rejects->push_back({rowNumber, t.field->FieldName(), reason});
      continue;
    }
    t.empty = false;
  }
  return good;
}

void TImportConverter::Apply() {
  for (const auto& target : targets_) {
    const TTarget& t = *target;
    if (t.empty) continue;
    switch (t.kind) {
      case TTargetKind::Text:
      case TTargetKind::Memo:
      case TTargetKind::Number:
        t.field->SetAsString(t.text);
        break;
      case TTargetKind::Integer:
        t.field->SetAsInteger(static_cast<int32_t>(t.number));
        break;
      case TTargetKind::Date:
      case TTargetKind::DateTime: {
        TDateTime value{};
        if (EncodeDateTime(t.date, &value)) t.field->SetAsDateTime(value);
        break;
      }
      case TTargetKind::Logical:
        t.field->SetAsBoolean(t.logical);
        break;
      case TTargetKind::Skip:
        break;
    }
  }
}

TImportCheck CheckImport(TDbfTable& table, TImportSource& source, const std::vector<int>& mapping,
                         const TImportProgress& progress) {
  TImportCheck check;
  TImportConverter converter(table, mapping);
  std::vector<TImportCell> row;
  std::vector<TImportReject> rejects;
  while (source.Next(row)) {
    ++check.rows;
    rejects.clear();
    if (!converter.Convert(row, source.RowNumber(), &rejects)) {
      ++check.rejectedRows;
      for (TImportReject& r : rejects)
        if (check.rejects.size() < TImportCheck::kMaxListed) check.rejects.push_back(std::move(r));
    }
    if (progress && check.rows % 256 == 0) progress(source.Progress());
  }
  if (progress) progress(1.0);
  return check;
}

namespace {

// The companions of a table that open with it by name: its memo file and
// its production index, in whatever letter case they have.
std::vector<std::string> CompanionsOf(const std::string& table) {
  std::vector<std::string> found;
  for (const char* ext : {".dbt", ".DBT", ".fpt", ".FPT", ".mdx", ".MDX", ".cdx", ".CDX"}) {
    const std::string name = fs::path(table).replace_extension(ext).string();
    std::error_code error;
    if (fs::exists(name, error) && std::find(found.begin(), found.end(), name) == found.end()) {
      // A case-blind file system shows one file under both spellings.
      bool same = false;
      for (const std::string& other : found) same = same || fs::equivalent(other, name, error);
      if (!same) found.push_back(name);
    }
  }
  return found;
}

std::string FreeName(const std::string& dir, const std::string& tail) {
  std::string pattern = dir + "/.norvale-import-XXXXXX" + tail;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemps(name.data(), static_cast<int>(tail.size()));
  if (fd < 0) throw EExportError("Cannot create a file in \"" + dir + "\": " + std::strerror(errno));
  ::close(fd);
  return std::string(name.data());
}

}  // namespace

int64_t AppendImport(const TImportTarget& target, TImportSource& source, const std::vector<int>& mapping,
                     const TImportProgress& progress) {
  const fs::path tablePath(target.table);
  const std::string dir = tablePath.has_parent_path() ? tablePath.parent_path().string() : std::string(".");
  const std::string freshTable = FreeName(dir, tablePath.extension().string());
  const std::string freshBase = fs::path(freshTable).replace_extension().string();
  std::vector<TSwapMove> moves;
  std::vector<std::string> made{freshTable};
  std::vector<std::string> freshIndexes;
  auto cleanUp = [&] {
    for (const std::string& file : made) std::remove(file.c_str());
  };
  int64_t appended = 0;
  try {
    std::error_code error;
    fs::copy_file(target.table, freshTable, fs::copy_options::overwrite_existing, error);
    if (error) throw EExportError("Cannot copy \"" + target.table + "\": " + error.message());
    moves.push_back({target.table, FreeName(dir, ".old"), freshTable});
    made.push_back(moves.back().backup);
    std::vector<std::string> companions = CompanionsOf(target.table);
    for (const std::string& file : companions) {
      const std::string fresh = freshBase + fs::path(file).extension().string();
      made.push_back(fresh);
      fs::copy_file(file, fresh, fs::copy_options::overwrite_existing, error);
      if (error) throw EExportError("Cannot copy \"" + file + "\": " + error.message());
      moves.push_back({file, FreeName(dir, ".old"), fresh});
      made.push_back(moves.back().backup);
    }
    for (const std::string& file : target.indexFiles) {
      const fs::path index(file);
      const std::string fresh = freshBase + "-" + index.filename().string();
      made.push_back(fresh);
      fs::copy_file(file, fresh, fs::copy_options::overwrite_existing, error);
      if (error) throw EExportError("Cannot copy \"" + file + "\": " + error.message());
      moves.push_back({file, FreeName(dir, ".old"), fresh});
      made.push_back(moves.back().backup);
      freshIndexes.push_back(fresh);
    }
    // The backup names were only reserved; the swap wants them free.
    for (const TSwapMove& move : moves) std::remove(move.backup.c_str());

    {
      TDbfTable copy;
      copy.SetTableName(freshTable);
      copy.SetExclusive(true);
      if (target.codePage > 0) copy.SetChosenCodePage(target.codePage);
      copy.Open();
      for (const std::string& index : freshIndexes) copy.OpenIndexFile(index);
      TImportConverter converter(copy, mapping);
      std::vector<TImportCell> row;
      std::vector<TImportReject> rejects;
      while (source.Next(row)) {
        rejects.clear();
        if (!converter.Convert(row, source.RowNumber(), &rejects))
          throw EExportError("Row " + std::to_string(rejects.front().row) + ", " + rejects.front().field + ": " +
                             rejects.front().reason);
        try {
          copy.Append();
          converter.Apply();
          copy.Post();
        } catch (const EAbort&) {
          throw;
        } catch (const std::exception& e) {
          if (copy.State() != dsBrowse) copy.Cancel();
          throw EExportError("Row " + std::to_string(source.RowNumber()) + ": " + e.what());
        }
        ++appended;
        if (progress && appended % 256 == 0) progress(source.Progress());
      }
      copy.Close();
    }
    TFileSwap::Run(target.table, moves, false);
  } catch (...) {
    cleanUp();
    throw;
  }
  return appended;
}

}  // namespace norvale
