// What the index file keeps per tag, shared by the file's tree operations
// and its navigation. Not part of the index layer's interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "expr/table_parser.h"
#include "index/index_file.h"

namespace norvale {

enum TCompareKind { ckCharacter, ckDouble, ckDecimal };

// A walk through one tag in key order: where it stands, and the path of
// (block, entry) from the root that got it there. The path is trusted only
// while nothing changed the tree since (the generation); otherwise the walk
// is found again by its key and record number.
struct TIndexWalk {
  enum TWhere { wBefore, wOn, wAfter };
  TWhere where = wBefore;
  std::vector<std::pair<uint32_t, int>> path;
  // The same pages as cached when the path was stored; good while the
  // generation is.
  std::vector<TIndexPage*> pages;
  std::string key;
  uint32_t recNo = 0;
  uint64_t generation = 0;
  bool rangeActive = false;
  std::string low, high;
};

struct TIndexFile::TTagState {
  TIndexWalk walk;
  uint32_t headerBlock = 0;  // .mdx: the tag header page; .ndx: 0
  std::vector<uint8_t> header;
  bool headerModified = false;
  std::unique_ptr<TDbfIndexParser> parser;
  std::string parseError;
  TIndexGeometry geometry;
  char keyType = 'C';
  TIndexUniqueness uniqueness = iuNormal;
  bool descending = false;
  TCompareKind compare = ckCharacter;
  std::string name;
  std::string expression;

  uint32_t Root() const { return GetLE32(header.data() + fmt::idx::kRootPage); }
  void SetRoot(uint32_t block) { PutLE32(header.data() + fmt::idx::kRootPage, block); }
};

// Marks an operation on the file, so that shared-mode views are refreshed
// once at its start and written once at its end.
class TOperationScope {
 public:
  TOperationScope(int& depth, const std::function<void()>& begin, std::function<void()> end)
      : depth_(depth), end_(std::move(end)) {
    if (depth_++ == 0) begin();
  }
  ~TOperationScope() {
    if (--depth_ == 0) end_();
  }

 private:
  int& depth_;
  std::function<void()> end_;
};

}  // namespace norvale
