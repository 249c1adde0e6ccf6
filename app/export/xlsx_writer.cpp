#include "app/export/xlsx_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

namespace norvale {

namespace {

// A sheet's XML goes into the zip as one entry, which without ZIP64 cannot
// pass 4 GiB; Numbers and older readers choke on ZIP64, so rather than
// switch it on for every file a sheet that grows near the limit is closed
// and the rows go on in the next one.
constexpr int64_t kSheetByteBudget = int64_t{3} << 30;
// Roughly what a cell's markup costs besides its text.
constexpr int64_t kCellMarkupBytes = 40;
constexpr int64_t kExactDoubleInteger = int64_t{1} << 53;

// Decodes one UTF-8 character at `s[i]`; returns its length, or 0 when the
// bytes there are not well-formed UTF-8.
size_t DecodeUtf8(const std::string& s, size_t i, uint32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t n;
  uint32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, cp = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, cp = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Excel reads "_xHHHH_" in a string as the character HHHH (libxlsxwriter
// writes control characters that way), so text that holds such a sequence
// literally must have its underscore written as "_x005F_".
bool IsEscapeLookalike(const std::string& s, size_t i) {
  if (i + 7 > s.size() || s[i] != '_' || s[i + 1] != 'x' || s[i + 6] != '_') return false;
  return IsHex(s[i + 2]) && IsHex(s[i + 3]) && IsHex(s[i + 4]) && IsHex(s[i + 5]);
}

struct TCellText {
  std::string text;
  bool cut = false;
  int64_t xmlBytes = 0;
};

// `in` as a cell can hold it: well-formed UTF-8 (a malformed byte and the
// two characters XML forbids become U+FFFD, NULs are dropped since no reader
// takes them), at most `maxUnits` UTF-16 units, cut at a character boundary.
TCellText CleanCellText(const std::string& in, size_t maxUnits, bool guardEscapes = true) {
  TCellText out;
  out.text.reserve(in.size());
  size_t units = 0;
  for (size_t i = 0; i < in.size();) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(in, i, cp);
    bool replace = false;
    if (n == 0) {
      n = 1;
      replace = true;
    } else if (cp == 0xFFFE || cp == 0xFFFF) {
      replace = true;
    }
    // A cell's line break is LF, as Excel writes it; a CR before one would
    // come back as a visible "_x000D_" in most readers.
    if ((cp == 0 || (cp == '\r' && i + 1 < in.size() && in[i + 1] == '\n')) && !replace) {
      i += n;
      continue;
    }
    const size_t width = (!replace && cp > 0xFFFF) ? 2 : 1;
    if (units + width > maxUnits) {
      out.cut = true;
      break;
    }
    units += width;
    if (replace) {
      out.text += "\xEF\xBF\xBD";
    } else {
      if (guardEscapes && IsEscapeLookalike(in, i)) {
        out.text += "_x005F";
        out.xmlBytes += 6;
      }
      out.text.append(in, i, n);
      if (cp < 0x20 && cp != '\t' && cp != '\n') out.xmlBytes += 6;
      if (cp == '&' || cp == '<' || cp == '>') out.xmlBytes += 4;
    }
    i += n;
  }
  out.xmlBytes += static_cast<int64_t>(out.text.size());
  return out;
}

// The common case, plain ASCII with nothing to guard, goes to the cell as
// it stands.
bool NeedsCleaning(const std::string& s, size_t maxUnits) {
  if (s.size() > maxUnits) return true;
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 || b == 0 || b == '_' || b == '\r') return true;
  }
  return false;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool IsExcelDate(int y, int m, int d) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  return d <= kDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
}

bool IsTimeOfDay(const TExportValue& v) {
  return v.hour >= 0 && v.hour <= 23 && v.minute >= 0 && v.minute <= 59 && v.second >= 0 && v.second <= 59 &&
         v.millisecond >= 0 && v.millisecond <= 999;
}

std::string NumberFormat(const TExportColumn& column) {
  switch (column.kind) {
    case TExportKind::Integer:
      return "#,##0";
    case TExportKind::Number: {
      std::string format = "#,##0";
      if (column.decimals > 0) format += '.' + std::string(static_cast<size_t>(std::min(column.decimals, 30)), '0');
      return format;
    }
    case TExportKind::Date:
      return "dd/mm/yyyy";
    case TExportKind::DateTime:
      return "dd/mm/yyyy hh:mm:ss";
    case TExportKind::Time:
      return "hh:mm:ss";
    default:
      return {};
  }
}

// A caption cut to `units` at a character boundary, with no apostrophe or
// blank left at its end.
std::string CutName(const std::string& name, size_t units) {
  std::string cut = CleanCellText(name, units, false).text;
  while (!cut.empty() && (cut.back() == '\'' || cut.back() == ' ')) cut.pop_back();
  return cut;
}

// The sheet's caption: Excel refuses []:*?/\ and control characters in it,
// an apostrophe at either end and the name "History", and takes at most 31
// characters.
std::string SheetBaseName(const std::string& title) {
  std::string name;
  for (char c : title) {
    const bool refused = static_cast<unsigned char>(c) < 0x20 || std::strchr("[]:*?/\\", c) != nullptr;
    name += refused ? '_' : c;
  }
  while (!name.empty() && (name.front() == '\'' || name.front() == ' ')) name.erase(0, 1);
  name = CutName(name, 31);
  if (name.empty()) return "Sheet1";
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "history") name += '_';
  return name;
}

