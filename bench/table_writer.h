// TTableWriter: writes a dBASE IV table (version byte 0x03) record by record
// for the generators of sample and benchmark tables: the engine creates the
// structure, and the records go to the file in large blocks.
//
// Records go through a fixed buffer straight to disk, so a table of millions
// of records costs no more memory than one of ten. Values are written in the
// text forms the engine reads: C left-aligned and space-padded, N
// right-aligned with exactly its decimals, D as YYYYMMDD, L as T or F; a
// field left unset stays blank (spaces), which reads as no value.
//
// Mistakes in a generator (a number too wide for its field, a bad date, an
// unknown type) raise std::invalid_argument rather than producing a table
// that silently says something else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace norvale::gen {

struct TColumnSpec {
  std::string name;  // at most 10 characters
  char type;         // C, N, D or L
  int length;
  int decimals = 0;
};

class TTableWriter {
 public:
  static constexpr uint8_t kLanguageWin1252 = 0x57;

  // Creates (or truncates) `path` and writes the header with a record count
  // of zero; Finish() writes the real count. Raises std::runtime_error when
  // the file cannot be created, std::invalid_argument for a bad layout.
  TTableWriter(const std::string& path, std::vector<TColumnSpec> columns,
               uint8_t languageId = kLanguageWin1252);
  // Finishes the table when Finish() was not called; errors are swallowed
  // here, so call Finish() to learn of them.
  ~TTableWriter();
  TTableWriter(const TTableWriter&) = delete;
  TTableWriter& operator=(const TTableWriter&) = delete;

  int RecordLength() const { return recordLength_; }
  int HeaderLength() const { return headerLength_; }
  uint32_t RecordCount() const { return count_; }
  const std::vector<TColumnSpec>& Columns() const { return columns_; }

  // Starts the next record with every field blank.
  void BeginRecord(bool deleted = false);
  // Text as code-page bytes; longer text is cut to the field's length.
  void SetText(int column, std::string_view bytes);
  // An N field's value as a whole number of units of its last decimal
  // (1234.50 in N(10,2) is 123450), which keeps amounts exact.
  void SetScaled(int column, int64_t units);
  // An N field without decimals (or with them: 7 becomes 7.00).
  void SetInteger(int column, int64_t value);
  void SetDate(int column, int year, int month, int day);
  void SetLogical(int column, bool value);
  void SetBlank(int column);
  // Appends the record begun by BeginRecord.
  void EndRecord();

  // Writes the end-of-file byte and the final header; raises
  // std::runtime_error when the disk refused anything.
  void Finish();

 private:
  uint8_t* Field(int column, char expectedType);
  void WriteCount(FILE* file);
  void FlushBuffer();

  std::vector<TColumnSpec> columns_;
  std::vector<int> offsets_;
  uint8_t languageId_;
  int recordLength_ = 1;
  int headerLength_ = 0;
  uint32_t count_ = 0;
  std::string path_;
  FILE* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  bool inRecord_ = false;
  bool failed_ = false;
};

// Converts UTF-8 text to the bytes of code page 1252 for the characters that
// page shares with Latin-1 (ASCII and U+00A0..U+00FF), which covers the
// accented letters of Western European names. Raises std::invalid_argument
// for anything else, so a typo never becomes a silent '?'.
std::string Cp1252FromUtf8(std::string_view utf8);

}  // namespace norvale::gen
