// Cursors: a position over the records of one table file, in some order.
#pragma once

#include <cstdint>

namespace norvale {

class TDbfFile;
class TIndexFile;

class TVirtualCursor {
 public:
  explicit TVirtualCursor(TDbfFile* file) : file_(file) {}
  virtual ~TVirtualCursor() = default;
  TDbfFile* File() const { return file_; }

  // Record number at the current position; 0 (record order) or -1 (index
  // order) when the position is on no record.
  virtual int64_t GetPhysicalRecord() = 0;
  // 1-based position in the cursor's order.
  virtual int64_t GetOrderPosition() = 0;
  // Positions in the order, deleted records included.
  virtual int64_t GetOrderCount() = 0;
  virtual void SetPhysicalRecord(int64_t recNo) = 0;
  virtual void SetOrderPosition(int64_t position) = 0;
  // True when the move lands on a record.
  virtual bool Next() = 0;
  virtual bool Prev() = 0;
  // Before the first record / after the last.
  virtual void First() = 0;
  virtual void Last() = 0;

 protected:
  TDbfFile* file_;
};

// Record-number order. Position 0 is before the first record and count + 1
// after the last.
class TDbfCursor : public TVirtualCursor {
 public:
  explicit TDbfCursor(TDbfFile* file) : TVirtualCursor(file) {}

  int64_t GetPhysicalRecord() override { return recNo_; }
  int64_t GetOrderPosition() override { return recNo_; }
  int64_t GetOrderCount() override;
  void SetPhysicalRecord(int64_t recNo) override { recNo_ = recNo; }
  void SetOrderPosition(int64_t position) override { recNo_ = position; }
  bool Next() override;
  bool Prev() override;
  void First() override { recNo_ = 0; }
  void Last() override;

 private:
  int64_t recNo_ = 0;
};

// The order of one tag of an index file. Several cursors and searches may
// use one file, so each operation selects its tag first. Positions are the
// index's estimates (0 before the first entry, TIndexFile::kAfterLast after
// the last); the count is the index's estimate too.
class TIndexCursor : public TVirtualCursor {
 public:
  TIndexCursor(TDbfFile* file, TIndexFile* index, int tag);

  TIndexFile* Index() const { return index_; }
  int Tag() const { return tag_; }

  int64_t GetPhysicalRecord() override;
  int64_t GetOrderPosition() override;
  int64_t GetOrderCount() override;
  void SetPhysicalRecord(int64_t recNo) override;
  void SetOrderPosition(int64_t position) override;
  bool Next() override;
  bool Prev() override;
  void First() override;
  void Last() override;

 private:
  TIndexFile& Selected();

  TIndexFile* index_;
  int tag_;
};

}  // namespace norvale