std::string Grouped(int64_t n) { return ExportGroupedNumber(std::to_string(n)); }

}  // namespace

void TXlsxWriter::TWorkbookFree::operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }

TXlsxWriter::TXlsxWriter(const std::string& path, const TExportSettings& settings, int64_t rowLimit)
    : path_(path), settings_(settings), rowLimit_(std::clamp<int64_t>(rowLimit, 2, kXlsxMaxRows)) {}

TXlsxWriter::~TXlsxWriter() = default;

void TXlsxWriter::Check(int error, const char* what) const {
  if (error == LXW_NO_ERROR) return;
  throw EExportError("The workbook " + path_ + " could not be written (" + what +
                     "): " + lxw_strerror(static_cast<lxw_error>(error)));
}

void TXlsxWriter::Begin(const std::vector<TExportColumn>& columns) {
  if (begun_) throw EExportError("The workbook export was begun twice.");
  begun_ = true;
  if (columns.size() > static_cast<size_t>(kXlsxMaxColumns)) {
    throw EExportError("An Excel sheet holds at most " + Grouped(kXlsxMaxColumns) + " columns; this export has " +
                       Grouped(static_cast<int64_t>(columns.size())) + ". Hide some columns and export again.");
  }
  columns_ = columns;

  // libxlsxwriter opens the file only when it closes the workbook; trying
  // now tells the person at once when the folder cannot be written.
  if (std::FILE* probe = std::fopen(path_.c_str(), "wb")) {
    std::fclose(probe);
  } else {
    throw EExportError("The file " + path_ + " could not be created: " + std::strerror(errno));
  }

  // The sheets' temporary files go beside the result: /tmp may be a small
  // RAM disk and a large table's sheets take as much room as the file.
  tmpDir_ = std::filesystem::path(path_).parent_path().string();
  if (tmpDir_.empty()) tmpDir_ = ".";
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = tmpDir_.data();
  options.use_zip64 = LXW_FALSE;
  workbook_.reset(workbook_new_opt(path_.c_str(), &options));
  if (!workbook_) throw EExportError("The workbook " + path_ + " could not be started: out of memory.");

  std::map<std::string, lxw_format*> formats;
  columnFormats_.assign(columns_.size(), nullptr);
  for (size_t i = 0; i < columns_.size(); ++i) {
    const std::string code = NumberFormat(columns_[i]);
    if (code.empty()) continue;
    lxw_format*& format = formats[code];
    if (format == nullptr) {
      format = workbook_add_format(workbook_.get());
      if (format == nullptr) throw EExportError("The workbook " + path_ + " could not be started: out of memory.");
      format_set_num_format(format, code.c_str());
    }
    columnFormats_[i] = format;
  }
  boldFormat_ = workbook_add_format(workbook_.get());
  if (boldFormat_ == nullptr) throw EExportError("The workbook " + path_ + " could not be started: out of memory.");
  format_set_bold(boldFormat_);

  baseSheetName_ = SheetBaseName(settings_.title);
  AddSheet();
}

