// norvale-cli dump in the order of an index: all records, the records of
// one key (found through the index, not by a scan), or those of a key range.
#pragma once

#include <cstdio>
#include <string>

#include "cli/record_writer.h"

namespace norvale::cli {

struct TOrderOptions {
  std::string tag;        // --order: a tag of the production index or of indexFile
  std::string indexFile;  // --index: a single- or multiple-index file beside the table
  bool seek = false;      // --seek VALUE
  std::string seekValue;
  bool range = false;  // --range LOW HIGH
  std::string low, high;
  bool Any() const { return !tag.empty() || !indexFile.empty() || seek || range; }
};

void DumpInOrder(TDbfFile& table, const TCodePageDecoder& text, const TDumpOptions& options,
                 const TOrderOptions& order, FILE* out);

}  // namespace norvale::cli
