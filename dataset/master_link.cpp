// The master-detail link, and the detail table's side of it: the
// MasterSource and MasterFields properties, following the master's moves,
// and restricting the current index to the master's key.
#include "dataset/master_link.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "dataset/cursor.h"
#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/date_time.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "expr/table_parser.h"
#include "index/index_file.h"
#include "platform/ascii.h"

namespace norvale {

namespace {

template <typename T>
T ValueAt(const char* value) {
  T v;
  std::memcpy(&v, value, sizeof v);
  return v;
}

}  // namespace

TDbfMasterLink::TDbfMasterLink(TDbfTable* detail) : detail_(detail), parser_(std::make_unique<TDbfParser>()) {}

TDbfMasterLink::~TDbfMasterLink() {
  // Leaving the master's source tells this link once more; the detail is
  // going away and must not be touched.
  destroying_ = true;
  SetDataSource(nullptr);
}

void TDbfMasterLink::SetFieldNames(const std::string& names) {
  if (names == fieldNames_) return;
  fieldNames_ = names;
  Reevaluate();
  RaiseCompileError();
}

void TDbfMasterLink::RaiseCompileError() {
  if (!compileError_) return;
  std::exception_ptr error = compileError_;
  compileError_ = nullptr;
  std::rethrow_exception(error);
}

void TDbfMasterLink::ActiveChanged() {
  if (destroying_) return;
  const bool active = Active();
  TDataSet* master = active ? DataSet() : nullptr;
  if (active == wasActive_ && master == master_) return;
  Reevaluate();
}

void TDbfMasterLink::LayoutChanged() {
  // The master's fields may have moved in its record: compile again.
  if (!destroying_) Reevaluate();
}

void TDbfMasterLink::Reevaluate() {
  wasActive_ = Active();
  master_ = wasActive_ ? DataSet() : nullptr;
  valid_ = false;
  compileError_ = nullptr;
  // Dropped first in every case: the parser must not keep pointing into a
  // table file that is closing.
  parser_->SetDbfFile(nullptr);
  if (wasActive_ && !fieldNames_.empty()) {
    try {
      auto* master = dynamic_cast<TDbfTable*>(master_);
      if (!master || !master->DbfFile()) throw EDbfError(msg::kMasterNotDbfTable);
      parser_->SetDbfFile(master->DbfFile());
      parser_->ParseExpression(fieldNames_);
      valid_ = true;
    } catch (...) {
      parser_->SetDbfFile(nullptr);
      compileError_ = std::current_exception();
    }
  }
  if (destroying_ || !detail_->Active()) return;
  if (wasActive_) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TDbfMasterLink::MasterChanged() {
  if (destroying_ || !detail_->Active() || !Active()) return;
  if (OnMasterChange) OnMasterChange();
}

void TDbfMasterLink::RecordChanged(TField* field) {
  // A value typed into a master field the key does not read leaves the
  // detail where it is (a person editing the master would otherwise see
  // the detail jump back to its first record on every field).
  if (field) {
    if (!valid_) return;
    const std::string name = AsciiUpper(field->FieldName());
    const auto& vars = parser_->FieldVars();
    if (std::none_of(vars.begin(), vars.end(), [&](const auto& v) { return v->FieldDef().FieldName() == name; }))
      return;
  }
  MasterChanged();
}

void TDbfMasterLink::DataSetChanged() { MasterChanged(); }

void TDbfMasterLink::DataSetScrolled(int) { MasterChanged(); }

void TDbfMasterLink::CheckBrowseMode() {
  if (!destroying_ && detail_->Active()) detail_->CheckBrowseMode();
}

bool TDbfMasterLink::MasterKey(TIndexCursor& cursor, std::string* key) {
  if (!valid_ || !Active()) return false;
  auto* master = static_cast<TDbfTable*>(DataSet());
  TDbfFile* masterFile = master->DbfFile();
  if (!masterFile) return false;

  const uint8_t* buffer = master->ActiveBuffer();
  std::vector<uint8_t> blank;
  const uint8_t* record = nullptr;
  if (buffer) {
    record = buffer + TDbfTable::kHeaderSize;
  } else {
    blank.resize(static_cast<size_t>(std::max(masterFile->RecordLength(), 1)));
    masterFile->BlankRecord(blank.data());
    record = blank.data();
  }
  const char* value = parser_->EvaluateRecord(record);

  TIndexFile& index = *cursor.Index();
  if (index.SelectedTag() != cursor.Tag()) index.SelectTag(cursor.Tag());
  const TIndexTagInfo info = index.TagInfo(cursor.Tag());
  const bool characterKey = info.keyType != 'N' && info.keyType != 'F' && info.keyType != 'D';
  switch (parser_->ResultType()) {
    case rtString: {
      // A single field answers its bytes inside the record, unterminated.
      const size_t bound = parser_->IsSingleField()
                               ? static_cast<size_t>(parser_->FieldVars().front()->FieldDef().Size())
                               : parser_->ResultCapacity();
      std::string text(value, strnlen(value, bound));
      if (master->CodePage() != detail_->CodePage()) {
        const int room = characterKey ? info.keyLength : INT_MAX;
        text = detail_->TextToTable(master->TextFromTable(text), room);
      }
      *key = index.SearchKey(std::string_view(text));
      return true;
    }
    case rtInteger: *key = index.SearchKey(static_cast<double>(ValueAt<int32_t>(value))); return true;
    case rtLargeInt: *key = index.SearchKey(static_cast<double>(ValueAt<int64_t>(value))); return true;
    case rtFloat: *key = index.SearchKey(ValueAt<double>(value)); return true;
    case rtDateTime: {
      // Date keys are Julian day numbers, as the index builds them; an
      // empty date is 0 there too.
      const double v = ValueAt<double>(value);
      *key = index.SearchKey(v == 0 ? 0.0 : std::floor(v) + kDayNumberOf18991230 + kJulianDayOffset);
      return true;
    }
    case rtBoolean: {
      const bool on = value[0] != 0;
      *key = characterKey ? index.SearchKey(std::string_view(on ? "T" : "F")) : index.SearchKey(on ? 1.0 : 0.0);
      return true;
    }
    default: return false;
  }
}

// ---------------------------------------------------------------- the detail's side

void TDbfTable::InitMasterLink() {
  masterLink_ = std::make_unique<TDbfMasterLink>(this);
  masterLink_->OnMasterChange = [this] { MasterChanged(); };
  masterLink_->OnMasterDisable = [this] { MasterDisabled(); };
}

TDataSource* TDbfTable::MasterSource() const { return masterLink_->DataSource(); }

void TDbfTable::SetMasterSource(TDataSource* source) {
  // Follow the chain of masters from the new source: meeting this table
  // on it would make a move of the table move itself, endlessly. The count
  // bounds a chain that is circular already without passing here.
  int steps = 0;
  for (TDataSource* s = source; s && steps < 10000; ++steps) {
    TDataSet* ds = s->DataSet();
    if (!ds) break;
    if (ds == this) throw EDbfError(msg::kCircularDataLink);
    auto* table = dynamic_cast<TDbfTable*>(ds);
    s = table ? table->MasterSource() : nullptr;
  }
  masterLink_->SetDataSource(source);
  masterLink_->RaiseCompileError();
}

const std::string& TDbfTable::MasterFields() const { return masterLink_->FieldNames(); }

void TDbfTable::SetMasterFields(const std::string& fields) { masterLink_->SetFieldNames(fields); }

bool TDbfTable::RestrictToMaster() {
  TIndexCursor* cursor = IndexCursor();
  std::string key;
  if (!cursor || !masterLink_->MasterKey(*cursor, &key)) return false;
  // MasterKey selected the cursor's tag.
  cursor->Index()->SetKeyRange(key, key);
  masterLink_->SetRangeApplied(true);
  InvalidateReadAhead();
  cursor->First();
  return true;
}

void TDbfTable::LeaveMasterRange() {
  // Each tag keeps its range in the index file: a master range left on a
  // tag the detail switches away from would still hold when the link is
  // gone and the tag is chosen again.
  if (!masterLink_->RangeApplied()) return;
  masterLink_->SetRangeApplied(false);
  TIndexCursor* cursor = IndexCursor();
  if (!cursor) return;
  if (cursor->Index()->SelectedTag() != cursor->Tag()) cursor->Index()->SelectTag(cursor->Tag());
  cursor->Index()->ClearKeyRange();
}

void TDbfTable::MasterChanged() {
  CheckBrowseMode();
  if (RestrictToMaster()) {
    First();
  } else if (masterLink_->RangeApplied()) {
    // The key no longer compiles, or is gone: the old master's records
    // must not stay as if they were this master's.
    masterLink_->SetRangeApplied(false);
    CancelRange();
  }
}

void TDbfTable::MasterDisabled() {
  masterLink_->SetRangeApplied(false);
  CancelRange();
}

}  // namespace norvale
