#include "app/export/text_writers.h"

#include <algorithm>

namespace norvale {

// ---------------------------------------------------------------------------
// Plain text

void TTextWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  if (!settings_.titleLine) return;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) Put(',');
    PutQuoted(columns_[i].name, settings_.quote);
  }
  Put("\r\n");
}

void TTextWriter::Row(const TExportRow& row) {
  CheckRow(row);
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) Put(',');
    const TExportValue& value = row[i];
    if (value.null) continue;
    const TExportKind kind = columns_[i].kind;
    if (kind == TExportKind::Text || kind == TExportKind::Memo)
      PutQuoted(value.text, settings_.quote);
    else
      PutUtf8(ExportDisplayText(columns_[i], value, false));
  }
  Put("\r\n");
}

void TTextWriter::Finish() { Close(); }

// ---------------------------------------------------------------------------
// CSV

void TCsvWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  if (!settings_.titleLine) return;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) Put(settings_.separator);
    PutQuoted(columns_[i].name, settings_.quote);
  }
  Put("\r\n");
}

void TCsvWriter::Row(const TExportRow& row) {
  CheckRow(row);
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) Put(settings_.separator);
    PutValue(i, row[i]);
  }
  Put("\r\n");
}

void TCsvWriter::PutValue(size_t i, const TExportValue& value) {
  const TExportKind kind = columns_[i].kind;
  if (value.null || kind == TExportKind::Binary) return;
  switch (kind) {
    case TExportKind::Integer:
    case TExportKind::Number:
      PutUtf8(value.text);
      break;
    // The common kinds without a string made for each value: a long
    // export writes millions of them.
    case TExportKind::Text:
    case TExportKind::Memo:
      PutQuoted(value.text, settings_.quote);
      break;
    case TExportKind::Logical:
      PutQuoted(value.logical ? std::string_view("True") : std::string_view("False"), settings_.quote);
      break;
    case TExportKind::Date: {
      char date[16];
      PutQuoted(std::string_view(date, ExportDateChars(value, date)), settings_.quote);
      break;
    }
    default:
      PutQuoted(ExportDisplayText(columns_[i], value, false), settings_.quote);
      break;
  }
}

void TCsvWriter::Finish() { Close(); }

// ---------------------------------------------------------------------------
// HTML

void THtmlWriter::PutEscaped(std::string_view text, bool breaks) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    while (pos < text.size()) {
      const char c = text[pos];
      if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'' || c == '\r' || c == '\n' ||
          static_cast<unsigned char>(c) >= 0x80)
        break;
      ++pos;
    }
    if (pos > start) Put(text.substr(start, pos - start));
    if (pos >= text.size()) break;
    switch (text[pos]) {
      case '&':
        Put("&amp;");
        ++pos;
        continue;
      case '<':
        Put("&lt;");
        ++pos;
        continue;
      case '>':
        Put("&gt;");
        ++pos;
        continue;
      case '"':
        Put("&quot;");
        ++pos;
        continue;
      case '\'':
        Put("&#39;");
        ++pos;
        continue;
      case '\r':
      case '\n':
        // CR LF, a lone CR and a lone LF are each one line break.
        if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ++pos;
        ++pos;
        Put(breaks ? "<br>" : " ");
        continue;
      default: {
        const size_t first = pos;
        while (pos < text.size() && static_cast<unsigned char>(text[pos]) >= 0x80) ++pos;
        PutUtf8(text.substr(first, pos - first));
      }
    }
  }
}

void THtmlWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  Put("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>");
  PutEscaped(settings_.title, false);
  Put("</title>\n<style>\n"
      "table { border-collapse: collapse; }\n"
      "th, td { border: 1px solid #999; padding: 2px 4px; white-space: pre-wrap; vertical-align: top; }\n"
      "th { text-align: left; }\n"
      "td.n { text-align: right; }\n"
      "</style>\n</head>\n<body>\n<table>\n");
  if (settings_.titleLine) {
    Put("<thead>\n<tr>");
    for (const TExportColumn& column : columns_) {
      Put("<th>");
      PutEscaped(column.name, false);
      Put("</th>");
    }
    Put("</tr>\n</thead>\n");
  }
  Put("<tbody>\n");
}

void THtmlWriter::Row(const TExportRow& row) {
  CheckRow(row);
  Put("<tr>");
  for (size_t i = 0; i < row.size(); ++i) {
    const TExportColumn& column = columns_[i];
    const bool number = column.kind == TExportKind::Integer || column.kind == TExportKind::Number;
    Put(number ? "<td class=\"n\">" : "<td>");
    PutEscaped(ExportDisplayText(column, row[i], true), true);
    Put("</td>");
  }
  Put("</tr>\n");
}

void THtmlWriter::Finish() {
  Put("</tbody>\n</table>\n</body>\n</html>\n");
  Close();
}

// ---------------------------------------------------------------------------
// XML

namespace {
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsXmlChar(char32_t c) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
  return c != 0xFFFE && c != 0xFFFF;
}
}  // namespace

std::string TXmlWriter::ElementName(std::string_view name) {
  std::string out;
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    // A character outside ASCII becomes one "_", not one for each byte.
    if (byte >= 0x80 && byte < 0xC0) continue;
    const bool kept = IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
    out += kept ? c : '_';
  }
  if (out.empty()) return "FIELD";
  const bool xmlPrefix =
      out.size() >= 3 && (out[0] | 0x20) == 'x' && (out[1] | 0x20) == 'm' && (out[2] | 0x20) == 'l';
  if (!(IsAsciiLetter(out[0]) || out[0] == '_') || xmlPrefix) out.insert(0, 1, '_');
  return out;
}

