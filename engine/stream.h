// The byte stream under a paged file: an operating-system file or memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_file.h"

namespace norvale {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Size() = 0;
  // Bytes transferred, or -1 on an error. Short transfers are not errors here.
  virtual int64_t ReadAt(uint64_t offset, void* buffer, size_t count) = 0;
  virtual int64_t WriteAt(uint64_t offset, const void* buffer, size_t count) = 0;
  virtual bool Resize(uint64_t size) = 0;
  virtual TLockResult Lock(uint64_t offset, uint64_t length, bool wait) { return TLockResult::kOk; }
  virtual bool Unlock(uint64_t offset, uint64_t length) { return true; }
  // The size and last-change time, for telling whether another program
  // wrote since the last look; false when the stream cannot tell.
  virtual bool ChangeStamp(int64_t* size, int64_t* modifiedNs) { return false; }
  // Starts writing a range to the disk without waiting, so that a later sync
  // of a file written in one go finds most of it done.
  virtual void StartWriteback(uint64_t offset, uint64_t length) {}
};

class TFileStream final : public TStream {
 public:
  // Opens the file; raises Exception with the system's reason on failure.
  TFileStream(const std::string& path, bool writable, TShareMode share, bool truncate);
  int64_t Size() override { return file_.Size(); }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override {
    return file_.ReadAt(offset, buffer, count);
  }
  int64_t WriteAt(uint64_t offset, const void* buffer, size_t count) override {
    return file_.WriteAt(offset, buffer, count);
  }
  bool Resize(uint64_t size) override { return file_.Resize(size); }
  TLockResult Lock(uint64_t offset, uint64_t length, bool wait) override {
    return file_.Lock(offset, length, wait);
  }
  bool Unlock(uint64_t offset, uint64_t length) override { return file_.Unlock(offset, length); }
  bool ChangeStamp(int64_t* size, int64_t* modifiedNs) override { return file_.ChangeStamp(size, modifiedNs); }
  void StartWriteback(uint64_t offset, uint64_t length) override { file_.StartWriteback(offset, length); }

 private:
  TOsFile file_;
};

class TMemoryStream final : public TStream {
 public:
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override;
  int64_t WriteAt(uint64_t offset, const void* buffer, size_t count) override;
  bool Resize(uint64_t size) override;
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

}  // namespace norvale
