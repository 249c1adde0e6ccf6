// Streams the records of an open table as JSON or CSV. Memory stays flat:
// records are read in blocks and written through one output buffer.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/table_file.h"
#include "platform/text_codec.h"

namespace norvale::cli {

enum class TOutputFormat { kJson, kCsv };

struct TDumpOptions {
  TOutputFormat format = TOutputFormat::kJson;
  bool includeDeleted = false;
};

class TRecordWriter {
 public:
  TRecordWriter(TDbfFile& table, const TCodePageDecoder& text, const TDumpOptions& options, FILE* out);
  // Writes every record; raises on a write failure of `out`.
  void WriteAll();

 private:
  enum class TKind { kText, kInteger, kFloat, kCurrency, kBoolean, kDate, kDateTime, kBytes, kMemo };
  // Fields stored as text whose common shapes AppendFast formats straight
  // from the record bytes; every other shape takes AppendValue's path.
  enum class TFast { kNone, kText, kInteger, kFloat, kDate, kBoolean };
  enum class TFastResult { kValue, kNull, kGeneral };
  struct TColumn {
    const TDbfFieldDef* field;
    TKind kind;
    TFieldType request;
    TFast fast = TFast::kNone;
  };

  void WritePreamble();
  void WriteRecord(int64_t recNo, const uint8_t* record);
  // Appends the field's value in the output syntax; false for null.
  bool AppendValue(const TColumn& column, const uint8_t* record);
  // Writes the value at `out` (at most FastBound(field) bytes) and advances it;
  // kGeneral writes nothing.
  inline TFastResult AppendFast(const TColumn& column, const uint8_t* record, char*& out) const;
  void AppendJsonString(const char* text, size_t length);
  void AppendCsvText(const std::string& text);
  void Flush();

  TDbfFile& table_;
  const TCodePageDecoder& text_;
  TDumpOptions options_;
  FILE* out_;
  std::vector<TColumn> columns_;
  std::string buffer_;
  std::string scratch_;
  std::vector<char> fieldText_;
  // One record's output, gathered here and appended to buffer_ in one piece.
  std::vector<char> line_;
  // Whether the code page decodes printable ASCII to itself.
  bool asciiIdentity_ = false;
  // UTF-8 of bytes 0x80-0xFF for decoding byte by byte (length 0: not so).
  struct TUtf8 {
    uint8_t length;
    char bytes[3];
  };
  TUtf8 highUtf8_[128] = {};
  bool highTable_ = false;
  bool firstRecord_ = true;
};

std::string Base64(const uint8_t* data, size_t length);

}  // namespace norvale::cli