void TXlsxWriter::AddSheet() {
  ++sheetCount_;
  std::string name = baseSheetName_;
  if (sheetCount_ > 1) {
    const std::string suffix = " (" + std::to_string(sheetCount_) + ")";
    name = CutName(baseSheetName_, 31 - suffix.size()) + suffix;
  }
  Check(workbook_validate_sheet_name(workbook_.get(), name.c_str()), "sheet name");
  sheet_ = workbook_add_worksheet(workbook_.get(), name.c_str());
  if (sheet_ == nullptr) {
    throw EExportError("The workbook " + path_ + " could not be written: sheet \"" + name +
                       "\" could not be added (no room for its temporary file in " + tmpDir_ + "?).");
  }
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].widthPixels <= 0) continue;
    const auto column = static_cast<lxw_col_t>(i);
    Check(worksheet_set_column(sheet_, column, column, columns_[i].widthPixels / 7.0, nullptr), "column width");
  }
  sheetRow_ = 0;
  sheetBytes_ = 0;
  if (settings_.titleLine) WriteTitleLine();
}

void TXlsxWriter::WriteTitleLine() {
  for (size_t i = 0; i < columns_.size(); ++i) {
    const TCellText name = CleanCellText(columns_[i].name, kXlsxMaxCellChars);
    if (name.text.empty()) continue;
    Check(worksheet_write_string(sheet_, static_cast<lxw_row_t>(sheetRow_), static_cast<lxw_col_t>(i),
                                 name.text.c_str(), boldFormat_),
          "title line");
    sheetBytes_ += name.xmlBytes + kCellMarkupBytes;
  }
  ++sheetRow_;
}

void TXlsxWriter::Row(const TExportRow& row) {
  if (!workbook_ || finished_) throw EExportError("A row was given to the workbook export outside Begin and Finish.");
  if (row.size() != columns_.size()) {
    throw EExportError("A row of " + std::to_string(row.size()) + " values was given for " +
                       std::to_string(columns_.size()) + " columns.");
  }
  if (sheetRow_ >= rowLimit_ || sheetBytes_ >= kSheetByteBudget) AddSheet();
  for (size_t i = 0; i < row.size(); ++i) WriteCell(static_cast<int>(i), row[i]);
  ++sheetRow_;
}

void TXlsxWriter::WriteText(int column, const std::string& text) {
  const auto r = static_cast<lxw_row_t>(sheetRow_);
  const auto c = static_cast<lxw_col_t>(column);
  if (text.empty()) return;
  if (!NeedsCleaning(text, kXlsxMaxCellChars)) {
    Check(worksheet_write_string(sheet_, r, c, text.c_str(), nullptr), "text cell");
    sheetBytes_ += static_cast<int64_t>(text.size()) + kCellMarkupBytes;
    return;
  }
  const TCellText clean = CleanCellText(text, kXlsxMaxCellChars);
  if (clean.cut) ++cutCells_;
  if (clean.text.empty()) return;
  Check(worksheet_write_string(sheet_, r, c, clean.text.c_str(), nullptr), "text cell");
  sheetBytes_ += clean.xmlBytes + kCellMarkupBytes;
}

