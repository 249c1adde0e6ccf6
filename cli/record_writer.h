// Streams the records of an open table as JSON or CSV. Memory stays flat:
// records are read in blocks and written through one output buffer.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/record_view.h"
#include "engine/table_file.h"
#include "platform/text_codec.h"

namespace norvale::cli {

enum class TOutputFormat { kJson, kCsv };

struct TDumpOptions {
  TOutputFormat format = TOutputFormat::kJson;
  bool includeDeleted = false;
  // When set, only the records it accepts are written (given the record
  // image); what it raises ends the dump.
  std::function<bool(const uint8_t* record)> accept;
};

class TRecordWriter {
 public:
  TRecordWriter(TDbfFile& table, const TCodePageDecoder& text, const TDumpOptions& options, FILE* out);
  // Writes every record; raises on a write failure of `out`.
  void WriteAll();
  // Writes the records `next` names, in its order, until it gives 0.
  void WriteInOrder(const std::function<int64_t()>& next);

 private:
  enum class TKind { kText, kInteger, kFloat, kCurrency, kBoolean, kDate, kDateTime, kBytes, kMemo };
  // Fields stored as text whose common shapes AppendFast formats straight
  // from the record bytes; every other shape takes AppendValue's path. The
  // short forms read the field 16 bytes at a time (kText16..kText64 by the
  // number of such pieces).
  enum class TFast {
    kNone,
    kText,
    kText16,
    kText32,
    kText48,
    kText64,
    kInteger,
    kShortInteger,
    kFloat,
    kShortFloat,
    kDate,
    kBoolean
  };
  enum class TFastResult { kValue, kNull, kGeneral };
  struct TColumn {
    const TDbfFieldDef* field;
    TKind kind;
    TFieldType request;
    TFast fast = TFast::kNone;
    // The field's place in the record, kept so the view need not look it up
    // for every record.
    int offset = 0;
    int size = 0;
    // One bit for each byte of the field, for the short forms.
    uint64_t bytes = 0;
  };

  void WritePreamble();
  // Writes `count` records from `records` on, the first numbered firstNo.
  template <bool kJson>
  char* WriteRecords(int64_t firstNo, int64_t count, const uint8_t* records, char* out);
  template <bool kJson>
  inline char* WriteRecord(int64_t recNo, const uint8_t* record, char* out);
  // Appends the field's value in the output syntax to buffer_; false for null.
  bool AppendValue(const TColumn& column, const uint8_t* record);
  // Writes the value at `out` (at most FastBound(field) bytes; 16-byte
  // stores may touch up to kWriteSlack bytes past them) and advances it;
  // kGeneral writes nothing.
  template <bool kJson>
  inline TFastResult AppendFast(const TColumn& column, const TRecordView& record, char*& out) const;
  template <bool kJson, int kPieces>
  inline TFastResult ShortText(const TColumn& column, const uint8_t* p, char*& out) const;
  template <bool kJson>
  TFastResult EscapedText(const uint8_t* p, uint64_t events, int end, char*& out) const;
  inline TFastResult ShortInteger(const TColumn& column, const uint8_t* p, char*& out) const;
  inline TFastResult ShortFloat(const TColumn& column, const uint8_t* p, char*& out) const;
  void AppendJsonString(const char* text, size_t length);
  void AppendCsvText(const std::string& text);
  // Moves buffer_ into the output at `out`, flushing first when it would
  // leave less than one record's room; returns where the output goes on.
  char* CopyBuffer(char* out);
  char* Flush(char* out);

  TDbfFile& table_;
  const size_t recordLength_;
  const TCodePageDecoder& text_;
  TDumpOptions options_;
  FILE* out_;
  std::vector<TColumn> columns_;
  // Text from the general path and the preamble, before it joins output_.
  std::string buffer_;
  std::string scratch_;
  std::vector<char> fieldText_;
  // The output gathers here up to kFlushAt bytes; past that, room for one
  // record's fast values (recordBound_) and slack for the 16-byte stores.
  std::vector<char> output_;
  size_t recordBound_ = 0;
  // Written after every value; the last one is taken back at the record's end.
  char separator_[2] = {',', 0};
  int separatorLength_ = 1;
  // Whether the code page decodes printable ASCII to itself.
  bool asciiIdentity_ = false;
  // UTF-8 of bytes 0x80-0xFF for decoding byte by byte (length 0: not so),
  // padded to four bytes so that one store copies any of them.
  struct TUtf8 {
    char bytes[4];
    uint8_t length;
  };
  TUtf8 highUtf8_[128] = {};
  bool highTable_ = false;
  // What each byte becomes in short text where it cannot be copied as it
  // stands (length 0: it takes the general path); `quote` marks bytes for
  // which CSV quotes the text.
  struct TEscape {
    char bytes[4];
    uint8_t length;
    bool quote;
  };
  TEscape escapes_[256] = {};
  bool firstRecord_ = true;
  bool json_ = false;
};

std::string Base64(const uint8_t* data, size_t length);

}  // namespace norvale::cli
