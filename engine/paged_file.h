// TPagedFile: the base of every engine file (table, memo, index). It turns page
// numbers into offsets, keeps a header buffer, caches the file size and page
// count, applies the access mode's sharing rules and takes byte-range locks.
//
// Writes never raise here. A write that fails sets a sticky flag that the
// owning file examines and turns into its own error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/stream.h"

namespace norvale {

enum TPagedFileMode {
  amNone = 0,
  amMemoryCreate = 1,
  amMemoryOpen = 2,
  amExclusiveCreate = 3,
  amExclusiveOpen = 4,
  amSharedCreate = 5,
  amSharedOpen = 6,
  amReadOnly = 7,
};

bool ModeCreates(TPagedFileMode mode);
bool ModeShared(TPagedFileMode mode);
bool ModeWritable(TPagedFileMode mode);

class TPagedFile {
 public:
  // Virtual lock number N is the byte at kLockBase - N (32-bit arithmetic).
  static constexpr uint32_t kLockBase = 0xEFFFFFFEu;
  static constexpr uint32_t kLockRegionStart = 0xB46535FEu;
  static constexpr uint32_t kLockRegionLength = 1000000002u;

  TPagedFile();
  virtual ~TPagedFile();
  TPagedFile(const TPagedFile&) = delete;
  TPagedFile& operator=(const TPagedFile&) = delete;

  // Opens the stream in the current mode (may switch to a creating mode when
  // AutoCreate is set). A missing file raises Exception "Open: file not
  // found..."; a refused operating-system open raises Exception as well.
  void Open();
  // Flushes the header, releases the stream and restores the mode of Open.
  void Close();
  bool IsOpen() const { return open_; }

  void SetFileName(const std::string& name);
  const std::string& FileName() const { return fileName_; }
  // A memory stream owned by the caller (memory modes only).
  void SetStream(TStream* stream);
  TStream* Stream() const { return stream_; }

  TPagedFileMode Mode() const { return mode_; }
  void SetMode(TPagedFileMode mode) { mode_ = mode; }
  bool AutoCreate() const { return autoCreate_; }
  void SetAutoCreate(bool value) { autoCreate_ = value; }
  bool IsShared() const { return shared_; }

  virtual void SetHeaderOffset(int64_t offset);
  virtual void SetRecordSize(int size);
  virtual void SetHeaderSize(int size);
  virtual void SetHeaderCountedInOffsets(bool value);
  void SetStride(int stride);
  void SetVirtualLocks(bool value) { virtualLocks_ = value; }

  int64_t HeaderOffset() const { return headerOffset_; }
  int HeaderSize() const { return headerSize_; }
  int RecordSize() const { return recordSize_; }
  int Stride() const { return stride_; }

  uint8_t* Header() { return header_.data(); }
  const uint8_t* Header() const { return header_.data(); }
  bool HeaderModified() const { return headerModified_; }

  // Marks the header modified; shared files write it at once so that other
  // processes see it.
  virtual void StoreHeader();
  void FlushHeader();
  void ReloadHeader();
  virtual void Flush() {}

  int64_t PageOffset(int64_t page) const;
  // Bytes read (fewer than the record size at the end of the file).
  virtual int ReadPage(int64_t page, void* buffer);
  virtual void WritePage(int64_t page, const void* buffer);
  // Reads `count` consecutive pages in one transfer; returns whole pages read.
  int64_t ReadPages(int64_t firstPage, int64_t count, void* buffer);

  int64_t PageCount();
  void SetPageCount(int64_t count);
  bool PageExists(int64_t page);
  int64_t CachedFileSize() const { return fileSize_; }

  virtual bool LockBytes(uint64_t offset, uint64_t length, bool wait);
  virtual void UnlockBytes(uint64_t offset, uint64_t length);
  // Byte range of a page lock (the virtual lock byte, or the page itself).
  void LockRange(int64_t page, uint64_t* offset, uint64_t* length) const;
  bool AcquirePageLock(int64_t page, bool wait);
  void ReleasePageLock(int64_t page);

  void RequireExclusive() const;
  virtual void AcquireExclusive();
  virtual void ReleaseExclusive();
  bool ExclusiveUpgraded() const { return savedMode_ != amNone; }

  bool WriteError() const { return writeError_; }
  void ClearWriteError() { writeError_ = false; }
  // Removes the file from disk; only while closed.
  void DeleteFile();

 protected:
  virtual void OpenStream();
  virtual void CloseStream();
  // Writes raw bytes through the cached-size and write-error bookkeeping.
  void WriteBytesAt(int64_t offset, const void* data, size_t count);
  void NoteExtent(int64_t end);

  TStream* stream_ = nullptr;
  std::unique_ptr<TStream> ownedStream_;
  int64_t headerOffset_ = 0;
  int headerSize_ = 0;
  int recordSize_ = 0;
  int stride_ = 0;
  int64_t pageCount_ = 0;
  int pagesPerRecord_ = 0;
  int64_t fileSize_ = 0;
  int64_t presenceCount_ = 0;
  std::vector<uint8_t> header_;
  bool open_ = false;
  bool pageCountStale_ = true;
  bool headerModified_ = false;
  bool headerInOffsets_ = true;
  TPagedFileMode mode_ = amReadOnly;
  TPagedFileMode savedMode_ = amNone;
  TPagedFileMode modeAtOpen_ = amReadOnly;
  bool autoCreate_ = false;
  bool shared_ = false;
  bool virtualLocks_ = true;
  bool wholeFileLocked_ = false;
  bool writeError_ = false;
  std::string fileName_;
};

}  // namespace norvale
