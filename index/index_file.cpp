#include "index/index_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <numeric>
#include <stdexcept>
#include <unordered_set>

#include "engine/byte_order.h"
#include "engine/date_time.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/messages.h"
#include "engine/table_file.h"
#include "expr/expr_messages.h"
#include "expr/table_parser.h"
#include "index/index_file_state.h"
#include "index/index_keys.h"
#include "index/index_tag.h"
#include "platform/ascii.h"
#include "platform/os_misc.h"

namespace norvale {

namespace ix = fmt::idx;


// Holds a lock of another program's view for one scope. Locks count per
// block, so a nested take of the same block does not release the outer. The
// pages an operation changes are locked as they change and stay locked, with
// their new bytes unwritten, until its outermost lock ends.
class TIndexFile::TLockGuard {
 public:
  TLockGuard(TIndexFile& file, uint32_t block) : file_(file), block_(block) {
    if (!file_.IsShared()) return;
    file_.LockBlock(block_);
    ++file_.activeGuards_;
    held_ = true;
  }
  ~TLockGuard() {
    if (!held_) return;
    if (--file_.activeGuards_ == 0) {
      // What others read after our release must be what we wrote.
      file_.WriteModifiedPages();
      for (auto it = file_.pageLocks_.rbegin(); it != file_.pageLocks_.rend(); ++it) file_.UnlockBlock(*it);
      file_.pageLocks_.clear();
    }
    file_.UnlockBlock(block_);
  }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TIndexFile& file_;
  uint32_t block_;
  bool held_ = false;
};

void TIndexFile::LockBlock(uint32_t block) {
  int& count = locks_[block];
  if (count == 0) {
    const auto start = std::chrono::steady_clock::now();
    while (!AcquirePageLock(block, false)) {
      if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(lockWaitMs_)) {
        locks_.erase(block);
        throw EDbfError(FormatMessage(msg::kIndexLockTimeout, BaseName().c_str()));
      }
      SleepMs(10);
    }
  }
  ++count;
}

void TIndexFile::UnlockBlock(uint32_t block) {
  auto it = locks_.find(block);
  if (it == locks_.end() || --it->second > 0) return;
  ReleasePageLock(block);
  locks_.erase(it);
}

void TIndexFile::LockForChange(TIndexPage* page) {
  if (!IsShared() || activeGuards_ == 0) return;
  const uint32_t block = static_cast<uint32_t>(page->PageNo());
  if (std::find(pageLocks_.begin(), pageLocks_.end(), block) != pageLocks_.end()) return;
  LockBlock(block);
  pageLocks_.push_back(block);
}

namespace {

bool HasMdxExtension(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  return AsciiUpper(name.substr(dot)) == ".MDX";
}

int RoundUp4(int n) { return (n + 3) / 4 * 4; }

void StoreDate(uint8_t* p) {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  p[0] = static_cast<uint8_t>(parts.tm_year);
  p[1] = static_cast<uint8_t>(parts.tm_mon + 1);
  p[2] = static_cast<uint8_t>(parts.tm_mday);
}


}  // namespace

TIndexFile::TIndexFile(TDbfFile* table) : table_(table) {}

TIndexFile::~TIndexFile() {
  try {
    Close();
  } catch (...) {
  }
}

void TIndexFile::Damaged(const std::string& what) const {
  throw EDbfError(FormatMessage(msg::kIndexDamaged, BaseName().c_str(), what.c_str()));
}

