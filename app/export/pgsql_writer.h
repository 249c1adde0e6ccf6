#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/export/text_file_writer.h"

namespace norvale {

// A PostgreSQL column type, and what a number must be for the type to take
// it: within int32 or int64, no more digits before the point than
// `integerDigits`, or within a double's range.
struct TPgType {
  enum TLimit { kNone, kInt32, kInt64, kDigits, kDouble };
  std::string name;
  TLimit limit = kNone;
  long integerDigits = 0;
};

// A psql script that makes a table named settings.title ("export" when
// empty) and fills it with COPY ... FROM stdin, all in one transaction; psql
// is told to stop at the first error so that a failed CREATE never has the
// data lines read as commands. Column types: text as varchar(length) (text
// when the length is not known), memo as text, integers as integer when
// nine digits fit (bigint to eighteen, numeric beyond), other numbers as
// numeric(length,decimals), currency as numeric(19,4), binary doubles as
// double precision, dates as date, date-times as timestamp, times as time,
// logicals as boolean and binary values as bytea, written NULL. A value
// PostgreSQL would refuse (a number that is not one or does not fit its
// column, a date outside 0001-9999) is written NULL, and a NUL character is
// left out; both are counted in a warning, as one such value would
// otherwise lose the whole import.
class TPgsqlWriter : public TTextFileWriter {
 public:
  using TTextFileWriter::TTextFileWriter;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

  // The column type a field is created with.
  static TPgType Type(const TExportColumn& column);

 private:
  void PutCopyText(std::string_view text);

  std::vector<TPgType> types_;
  int64_t refused_ = 0;
  int64_t droppedNul_ = 0;
};

}  // namespace norvale
