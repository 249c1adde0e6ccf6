// Walking a tag in key order: first, last, next and prior, seeks by key,
// prefix and record, position numbers for scroll bars, and key ranges.
//
// A walk keeps the path of pages that led to its entry. Alone with the file
// the path stays good until the tree changes; in shared mode every step finds
// the entry again by its key and record number, since another program may
// have split or emptied any page since.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/table_file.h"
#include "index/index_file.h"
#include "index/index_file_state.h"
#include "index/index_keys.h"

namespace norvale {

namespace ix = fmt::idx;

TIndexFile::TTagState* TIndexFile::SelectedState() {
  if (!IsOpen() || selected_ < 0 || selected_ >= TagCount()) return nullptr;
  return tags_[static_cast<size_t>(selected_)].get();
}

bool TIndexFile::PrevLeaf(TTagState& tag, TPath& path) {
  int level = static_cast<int>(path.size()) - 2;
  while (level >= 0 && path[static_cast<size_t>(level)].pos <= 0) --level;
  if (level < 0) return false;
  path.resize(static_cast<size_t>(level) + 1);
  path.back().pos--;
  for (;;) {
    if (static_cast<int>(path.size()) >= kMaxDepth) Damaged("the tree is deeper than " + std::to_string(kMaxDepth));
    const TStep& step = path.back();
    const uint32_t block = step.page->ChildPage(step.pos);
    if (block == 0) Damaged("page " + std::to_string(step.page->PageNo()) + " links to page 0");
    TIndexPage* page = Page(tag, block);
    for (const TStep& s : path)
      if (s.page == page) Damaged("page " + std::to_string(block) + " is met twice on one path");
    // An inner page's last link is the trailing one, past its keyed entries.
    path.push_back({page, page->IsInner() ? page->EntryCount() : page->EntryCount() - 1});
    if (!page->IsInner()) return true;
  }
}

bool TIndexFile::StepForward(TTagState& tag, TPath& path) {
  path.back().pos++;
  return LandForward(tag, path);
}

bool TIndexFile::LandForward(TTagState& tag, TPath& path) {
  // Empty leaves are passed over; a tree emptied by deletes keeps them.
  while (path.back().pos >= path.back().page->EntryCount())
    if (!NextLeaf(tag, path)) return false;
  return true;
}

bool TIndexFile::StepBack(TTagState& tag, TPath& path) {
  path.back().pos--;
  while (path.back().pos < 0)
    if (!PrevLeaf(tag, path)) return false;
  return true;
}

void TIndexFile::DescendEdge(TTagState& tag, bool last, TPath& path) {
  path.clear();
  uint32_t block = tag.Root();
  for (;;) {
    if (static_cast<int>(path.size()) >= kMaxDepth) Damaged("the tree is deeper than " + std::to_string(kMaxDepth));
    TIndexPage* page = Page(tag, block);
    for (const TStep& s : path)
      if (s.page == page) Damaged("page " + std::to_string(block) + " is met twice on one path");
    const int pos = !last ? 0 : page->IsInner() ? page->EntryCount() : page->EntryCount() - 1;
    path.push_back({page, pos});
    if (!page->IsInner()) return;
    block = page->ChildPage(pos);
    if (block == 0) Damaged("page " + std::to_string(page->PageNo()) + " links to page 0");
  }
}

bool TIndexFile::InRange(const TTagState& tag, const uint8_t* key, bool checkLow, bool checkHigh) const {
  const TIndexWalk& w = tag.walk;
  if (!w.rangeActive) return true;
  if (checkLow && Compare(tag, key, reinterpret_cast<const uint8_t*>(w.low.data())) < 0) return false;
  if (checkHigh && Compare(tag, key, reinterpret_cast<const uint8_t*>(w.high.data())) > 0) return false;
  return true;
}

void TIndexFile::StoreWalk(TTagState& tag, const TPath& path) {
  TIndexWalk& w = tag.walk;
  w.path.clear();
  w.pages.clear();
  for (const TStep& s : path) {
    w.path.emplace_back(static_cast<uint32_t>(s.page->PageNo()), s.pos);
    w.pages.push_back(s.page);
  }
  const TStep& leaf = path.back();
  w.key.assign(reinterpret_cast<const char*>(leaf.page->KeyOfEntry(leaf.pos)),
               static_cast<size_t>(tag.geometry.keyLength));
  w.recNo = leaf.page->EntryRecord(leaf.pos);
  w.where = TIndexWalk::wOn;
  w.generation = generation_;
}

bool TIndexFile::LoadWalk(TTagState& tag, TPath& path, bool* moved) {
  TIndexWalk& w = tag.walk;
  path.clear();
  *moved = false;
  if (w.where != TIndexWalk::wOn) return false;
  if (w.generation == generation_) {
    for (size_t i = 0; i < w.path.size(); ++i) path.push_back({w.pages[i], w.path[i].second});
    return true;
  }
  // The tree changed under the walk: its entry is found again, or, when it
  // went, the walk stands on the first entry after its key.
  const uint8_t* key = reinterpret_cast<const uint8_t*>(w.key.data());
  Descend(tag, key, false, false, path);
  TPath first;
  bool haveFirst = false;
  while (LandForward(tag, path)) {
    const TStep& leaf = path.back();
    if (!haveFirst) {
      first = path;
      haveFirst = true;
    }
    if (Compare(tag, key, leaf.page->KeyOfEntry(leaf.pos)) != 0) break;
    if (leaf.page->EntryRecord(leaf.pos) == w.recNo) {
      StoreWalk(tag, path);
      return true;
    }
    path.back().pos++;
  }
  if (!haveFirst) {
    // Nothing after it: one step back from the end is the entry before.
    DescendEdge(tag, true, path);
    path.back().pos++;
    *moved = true;
    return true;
  }
  path = first;
  *moved = true;
  StoreWalk(tag, path);
  return true;
}

void TIndexFile::MoveFirst() {
  if (TTagState* tag = SelectedState()) tag->walk.where = TIndexWalk::wBefore;
}

void TIndexFile::MoveLast() {
  if (TTagState* tag = SelectedState()) tag->walk.where = TIndexWalk::wAfter;
}

bool TIndexFile::StepFromWalk(TTagState& tag, TPath& path) {
  const TIndexWalk& w = tag.walk;
  if (w.where == TIndexWalk::wBefore) {
    if (w.rangeActive)
      Descend(tag, reinterpret_cast<const uint8_t*>(w.low.data()), false, false, path);
    else
      DescendEdge(tag, false, path);
    return LandForward(tag, path);
  }
  if (w.where != TIndexWalk::wOn) return false;
  bool moved = false;
  if (!LoadWalk(tag, path, &moved)) return false;
  // A walk whose entry went already stands on the one after it.
  return moved ? LandForward(tag, path) : StepForward(tag, path);
}

bool TIndexFile::MoveNext() {
  TTagState* tag = SelectedState();
  if (!tag) return false;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TIndexWalk& w = tag->walk;
  // Reused from step to step: a walk allocates nothing per entry.
  TPath& path = scratchPath_;
  path.clear();
  bool on = StepFromWalk(*tag, path);
  if (on && !InRange(*tag, path.back().page->KeyOfEntry(path.back().pos), false, true)) on = false;
  if (!on) {
    w.where = TIndexWalk::wAfter;
    return false;
  }
  StoreWalk(*tag, path);
  return true;
}

int TIndexFile::MoveNextMany(int64_t* records, int max) {
  TTagState* tag = SelectedState();
  if (!tag || max <= 0) return 0;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TIndexWalk& w = tag->walk;
  TPath& path = scratchPath_;
  path.clear();
  // The first step as MoveNext takes it; the others along the same path,
  // which is stored once at the end.
  bool on = StepFromWalk(*tag, path);
  int n = 0;
  for (;;) {
    if (on && !InRange(*tag, path.back().page->KeyOfEntry(path.back().pos), false, true)) on = false;
    if (!on) {
      w.where = TIndexWalk::wAfter;
      return n;
    }
    records[n++] = path.back().page->EntryRecord(path.back().pos);
    if (n == max) break;
    on = StepForward(*tag, path);
  }
  StoreWalk(*tag, path);
  return n;
}

bool TIndexFile::MovePrior() {
  TTagState* tag = SelectedState();
  if (!tag) return false;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TIndexWalk& w = tag->walk;
  // Reused from step to step: a walk allocates nothing per entry.
  TPath& path = scratchPath_;
  path.clear();
  bool on = false;
  if (w.where == TIndexWalk::wAfter) {
    if (w.rangeActive) {
      // Past every key up to the high one, then one back.
      Descend(*tag, reinterpret_cast<const uint8_t*>(w.high.data()), true, false, path);
      on = StepBack(*tag, path);
    } else {
      DescendEdge(*tag, true, path);
      on = path.back().pos >= 0 || StepBack(*tag, path);
    }
  } else if (w.where == TIndexWalk::wOn) {
    // A walk whose entry went stands on the one after: one back from there
    // is the entry before the gone one.
    bool moved = false;
    on = LoadWalk(*tag, path, &moved) && StepBack(*tag, path);
  }
  if (on && !InRange(*tag, path.back().page->KeyOfEntry(path.back().pos), true, false)) on = false;
  if (!on) {
    w.where = TIndexWalk::wBefore;
    return false;
  }
  StoreWalk(*tag, path);
  return true;
}

int64_t TIndexFile::CurrentRecord() {
  TTagState* tag = SelectedState();
  if (!tag || tag->walk.where != TIndexWalk::wOn) return -1;
  return tag->walk.recNo;
}

std::string TIndexFile::CurrentKey() {
  TTagState* tag = SelectedState();
  if (!tag || tag->walk.where != TIndexWalk::wOn) return {};
  return tag->walk.key;
}

bool TIndexFile::SeekKey(const std::string& key, TSeekMode mode) {
  TTagState* tag = SelectedState();
  if (!tag || key.size() != static_cast<size_t>(tag->geometry.keyLength)) return false;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
  TPath& path = scratchPath_;
  path.clear();
  Descend(*tag, k, mode == smGreater, false, path);
  if (!LandForward(*tag, path)) return false;
  const uint8_t* found = path.back().page->KeyOfEntry(path.back().pos);
  if (mode == smEqual && Compare(*tag, k, found) != 0) return false;
  if (!InRange(*tag, found, true, true)) return false;
  StoreWalk(*tag, path);
  return true;
}

bool TIndexFile::SeekPrefix(std::string_view prefix) {
  TTagState* tag = SelectedState();
  if (!tag) return false;
  const size_t length = static_cast<size_t>(tag->geometry.keyLength);
  if (tag->compare != ckCharacter || prefix.size() > length) return false;
  // The prefix followed by the byte that sorts first (last, descending)
  // comes before every key that starts with it; those keys follow in one run.
  uint8_t edge = 0;
  for (int b = 0; b < 256; ++b) {
    const uint8_t c = static_cast<uint8_t>(b);
    const int r = CompareCharacter(*collation_, &c, &edge, 1);
    if (tag->descending ? r > 0 : r < 0) edge = c;
  }
  std::string key(prefix);
  key.resize(length, static_cast<char>(edge));
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TPath& path = scratchPath_;
  path.clear();
  Descend(*tag, reinterpret_cast<const uint8_t*>(key.data()), false, false, path);
  if (!LandForward(*tag, path)) return false;
  const uint8_t* found = path.back().page->KeyOfEntry(path.back().pos);
  if (std::memcmp(found, prefix.data(), prefix.size()) != 0) return false;
  if (!InRange(*tag, found, true, true)) return false;
  StoreWalk(*tag, path);
  return true;
}

bool TIndexFile::GotoRecord(int64_t recNo) {
  TTagState* tag = SelectedState();
  if (!tag || !table_ || recNo <= 0 || recNo > UINT32_MAX) return false;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TIndexWalk& w = tag->walk;
  if (w.where == TIndexWalk::wOn && w.recNo == recNo && w.generation == generation_) return true;
  if (!table_->RecordExists(recNo)) return false;
  std::vector<uint8_t> record(static_cast<size_t>(table_->RecordLength()));
  if (!table_->ReadRecord(recNo, record.data())) return false;
  std::string key;
  MakeKey(*tag, record.data(), key);
  const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
  TPath& path = scratchPath_;
  path.clear();
  Descend(*tag, k, false, false, path);
  while (LandForward(*tag, path)) {
    const TStep& leaf = path.back();
    if (Compare(*tag, k, leaf.page->KeyOfEntry(leaf.pos)) != 0) return false;
    if (leaf.page->EntryRecord(leaf.pos) == static_cast<uint32_t>(recNo)) {
      StoreWalk(*tag, path);
      return true;
    }
    path.back().pos++;
  }
  return false;
}

// ---------------------------------------------------------------- positions

std::vector<int64_t> TIndexFile::LevelWeights(TTagState& tag, int depth) {
  // A leaf entry weighs 1, a link the most entries a page below it holds
  // (at full fan-out). Saturated, so that a deep tree cannot overflow.
  std::vector<int64_t> weights(static_cast<size_t>(depth), 1);
  const int64_t fan = std::max(tag.geometry.maxEntries, 1);
  for (int i = depth - 2; i >= 0; --i) {
    const int64_t below = weights[static_cast<size_t>(i) + 1];
    weights[static_cast<size_t>(i)] = below > kAfterLast / fan ? kAfterLast : below * fan;
  }
  return weights;
}

int64_t TIndexFile::GetIndexPosition() {
  TTagState* tag = SelectedState();
  if (!tag || tag->walk.where == TIndexWalk::wBefore) return 0;
  if (tag->walk.where == TIndexWalk::wAfter) return kAfterLast;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TPath& path = scratchPath_;
  path.clear();
  bool moved = false;
  if (!LoadWalk(*tag, path, &moved) || !LandForward(*tag, path)) return kAfterLast;
  const std::vector<int64_t> weights = LevelWeights(*tag, static_cast<int>(path.size()));
  int64_t position = 1;
  for (size_t i = 0; i < path.size(); ++i) {
    const int64_t w = weights[i];
    const int64_t add = path[i].pos > 0 && w > (kAfterLast - position) / path[i].pos ? kAfterLast : path[i].pos * w;
    position = std::min(kAfterLast - 1, position + add);
  }
  return position;
}

int64_t TIndexFile::EstimatedCount() {
  TTagState* tag = SelectedState();
  if (!tag) return 0;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TPath& path = scratchPath_;
  path.clear();
  DescendEdge(*tag, false, path);
  TIndexPage* root = path.front().page;
  if (!root->IsInner()) return root->EntryCount();
  const int64_t w = LevelWeights(*tag, static_cast<int>(path.size())).front();
  const int64_t links = root->EntryCount() + 1;
  return w > (kAfterLast - 1) / links ? kAfterLast - 1 : w * links;
}

void TIndexFile::SetIndexPosition(int64_t position) {
  TTagState* tag = SelectedState();
  if (!tag) return;
  TIndexWalk& w = tag->walk;
  if (position <= 0) {
    w.where = TIndexWalk::wBefore;
    return;
  }
  if (position >= kAfterLast) {
    w.where = TIndexWalk::wAfter;
    return;
  }
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TPath edge;
  DescendEdge(*tag, false, edge);
  const std::vector<int64_t> weights = LevelWeights(*tag, static_cast<int>(edge.size()));
  TPath& path = scratchPath_;
  path.clear();
  int64_t rest = position - 1;
  uint32_t block = tag->Root();
  // Once a level has fewer entries than the position asks for, the
  // position is the first entry after that page: the levels below take
  // their last entries and one step forward follows.
  bool beyond = false;
  for (size_t level = 0;; ++level) {
    if (static_cast<int>(level) >= kMaxDepth) Damaged("the tree is deeper than " + std::to_string(kMaxDepth));
    TIndexPage* page = Page(*tag, block);
    for (const TStep& s : path)
      if (s.page == page) Damaged("page " + std::to_string(block) + " is met twice on one path");
    const int64_t weight = level < weights.size() ? weights[level] : 1;
    const int64_t want = rest / weight;
    rest %= weight;
    const int last = page->IsInner() ? page->EntryCount() : page->EntryCount() - 1;
    if (want > last) beyond = true;
    const int pos = beyond ? last : static_cast<int>(want);
    path.push_back({page, pos});
    if (!page->IsInner()) break;
    block = page->ChildPage(pos);
    if (block == 0) Damaged("page " + std::to_string(page->PageNo()) + " links to page 0");
  }
  bool on = beyond ? StepForward(*tag, path) : LandForward(*tag, path);
  if (!on) {
    // Past the last entry: the position stays on the last one.
    DescendEdge(*tag, true, path);
    on = path.back().pos >= 0 || StepBack(*tag, path);
  }
  if (!on) {
    w.where = TIndexWalk::wAfter;
    return;
  }
  const uint8_t* key = path.back().page->KeyOfEntry(path.back().pos);
  if (!InRange(*tag, key, true, false)) {
    w.where = TIndexWalk::wBefore;
    MoveNext();
    return;
  }
  if (!InRange(*tag, key, false, true)) {
    w.where = TIndexWalk::wAfter;
    MovePrior();
    return;
  }
  StoreWalk(*tag, path);
}

// ---------------------------------------------------------------- ranges

void TIndexFile::SetKeyRange(const std::string& low, const std::string& high) {
  TTagState* tag = SelectedState();
  if (!tag) return;
  const size_t length = static_cast<size_t>(tag->geometry.keyLength);
  TIndexWalk& w = tag->walk;
  w.low = low;
  w.high = high;
  // Keys of another length cannot be compared; padded as search keys are.
  const char pad = tag->compare == ckCharacter ? ' ' : '\0';
  w.low.resize(length, pad);
  w.high.resize(length, pad);
  w.rangeActive = true;
}

void TIndexFile::ClearKeyRange() {
  if (TTagState* tag = SelectedState()) tag->walk.rangeActive = false;
}

bool TIndexFile::RangeActive() const {
  if (!IsOpen() || selected_ < 0 || selected_ >= TagCount()) return false;
  return tags_[static_cast<size_t>(selected_)]->walk.rangeActive;
}

std::string TIndexFile::SearchKey(std::string_view text) const {
  if (!IsOpen() || selected_ < 0 || selected_ >= TagCount()) return {};
  const TTagState& tag = *tags_[static_cast<size_t>(selected_)];
  if (tag.compare != ckCharacter) {
    // A number typed as text.
    char* end = nullptr;
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), &end);
    return SearchKey(value);
  }
  std::string key(text.substr(0, static_cast<size_t>(tag.geometry.keyLength)));
  key.resize(static_cast<size_t>(tag.geometry.keyLength), ' ');
  return key;
}

std::string TIndexFile::SearchKey(double number) const {
  if (!IsOpen() || selected_ < 0 || selected_ >= TagCount()) return {};
  const TTagState& tag = *tags_[static_cast<size_t>(selected_)];
  std::string key(static_cast<size_t>(tag.geometry.keyLength), '\0');
  uint8_t* out = reinterpret_cast<uint8_t*>(key.data());
  if (tag.compare == ckDouble) {
    PutLE64(out, DoubleToBits(number));
  } else if (tag.compare == ckDecimal) {
    const double whole = std::floor(number);
    if (whole == number && std::abs(number) < 9e18)
      DecimalFromInteger(static_cast<int64_t>(number), out);
    else
      DecimalFromDouble(number, out);
  } else {
    return SearchKey(std::to_string(number));
  }
  return key;
}

}  // namespace norvale
