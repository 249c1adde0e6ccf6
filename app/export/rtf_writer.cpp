#include "app/export/rtf_writer.h"

#include <algorithm>

namespace norvale {

namespace {
constexpr int kTwipsPerPixel = 15;

// A column whose grid width is not known is made as wide as its field or
// its name, as a grid would show it, within bounds that keep a table of
// many narrow or a few very long fields readable.
int ColumnTwips(const TExportColumn& column) {
  if (column.widthPixels > 0) return column.widthPixels * kTwipsPerPixel;
  const int chars = std::clamp(std::max<int>(column.length, static_cast<int>(column.name.size())), 4, 40);
  return (chars * 7 + 10) * kTwipsPerPixel;
}

bool IsNumber(const TExportColumn& column) {
  return column.kind == TExportKind::Integer || column.kind == TExportKind::Number;
}
}  // namespace

void TRtfWriter::PutEscaped(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t c = NextChar(text, pos);
    if (c == '\\' || c == '{' || c == '}') {
      Put('\\');
      Put(static_cast<char>(c));
    } else if (c == '\r' || c == '\n') {
      // CR LF, a lone CR and a lone LF are each one line break.
      if (c == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
      Put("\\line ");
    } else if (c == '\t') {
      Put("\\tab ");
    } else if (c < 0x20) {
      // Other control characters have no meaning in a document, and RTF
      // readers would drop them anyway.
    } else if (c < 0x80) {
      Put(static_cast<char>(c));
    } else {
      // \u takes a signed 16-bit number, so units past 32767 are written
      // less 65536; the "?" after each is what a reader without Unicode shows.
      const auto unit = [this](char32_t u) {
        Put("\\u");
        Put(std::to_string(u > 32767 ? static_cast<int>(u) - 65536 : static_cast<int>(u)));
        Put('?');
      };
      if (c <= 0xFFFF) {
        unit(c);
      } else {
        unit(0xD800 + ((c - 0x10000) >> 10));
        unit(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
    }
  }
}

void TRtfWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  rowDefinition_ = "\\trowd\\trgaph60\\trleft0";
  int right = 0;
  for (const TExportColumn& column : columns_) {
    right += ColumnTwips(column);
    rowDefinition_ +=
        "\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10"
        "\\clbrdrr\\brdrs\\brdrw10\\cellx";
    rowDefinition_ += std::to_string(right);
  }
  rowDefinition_ += '\n';

  Put("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\n\\f0\\fs20\n");
  if (!settings_.title.empty()) {
    Put("\\pard\\plain\\f0\\fs24\\b ");
    PutEscaped(settings_.title);
    Put("\\b0\\par\n\\pard\\plain\\f0\\fs20\\par\n");
  }
  if (columns_.empty()) return;
  // The header row repeats at the top of every page (\trhdr).
  Put(std::string_view(rowDefinition_).substr(0, 6));
  Put("\\trhdr");
  Put(std::string_view(rowDefinition_).substr(6));
  for (const TExportColumn& column : columns_) {
    Put("\\pard\\intbl\\plain\\f0\\fs20\\b ");
    PutEscaped(column.name);
    Put("\\b0\\cell\n");
  }
  Put("\\row\n");
}

void TRtfWriter::Row(const TExportRow& row) {
  CheckRow(row);
  if (columns_.empty()) return;
  Put(rowDefinition_);
  for (size_t i = 0; i < row.size(); ++i) {
    Put(IsNumber(columns_[i]) ? "\\pard\\intbl\\plain\\f0\\fs20\\qr " : "\\pard\\intbl\\plain\\f0\\fs20 ");
    PutEscaped(ExportDisplayText(columns_[i], row[i], true));
    Put("\\cell\n");
  }
  Put("\\row\n");
}

void TRtfWriter::Finish() {
  // Word wants a paragraph after a table before the document ends.
  Put("\\pard\\plain\\f0\\fs20\\par\n}\n");
  Close();
}

}  // namespace norvale