void TXlsxWriter::WriteDate(int column, const TExportValue& v, bool withTime) {
  if (!IsExcelDate(v.year, v.month, v.day) || (withTime && !IsTimeOfDay(v))) {
    // Excel has no dates before 1900; the value stays readable as text.
    ++textDates_;
    WriteText(column, withTime ? ExportDateTimeText(v) : ExportDateText(v));
    return;
  }
  lxw_datetime when{};
  when.year = v.year;
  when.month = v.month;
  when.day = v.day;
  if (withTime) {
    when.hour = v.hour;
    when.min = v.minute;
    when.sec = v.second + v.millisecond / 1000.0;
  }
  Check(worksheet_write_datetime(sheet_, static_cast<lxw_row_t>(sheetRow_), static_cast<lxw_col_t>(column), &when,
                                 columnFormats_[column]),
        "date cell");
  sheetBytes_ += kCellMarkupBytes;
}

void TXlsxWriter::WriteCell(int column, const TExportValue& v) {
  if (v.null) return;
  const TExportColumn& info = columns_[column];
  const auto r = static_cast<lxw_row_t>(sheetRow_);
  const auto c = static_cast<lxw_col_t>(column);
  switch (info.kind) {
    case TExportKind::Text:
    case TExportKind::Memo:
      WriteText(column, v.text);
      return;
    case TExportKind::Integer:
      if (v.integer > kExactDoubleInteger || v.integer < -kExactDoubleInteger) {
        // A double would change the last digits; text keeps them all.
        ++textIntegers_;
        WriteText(column, std::to_string(v.integer));
        return;
      }
      Check(worksheet_write_number(sheet_, r, c, static_cast<double>(v.integer), columnFormats_[column]),
            "number cell");
      sheetBytes_ += kCellMarkupBytes;
      return;
    case TExportKind::Number:
      if (!std::isfinite(v.number)) {
        WriteText(column, v.text);
        return;
      }
      Check(worksheet_write_number(sheet_, r, c, v.number, columnFormats_[column]), "number cell");
      sheetBytes_ += kCellMarkupBytes;
      return;
    case TExportKind::Date:
      WriteDate(column, v, false);
      return;
    case TExportKind::DateTime:
      WriteDate(column, v, true);
      return;
    case TExportKind::Time:
      if (!IsTimeOfDay(v)) {
        WriteText(column, ExportTimeText(v));
        return;
      }
      Check(worksheet_write_number(sheet_, r, c,
                                   (v.hour * 3600.0 + v.minute * 60.0 + v.second + v.millisecond / 1000.0) / 86400.0,
                                   columnFormats_[column]),
            "time cell");
      sheetBytes_ += kCellMarkupBytes;
      return;
    case TExportKind::Logical:
      Check(worksheet_write_boolean(sheet_, r, c, v.logical ? 1 : 0, nullptr), "logical cell");
      sheetBytes_ += kCellMarkupBytes;
      return;
    case TExportKind::Binary:
      return;
  }
}

void TXlsxWriter::Finish() {
  if (!workbook_ || finished_) throw EExportError("The workbook export was finished without being begun.");
  finished_ = true;
  // workbook_close frees the workbook whatever it returns.
  const lxw_error error = workbook_close(workbook_.release());
  sheet_ = nullptr;
  Check(error, "saving");
  if (sheetCount_ > 1) {
    warnings_.push_back("The records did not fit on one Excel sheet (" + Grouped(rowLimit_) +
                        " rows at most); they continue on " + std::to_string(sheetCount_ - 1) +
                        (sheetCount_ == 2 ? " further sheet." : " further sheets."));
  }
  if (cutCells_ > 0) {
    warnings_.push_back(Grouped(cutCells_) + (cutCells_ == 1 ? " text was" : " texts were") + " cut to the " +
                        Grouped(kXlsxMaxCellChars) + " characters an Excel cell holds.");
  }
  if (textDates_ > 0) {
    warnings_.push_back(Grouped(textDates_) + (textDates_ == 1 ? " date lies" : " dates lie") +
                        " outside 1900-9999, which Excel cannot hold as dates; they were written as text.");
  }
  if (textIntegers_ > 0) {
    warnings_.push_back(Grouped(textIntegers_) + (textIntegers_ == 1 ? " integer has" : " integers have") +
                        " more digits than an Excel number keeps; written as text to keep them exact.");
  }
}

}  // namespace norvale
