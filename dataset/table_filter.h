// TTableFilter: a filter condition compiled for one table file and judged on
// record images. The table object's Filter and norvale-cli's dump --where
// both go through it, so one condition selects the same records in the
// viewer and in a script.
//
// Text fields are compared trimmed and in UTF-8 (the text a person types),
// never as raw code page bytes. A field the condition does not reach for a
// record is not decoded for it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "expr/table_parser.h"

namespace norvale {

class TDbfFile;

class TTableFilter {
 public:
  // `file` is open and outlives the filter.
  explicit TTableFilter(TDbfFile* file);
  ~TTableFilter();
  TTableFilter(const TTableFilter&) = delete;
  TTableFilter& operator=(const TTableFilter&) = delete;

  // Compiles `text`: string comparisons ignore letter case when
  // `ignoreCase`, and "=" honours "*" at either end of its right-hand text
  // when `partialCompare`. An empty or blank text leaves no condition. Raises the
  // parser's errors (EParserException, EConvertError, EDbfError for names
  // that are no usable field), or EParserException with kFilterNotLogical
  // when the value is not logical; on any error the condition compiled
  // before stays in force.
  void Compile(const std::string& text, bool ignoreCase, bool partialCompare);
  // No condition from now on.
  void Clear();
  // True while no condition is compiled (Accepts must not be called then).
  bool Empty() const { return parser_ == nullptr; }
  // The text of the condition in force ("" when none).
  const std::string& Text() const { return text_; }

  // Whether `record` (the record image: deletion flag, then the fields)
  // meets the condition. Raises what the evaluation raises (a division by
  // zero, say); the filter stays usable for the next record.
  bool Accepts(const uint8_t* record) { return parser_->EvaluateRecord(record)[0] != 0; }

 private:
  TDbfFile* file_;
  std::unique_ptr<TDbfParser> parser_;
  std::string text_;
};

}  // namespace norvale
