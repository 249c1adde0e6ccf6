// Export to a new SQLite database: one table named after the exported one,
// a typed column for every exported column, a row for every record.
//
// Column types: text and memo TEXT; integers and numbers without decimals
// INTEGER; numbers with decimals REAL; dates TEXT 'YYYY-MM-DD', date-times
// TEXT 'YYYY-MM-DD HH:MM:SS' and times TEXT 'HH:MM:SS' (the forms SQLite's
// date functions read; '.mmm' follows the seconds when there are
// milliseconds); logicals INTEGER 0 or 1; binary BLOB, empty. A null is NULL.
//
// Why REAL and not NUMERIC for decimals: SQLite has no decimal type. A
// NUMERIC column stores "12.50" as the same 8-byte float a REAL column does,
// but turns "3.00" into the integer 3, so one column would hold two storage
// classes and readers would get 3 and 12.5 back. REAL gives every value the
// same class, bound as the double nearest its decimal text, and a value of
// up to 15 significant digits reads back as the same digits. The person is
// told when a value has more digits than that.
//
// The file is written fast and without a journal: the caller writes to a
// temporary name and renames it only after Finish, so a half-written
// database is never left under the real name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/export/export_value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace norvale {

class TSqliteWriter : public TExportWriter {
 public:
  TSqliteWriter(const std::string& path, const TExportSettings& settings);
  ~TSqliteWriter() override;

  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

  // The table's name for a title, and the columns' names for field names:
  // never empty, never SQLite's own "sqlite_" names, no two the same.
  static std::string TableName(const std::string& title);
  static std::vector<std::string> ColumnNames(const std::vector<TExportColumn>& columns);

 private:
  struct TDatabaseClose {
    void operator()(sqlite3* db) const;
  };
  struct TStatementFinalize {
    void operator()(sqlite3_stmt* statement) const;
  };

  void Execute(const std::string& sql);
  [[noreturn]] void Fail(const std::string& what) const;
  void Bind(int index, const TExportColumn& column, const TExportValue& value);

  std::string path_;
  TExportSettings settings_;
  std::vector<TExportColumn> columns_;
  std::unique_ptr<sqlite3, TDatabaseClose> db_;
  std::unique_ptr<sqlite3_stmt, TStatementFinalize> insert_;
  // Each column's date text, alive until the row is stepped.
  std::vector<std::string> texts_;
  int64_t rows_ = 0;
  int64_t inexactNumbers_ = 0;
  bool finished_ = false;
};

}  // namespace norvale