void TXmlWriter::PutEscaped(std::string_view text, bool attribute) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    while (pos < text.size()) {
      const unsigned char c = static_cast<unsigned char>(text[pos]);
      if (c < 0x20 || c >= 0x80 || c == '&' || c == '<' || c == '>' || c == '"') break;
      ++pos;
    }
    if (pos > start) Put(text.substr(start, pos - start));
    if (pos >= text.size()) break;
    const size_t before = pos;
    const char32_t c = NextChar(text, pos);
    switch (c) {
      case '&': Put("&amp;"); break;
      case '<': Put("&lt;"); break;
      case '>': Put("&gt;"); break;
      case '"': Put("&quot;"); break;
      // A parser makes CR LF and a lone CR into LF, and every white space
      // character in an attribute into a blank, unless they are references.
      case '\r': Put("&#13;"); break;
      case '\n': Put(attribute ? "&#10;" : "\n"); break;
      case '\t': Put(attribute ? "&#9;" : "\t"); break;
      default:
        if (!IsXmlChar(c)) {
          ++unrepresentable_;
          Put(kReplacementUtf8);
        } else if (c == kReplacementChar) {
          Put(kReplacementUtf8);
        } else {
          Put(text.substr(before, pos - before));
        }
    }
  }
}

void TXmlWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  auto tag = [](const std::string& wanted, const char* fallback) {
    return wanted.empty() ? std::string(fallback) : ElementName(wanted);
  };
  recordsTag_ = tag(settings_.recordsTag, "RECORDS");
  recordTag_ = tag(settings_.recordTag, "RECORD");
  rowTag_ = tag(settings_.rowTag, "ROW");
  const std::string paramsTag = tag(settings_.paramsTag, "PARAMS");

  elements_.clear();
  for (const TExportColumn& column : columns_) {
    const std::string base = ElementName(column.name);
    std::string element = base;
    for (int n = 2; std::find(elements_.begin(), elements_.end(), element) != elements_.end(); ++n)
      element = base + "_" + std::to_string(n);
    elements_.push_back(element);
  }

  Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<");
  Put(recordsTag_);
  Put(">\n  <");
  Put(paramsTag);
  Put(">\n");
  for (size_t i = 0; i < columns_.size(); ++i) {
    const TExportColumn& column = columns_[i];
    Put("    <FIELD name=\"");
    PutEscaped(column.name, true);
    Put("\" element=\"");
    Put(elements_[i]);
    Put("\" type=\"");
    PutEscaped(std::string_view(&column.fieldType, 1), true);
    Put("\" length=\"");
    Put(std::to_string(column.length));
    Put("\" decimals=\"");
    Put(std::to_string(column.decimals));
    Put("\"/>\n");
  }
  Put("  </");
  Put(paramsTag);
  Put(">\n");
}

void TXmlWriter::Row(const TExportRow& row) {
  CheckRow(row);
  Put("  <");
  Put(recordTag_);
  Put("><");
  Put(rowTag_);
  Put(">\n");
  for (size_t i = 0; i < row.size(); ++i) {
    Put("    <");
    Put(elements_[i]);
    if (row[i].null) {
      Put(" null=\"true\"/>\n");
      continue;
    }
    Put('>');
    PutEscaped(ExportDisplayText(columns_[i], row[i], false), false);
    Put("</");
    Put(elements_[i]);
    Put(">\n");
  }
  Put("  </");
  Put(rowTag_);
  Put("></");
  Put(recordTag_);
  Put(">\n");
}

void TXmlWriter::Finish() {
  Put("</");
  Put(recordsTag_);
  Put(">\n");
  Close();
  if (unrepresentable_ > 0)
    warnings_.push_back(std::to_string(unrepresentable_) +
                        " control characters that XML cannot hold were written as the replacement character "
                        "U+FFFD.");
}

// ---------------------------------------------------------------------------
// JSON

void TJsonWriter::PutString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  Put('"');
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    PutUtf8(text.substr(start, i - start));
    start = i + 1;
    switch (c) {
      case '"': Put("\\\""); break;
      case '\\': Put("\\\\"); break;
      case '\n': Put("\\n"); break;
      case '\r': Put("\\r"); break;
      case '\t': Put("\\t"); break;
      case '\b': Put("\\b"); break;
      case '\f': Put("\\f"); break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        Put(std::string_view(escape, sizeof escape));
      }
    }
  }
  PutUtf8(text.substr(start));
  Put('"');
}

void TJsonWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  Put('[');
}

void TJsonWriter::Row(const TExportRow& row) {
  CheckRow(row);
  Put(firstRow_ ? "\n{" : ",\n{");
  firstRow_ = false;
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) Put(',');
    PutString(columns_[i].name);
    Put(':');
    const TExportValue& value = row[i];
    if (value.null) {
      Put("null");
      continue;
    }
    switch (columns_[i].kind) {
      case TExportKind::Integer:
      case TExportKind::Number: {
        const std::string number = ExportPlainNumber(value.text);
        if (number.empty()) ++badNumbers_;
        Put(number.empty() ? "null" : number);
        break;
      }
      case TExportKind::Logical: Put(value.logical ? "true" : "false"); break;
      case TExportKind::Date: PutString(ExportIsoDate(value)); break;
      case TExportKind::DateTime: PutString(ExportIsoDate(value) + 'T' + ExportIsoTime(value)); break;
      case TExportKind::Time: PutString(ExportIsoTime(value)); break;
      case TExportKind::Binary: Put("null"); break;
      case TExportKind::Text:
      case TExportKind::Memo: PutString(value.text); break;
    }
  }
  Put('}');
}

void TJsonWriter::Finish() {
  Put("\n]\n");
  Close();
  if (badNumbers_ > 0)
    warnings_.push_back(std::to_string(badNumbers_) +
                        " values of number fields were not numbers and were written as null.");
}

}  // namespace norvale
