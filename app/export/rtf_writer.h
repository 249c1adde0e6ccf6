#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/export/text_file_writer.h"

namespace norvale {

// RTF: settings.title as a bold paragraph, then a table of a header row of
// column names and a row per record. A column is widthPixels wide (15 twips
// a pixel) or, when that is not known, as wide as its field. Numbers are
// grouped with "," and right-aligned. Everything outside ASCII is written as
// \uN? escapes (UTF-16 units, so a pair for characters past U+FFFF), line
// breaks inside a value as \line; other control characters are left out.
class TRtfWriter : public TTextFileWriter {
 public:
  using TTextFileWriter::TTextFileWriter;
  void Begin(const std::vector<TExportColumn>& columns) override;
  void Row(const TExportRow& row) override;
  void Finish() override;

 private:
  void PutEscaped(std::string_view text);

  std::string rowDefinition_;
};

}  // namespace norvale
