// Cursors: a position over the records of one table file, in some order.
#pragma once

#include <cstdint>

namespace norvale {

class TDbfFile;

class TVirtualCursor {
 public:
  explicit TVirtualCursor(TDbfFile* file) : file_(file) {}
  virtual ~TVirtualCursor() = default;
  TDbfFile* File() const { return file_; }

  // Record number at the current position; 0 before the first record.
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

}  // namespace norvale
