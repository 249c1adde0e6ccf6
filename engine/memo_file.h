// Memo files: the variable-length values (M, G and B fields) that a table
// keeps beside itself. A page is a block counted from the start of the file,
// the 512-byte header included, and a record holds the number of the first
// block of its value. A value occupies consecutive blocks.
//
// TDbaseMemoFile reads and writes .dbt files (dBASE III: values end with
// 1A 1A; dBASE IV and 7: a block header carries the length), TFoxProMemoFile
// .fpt files (big-endian header and block header). TNullMemoFile stands in
// for a memo file that is missing: every value reads empty and none can be
// stored.
//
// Damaged files never raise on reading: a value is cut at the end of the
// file, and a block number outside the file reads as an empty value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/dbf_format.h"
#include "engine/fields.h"
#include "engine/paged_file.h"

namespace norvale {

class TMemoFile : public TPagedFile {
 public:
  static constexpr int kHeaderSize = fmt::kMemoHeaderSize;
  // Taken when a header holds no block size, and for dBASE III always.
  static constexpr int kDefaultBlockSize = 512;

  // `requestedBlockSize` matters only when the file is created (a creating
  // mode); 0 takes the size from the header.
  TMemoFile(TXBaseVersion version, int requestedBlockSize);
  ~TMemoFile() override;

  // Opens in the mode set beforehand; no-op when already open. A creating
  // mode writes a fresh header. Raises Exception like TPagedFile::Open.
  virtual void Open();
  virtual void Close();

  TXBaseVersion Version() const { return version_; }
  int BlockSize() const { return recordSize_; }
  // The first unused block as the header in memory says.
  int64_t NextFreeBlock() const { return GetNextFree(); }

  // Replaces `out` with the value that starts at `block`; empty for a block
  // number of 0 or below, or one that lies past the end of the file.
  virtual void ReadMemo(int64_t block, std::string& out);
  // Stores `data` and returns the block number to put into the record (0 for
  // an empty value, which writes nothing). `block` and `oldLength` describe
  // the value the field held before (0 when none or unknown): when the new
  // value needs no more blocks than that one had, it overwrites it in place;
  // otherwise it is appended under the header lock. Failed writes set the
  // write-error flag; nothing is raised.
  virtual int64_t WriteMemo(int64_t block, int64_t oldLength, std::string_view data);

 protected:
  // Per-format header and block layout.
  virtual int BlockSizeFromHeader() const = 0;
  // Data length from the first 8 bytes of a value, or -1 when the block
  // carries none (dBASE III style: the value ends with its terminator).
  virtual int64_t DataLength(const uint8_t* blockStart) const = 0;
  virtual int64_t GetNextFree() const = 0;
  virtual void SetNextFree(int64_t block) = 0;
  virtual void SetBlockSizeInHeader(int size) = 0;
  // Terminator bytes after the data and the size of the block header that
  // precedes it.
  virtual int TerminatorLength() const = 0;
  virtual int BlockHeaderLength() const = 0;
  virtual void PutBlockHeader(uint8_t* out, uint32_t dataLength) const = 0;
  // Header bytes this format sets on every open.
  virtual void MarkHeader() {}

 private:
  void ReadTerminated(int64_t start, int64_t fileSize, std::string& out);
  int64_t AllocateBlocks(int64_t count);

  TXBaseVersion version_;
  int requestedBlockSize_;
};

class TDbaseMemoFile : public TMemoFile {
 public:
  using TMemoFile::TMemoFile;

 protected:
  int BlockSizeFromHeader() const override;
  int64_t DataLength(const uint8_t* blockStart) const override;
  int64_t GetNextFree() const override;
  void SetNextFree(int64_t block) override;
  void SetBlockSizeInHeader(int size) override;
  int TerminatorLength() const override;
  int BlockHeaderLength() const override;
  void PutBlockHeader(uint8_t* out, uint32_t dataLength) const override;
  void MarkHeader() override;
};

class TFoxProMemoFile : public TMemoFile {
 public:
  using TMemoFile::TMemoFile;

 protected:
  int BlockSizeFromHeader() const override;
  int64_t DataLength(const uint8_t* blockStart) const override;
  int64_t GetNextFree() const override;
  void SetNextFree(int64_t block) override;
  void SetBlockSizeInHeader(int size) override;
  int TerminatorLength() const override { return 0; }
  int BlockHeaderLength() const override { return fmt::kMemoBlockHeaderSize; }
  void PutBlockHeader(uint8_t* out, uint32_t dataLength) const override;
};

// The memo file of a table whose memo file does not exist. `missingName` is
// the name it would have; writing a value raises EDbfError naming it.
class TNullMemoFile : public TMemoFile {
 public:
  TNullMemoFile(TXBaseVersion version, std::string missingName);

  void Open() override { open_ = true; }
  void Close() override { open_ = false; }
  void ReadMemo(int64_t block, std::string& out) override;
  int64_t WriteMemo(int64_t block, int64_t oldLength, std::string_view data) override;
  bool LockBytes(uint64_t offset, uint64_t length, bool wait) override { return true; }
  void UnlockBytes(uint64_t offset, uint64_t length) override {}
  int ReadPage(int64_t page, void* buffer) override { return 0; }
  void WritePage(int64_t page, const void* buffer) override {}
  void AcquireExclusive() override {}
  void ReleaseExclusive() override {}
  void StoreHeader() override {}

 protected:
  int BlockSizeFromHeader() const override { return 0; }
  int64_t DataLength(const uint8_t*) const override { return 0; }
  int64_t GetNextFree() const override { return 0; }
  void SetNextFree(int64_t) override {}
  void SetBlockSizeInHeader(int) override {}
  int TerminatorLength() const override { return 0; }
  int BlockHeaderLength() const override { return 0; }
  void PutBlockHeader(uint8_t*, uint32_t) const override {}

 private:
  std::string missingName_;
};

}  // namespace norvale
