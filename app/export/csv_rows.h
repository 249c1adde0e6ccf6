// CSV rows made straight from stored record images. A long CSV export spends
// its time turning field bytes into text; for the stored shapes that say
// plainly what a value is (text in a one-byte code page, canonical numbers
// and dates, logical letters) the row is written from the bytes, exactly as
// TCsvWriter writes what TExportReader reads. Every other shape, and every
// field without such a form, takes that general path value by value.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace norvale {

class TCsvWriter;
class TDbfFieldDef;
class TDbfTable;
class TExportReader;
struct TExportValue;

class TCsvRecordRows {
 public:
  TCsvRecordRows(TDbfTable& table, TExportReader& reader, TCsvWriter& writer);
  // Whether some column has a fast form; without one the general path is as
  // quick and this class is not worth using.
  bool Useful() const { return useful_; }
  // Writes every record `table` visits from its first one, in its order and
  // under its filter; `progress` after each record with the count so far.
  // Returns the number of rows written.
  int64_t WriteAll(const std::function<void(int64_t rows)>& progress);

 private:
  // kText16..kText64: text fields of at most 16..64 bytes, read 16 bytes at
  // a time; kText: longer ones.
  enum class TForm { kGeneral, kEmpty, kText, kText16, kText32, kText48, kText64, kInteger, kFixed, kDate, kLogical };
  enum class TResult { kValue, kNull, kGeneral };
  struct TColumn {
    TForm form = TForm::kGeneral;
    int offset = 0;
    int size = 0;
    int decimals = 0;
    // One bit for each of the field's first 16 (64) bytes.
    uint32_t bytes = 0;
    uint64_t bytes64 = 0;
  };
  // What a byte of text becomes inside the quotes; length 0: the general
  // path decides.
  struct TByteText {
    char bytes[4];
    uint8_t length;
  };

  // Whether the walk visits the file's records in their order with nothing
  // left out but (without Show Deleted) the deleted ones.
  bool WalksTheFile() const;
  int64_t WriteFromFile(const std::function<void(int64_t rows)>& progress);
  int64_t WriteFromWalk(const std::function<void(int64_t rows)>& progress);
  // One row: `general` fills the value of a column whose bytes need the
  // general path.
  void WriteRow(const uint8_t* image, const std::function<void(size_t, TExportValue&)>& general);
  template <int kPieces>
  TResult ShortText(const TColumn& column, const uint8_t* p, char*& out) const;
  TResult Text(const TColumn& column, const uint8_t* p, char*& out) const;
  TResult Value(const TColumn& column, const uint8_t* image, char*& out) const;
  void FlushOutput();

  TDbfTable& table_;
  TExportReader& reader_;
  TCsvWriter& writer_;
  std::vector<TColumn> columns_;
  TByteText bytes_[256] = {};
  char separator_ = ',';
  char quote_ = '"';
  bool useful_ = false;
  size_t recordLength_ = 0;
  // Rows gather here and go to the writer in large pieces; past kFlushAt
  // there is room for one more row and the stores' slack.
  std::vector<char> output_;
  size_t used_ = 0;
  size_t rowBound_ = 0;
  std::vector<uint8_t> record_;
  std::vector<TExportValue> values_;
};

}  // namespace norvale
