#include "app/export/sqlite_writer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <set>

namespace norvale {

namespace {

std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// SQLite tells names apart without regard to ASCII case.
std::string Folded(const std::string& name) {
  std::string out;
  for (char c : name) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string WithoutNuls(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '\0') out += c;
  return out;
}

const char* ColumnType(const TExportColumn& column) {
  switch (column.kind) {
    case TExportKind::Integer:
    case TExportKind::Logical:
      return "INTEGER";
    case TExportKind::Number:
      return column.decimals > 0 ? "REAL" : "INTEGER";
    case TExportKind::Binary:
      return "BLOB";
    default:
      return "TEXT";
  }
}

}  // namespace

void TSqliteWriter::TDatabaseClose::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void TSqliteWriter::TStatementFinalize::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

TSqliteWriter::TSqliteWriter(const std::string& path, const TExportSettings& settings)
    : path_(path), settings_(settings) {}

TSqliteWriter::~TSqliteWriter() {
  // The statement must go before the database it belongs to.
  insert_.reset();
  db_.reset();
}

std::string TSqliteWriter::TableName(const std::string& title) {
  std::string name = WithoutNuls(title);
  if (name.empty()) return "export";
  if (Folded(name).rfind("sqlite_", 0) == 0) name.insert(0, "_");
  return name;
}

std::vector<std::string> TSqliteWriter::ColumnNames(const std::vector<TExportColumn>& columns) {
  std::vector<std::string> names;
  std::set<std::string> taken;
  for (size_t i = 0; i < columns.size(); ++i) {
    std::string base = WithoutNuls(columns[i].name);
    if (base.empty()) base = "column_" + std::to_string(i + 1);
    std::string name = base;
    for (int n = 2; taken.count(Folded(name)) != 0; ++n) name = base + "_" + std::to_string(n);
    taken.insert(Folded(name));
    names.push_back(name);
  }
  return names;
}

void TSqliteWriter::Fail(const std::string& what) const {
  const char* reason = db_ ? sqlite3_errmsg(db_.get()) : "out of memory";
  throw EExportError("The database " + path_ + " could not be written (" + what + "): " + reason);
}

void TSqliteWriter::Execute(const std::string& sql) {
  if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
}

void TSqliteWriter::Begin(const std::vector<TExportColumn>& columns) {
  if (db_ || finished_) throw EExportError("The database export was begun twice.");
  if (columns.empty()) throw EExportError("A database table needs at least one column; none is visible.");
  columns_ = columns;
  texts_.assign(columns_.size(), {});

  // A file already there (the caller's temporary name may have been made
  // empty beforehand) would otherwise be opened as a database of its own.
  std::error_code ignored;
  if (std::filesystem::is_regular_file(path_, ignored)) std::filesystem::remove(path_, ignored);

  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  db_.reset(db);
  if (opened != SQLITE_OK) Fail("opening");
  sqlite3_extended_result_codes(db_.get(), 1);

  Execute("PRAGMA journal_mode=OFF");
  Execute("PRAGMA synchronous=OFF");
  Execute("PRAGMA locking_mode=EXCLUSIVE");

  const std::vector<std::string> names = ColumnNames(columns_);
  const std::string table = Quoted(TableName(settings_.title));
  std::string create = "CREATE TABLE " + table + " (";
  std::string insert = "INSERT INTO " + table + " VALUES (";
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) {
      create += ", ";
      insert += ", ";
    }
    create += Quoted(names[i]) + ' ' + ColumnType(columns_[i]);
    insert += '?';
  }
  Execute("BEGIN");
  Execute(create + ")");

  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_.get(), (insert + ")").c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    Fail("preparing the insert");
  }
  insert_.reset(statement);
}

