// Index definitions: which index files or tags a table opens, with their key
// expressions and options.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvale {

enum TIndexOption : uint32_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
  // Open, but not kept current by this program (a tag with a condition it
  // does not evaluate): its order may be out of date.
  ixNonMaintained = 32,
};
using TIndexOptions = uint32_t;

struct TDbfIndexDef {
  // A tag name, or an index file name with its extension.
  std::string indexFile;
  // The key expression.
  std::string sortField;
  TIndexOptions options = 0;
  // Added at open for a tag of the production index the caller did not list.
  bool temporary = false;
};

class TDbfIndexDefs {
 public:
  TDbfIndexDef& Add(const std::string& indexFile, const std::string& sortField, TIndexOptions options);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  TDbfIndexDef& Item(int index) { return items_.at(static_cast<size_t>(index)); }
  const TDbfIndexDef& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
  void Delete(int index);
  // The first item whose name is exactly `name` (case-sensitive).
  TDbfIndexDef* GetIndexByName(std::string_view name);
  // The first item whose key expression, trimmed and upper-cased, equals
  // `expression` trimmed and upper-cased; an empty text finds nothing.
  TDbfIndexDef* GetIndexByField(std::string_view expression);
  // Removes the temporary items whose name has no extension (the tags added
  // at open).
  void RemoveTemporaryTags();

 private:
  std::vector<TDbfIndexDef> items_;
};

}  // namespace norvale
