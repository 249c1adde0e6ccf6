// The exporters whose files are text: plain text, CSV, HTML, XML and JSON
// here, RTF and the psql script in headers of their own that come with this
// one. Each writes as the rows come, through a buffer, so that a table of
// millions of records needs no more memory than one record does.
//
// Text arrives as UTF-8. A byte that starts no valid UTF-8 sequence is
// written as U+FFFD and counted in a warning: all of these files say they
// are UTF-8 (RTF escapes every character), and some readers refuse a whole
// file for one bad byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/export/pgsql_writer.h"
#include "app/export/rtf_writer.h"
#include "app/export/text_file_writer.h"

namespace norvale {

// Plain text: one line per record, values separated by commas; text and
// memo values in settings.quote with quotes inside doubled, everything else
// bare (numbers plain, dates dd/mm/yyyy, True/False), nulls as nothing.
// Lines end CR LF. A line of column names only when settings.titleLine.
class TTextWriter : public TTextFileWriter {
 public:
  using TTextFileWriter::TTextFileWriter;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;
};

// CSV: a line of column names when settings.titleLine, then one line per
// record, values separated by settings.separator. Every value that is not a
// number is put in settings.quote with quotes inside doubled; numbers are
// bare and plain; nulls and binary values are empty without quotes. Lines
// end CR LF; UTF-8 without a byte order mark.
class TCsvWriter : public TTextFileWriter {
 public:
  using TTextFileWriter::TTextFileWriter;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;
  // Column `i`'s value as Row writes it, without the separator.
  void PutValue(size_t i, const TExportValue& value);
  // Rows made elsewhere in this writer's forms, valid UTF-8 already.
  void PutFormatted(const char* text, size_t length) { PutBytes(text, length); }
  char Separator() const { return settings_.separator; }
  char Quote() const { return settings_.quote; }
};

// HTML5: settings.title as the document's title, one table with a header row
// of column names when settings.titleLine, one row per record. Numbers are
// grouped with "," and right-aligned; line breaks inside a value are <br>;
// blanks are kept as they are (white-space: pre-wrap); nulls are empty cells.
class THtmlWriter : public TTextFileWriter {
 public:
  using TTextFileWriter::TTextFileWriter;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

 private:
  void PutEscaped(std::string_view text, bool breaks);
};

// XML, laid out as
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <RECORDS>
//     <PARAMS>
//       <FIELD name="1ST" element="_1ST" type="C" length="10" decimals="0"/>
//       ...
//     </PARAMS>
//     <RECORD><ROW><_1ST>value</_1ST>...</ROW></RECORD>
//     ...
//   </RECORDS>
//
// with the four tag names from settings. PARAMS has a FIELD per column in
// column order: the field's real name, the element that holds its values,
// its type letter, length and decimals. A field name is not always an XML
// name ("1ST", blanks, non-ASCII letters), so each column's element is the
// name with everything but ASCII letters, digits, "_", "-" and "." made "_",
// a "_" put before a name that does not start with a letter or "_" or that
// starts with "xml", and "_2", "_3", ... added to one that would repeat an
// earlier column's. Values are in the text forms of export_value.h (numbers
// plain, dates dd/mm/yyyy, True/False). A null is an empty element with
// null="true"; an empty text is an empty element without it. Carriage
// returns are written as &#13; so that a parser hands them back unchanged.
// Characters XML 1.0 cannot hold at all (controls other than tab, CR and LF,
// U+FFFE, U+FFFF) are written as U+FFFD and counted in a warning.
class TXmlWriter : public TTextFileWriter {
 public:
  using TTextFileWriter::TTextFileWriter;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

  // The element name a field or tag name is written as (without the
  // numbering that keeps columns apart).
  static std::string ElementName(std::string_view name);

 private:
  void PutEscaped(std::string_view text, bool attribute);

  std::vector<std::string> elements_;
  std::string recordsTag_, recordTag_, rowTag_;
  int64_t unrepresentable_ = 0;
};

// JSON: an array with an object per record, keyed by field name in column
// order. Numbers are JSON numbers with the digits of the field, logicals
// true/false, dates "YYYY-MM-DD", date-times "YYYY-MM-DDTHH:MM:SS" (with
// ".mmm" when there are milliseconds), times "HH:MM:SS", nulls and binary
// values null. A number whose text is not a number JSON can hold (a field
// of asterisks, say) is null and counted in a warning.
class TJsonWriter : public TTextFileWriter {
 public:
  using TTextFileWriter::TTextFileWriter;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

 private:
  void PutString(std::string_view text);

  bool firstRow_ = true;
  int64_t badNumbers_ = 0;
};

}  // namespace norvale
