// The table object in index order: the definitions of the production tags,
// the listed index files opened with the table, selecting an order by name
// or by key expression, key ranges, and key searches through a tag.
#include <algorithm>

#include "dataset/cursor.h"
#include "dataset/dbf_table.h"
#include "dataset/dataset_messages.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "index/index_file.h"
#include "index/table_indexes.h"
#include "platform/ascii.h"

namespace norvale {

namespace {

std::string TrimmedName(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool NameHasExtension(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

}  // namespace

void TDbfTable::AddProductionIndexTags() {
  if (!indexFiles_ || !indexFiles_->Production()) return;
  TIndexFile& mdx = *indexFiles_->Production();
  for (int i = 0; i < mdx.TagCount(); ++i) {
    const TIndexTagInfo info = mdx.TagInfo(i);
    if (indexDefs_.GetIndexByName(info.name)) continue;
    TIndexOptions options = ixExpression;
    if (info.descending) options |= ixDescending;
    if (info.uniqueness == iuUnique) options |= ixUnique;
    if (info.uniqueness == iuDistinct) options |= ixPrimary;
    if (info.filtered || !mdx.CanEdit()) options |= ixNonMaintained;
    TDbfIndexDef& def = indexDefs_.Add(info.name, AsciiUpper(TrimmedName(info.expression)), options);
    def.temporary = true;
  }
}

void TDbfTable::OpenListedIndexes() {
  if (!indexFiles_) return;
  // Tags are in the production file already; the files named with an
  // extension are opened as they exist, never created here.
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    const TDbfIndexDef& def = indexDefs_.Item(i);
    if (def.temporary || !NameHasExtension(TrimmedName(def.indexFile))) continue;
    indexFiles_->AttachIndex(def.indexFile, std::string(), def.options, false);
  }
}

void TDbfTable::SetIndexName(const std::string& name) {
  indexName_ = name;
  if (!dbfFile_ || !cursor_) return;
  CheckBrowseMode();
  SelectIndex();
  FillWindowFromCursor();
}

std::string TDbfTable::IndexFieldNames() const {
  // Index names are matched as the index files match them: letter case
  // and surrounding blanks do not count.
  const std::string name = AsciiUpper(TrimmedName(indexName_));
  if (name.empty()) return {};
  for (int i = 0; i < indexDefs_.Count(); ++i)
    if (AsciiUpper(TrimmedName(indexDefs_.Item(i).indexFile)) == name) return indexDefs_.Item(i).sortField;
  return {};
}

void TDbfTable::SetIndexFieldNames(const std::string& names) {
  const TDbfIndexDef* def = indexDefs_.GetIndexByField(names);
  SetIndexName(def ? def->indexFile : std::string());
}

void TDbfTable::SelectIndex() {
  // The record that is current stays current in the new order.
  int64_t current = 1;
  if (cursor_) {
    const uint8_t* buffer = ActiveBuffer();
    const int64_t recNo = buffer ? BookmarkRecNo(GetBookmarkData(buffer)) : -1;
    current = recNo > 0 ? recNo : cursor_->GetPhysicalRecord();
  }
  TIndexFile* file = nullptr;
  int tag = -1;
  const std::string name = TrimmedName(indexName_);
  if (!name.empty() && indexFiles_) file = indexFiles_->Find(name, &tag);
  InvalidateReadAhead();
  LeaveMasterRange();
  if (file && tag >= 0) {
    cursor_ = std::make_unique<TIndexCursor>(dbfFile_.get(), file, tag);
    // A detail shows its master's records from the first one in the new
    // order; the record that was current may not be among them.
    if (RestrictToMaster()) current = 0;
  } else {
    cursor_ = std::make_unique<TDbfCursor>(dbfFile_.get());
    indexName_.clear();
  }
  if (current > 0) cursor_->SetPhysicalRecord(current);
}

TIndexCursor* TDbfTable::IndexCursor() const { return dynamic_cast<TIndexCursor*>(cursor_.get()); }

std::vector<std::string> TDbfTable::GetIndexNames() const {
  CheckActive();
  return indexFiles_ ? indexFiles_->IndexNames() : std::vector<std::string>{};
}

void TDbfTable::OpenIndexFile(const std::string& name) {
  CheckActive();
  if (!indexFiles_) return;
  const std::string trimmed = TrimmedName(name);
  const bool absolute = !trimmed.empty() && trimmed.front() == '/';
  indexFiles_->AttachIndex(absolute ? trimmed : FilePathFull() + trimmed, std::string(), 0, false);
}

std::string TDbfTable::IndexKeyFor(const TVariant& value) {
  TIndexCursor* cursor = IndexCursor();
  if (!cursor) return {};
  TIndexFile& index = *cursor->Index();
  if (index.SelectedTag() != cursor->Tag()) index.SelectTag(cursor->Tag());
  const TIndexTagInfo info = index.TagInfo(cursor->Tag());
  if (info.keyType == 'C') {
    // Converted first, cut after, so that no character is split.
    return index.SearchKey(TextToTable(value.ToText(), info.keyLength));
  }
  if (value.Type() == varString) return index.SearchKey(std::string_view(value.String()));
  return index.SearchKey(value.Type() == varInteger ? static_cast<double>(value.Integer()) : value.Float());
}

void TDbfTable::SetRange(const TVariant& low, const TVariant& high) {
  TIndexCursor* cursor = IndexCursor();
  if (!cursor) return;
  const std::string lowKey = IndexKeyFor(low), highKey = IndexKeyFor(high);
  cursor->Index()->SetKeyRange(lowKey, highKey);
  if (Active()) First();
}

void TDbfTable::CancelRange() {
  TIndexCursor* cursor = IndexCursor();
  if (!cursor) return;
  if (cursor->Index()->SelectedTag() != cursor->Tag()) cursor->Index()->SelectTag(cursor->Tag());
  cursor->Index()->ClearKeyRange();
  if (Active()) Refresh();
}

}  // namespace norvale
