#include "engine/paged_file.h"

#include <algorithm>

#include "engine/exceptions.h"
#include "engine/messages.h"
#include "platform/os_misc.h"

namespace norvale {

namespace {

struct TModeInfo {
  bool creates;
  bool shared;
  bool memory;
  bool writable;
  TShareMode share;
};

constexpr TModeInfo kModes[] = {
    {false, false, false, false, TShareMode::kDenyNone},   // amNone
    {true, false, true, true, TShareMode::kDenyNone},      // amMemoryCreate
    {false, false, true, true, TShareMode::kDenyNone},     // amMemoryOpen
    {true, false, false, true, TShareMode::kDenyWrite},    // amExclusiveCreate
    {false, false, false, true, TShareMode::kDenyWrite},   // amExclusiveOpen
    {true, true, false, true, TShareMode::kDenyNone},      // amSharedCreate
    {false, true, false, true, TShareMode::kDenyNone},     // amSharedOpen
    {false, true, false, false, TShareMode::kDenyNone},    // amReadOnly
};

const TModeInfo& Info(TPagedFileMode mode) { return kModes[static_cast<int>(mode) & 7]; }

}  // namespace

bool ModeCreates(TPagedFileMode mode) { return Info(mode).creates; }
bool ModeShared(TPagedFileMode mode) { return Info(mode).shared; }
bool ModeWritable(TPagedFileMode mode) { return Info(mode).writable; }

TPagedFile::TPagedFile() = default;

TPagedFile::~TPagedFile() {
  // Destructors must not throw; a failed flush is already recorded in the
  // write-error flag, which nobody can read any more.
  try {
    Close();
  } catch (...) {
  }
}

void TPagedFile::SetFileName(const std::string& name) {
  if (!open_) fileName_ = name;
}

void TPagedFile::SetStream(TStream* stream) {
  if (!open_) stream_ = stream;
}

void TPagedFile::Open() {
  if (open_) return;
  modeAtOpen_ = mode_;
  try {
    OpenStream();
  } catch (...) {
    // An auto-created mode must not outlive a failed open: the next open of
    // an existing file would empty it.
    mode_ = modeAtOpen_;
    throw;
  }
  fileSize_ = stream_ ? stream_->Size() : 0;
  shared_ = ModeShared(mode_);
  pageCountStale_ = true;
  open_ = true;
}

void TPagedFile::OpenStream() {
  const TModeInfo& info = Info(mode_);
  if (info.memory) {
    if (!stream_) {
      ownedStream_ = std::make_unique<TMemoryStream>();
      stream_ = ownedStream_.get();
      mode_ = amMemoryCreate;
    }
    return;
  }
  bool exists = TOsFile::Exists(fileName_);
  if (!exists && autoCreate_) {
    if (mode_ == amExclusiveOpen)
      mode_ = amExclusiveCreate;
    else if (mode_ == amSharedOpen || mode_ == amReadOnly)
      mode_ = amSharedCreate;
  }
  const TModeInfo& now = Info(mode_);
  if (!exists) {
    if (!now.creates || !TOsFile::CreateEmpty(fileName_))
      throw Exception(FormatMessage(msg::kFileNotFound, fileName_.c_str()));
  }
  ownedStream_ = std::make_unique<TFileStream>(fileName_, now.writable, now.share, now.creates);
  stream_ = ownedStream_.get();
}

void TPagedFile::CloseStream() {
  // A memory table lives on in its stream (ours or the caller's) until the
  // object dies or another stream is handed in.
  if (Info(mode_).memory) return;
  if (ownedStream_) {
    if (stream_ == ownedStream_.get()) stream_ = nullptr;
    ownedStream_.reset();
  }
}

void TPagedFile::Close() {
  if (!open_) return;
  FlushHeader();
  CloseStream();
  mode_ = modeAtOpen_;
  open_ = false;
  presenceCount_ = 0;
}

void TPagedFile::SetHeaderOffset(int64_t offset) {
  if (offset != headerOffset_) {
    FlushHeader();
    headerOffset_ = offset;
    pageCountStale_ = true;
  }
}

void TPagedFile::SetRecordSize(int size) {
  if (size < 0) size = 0;
  recordSize_ = size;
  stride_ = size;
  pagesPerRecord_ = stride_ ? recordSize_ / stride_ : 0;
  pageCountStale_ = true;
}

void TPagedFile::SetStride(int stride) {
  stride_ = std::max(stride, 0);
  pagesPerRecord_ = stride_ ? recordSize_ / stride_ : 0;
  pageCountStale_ = true;
}

void TPagedFile::SetHeaderSize(int size) {
  if (size < 0) size = 0;
  if (size == headerSize_ && static_cast<int>(header_.size()) == size) return;
  FlushHeader();
  headerSize_ = size;
  header_.assign(static_cast<size_t>(size), 0);
  pageCountStale_ = true;
  ReloadHeader();
}

void TPagedFile::SetHeaderCountedInOffsets(bool value) {
  headerInOffsets_ = value;
  pageCountStale_ = true;
}

void TPagedFile::StoreHeader() {
  headerModified_ = true;
  if (shared_) FlushHeader();
}

void TPagedFile::FlushHeader() {
  if (!headerModified_) return;
  headerModified_ = false;
  if (!open_ || !stream_ || header_.empty()) return;
  WriteBytesAt(headerOffset_, header_.data(), header_.size());
}

void TPagedFile::ReloadHeader() {
  FlushHeader();
  std::fill(header_.begin(), header_.end(), 0);
  if (!open_ || !stream_ || header_.empty()) return;
  int64_t size = stream_->Size();
  int64_t avail = std::clamp<int64_t>(size - headerOffset_, 0, static_cast<int64_t>(header_.size()));
  // POSIX byte-range locks are advisory, so a read never meets another
  // process's lock: no retry loop is needed here.
  if (avail > 0) stream_->ReadAt(static_cast<uint64_t>(headerOffset_), header_.data(), static_cast<size_t>(avail));
}

int64_t TPagedFile::PageOffset(int64_t page) const {
  if (headerInOffsets_) {
    if (page == 0) return headerOffset_;
    return headerOffset_ + headerSize_ + (page - 1) * static_cast<int64_t>(stride_);
  }
  return page * static_cast<int64_t>(stride_);
}

void TPagedFile::NoteExtent(int64_t end) {
  if (end > fileSize_) {
    fileSize_ = end;
    pageCountStale_ = true;
  }
}

int TPagedFile::ReadPage(int64_t page, void* buffer) {
  if (!open_ || !stream_ || recordSize_ <= 0) return 0;
  int64_t offset = PageOffset(page);
  if (offset < 0) return 0;
  if (offset > fileSize_) NoteExtent(offset);
  int64_t n = stream_->ReadAt(static_cast<uint64_t>(offset), buffer, static_cast<size_t>(recordSize_));
  return n < 0 ? 0 : static_cast<int>(n);
}

int64_t TPagedFile::ReadPages(int64_t firstPage, int64_t count, void* buffer) {
  if (!open_ || !stream_ || recordSize_ <= 0 || count <= 0 || stride_ != recordSize_) return 0;
  int64_t offset = PageOffset(firstPage);
  if (offset < 0) return 0;
  int64_t n = stream_->ReadAt(static_cast<uint64_t>(offset), buffer, static_cast<size_t>(count * recordSize_));
  return n < 0 ? 0 : n / recordSize_;
}

void TPagedFile::WriteBytesAt(int64_t offset, const void* data, size_t count) {
  if (!stream_ || offset < 0) {
    writeError_ = true;
    return;
  }
  int64_t n = stream_->WriteAt(static_cast<uint64_t>(offset), data, count);
  // A short write is as bad as none: half a record on disk is corrupt data.
  if (n != static_cast<int64_t>(count)) writeError_ = true;
  if (n > 0) NoteExtent(offset + n);
}

void TPagedFile::WritePage(int64_t page, const void* buffer) {
  if (!open_ || recordSize_ <= 0) {
    writeError_ = true;
    return;
  }
  int64_t offset = PageOffset(page);
  if (offset > fileSize_) NoteExtent(offset);
  WriteBytesAt(offset, buffer, static_cast<size_t>(recordSize_));
}

int64_t TPagedFile::PageCount() {
  if (open_ && shared_ && stream_) {
    int64_t size = stream_->Size();
    if (size != fileSize_) {
      fileSize_ = size;
      pageCountStale_ = true;
    }
  }
  if (pageCountStale_) {
    if (!open_ || stride_ <= 0) {
      pageCount_ = 0;
    } else if (headerInOffsets_) {
      pageCount_ = (fileSize_ - headerSize_ - headerOffset_) / stride_;
    } else {
      pageCount_ = fileSize_ / stride_;
    }
    if (pageCount_ < 0) pageCount_ = 0;
    pageCountStale_ = false;
  }
  return pageCount_;
}

void TPagedFile::SetPageCount(int64_t count) {
  if (count < 0) count = 0;
  if (count == PageCount()) return;
  int64_t size = headerInOffsets_ ? headerOffset_ + headerSize_ + count * stride_ : count * stride_;
  if (!stream_ || !stream_->Resize(static_cast<uint64_t>(size))) {
    writeError_ = true;
    pageCountStale_ = true;
    return;
  }
  fileSize_ = size;
  pageCount_ = count;
  pageCountStale_ = false;
}

bool TPagedFile::PageExists(int64_t page) {
  if (!shared_ || page > presenceCount_) presenceCount_ = PageCount();
  return page >= 0 && page <= presenceCount_;
}

bool TPagedFile::LockBytes(uint64_t offset, uint64_t length, bool wait) {
  if (!stream_) return false;
  for (;;) {
    TLockResult r = stream_->Lock(offset, length, false);
    if (r == TLockResult::kOk) return true;
    if (r != TLockResult::kViolation || !wait) return false;
    // Polling rather than a blocking lock keeps the lock order free of
    // deadlock detection surprises between OFD locks of one process.
    SleepMs(10);
  }
}

void TPagedFile::UnlockBytes(uint64_t offset, uint64_t length) {
  if (stream_) stream_->Unlock(offset, length);
}

void TPagedFile::LockRange(int64_t page, uint64_t* offset, uint64_t* length) const {
  if (virtualLocks_) {
    *offset = static_cast<uint32_t>(kLockBase - static_cast<uint32_t>(page));
    *length = 1;
  } else {
    *offset = static_cast<uint64_t>(std::max<int64_t>(PageOffset(page), 0));
    *length = static_cast<uint64_t>(std::max(recordSize_, 1));
  }
}

bool TPagedFile::AcquirePageLock(int64_t page, bool wait) {
  if (!shared_ || wholeFileLocked_) return true;
  uint64_t offset, length;
  LockRange(page, &offset, &length);
  return LockBytes(offset, length, wait);
}

void TPagedFile::ReleasePageLock(int64_t page) {
  if (!shared_ || wholeFileLocked_) return;
  uint64_t offset, length;
  LockRange(page, &offset, &length);
  UnlockBytes(offset, length);
}

void TPagedFile::RequireExclusive() const {
  if (ModeShared(mode_)) throw EDbfError(msg::kExclusiveRequired);
}

void TPagedFile::AcquireExclusive() {
  if (savedMode_ != amNone || !ModeShared(mode_)) return;
  savedMode_ = (mode_ == amReadOnly) ? amReadOnly : amSharedOpen;
  Close();
  mode_ = amExclusiveOpen;
  try {
    Open();
  } catch (const Exception&) {
    // Another program holds the file: stay shared; RequireExclusive tells.
    ReleaseExclusive();
  }
}

void TPagedFile::ReleaseExclusive() {
  if (savedMode_ == amNone) return;
  Close();
  mode_ = savedMode_;
  savedMode_ = amNone;
  Open();
}

void TPagedFile::DeleteFile() {
  if (!open_ && !fileName_.empty()) TOsFile::Remove(fileName_);
}

}  // namespace norvale
