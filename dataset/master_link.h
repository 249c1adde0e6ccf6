// TDbfMasterLink: the tie of a detail table to the current record of its
// master. The master's key (MasterFields, an expression over the master's
// fields) is compiled once against the master's table file whenever the
// link comes alive, and evaluated again on every move of the master; the
// detail then restricts its current index to the records whose key equals
// that value.
//
// The link only computes keys and says when they change; what the detail
// does with them (leave an edit, set or lift its range) is the detail's,
// through OnMasterChange and OnMasterDisable.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "dataset/dataset.h"

namespace norvale {

class TDbfParser;
class TDbfTable;
class TIndexCursor;

class TDbfMasterLink : public TDataLink {
 public:
  // `detail` owns the link and outlives it.
  explicit TDbfMasterLink(TDbfTable* detail);
  ~TDbfMasterLink() override;

  TDbfTable* DetailDataSet() const { return detail_; }
  const std::string& FieldNames() const { return fieldNames_; }
  // A different text is stored and compiled again when the master is open;
  // the detail is told either way. Raises what compiling raises (the text
  // stays stored, the link holds no expression then).
  void SetFieldNames(const std::string& names);
  // Active and the master key compiled.
  bool ValidExpression() const { return valid_; }

  // The master key for the record the master stands on (a blank record when
  // it has none), as the stored key of the detail index `cursor` walks:
  // text converted to the detail's code page when the two tables' pages
  // differ, numbers and dates in the tag's numeric form. False when the
  // link is not active and valid.
  bool MasterKey(TIndexCursor& cursor, std::string* key);

  // Whether the range on the detail's current index is the one the link set.
  bool RangeApplied() const { return rangeApplied_; }
  void SetRangeApplied(bool value) { rangeApplied_ = value; }

  // Raises the error the last compile on a change of the master met, and
  // forgets it; for callers that changed the master themselves.
  void RaiseCompileError();

  // Raised only while the detail is open: the master moved (or the link
  // came alive), and the link went inactive.
  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

  // TDataLink
  void ActiveChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void CheckBrowseMode() override;

 private:
  // Compiles the master key when active (otherwise drops it), then tells
  // the detail. A compile error is kept in compileError_, not raised: the
  // master's own notifications must reach its other views.
  void Reevaluate();
  void MasterChanged();

  TDbfTable* detail_;
  std::unique_ptr<TDbfParser> parser_;
  bool valid_ = false;
  std::string fieldNames_;
  // What the last re-evaluation saw: the master's state changes between
  // browse and edit reach ActiveChanged too, and must not recompile.
  bool wasActive_ = false;
  TDataSet* master_ = nullptr;
  bool rangeApplied_ = false;
  bool destroying_ = false;
  std::exception_ptr compileError_;
};

}  // namespace norvale