void TSqliteWriter::Bind(int index, const TExportColumn& column, const TExportValue& v) {
  sqlite3_stmt* s = insert_.get();
  int result = SQLITE_OK;
  if (v.null) {
    result = sqlite3_bind_null(s, index);
  } else {
    switch (column.kind) {
      case TExportKind::Text:
      case TExportKind::Memo:
        result = sqlite3_bind_text64(s, index, v.text.data(), v.text.size(), SQLITE_STATIC, SQLITE_UTF8);
        break;
      case TExportKind::Integer:
        result = sqlite3_bind_int64(s, index, v.integer);
        break;
      case TExportKind::Number: {
        const char* first = v.text.data();
        const char* last = first + v.text.size();
        if (!v.text.empty() && v.text[0] == '+') ++first;
        if (column.decimals <= 0) {
          int64_t whole = 0;
          const auto parsed = std::from_chars(first, last, whole);
          if (parsed.ec == std::errc() && parsed.ptr == last) {
            result = sqlite3_bind_int64(s, index, whole);
            break;
          }
        }
        // The text is the exact decimal; reading it gives the nearest double,
        // where `number` may have gathered rounding on its way.
        double value = v.number;
        const auto parsed = std::from_chars(first, last, value);
        if (parsed.ec != std::errc() || parsed.ptr != last) {
          value = v.number;
        } else if (column.decimals > 0) {
          char back[400];
          std::snprintf(back, sizeof back, "%.*f", std::min(column.decimals, 30), value);
          if (std::string(first, last) != back) ++inexactNumbers_;
        }
        result = sqlite3_bind_double(s, index, value);
        break;
      }
      case TExportKind::Date:
        texts_[index - 1] = ExportIsoDate(v);
        break;
      case TExportKind::DateTime:
        texts_[index - 1] = ExportIsoDate(v) + ' ' + ExportIsoTime(v);
        break;
      case TExportKind::Time:
        texts_[index - 1] = ExportIsoTime(v);
        break;
      case TExportKind::Logical:
        result = sqlite3_bind_int(s, index, v.logical ? 1 : 0);
        break;
      case TExportKind::Binary:
        result = sqlite3_bind_zeroblob(s, index, 0);
        break;
    }
    if (column.kind == TExportKind::Date || column.kind == TExportKind::DateTime || column.kind == TExportKind::Time) {
      const std::string& text = texts_[index - 1];
      result = sqlite3_bind_text64(s, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
    }
  }
  if (result != SQLITE_OK) Fail("column " + column.name);
}

void TSqliteWriter::Row(const TExportRow& row) {
  if (!insert_ || finished_) throw EExportError("A row was given to the database export outside Begin and Finish.");
  if (row.size() != columns_.size()) {
    throw EExportError("A row of " + std::to_string(row.size()) + " values was given for " +
                       std::to_string(columns_.size()) + " columns.");
  }
  for (size_t i = 0; i < row.size(); ++i) Bind(static_cast<int>(i) + 1, columns_[i], row[i]);
  const int stepped = sqlite3_step(insert_.get());
  if (stepped != SQLITE_DONE) Fail("row " + std::to_string(rows_ + 1));
  if (sqlite3_reset(insert_.get()) != SQLITE_OK) Fail("row " + std::to_string(rows_ + 1));
  ++rows_;
}

void TSqliteWriter::Finish() {
  if (!insert_ || finished_) throw EExportError("The database export was finished without being begun.");
  finished_ = true;
  insert_.reset();
  Execute("COMMIT");
  sqlite3* db = db_.release();
  if (sqlite3_close(db) != SQLITE_OK) {
    const std::string reason = sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    throw EExportError("The database " + path_ + " could not be closed: " + reason);
  }
  if (inexactNumbers_ > 0) {
    warnings_.push_back(ExportGroupedNumber(std::to_string(inexactNumbers_)) +
                        (inexactNumbers_ == 1 ? " number has" : " numbers have") +
                        " more digits than an SQLite REAL keeps; the nearest value was stored.");
  }
}

}  // namespace norvale
