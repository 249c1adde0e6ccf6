// Import into an open table: rows of a CSV or text file, a spreadsheet or
// another table, matched to the table's fields.
//
// A first pass converts every row and lists the rows that would be rejected
// (a value that does not convert to its field's type, one that does not fit
// the field) without writing anything. The rows are then appended to a
// complete copy of the table's files, index files included, and the copy is
// swapped in only when every row went in: a failure, a key violation or a
// cancel leaves the table with exactly the records it had.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/export/import_source.h"

namespace norvale {

class TDbfTable;
class TField;

// Another table as an import source: its records in record order, deleted
// ones left out. Raises what opening the table raises.
std::unique_ptr<TImportSource> OpenDbfSource(const std::string& path);

// For each field, the source column it takes its values from (-1: none).
// Columns are matched by name without case first; while no name matches at
// all, by position.
std::vector<int> MatchColumns(const std::vector<std::string>& sourceNames, const std::vector<std::string>& fieldNames);

struct TImportReject {
  int64_t row = 0;     // the row's number in the source
  std::string field;   // the field it failed for
  std::string reason;  // "'12x' is not a number", ...
};

struct TImportCheck {
  int64_t rows = 0;
  int64_t rejectedRows = 0;
  std::vector<TImportReject> rejects;  // the first kMaxListed of them
  static constexpr size_t kMaxListed = 200;
  // The rejects as lines for a message: "Row 7, AMOUNT: 'x' is not a number".
  std::string Describe(size_t maxLines = 20) const;
};

using TImportProgress = std::function<void(double fraction)>;

// The values one source row gives the fields of `table`.
class TImportConverter {
 public:
  TImportConverter(TDbfTable& table, std::vector<int> mapping);
  ~TImportConverter();
  // Converts `row`; false with the reasons added to `rejects` when a value
  // does not convert or fit.
  bool Convert(const std::vector<TImportCell>& row, int64_t rowNumber, std::vector<TImportReject>* rejects);
  // Sets the converted values on the table's record being appended.
  void Apply();

 private:
  struct TTarget;
  TDbfTable& table_;
  std::vector<int> mapping_;
  std::vector<std::unique_ptr<TTarget>> targets_;
};

// The first pass over `source`: nothing is written.
TImportCheck CheckImport(TDbfTable& table, TImportSource& source, const std::vector<int>& mapping,
                         const TImportProgress& progress = {});

struct TImportTarget {
  std::string table;                    // the table's path
  std::vector<std::string> indexFiles;  // single-index files kept with it
  int codePage = 0;                     // what its text is read and written in
};

// The second pass: appends every row of `source` (from its start) to a copy
// of the closed table `target`, then puts the copy in the table's place.
// Raises EExportError naming the row on any failure, EAbort (from
// `progress`) on a cancel; the table's files are untouched then. Returns the
// number of records appended.
int64_t AppendImport(const TImportTarget& target, TImportSource& source, const std::vector<int>& mapping,
                     const TImportProgress& progress = {});

}  // namespace norvale
