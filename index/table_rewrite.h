// Packing, restructuring and zapping a table file with its memo and index
// files. Pack and restructure build the complete new table beside the old
// one (records, memo values, every index rebuilt), sync it, and swap the
// files through TFileSwap: a failure or a crash at any point leaves the
// table's name opening the old table or the new one, never a mixture.
//
// These live with the index administration because the new table's indexes
// are built from the old ones' tags, which the table file does not know.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/fields.h"

namespace norvale {

struct TRewriteOptions {
  // Single-index (.ndx) files that belong to the table besides its
  // production .mdx; they are rebuilt and swapped with it.
  std::vector<std::string> indexFiles;
  // Called now and then while records are copied.
  std::function<void(int64_t done, int64_t total)> progress;
};

struct TRewriteResult {
  int64_t records = 0;   // records in the new table
  int64_t dropped = 0;   // deleted records left out
  std::string backup;    // the old table's new name (restructure only)
};

// Removes the deleted records. The memo file keeps only the values of the
// records kept; the old files are deleted once the new ones are in.
TRewriteResult PackTable(const std::string& path, const TRewriteOptions& options = {});

// Rewrites the table with the fields of `fields`; each field whose
// CopyFrom() names an old field (by its position) receives that field's
// value, converted by value; others start blank. Deleted records are kept,
// or left out with `pack`. The old table stays as the backup named in the
// result. A value that cannot be carried stops the restructure before
// anything is swapped, with the field and the record in the message.
TRewriteResult RestructureTable(const std::string& path, const TDbfFieldDefs& fields, bool pack,
                                const TRewriteOptions& options = {});

// Removes every record; the indexes are rebuilt empty. The memo file is
// left as it is.
void ZapTable(const std::string& path, const TRewriteOptions& options = {});

}  // namespace norvale