std::string TIndexFile::BaseName() const {
  const std::string& path = FileName();
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int TIndexFile::LanguageId() const { return multiple_ && !header_.empty() ? Header()[ix::kMdxLanguageId] : 0; }

int TIndexFile::MaxTags() const {
  if (!multiple_ || tagEntrySize_ <= 0) return 1;
  return std::min(ix::kMaxTags, (ix::kMdxHeaderSize - ix::kMdxTagTable) / tagEntrySize_ - 1);
}

uint8_t* TIndexFile::TagEntry(int slot) { return Header() + ix::kMdxTagTable + tagEntrySize_ * (slot + 1); }

void TIndexFile::Open() {
  if (IsOpen()) return;
  multiple_ = HasMdxExtension(FileName());
  base_ = TIndexGeometry{};
  if (multiple_) {
    base_.pageSize = ix::kMdxPageSize;
    base_.pageHeader = ix::kMdxPageHeader;
    base_.entryHeader = ix::kMdxEntryHeader;
  } else {
    base_.pageSize = ix::kNdxPageSize;
    base_.pageHeader = ix::kNdxPageHeader;
    base_.entryHeader = ix::kNdxEntryHeader;
  }
  TPagedFile::Open();
  SetHeaderCountedInOffsets(false);
  SetRecordSize(base_.pageSize);
  SetStride(ix::kBlockSize);
  SetHeaderOffset(0);
  SetHeaderSize(multiple_ ? ix::kMdxHeaderSize : ix::kNdxPageSize);
  tags_.clear();
  ++tagSet_;
  ClearCache();
  selected_ = -1;
  keyViolation_.clear();
  try {
    const bool empty = stream_->Size() == 0;
    if (empty && ModeWritable(Mode())) {
      level_ = multiple_ && table_ && table_->TableLevel() == 7 ? 7 : 4;
      InitNewFile();
    } else {
      if (empty) Damaged("the file is empty");
      ReadExistingFile();
    }
  } catch (...) {
    headerModified_ = false;
    tags_.clear();
    ClearCache();
    TPagedFile::Close();
    throw;
  }
  if (!collation_) {
    int id = LanguageId();
    if (id == 0 && table_) id = table_->LanguageId();
    const TCollation* c = CollationFor(id);
    collation_ = c ? c : &BinaryCollation();
  }
  if (!tags_.empty()) SelectTag(0);
  updateAll_ = true;
}

void TIndexFile::Close() {
  if (!IsOpen()) return;
  Flush();
  tags_.clear();
  ++tagSet_;
  ClearCache();
  selected_ = -1;
  TPagedFile::Close();
}

void TIndexFile::Reopen() {
  if (!IsOpen() || !table_) return;
  Flush();
  const TPagedFileMode tableMode = table_->Mode();
  Close();
  if (tableMode == amExclusiveOpen || tableMode == amExclusiveCreate)
    SetMode(amExclusiveOpen);
  else if (tableMode == amSharedOpen || tableMode == amSharedCreate)
    SetMode(amSharedOpen);
  else if (tableMode == amReadOnly)
    SetMode(amReadOnly);
  const TCollation* keep = collation_;
  Open();
  collation_ = keep;
}

void TIndexFile::InitNewFile() {
  uint8_t* h = Header();
  std::memset(h, 0, static_cast<size_t>(HeaderSize()));
  if (!multiple_) {
    // The one index is set up by CreateTag; until then the file is a bare
    // header with a page count of 1.
    PutLE32(h + ix::kPageCount, 1);
    StoreHeader();
    FlushHeader();
    return;
  }
  tagEntrySize_ = level_ == 7 ? ix::kTagEntrySize7 : ix::kTagEntrySize4;
  h[ix::kMdxVersion] = level_ == 7 ? ix::kMdxVersionLevel7 : ix::kMdxVersionLevel4;
  StoreDate(h + ix::kMdxCreated);
  std::string base = BaseName();
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  std::memcpy(h + ix::kMdxFileName, base.data(), std::min<size_t>(base.size(), ix::kMdxFileNameSize - 1));
  PutLE16(h + ix::kMdxBlockUnits, ix::kMdxPageBlocks);
  PutLE16(h + ix::kMdxPageLength, ix::kMdxPageSize);
  h[ix::kMdxProduction] = 1;
  h[ix::kMdxTagSlots] = ix::kMdxTagSlotCount;
  h[ix::kMdxTagEntrySize] = static_cast<uint8_t>(tagEntrySize_);
  h[ix::kMdxLanguageId] = table_ ? table_->LanguageId() : 0;
  PutLE32(h + ix::kMdxNextFreeBlock, ix::kMdxHeaderBlocks);
  StoreDate(h + ix::kMdxUpdated);
  h[ix::kMdxTagTable + ix::kMdxReservedSlotMark] = 1;
  StoreHeader();
  FlushHeader();
}

void TIndexFile::ReadExistingFile() {
  const int64_t size = stream_->Size();
  if (size < HeaderSize()) Damaged("the header is cut short");
  if (!multiple_) {
    auto tag = std::make_unique<TTagState>();
    tag->header.assign(Header(), Header() + ix::kNdxPageSize);
    tag->name = BaseName();
    PrepareTag(*tag);
    tags_.push_back(std::move(tag));
    return;
  }
  const uint8_t* h = Header();
  level_ = h[ix::kMdxVersion] == ix::kMdxVersionLevel7 ? 7 : 4;
  tagEntrySize_ = h[ix::kMdxTagEntrySize];
  const int minimum = level_ == 7 ? ix::kTagKeyFormat7 + 6 : ix::kTagKeyFormat4 + 6;
  if (tagEntrySize_ < minimum)
    Damaged("tag entries of " + std::to_string(tagEntrySize_) + " bytes cannot hold a tag");
  const int inUse = GetLE16(h + ix::kMdxTagsInUse);
  if (inUse > MaxTags())
    Damaged(std::to_string(inUse) + " tags where the header holds " + std::to_string(MaxTags()));
  for (int i = 0; i < inUse; ++i) {
    auto view = MakeIndexTag(level_, TagEntry(i));
    auto tag = std::make_unique<TTagState>();
    tag->headerBlock = view->HeaderPage();
    tag->name = view->Name();
    const int64_t offset = int64_t(tag->headerBlock) * ix::kBlockSize;
    if (tag->headerBlock < ix::kMdxHeaderBlocks || offset + ix::kMdxPageSize > size)
      Damaged("tag header page " + std::to_string(tag->headerBlock) + " lies outside the file");
    tag->header.assign(ix::kMdxPageSize, 0);
    if (ReadPage(tag->headerBlock, tag->header.data()) != ix::kMdxPageSize)
      Damaged("tag header page " + std::to_string(tag->headerBlock) + " cannot be read");
    PrepareTag(*tag);
    tags_.push_back(std::move(tag));
  }
}

void TIndexFile::PrepareTag(TTagState& tag) {
  uint8_t* h = tag.header.data();
  TIndexGeometry g = base_;
  g.keyLength = GetLE16(h + ix::kKeyLength);
  if (g.keyLength > ix::kMaxKeyLength) Damaged("key length " + std::to_string(g.keyLength));
  g.entrySize = GetLE16(h + ix::kEntrySize);
  g.maxEntries = GetLE16(h + ix::kMaxEntries);
  const int room = g.pageSize - g.pageHeader;
  const bool agree = g.entrySize >= g.keyLength + g.entryHeader && g.maxEntries >= 3 &&
                     int64_t(g.maxEntries) * g.entrySize <= room;
  if (!agree) {
    // Repaired in memory; the file follows when its header is next written.
    g.entrySize = RoundUp4(g.keyLength + g.entryHeader);
    g.maxEntries = room / g.entrySize;
    PutLE16(h + ix::kEntrySize, static_cast<uint16_t>(g.entrySize));
    PutLE16(h + ix::kMaxEntries, static_cast<uint16_t>(g.maxEntries));
  }
  tag.geometry = g;
  tag.keyType = static_cast<char>(h[ix::kKeyType]);
  if (tag.keyType != 'C' && tag.keyType != 'N' && tag.keyType != 'D' && tag.keyType != 'F')
    // Older single-index files leave the type byte empty; the numeric flag
    // tells their kind.
    tag.keyType = GetLE16(h + ix::kNumericFlag) != 0 ? 'N' : 'C';
  const uint8_t format = h[ix::kKeyFormat];
  tag.uniqueness = (format & ix::kFormatDistinct) ? iuDistinct : (format & ix::kFormatUnique) ? iuUnique : iuNormal;
  tag.descending = format & ix::kFormatDescending;
  if (tag.keyType == 'C')
    tag.compare = ckCharacter;
  else if (!multiple_ || g.keyLength == ix::kDoubleKeyLength)
    // Date keys hold a day number as a double in both kinds of file.
    tag.compare = ckDouble;
  else
    tag.compare = ckDecimal;
  const char* text = reinterpret_cast<const char*>(h + ix::kExpression);
  tag.expression.assign(text, strnlen(text, ix::kExpressionSize));
  ParseTagExpression(tag);
}

void TIndexFile::ParseTagExpression(TTagState& tag) {
  tag.parser.reset();
  tag.parseError.clear();
  if (!table_) return;
  auto parser = std::make_unique<TDbfIndexParser>(table_);
  try {
    std::string e = tag.expression;
    while (!e.empty() && (e.back() == ' ' || e.back() == '\0')) e.pop_back();
    parser->ParseExpression(e);
    tag.parser = std::move(parser);
  } catch (const Exception& error) {
    // The tree can still be walked; changing it needs keys, and those
    // raise this error.
    tag.parseError = error.what();
  }
}

TIndexTagInfo TIndexFile::TagInfo(int tag) const {
  TIndexTagInfo info;
  if (tag < 0 || tag >= TagCount()) return info;
  const TTagState& t = *tags_[static_cast<size_t>(tag)];
  info.name = t.name;
  info.expression = t.expression;
  info.keyType = t.keyType;
  info.keyLength = t.geometry.keyLength;
  info.uniqueness = t.uniqueness;
  info.descending = t.descending;
  info.filtered = t.header.size() > ix::kFilterPresent && t.header[ix::kFilterPresent] != 0;
  return info;
}

int TIndexFile::IndexOfTag(const std::string& name) const {
  if (!multiple_) return tags_.empty() ? -1 : 0;
  const std::string wanted = AsciiUpper(name);
  for (size_t i = 0; i < tags_.size(); ++i)
    if (AsciiUpper(tags_[i]->name) == wanted) return static_cast<int>(i);
  return -1;
}

void TIndexFile::SelectTag(int tag) {
  if (tag >= 0 && tag < TagCount()) selected_ = tag;
}

// ---------------------------------------------------------------- keys

bool TIndexFile::MakeKey(TTagState& tag, const uint8_t* record, std::string& key) {
  const int length = tag.geometry.keyLength;
  if (!tag.parser) throw EDbfError(tag.parseError.empty() ? msg::kInvalidIndexType : tag.parseError);
  key.assign(static_cast<size_t>(length), '\0');
  if (length == 0) return false;
  const char* value = tag.parser->EvaluateRecord(record);
  const TExpressionType type = tag.parser->ResultType();
  if (tag.keyType != 'N' && tag.keyType != 'F' && tag.keyType != 'D') {
    size_t n = 0;
    if (type == rtString) {
      const size_t bound = tag.parser->IsSingleField()
                               ? std::min<size_t>(static_cast<size_t>(length),
                                                  static_cast<size_t>(tag.parser->FieldVars().front()->FieldDef().Size()))
                               : static_cast<size_t>(length);
      n = strnlen(value, bound);
    } else {
      n = static_cast<size_t>(std::clamp(tag.parser->ResultLength(), 0, length));
    }
    std::memcpy(key.data(), value, n);
    std::fill(key.begin() + static_cast<std::ptrdiff_t>(n), key.end(), ' ');
    return true;
  }
  bool isInteger = false;
  int64_t integer = 0;
  double real = 0;
  switch (type) {
    case rtInteger: {
      int32_t v;
      std::memcpy(&v, value, sizeof v);
      integer = v;
      isInteger = true;
      break;
    }
    case rtLargeInt: std::memcpy(&integer, value, sizeof integer); isInteger = true; break;
    case rtFloat: std::memcpy(&real, value, sizeof real); break;
    case rtDateTime: {
      double v;
      std::memcpy(&v, value, sizeof v);
      // dBASE date keys are Julian day numbers; an empty date stays 0.
      real = v == 0 ? 0 : std::floor(v) + kDayNumberOf18991230 + kJulianDayOffset;
      break;
    }
    case rtBoolean: integer = value[0] ? 1 : 0; isInteger = true; break;
    default: break;
  }
  if (isInteger) real = static_cast<double>(integer);
  uint8_t* out = reinterpret_cast<uint8_t*>(key.data());
  if (length == ix::kDoubleKeyLength)
    PutLE64(out, DoubleToBits(real));
  else if (length >= ix::kDecimalKeyLength) {
    if (isInteger)
      DecimalFromInteger(integer, out);
    else
      DecimalFromDouble(real, out);
  }
  return true;
}

std::string TIndexFile::BuildKey(const uint8_t* record) {
  std::string key;
  if (selected_ < 0) return key;
  MakeKey(*tags_[static_cast<size_t>(selected_)], record, key);
  return key;
}

int TIndexFile::Compare(const TTagState& tag, const uint8_t* a, const uint8_t* b) const {
  int r = 0;
  switch (tag.compare) {
    case ckCharacter: r = CompareCharacter(*collation_, a, b, tag.geometry.keyLength); break;
    case ckDouble: r = CompareDouble(a, b); break;
    case ckDecimal: r = CompareDecimal(a, b, tag.geometry.keyLength); break;
  }
  return tag.descending ? -r : r;
}

int TIndexFile::CompareKeys(int tag, std::string_view a, std::string_view b) const {
  const TTagState& t = *tags_.at(static_cast<size_t>(tag));
  const size_t length = static_cast<size_t>(t.geometry.keyLength);
  if (a.size() < length || b.size() < length) return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  return Compare(t, reinterpret_cast<const uint8_t*>(a.data()), reinterpret_cast<const uint8_t*>(b.data()));
}

// ---------------------------------------------------------------- pages

TIndexPage* TIndexFile::Page(TTagState& tag, uint32_t block) {
  auto it = cache_.find(block);
  if (it != cache_.end()) return it->second.get();
  const uint32_t firstTreeBlock = multiple_ ? ix::kMdxHeaderBlocks : 1;
  if (block < firstTreeBlock) Damaged("page " + std::to_string(block) + " lies inside the header");
  const int64_t offset = int64_t(block) * ix::kBlockSize;
  const size_t size = static_cast<size_t>(tag.geometry.pageSize);
  auto page = MakeIndexPage(multiple_, tag.geometry, block);
  bool read = false;
  if (readingAhead_) {
    // A walk goes from leaf to leaf, and leaves lie mostly in file order:
    // one read brings the next pages too.
    const bool inside = offset >= aheadOffset_ && offset + int64_t(size) <= aheadOffset_ + aheadBytes_;
    if (!inside) {
      if (ahead_.empty()) ahead_.resize(kAheadBytes);
      aheadOffset_ = offset;
      aheadBytes_ = std::max<int64_t>(stream_->ReadAt(static_cast<uint64_t>(offset), ahead_.data(), ahead_.size()), 0);
    }
    if (offset + int64_t(size) <= aheadOffset_ + aheadBytes_) {
      std::memcpy(page->Buffer(), ahead_.data() + (offset - aheadOffset_), size);
      read = true;
    }
  } else {
    read = stream_->ReadAt(static_cast<uint64_t>(offset), page->Buffer(), size) == int64_t(size);
  }
  if (!read) {
    if (offset + int64_t(size) > stream_->Size()) Damaged("page " + std::to_string(block) + " lies outside the file");
    Damaged("page " + std::to_string(block) + " cannot be read");
  }
  const int count = page->EntryCount();
  if (count > tag.geometry.maxEntries)
    Damaged("page " + std::to_string(block) + " holds " + std::to_string(count) + " entries");
  if (page->IsInner() && !page->EntryFits(count))
    Damaged("page " + std::to_string(block) + " has no room for its last link");
  TIndexPage* raw = page.get();
  cache_[block] = std::move(page);
  return raw;
}

uint32_t TIndexFile::AllocateBlock(TTagState& tag) {
  TLockGuard lock(*this, 0);
  if (IsShared()) ReloadHeader();
  uint32_t block;
  if (multiple_) {
    block = GetLE32(Header() + ix::kMdxNextFreeBlock);
    if (block < ix::kMdxHeaderBlocks) Damaged("next free block " + std::to_string(block));
    PutLE32(Header() + ix::kMdxNextFreeBlock, block + ix::kMdxPageBlocks);
    StoreHeader();
    FlushHeader();
    PutLE32(tag.header.data() + ix::kPageCount, GetLE32(tag.header.data() + ix::kPageCount) + ix::kMdxPageBlocks);
    tag.headerModified = true;
  } else {
    block = GetLE32(tag.header.data() + ix::kPageCount);
    if (block < 1) Damaged("page count " + std::to_string(block));
    PutLE32(tag.header.data() + ix::kPageCount, block + 1);
    WriteTagHeader(tag, true);
  }
  if (block > 0x7FFFFFF0u) Damaged("the file has no room for another page");
  return block;
}

TIndexPage* TIndexFile::NewPage(TTagState& tag) {
  const uint32_t block = AllocateBlock(tag);
  auto page = MakeIndexPage(multiple_, tag.geometry, block);
  LockForChange(page.get());
  // Written at once, so that the file grows to hold it.
  WritePage(block, page->Buffer());
  TIndexPage* raw = page.get();
  cache_[block] = std::move(page);
  return raw;
}

void TIndexFile::WriteTagHeader(TTagState& tag, bool now) {
  tag.headerModified = true;
  if (!now && !IsShared() && multiple_) return;
  tag.headerModified = false;
  if (multiple_) {
    WriteBytesAt(int64_t(tag.headerBlock) * ix::kBlockSize, tag.header.data(), tag.header.size());
  } else {
    std::memcpy(Header(), tag.header.data(), ix::kNdxPageSize);
    StoreHeader();
    FlushHeader();
  }
}

void TIndexFile::WriteFileHeader() {
  StoreHeader();
  FlushHeader();
}

void TIndexFile::MarkModified(TIndexPage* page) {
  LockForChange(page);
  ++generation_;
  aheadBytes_ = 0;
  if (page->Modified()) return;
  page->SetModified(true);
  dirty_.push_back(static_cast<uint32_t>(page->PageNo()));
}

void TIndexFile::ClearCache() {
  ++generation_;
  aheadBytes_ = 0;
  cache_.clear();
  dirty_.clear();
}

void TIndexFile::WriteModifiedPages() {
  // Only the pages this operation changed: a large cache is not walked.
  for (const uint32_t block : dirty_) {
    auto it = cache_.find(block);
    if (it == cache_.end() || !it->second->Modified()) continue;
    WritePage(block, it->second->Buffer());
    it->second->SetModified(false);
  }
  dirty_.clear();
  for (auto& tag : tags_)
    if (tag->headerModified) WriteTagHeader(*tag, true);
}

void TIndexFile::DropCache() {
  WriteModifiedPages();
  ClearCache();
}

void TIndexFile::TrimCache() {
  // Only the pages of recent paths are worth keeping.
  if (cache_.size() > 4096) DropCache();
}

void TIndexFile::BeginOperation() {
  if (!IsShared()) return;
  // Another program may have changed anything since our last look.
  ClearCache();
  ReloadHeader();
  for (auto& tag : tags_) {
    if (multiple_) {
      std::vector<uint8_t> fresh(ix::kMdxPageSize, 0);
      if (ReadPage(tag->headerBlock, fresh.data()) == ix::kMdxPageSize) tag->header = fresh;
    } else {
      std::memcpy(tag->header.data(), Header(), ix::kNdxPageSize);
    }
  }
}

void TIndexFile::RefreshUnderLock(TTagState& tag) {
  // Only the outermost lock: a nested one (a split) must keep the pages the
  // change is working on.
  if (!IsShared() || activeGuards_ != 1) return;
  // What another program wrote while we waited for the lock: its root may
  // have moved and any page changed.
  WriteModifiedPages();
  ClearCache();
  if (multiple_) {
    std::vector<uint8_t> fresh(ix::kMdxPageSize, 0);
    if (ReadPage(tag.headerBlock, fresh.data()) == ix::kMdxPageSize) tag.header = fresh;
  } else {
    ReloadHeader();
    std::memcpy(tag.header.data(), Header(), ix::kNdxPageSize);
  }
}

void TIndexFile::BeginReading() {
  readingAhead_ = true;
  if (!IsShared()) return;
  // A walk that looked a moment ago sees what another program wrote since
  // a moment later; asking the system at every step would cost more than
  // the step.
  const auto clock = std::chrono::steady_clock::now();
  if (stampSettled_ && clock - stampChecked_ < std::chrono::milliseconds(20)) return;
  stampChecked_ = clock;
  int64_t size = 0, modified = 0;
  const bool stamped = stream_ && stream_->ChangeStamp(&size, &modified);
  if (stamped && stampSettled_ && size == seenSize_ && modified == seenModified_) return;
  BeginOperation();
  seenSize_ = size;
  seenModified_ = modified;
  // A change in the same tick of the file system's clock as the one seen
  // would leave the time as it is: only a stamp well in the past is trusted.
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  stampSettled_ = stamped && now - modified > 200'000'000;
}

void TIndexFile::EndReading() {
  readingAhead_ = false;
  TrimCache();
}

void TIndexFile::EndOperation() {
  stampSettled_ = false;
  aheadBytes_ = 0;
  if (IsShared())
    DropCache();
  else
    TrimCache();
}

void TIndexFile::Flush() {
  if (!IsOpen()) return;
  // Alone with the file, the clean pages stay cached: the next append walks
  // the same path, and reading it again would cost more than the insert.
  WriteModifiedPages();
  if (IsShared())
    ClearCache();
  else
    TrimCache();
  FlushHeader();
}

// ---------------------------------------------------------------- trees

int TIndexFile::SearchPage(const TTagState& tag, const TIndexPage& page, const uint8_t* key, bool upper) const {
  int low = 0, high = page.EntryCount();
  while (low < high) {
    const int middle = (low + high) / 2;
    const int c = Compare(tag, key, page.KeyOfEntry(middle));
    if (c < 0 || (c == 0 && !upper))
      high = middle;
    else
      low = middle + 1;
  }
  return high;
}

bool TIndexFile::IsFull(const TTagState& tag, const TIndexPage& page) const {
  const int max = tag.geometry.maxEntries;
  return page.IsInner() ? page.EntryCount() >= max - 1 : page.EntryCount() >= max;
}

void TIndexFile::Descend(TTagState& tag, const uint8_t* key, bool upper, bool split, TPath& path) {
  path.clear();
  uint32_t block = tag.Root();
  std::vector<uint32_t> seen;
  for (;;) {
    if (static_cast<int>(path.size()) >= kMaxDepth) Damaged("the tree is deeper than " + std::to_string(kMaxDepth));
    if (std::find(seen.begin(), seen.end(), block) != seen.end())
      Damaged("page " + std::to_string(block) + " is met twice on one path");
    seen.push_back(block);
    TIndexPage* page = Page(tag, block);
    if (split && IsFull(tag, *page)) SplitChild(tag, path, page, key, upper);
    const int pos = SearchPage(tag, *page, key, upper);
    path.push_back({page, pos});
    if (!page->IsInner()) return;
    block = page->ChildPage(pos);
    if (block == 0) Damaged("page " + std::to_string(page->PageNo()) + " links to page 0");
  }
}

void TIndexFile::SplitChild(TTagState& tag, TPath& path, TIndexPage*& page, const uint8_t* key, bool upper) {
  TLockGuard lockHeader(*this, tag.headerBlock);
  if (path.empty()) {
    // The root splits: a new root with only its link to the old one.
    TIndexPage* root = NewPage(tag);
    root->StoreCount(0);
    root->StoreLinksAt(0, 0, static_cast<uint32_t>(page->PageNo()), true);
    MarkModified(root);
    tag.SetRoot(static_cast<uint32_t>(root->PageNo()));
    WriteTagHeader(tag, true);
    path.push_back({root, 0});
  }
  TStep& parent = path.back();
  // Parent before child, as every program that shares the file takes them.
  LockForChange(parent.page);
  LockForChange(page);
  const bool inner = page->IsInner();
  const int n = page->EntryCount();
  int b = n / 2 + ((inner && n % 2) ? 1 : 0);
  int c = n - b;
  const int pos = SearchPage(tag, *page, key, upper);
  // The part that takes the pending insertion gets the larger free space.
  if (c > b && pos > b) {
    ++b;
    --c;
  } else if (c < b && pos < b && b > 1) {
    --b;
    ++c;
  }
  TIndexPage* right = NewPage(tag);
  const int es = tag.geometry.entrySize;
  const int copied = inner ? c + 1 : c;
  std::memcpy(right->EntryAddress(0), page->EntryAddress(b), static_cast<size_t>(copied) * static_cast<size_t>(es));
  right->StoreCount(c);
  if (!inner) right->ClearSlotAfter(c);
  MarkModified(right);
  if (inner) {
    page->StoreCount(b - 1);
    // Entry b - 1 becomes the trailing link; its key stays as the greatest
    // of the left part.
  } else {
    page->StoreCount(b);
    page->ClearSlotAfter(b);
  }
  MarkModified(page);
  // The parent's entry for the old page now holds the left part's greatest
  // key; a new entry after it links to the right part.
  TIndexPage* up = parent.page;
  const int at = parent.pos;
  const int upCount = up->EntryCount();
  up->ShiftEntries(at, upCount + 1, 1);
  std::memcpy(up->KeyOfEntry(at), page->KeyOfEntry(b - 1), static_cast<size_t>(tag.geometry.keyLength));
  up->StoreLinksAt(at, 0, static_cast<uint32_t>(page->PageNo()), true);
  up->StoreLinksAt(at + 1, 0, static_cast<uint32_t>(right->PageNo()), true);
  up->StoreCount(upCount + 1);
  MarkModified(up);
  const bool toLeft = inner ? pos < b : pos < b || (pos == b && c == 0);
  if (!toLeft) {
    parent.pos = at + 1;
    page = right;
  } else {
    parent.pos = at;
  }
}

bool TIndexFile::NextLeaf(TTagState& tag, TPath& path) {
  int level = static_cast<int>(path.size()) - 2;
  while (level >= 0 && path[static_cast<size_t>(level)].pos >= path[static_cast<size_t>(level)].page->EntryCount())
    --level;
  if (level < 0) return false;
  path.resize(static_cast<size_t>(level) + 1);
  path.back().pos++;
  for (;;) {
    if (static_cast<int>(path.size()) >= kMaxDepth) Damaged("the tree is deeper than " + std::to_string(kMaxDepth));
    const TStep& step = path.back();
    const uint32_t block = step.page->ChildPage(step.pos);
    if (block == 0) Damaged("page " + std::to_string(step.page->PageNo()) + " links to page 0");
    TIndexPage* page = Page(tag, block);
    for (const TStep& s : path)
      if (s.page == page) Damaged("page " + std::to_string(block) + " is met twice on one path");
    path.push_back({page, 0});
    if (!page->IsInner()) return true;
  }
}

void TIndexFile::PropagateMax(TTagState& tag, TPath& path, size_t level, const uint8_t* key) {
  std::string copy(reinterpret_cast<const char*>(key), static_cast<size_t>(tag.geometry.keyLength));
  for (size_t i = level; i-- > 0;) {
    TStep& up = path[i];
    if (up.pos < up.page->EntryCount()) {
      std::memcpy(up.page->KeyOfEntry(up.pos), copy.data(), copy.size());
      MarkModified(up.page);
      return;
    }
    // A trailing link carries no key: the greatest key goes one level up.
  }
}

void TIndexFile::RemoveFromParent(TTagState& tag, TPath& path, size_t level) {
  // level is the page that became empty; its parent loses the link.
  bool allPointers = true;
  for (size_t i = 0; i < level; ++i)
    if (path[i].page->EntryCount() != 0) allPointers = false;
  if (allPointers || level == 0) return;
  TStep& up = path[level - 1];
  const int count = up.page->EntryCount();
  if (count == 0) {
    RemoveFromParent(tag, path, level - 1);
    return;
  }
  if (up.pos < count) {
    up.page->ShiftEntries(up.pos + 1, count + 1, -1);
    up.page->StoreCount(count - 1);
    MarkModified(up.page);
    return;
  }
  // The trailing link goes: the last keyed entry takes its place, and the
  // parent's greatest key is now that entry's.
  up.page->StoreCount(count - 1);
  MarkModified(up.page);
  up.pos = count - 1;
  PropagateMax(tag, path, level - 1, up.page->KeyOfEntry(count - 1));
}

TIndexFile::TInsertResult TIndexFile::InsertEntry(TTagState& tag, const std::string& key, uint32_t recNo,
                                                  uint32_t* holder) {
  const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
  const bool upper = tag.uniqueness == iuNormal;
  TLockGuard lockHeader(*this, tag.headerBlock);
  RefreshUnderLock(tag);
  TPath path;
  Descend(tag, k, upper, true, path);
  TStep leaf = path.back();
  if (!upper) {
    TPath probe = path;
    TStep at = leaf;
    if (at.pos >= at.page->EntryCount() && NextLeaf(tag, probe)) at = probe.back();
    if (at.pos < at.page->EntryCount() && Compare(tag, k, at.page->KeyOfEntry(at.pos)) == 0) {
      if (holder) *holder = at.page->EntryRecord(at.pos);
      return tag.uniqueness == iuUnique ? irSkipped : irRefused;
    }
  }
  // The whole path may change (a new greatest key goes up): locked first,
  // so that a lock we cannot have leaves the tree as it was.
  for (const TStep& step : path) LockForChange(step.page);
  TIndexPage* page = leaf.page;
  const int count = page->EntryCount();
  if (count >= tag.geometry.maxEntries) Damaged("a full page was not split");
  page->ShiftEntries(leaf.pos, count, 1);
  page->StoreLinksAt(leaf.pos, recNo, 0, false);
  std::memcpy(page->KeyOfEntry(leaf.pos), k, key.size());
  page->StoreCount(count + 1);
  page->ClearSlotAfter(count + 1);
  MarkModified(page);
  if (leaf.pos == count) PropagateMax(tag, path, path.size() - 1, k);
  return irInserted;
}

bool TIndexFile::RemoveEntry(TTagState& tag, const std::string& key, uint32_t recNo) {
  const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
  TLockGuard lockHeader(*this, tag.headerBlock);
  RefreshUnderLock(tag);
  TPath path;
  Descend(tag, k, false, false, path);
  for (;;) {
    TStep& leaf = path.back();
    if (leaf.pos >= leaf.page->EntryCount()) {
      if (!NextLeaf(tag, path)) return false;
      continue;
    }
    if (Compare(tag, k, leaf.page->KeyOfEntry(leaf.pos)) != 0) return false;
    if (leaf.page->EntryRecord(leaf.pos) == recNo) break;
    leaf.pos++;
  }
  for (const TStep& step : path) LockForChange(step.page);
  TStep& leaf = path.back();
  TIndexPage* page = leaf.page;
  const int count = page->EntryCount();
  page->ShiftEntries(leaf.pos + 1, count, -1);
  page->StoreCount(count - 1);
  page->ClearSlotAfter(count - 1);
  MarkModified(page);
  if (count - 1 > 0 && leaf.pos == count - 1)
    PropagateMax(tag, path, path.size() - 1, page->KeyOfEntry(count - 2));
  else if (count - 1 == 0)
    RemoveFromParent(tag, path, path.size() - 1);
  return true;
}

void TIndexFile::ResetTree(TTagState& tag) {
  TLockGuard lockHeader(*this, tag.headerBlock);
  RefreshUnderLock(tag);
  if (multiple_) PutLE32(tag.header.data() + ix::kPageCount, ix::kMdxHeaderBlocks);
  TIndexPage* root = NewPage(tag);
  MarkModified(root);
  tag.SetRoot(static_cast<uint32_t>(root->PageNo()));
  WriteTagHeader(tag, true);
}

void TIndexFile::WalkPage(TTagState& tag, uint32_t block, int depth, std::unordered_set<uint32_t>& visited,
                          const std::function<bool(std::string_view, uint32_t)>& visit, bool& go) {
  if (depth >= kMaxDepth) Damaged("the tree is deeper than " + std::to_string(kMaxDepth));
  if (!visited.insert(block).second) Damaged("page " + std::to_string(block) + " is met twice");
  TIndexPage* page = Page(tag, block);
  const int count = page->EntryCount();
  if (!page->IsInner()) {
    for (int i = 0; i < count && go; ++i) {
      std::string_view key(reinterpret_cast<const char*>(page->KeyOfEntry(i)),
                           static_cast<size_t>(tag.geometry.keyLength));
      go = visit(key, page->EntryRecord(i));
    }
    return;
  }
  std::vector<uint32_t> children;
  for (int i = 0; i <= count; ++i) children.push_back(page->ChildPage(i));
  for (uint32_t child : children) {
    if (!go) return;
    if (child == 0) Damaged("page " + std::to_string(block) + " links to page 0");
    WalkPage(tag, child, depth + 1, visited, visit, go);
  }
}

void TIndexFile::ForEachEntry(int tag, const std::function<bool(std::string_view key, uint32_t recNo)>& visit) {
  if (tag < 0 || tag >= TagCount()) return;
  TOperationScope scope(depth_, [this] { BeginReading(); }, [this] { EndReading(); });
  TTagState& t = *tags_[static_cast<size_t>(tag)];
  std::unordered_set<uint32_t> visited;
  bool go = true;
  WalkPage(t, t.Root(), 0, visited, visit, go);
}

int TIndexFile::TreeDepth(int tag) {
  if (tag < 0 || tag >= TagCount()) return 0;
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  TTagState& t = *tags_[static_cast<size_t>(tag)];
  int depth = 0;
  uint32_t block = t.Root();
  for (;;) {
    if (++depth > kMaxDepth) Damaged("the tree is deeper than " + std::to_string(kMaxDepth));
    TIndexPage* page = Page(t, block);
    if (!page->IsInner()) return depth;
    block = page->ChildPage(0);
  }
}

// ---------------------------------------------------------------- tag rules

std::vector<int> TIndexFile::TagsToUpdate() const {
  std::vector<int> list;
  if (UpdatesAll()) {
    for (int i = 0; i < TagCount(); ++i) list.push_back(i);
  } else if (selected_ >= 0) {
    list.push_back(selected_);
  }
  return list;
}

void TIndexFile::PrepareViolation(TTagState& tag, const std::string& key, uint32_t holder) {
  if (!keyViolation_.empty()) return;
  std::string text;
  const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
  if (tag.keyType == 'C') {
    text = key;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  } else {
    // A numeric key is shown as its number rather than its raw bytes.
    const double v = tag.compare == ckDecimal ? DoubleFromDecimal(k) : BitsToDouble(GetLE64(k));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", v);
    text = buffer;
  }
  keyViolation_ = FormatMessage(msg::kKeyViolation, tag.name.c_str(), static_cast<int>(holder), text.c_str());
}

bool TIndexFile::TagAdd(TTagState& tag, uint32_t recNo, const uint8_t* record, bool* inserted) {
  *inserted = false;
  if (!canEdit_ || tag.geometry.keyLength == 0) return true;
  if (modifyMode_ == mmNormal && tag.uniqueness == iuDistinct && record[0] == fmt::kDeleted) return true;
  if (modifyMode_ == mmDeletionFlag && tag.uniqueness != iuDistinct) return true;
  std::string key;
  MakeKey(tag, record, key);
  uint32_t holder = 0;
  const TInsertResult r = InsertEntry(tag, key, recNo, &holder);
  if (r == irRefused) {
    PrepareViolation(tag, key, holder);
    return false;
  }
  *inserted = r == irInserted;
  return true;
}

bool TIndexFile::TagRemove(TTagState& tag, uint32_t recNo, const uint8_t* record) {
  if (!canEdit_ || tag.geometry.keyLength == 0) return false;
  if (modifyMode_ == mmDeletionFlag && tag.uniqueness != iuDistinct) return false;
  std::string key;
  MakeKey(tag, record, key);
  // By key and record: a record a unique tag skipped finds nothing, and the
  // entry of the record that holds the key stays.
  return RemoveEntry(tag, key, recNo);
}

bool TIndexFile::AddKeys(int64_t recNo, const uint8_t* record) {
  if (!IsOpen()) return true;
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  keyViolation_.clear();
  const std::vector<int> list = TagsToUpdate();
  std::vector<bool> inserted(list.size(), false);
  for (size_t i = 0; i < list.size(); ++i) {
    bool added = false;
    bool ok = false;
    try {
      ok = TagAdd(*tags_[static_cast<size_t>(list[i])], static_cast<uint32_t>(recNo), record, &added);
    } catch (...) {
      for (size_t j = i; j-- > 0;)
        if (inserted[j]) {
          try {
            TagRemove(*tags_[static_cast<size_t>(list[j])], static_cast<uint32_t>(recNo), record);
          } catch (...) {
          }
        }
      throw;
    }
    if (!ok) {
      for (size_t j = i; j-- > 0;)
        if (inserted[j]) TagRemove(*tags_[static_cast<size_t>(list[j])], static_cast<uint32_t>(recNo), record);
      return false;
    }
    inserted[i] = added;
  }
  return true;
}

void TIndexFile::RemoveKeys(int64_t recNo, const uint8_t* record) {
  if (!IsOpen()) return;
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  for (int t : TagsToUpdate()) TagRemove(*tags_[static_cast<size_t>(t)], static_cast<uint32_t>(recNo), record);
}

bool TIndexFile::AddRecordKey(int64_t recNo, const uint8_t* record) {
  modifyMode_ = mmNormal;
  return AddKeys(recNo, record);
}

void TIndexFile::RemoveRecordKey(int64_t recNo, const uint8_t* record) {
  modifyMode_ = mmNormal;
  RemoveKeys(recNo, record);
}

bool TIndexFile::AddKeyOnRecall(int64_t recNo, const uint8_t* record) {
  modifyMode_ = mmDeletionFlag;
  bool ok = false;
  try {
    ok = AddKeys(recNo, record);
  } catch (...) {
    modifyMode_ = mmNormal;
    throw;
  }
  modifyMode_ = mmNormal;
  return ok;
}

void TIndexFile::RemoveKeyOnDelete(int64_t recNo, const uint8_t* record) {
  modifyMode_ = mmDeletionFlag;
  try {
    RemoveKeys(recNo, record);
  } catch (...) {
    modifyMode_ = mmNormal;
    throw;
  }
  modifyMode_ = mmNormal;
}

bool TIndexFile::ChangeRecordKey(int64_t recNo, const uint8_t* before, const uint8_t* after) {
  if (!IsOpen()) return true;
  modifyMode_ = mmNormal;
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  keyViolation_.clear();
  const uint32_t rec = static_cast<uint32_t>(recNo);
  struct TDone {
    int tag;
    bool removed;
    bool inserted;
  };
  std::vector<TDone> done;
  auto undo = [&] {
    for (size_t j = done.size(); j-- > 0;) {
      TTagState& t = *tags_[static_cast<size_t>(done[j].tag)];
      bool dummy = false;
      if (done[j].inserted) TagRemove(t, rec, after);
      if (done[j].removed) TagAdd(t, rec, before, &dummy);
    }
  };
  for (int index : TagsToUpdate()) {
    TTagState& tag = *tags_[static_cast<size_t>(index)];
    if (!canEdit_ || tag.geometry.keyLength == 0) continue;
    std::string oldKey, newKey;
    MakeKey(tag, before, oldKey);
    MakeKey(tag, after, newKey);
    // A distinct tag holds no key of a deleted record; the flag decides
    // whether either side has an entry.
    const bool oldIn = !(tag.uniqueness == iuDistinct && before[0] == fmt::kDeleted);
    const bool newIn = !(tag.uniqueness == iuDistinct && after[0] == fmt::kDeleted);
    if (oldIn == newIn && Compare(tag, reinterpret_cast<const uint8_t*>(oldKey.data()),
                                  reinterpret_cast<const uint8_t*>(newKey.data())) == 0)
      continue;
    TDone step{index, false, false};
    try {
      if (oldIn) step.removed = RemoveEntry(tag, oldKey, rec);
      if (newIn) {
        bool added = false;
        if (!TagAdd(tag, rec, after, &added)) {
          bool dummy = false;
          if (step.removed) TagAdd(tag, rec, before, &dummy);
          undo();
          return false;
        }
        step.inserted = added;
      }
    } catch (...) {
      try {
        bool dummy = false;
        if (step.removed) TagAdd(tag, rec, before, &dummy);
        undo();
      } catch (...) {
      }
      throw;
    }
    done.push_back(step);
  }
  return true;
}

// ---------------------------------------------------------------- tags

std::unique_ptr<TDbfIndexParser> TIndexFile::CheckKeyExpression(TDbfFile* table, const std::string& expression,
                                                                bool multiple, char* keyType, int* keyLength) {
  auto parser = std::make_unique<TDbfIndexParser>(table);
  parser->ParseExpression(expression);
  switch (parser->ResultType()) {
    case rtString: *keyType = 'C'; break;
    case rtInteger:
    case rtLargeInt:
    case rtFloat: *keyType = 'N'; break;
    default: throw EDbfError(msg::kInvalidIndexType);
  }
  *keyLength = *keyType == 'C' ? parser->KeyLength() : (multiple ? ix::kDecimalKeyLength : ix::kDoubleKeyLength);
  if (*keyLength > ix::kMaxKeyLength)
    throw EDbfError(FormatMessage(msg::kIndexResultTooLong, expression.c_str(), *keyLength));
  return parser;
}

std::unique_ptr<TIndexFile::TTagState> TIndexFile::NewTagState(const std::string& expression,
                                                                const std::string& tagName, TIndexOptions options,
                                                                std::vector<uint8_t>& entry) {
  char keyType = 'C';
  int keyLength = 0;
  auto parser = CheckKeyExpression(table_, expression, multiple_, &keyType, &keyLength);
  auto tag = std::make_unique<TTagState>();
  tag->name = multiple_ ? AsciiUpper(tagName) : BaseName();
  entry.clear();
  if (multiple_) {
    entry.assign(static_cast<size_t>(tagEntrySize_), 0);
    auto view = MakeIndexTag(level_, entry.data());
    view->SetName(tagName);
    tag->name = view->Name();
    view->SetKeyFormat((options & ixExpression) ? 0 : ix::kTagFormatKey);
    view->SetReserved(ix::kTagReservedValue);
    view->SetKeyType(keyType);
    tag->header.assign(ix::kMdxPageSize, 0);
  } else {
    tag->header.assign(ix::kNdxPageSize, 0);
  }
  uint8_t* h = tag->header.data();
  uint8_t format = 0;
  if (options & ixDescending) format |= ix::kFormatDescending;
  if (keyType == 'C') format |= ix::kFormatCharacter;
  if (options & ixPrimary) {
    format |= ix::kFormatDistinct | ix::kFormatUnique;
    h[ix::kUniqueMarker] = ix::kMarkerDistinct;
  } else if (options & ixUnique) {
    format |= ix::kFormatUnique;
    h[ix::kUniqueMarker] = ix::kMarkerUnique;
  }
  TIndexGeometry g = base_;
  g.keyLength = keyLength;
  g.entrySize = RoundUp4(keyLength + g.entryHeader);
  g.maxEntries = (g.pageSize - g.pageHeader) / g.entrySize;
  h[ix::kKeyFormat] = format;
  h[ix::kKeyType] = static_cast<uint8_t>(keyType);
  if (!multiple_) PutLE16(h + ix::kNdxSignature, ix::kNdxSignatureValue);
  PutLE16(h + ix::kKeyLength, static_cast<uint16_t>(keyLength));
  PutLE16(h + ix::kMaxEntries, static_cast<uint16_t>(g.maxEntries));
  PutLE16(h + ix::kNumericFlag, keyType != 'C' && !multiple_ ? 1 : 0);
  PutLE16(h + ix::kEntrySize, static_cast<uint16_t>(g.entrySize));
  PutLE16(h + ix::kConstantTwo, 2);
  const std::string text = expression.substr(0, ix::kExpressionSize - 1);
  std::memcpy(h + ix::kExpression, text.data(), text.size());
  h[ix::kKeyPresent] = 1;
  if (!multiple_) PutLE32(h + ix::kPageCount, 1);
  tag->geometry = g;
  tag->keyType = keyType;
  tag->uniqueness = (options & ixPrimary) ? iuDistinct : (options & ixUnique) ? iuUnique : iuNormal;
  tag->descending = options & ixDescending;
  tag->compare = keyType == 'C' ? ckCharacter : multiple_ ? ckDecimal : ckDouble;
  tag->expression = text;
  tag->parser = std::move(parser);
  return tag;
}

TIndexFile::TTagState& TIndexFile::InstallTag(std::unique_ptr<TTagState> tag, const std::vector<uint8_t>& entry) {
  DropCache();
  if (multiple_) {
    if (TagCount() >= MaxTags()) throw EDbfError(msg::kTooManyIndexes);
    const int slot = TagCount();
    uint8_t* e = TagEntry(slot);
    std::memcpy(e, entry.data(), static_cast<size_t>(tagEntrySize_));
    tag->headerBlock = AllocateBlock(*tag);
    MakeIndexTag(level_, e)->SetHeaderPage(tag->headerBlock);
    PutLE16(Header() + ix::kMdxTagsInUse, static_cast<uint16_t>(slot + 1));
    StoreDate(Header() + ix::kMdxUpdated);
    WriteFileHeader();
  } else {
    tags_.clear();
  }
  tags_.push_back(std::move(tag));
  ++tagSet_;
  selected_ = TagCount() - 1;
  return *tags_.back();
}

void TIndexFile::CreateTag(const std::string& expression, const std::string& tagName, TIndexOptions options) {
  if (!IsOpen()) return;
  if (!table_ || table_->IsShared() || IsShared()) throw EDbfError(msg::kExclusiveRequired);
  std::vector<uint8_t> entry;
  auto tag = NewTagState(expression, tagName, options, entry);
  ResetTree(InstallTag(std::move(tag), entry));
}

void TIndexFile::BuildTag(const std::string& expression, const std::string& tagName, TIndexOptions options) {
  if (!IsOpen()) return;
  if (!table_ || table_->IsShared() || IsShared()) throw EDbfError(msg::kExclusiveRequired);
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  TGatheredKeys gathered;
  std::vector<uint8_t> entry;
  std::unique_ptr<TTagState> fresh = NewTagState(expression, tagName, options, entry);
  const int replaced = multiple_ ? IndexOfTag(fresh->name) : -1;
  if (multiple_ && replaced < 0 && TagCount() >= MaxTags()) throw EDbfError(msg::kTooManyIndexes);
  gathered.file_ = this;
  gathered.tags_.push_back(fresh.get());
  GatherInto(gathered);
  // Only from here is the file changed.
  if (replaced >= 0) DeleteTag(fresh->name);
  TTagState& added = InstallTag(std::move(fresh), entry);
  try {
    WriteTree(added, 0, gathered);
    Flush();
  } catch (...) {
    // The tag's tree may lie half written; no tag is better than that one.
    if (multiple_) {
      try {
        DeleteTag(added.name);
      } catch (...) {
      }
    }
    throw;
  }
  // A single-index file set up anew may have held a longer tree.
  if (!multiple_) SetPageCount(GetLE32(added.header.data() + ix::kPageCount));
}

void TIndexFile::DeleteTag(const std::string& tagName) {
  if (!IsOpen()) return;
  if ((table_ && table_->IsShared()) || IsShared()) throw EDbfError(msg::kExclusiveRequired);
  if (!multiple_) {
    Close();
    DeleteFile();
    return;
  }
  const int index = IndexOfTag(tagName);
  if (index < 0) return;
  DropCache();
  const int count = TagCount();
  for (int i = index; i + 1 < count; ++i) std::memcpy(TagEntry(i), TagEntry(i + 1), static_cast<size_t>(tagEntrySize_));
  std::memset(TagEntry(count - 1), 0, static_cast<size_t>(tagEntrySize_));
  PutLE16(Header() + ix::kMdxTagsInUse, static_cast<uint16_t>(count - 1));
  WriteFileHeader();
  tags_.erase(tags_.begin() + index);
  ++tagSet_;
  if (selected_ == index)
    selected_ = tags_.empty() ? -1 : 0;
  else if (selected_ > index)
    --selected_;
}

// ---------------------------------------------------------------- bulk build

void TIndexFile::GatherInto(TGatheredKeys& into) {
  // Every expression is known good before the first record is read.
  bool any = false;
  for (const TTagState* tag : into.tags_) {
    if (tag->geometry.keyLength == 0) continue;
    if (!tag->parser) throw EDbfError(tag->parseError.empty() ? msg::kInvalidIndexType : tag->parseError);
    any = true;
  }
  into.keys_.assign(into.tags_.size(), {});
  if (any && table_) {
    const int64_t total = table_->RecordCount();
    const int recordLength = std::max(table_->RecordLength(), 1);
    const int64_t batch = std::clamp<int64_t>((4 << 20) / recordLength, 1, kBuildBatch);
    std::vector<uint8_t> buffer(static_cast<size_t>(batch) * static_cast<size_t>(recordLength));
    std::string key;
    for (int64_t first = 1; first <= total;) {
      const int64_t want = std::min(batch, total - first + 1);
      const int64_t got = table_->ReadRecords(first, want, buffer.data());
      if (got <= 0) break;
      for (size_t t = 0; t < into.tags_.size(); ++t) {
        TTagState& tag = *into.tags_[t];
        if (tag.geometry.keyLength == 0) continue;
        TGatheredKeys::TTagKeys& out = into.keys_[t];
        for (int64_t i = 0; i < got; ++i) {
          const uint8_t* record = buffer.data() + i * recordLength;
          if (tag.uniqueness == iuDistinct && record[0] == fmt::kDeleted) continue;
          MakeKey(tag, record, key);
          out.keys.insert(out.keys.end(), key.begin(), key.end());
          out.records.push_back(static_cast<uint32_t>(first + i));
        }
      }
      first += got;
      if (buildProgress_) buildProgress_(first - 1, total);
      if (got < want) break;
    }
  }
  for (size_t t = 0; t < into.tags_.size(); ++t) {
    const TTagState& tag = *into.tags_[t];
    TGatheredKeys::TTagKeys& k = into.keys_[t];
    const size_t kl = static_cast<size_t>(tag.geometry.keyLength);
    k.order.resize(k.records.size());
    std::iota(k.order.begin(), k.order.end(), 0u);
    auto keyAt = [&](uint32_t i) { return k.keys.data() + size_t(i) * kl; };
    std::stable_sort(k.order.begin(), k.order.end(),
                     [&](uint32_t a, uint32_t b) { return Compare(tag, keyAt(a), keyAt(b)) < 0; });
    if (tag.uniqueness != iuNormal) {
      // Equal keys are in record order: the first record keeps the key.
      std::vector<uint32_t> kept;
      for (uint32_t i : k.order)
        if (kept.empty() || Compare(tag, keyAt(kept.back()), keyAt(i)) != 0) kept.push_back(i);
      k.order.swap(kept);
    }
  }
}

void TIndexFile::WriteTree(TTagState& tag, size_t keysOf, const TGatheredKeys& gathered) {
  const TGatheredKeys::TTagKeys& keys = gathered.keys_.at(keysOf);
  const TIndexGeometry& g = tag.geometry;
  const size_t kl = static_cast<size_t>(g.keyLength);
  const std::vector<uint32_t>& order = keys.order;
  auto keyAt = [&](uint32_t i) { return keys.keys.data() + size_t(i) * kl; };

  TLockGuard lockHeader(*this, tag.headerBlock);
  DropCache();
  if (multiple_) PutLE32(tag.header.data() + ix::kPageCount, ix::kMdxHeaderBlocks);
  struct TChild {
    uint32_t block;
    std::string maxKey;
  };
  std::vector<TChild> level;
  auto page = MakeIndexPage(multiple_, g, 0);
  // Leaves, full.
  size_t next = 0;
  do {
    page->Clear();
    const int n = static_cast<int>(std::min<size_t>(order.size() - next, static_cast<size_t>(g.maxEntries)));
    for (int i = 0; i < n; ++i) {
      const uint32_t at = order[next + static_cast<size_t>(i)];
      page->StoreLinksAt(i, keys.records[at], 0, false);
      std::memcpy(page->KeyOfEntry(i), keyAt(at), kl);
    }
    page->StoreCount(n);
    const uint32_t block = AllocateBlock(tag);
    WritePage(block, page->Buffer());
    level.push_back({block, n > 0 ? std::string(reinterpret_cast<const char*>(page->KeyOfEntry(n - 1)), kl)
                                  : std::string(kl, '\0')});
    next += static_cast<size_t>(n);
  } while (next < order.size());
  // Inner levels: each page links up to maxEntries children, the last by its
  // trailing entry; the children are spread evenly so that no page is left
  // with a single link.
  const size_t fanout = static_cast<size_t>(g.maxEntries);
  while (level.size() > 1) {
    const size_t groups = (level.size() + fanout - 1) / fanout;
    std::vector<TChild> upper;
    size_t from = 0;
    for (size_t grp = 0; grp < groups; ++grp) {
      const size_t size = (level.size() - from) / (groups - grp);
      page->Clear();
      for (size_t i = 0; i < size; ++i) {
        const TChild& child = level[from + i];
        page->StoreLinksAt(static_cast<int>(i), 0, child.block, true);
        if (i + 1 < size) std::memcpy(page->KeyOfEntry(static_cast<int>(i)), child.maxKey.data(), kl);
      }
      page->StoreCount(static_cast<int>(size) - 1);
      const uint32_t block = AllocateBlock(tag);
      WritePage(block, page->Buffer());
      upper.push_back({block, level[from + size - 1].maxKey});
      from += size;
    }
    level.swap(upper);
  }
  tag.SetRoot(level.front().block);
  WriteTagHeader(tag, true);
}

std::unique_ptr<TIndexFile::TGatheredKeys> TIndexFile::GatherKeys(int tag) {
  auto gathered = std::make_unique<TGatheredKeys>();
  gathered->file_ = this;
  gathered->tagSet_ = tagSet_;
  gathered->all_ = tag < 0;
  if (!IsOpen()) return gathered;
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  if (tag < 0) {
    for (auto& t : tags_) gathered->tags_.push_back(t.get());
  } else if (tag < TagCount()) {
    gathered->tags_.push_back(tags_[static_cast<size_t>(tag)].get());
  }
  GatherInto(*gathered);
  return gathered;
}

void TIndexFile::WriteKeys(const TGatheredKeys& gathered) {
  if (!IsOpen()) return;
  if (gathered.file_ != this || gathered.tagSet_ != tagSet_ || gathered.keys_.size() != gathered.tags_.size())
    throw std::logic_error("index keys gathered for tags that are gone: " + BaseName());
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  if (!gathered.all_) {
    if (gathered.tags_.empty()) return;
    TTagState& tag = *gathered.tags_.front();
    for (size_t i = 0; i < tags_.size(); ++i)
      if (tags_[i].get() == &tag) selected_ = static_cast<int>(i);
    WriteTree(tag, 0, gathered);
    Flush();
    return;
  }
  DropCache();
  if (multiple_) {
    PutLE32(Header() + ix::kMdxNextFreeBlock, ix::kMdxHeaderBlocks);
    StoreDate(Header() + ix::kMdxUpdated);
    for (size_t i = 0; i < tags_.size(); ++i) {
      TTagState& tag = *tags_[i];
      tag.headerBlock = AllocateBlock(tag);
      MakeIndexTag(level_, TagEntry(static_cast<int>(i)))->SetHeaderPage(tag.headerBlock);
      WriteFileHeader();
    }
  } else if (!tags_.empty()) {
    PutLE32(tags_.front()->header.data() + ix::kPageCount, 1);
  }
  for (size_t i = 0; i < tags_.size(); ++i) WriteTree(*tags_[i], i, gathered);
  Flush();
  const int64_t blocks = multiple_ ? GetLE32(Header() + ix::kMdxNextFreeBlock)
                                   : (tags_.empty() ? 1 : GetLE32(tags_.front()->header.data() + ix::kPageCount));
  SetPageCount(blocks);
}

void TIndexFile::RebuildTag(int tag) {
  if (!IsOpen() || tag < 0 || tag >= TagCount()) return;
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  WriteKeys(*GatherKeys(tag));
}

void TIndexFile::RebuildAll() {
  if (!IsOpen()) return;
  TOperationScope scope(depth_, [this] { BeginOperation(); }, [this] { EndOperation(); });
  WriteKeys(*GatherKeys(-1));
}

}  // namespace norvale
