#include "engine/code_page_choice.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/record_view.h"
#include "engine/table_file.h"
#include "platform/ascii.h"
#include "platform/code_page_detect.h"

namespace norvale {
namespace {

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view s) {
  if (!AllDigits(s) || s.size() > 5) return 0;
  return std::stoi(std::string(s));
}

bool Take(std::string_view& s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

// An ISO-8859 part number as the Windows-style page number.
int IsoPage(std::string_view part) {
  const int n = Number(part);
  if (n < 1 || n > 16 || n == 12) return 0;
  return 28590 + n;
}

}  // namespace

int CodePageFromName(std::string_view text) {
  Take(text, "\xEF\xBB\xBF");
  std::string s;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0') continue;
    s += c == '_' ? '-' : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  std::string_view v = s;
  TDbfGlobals& globals = TDbfGlobals::Instance();
  if (v == "UTF-8" || v == "UTF8") return 65001;
  if (v == "ANSI") return globals.AnsiCodePage();
  if (v == "OEM") return globals.OemCodePage();
  if (v == "LATIN1") return 28591;
  if (v == "LATIN2") return 28592;
  if (v == "KOI8-R" || v == "KOI8R") return 20866;
  if (v == "KOI8-U" || v == "KOI8U") return 21866;
  if (v == "BIG5" || v == "BIG-5") return 950;
  if (v == "GBK" || v == "GB2312") return 936;
  if (v == "GB18030") return 54936;
  if (v == "SHIFT-JIS" || v == "SJIS" || v == "SHIFTJIS") return 932;
  if (v == "EUC-KR" || v == "EUCKR" || v == "KS-C-5601-1987") return 949;
  if (Take(v, "ISO-8859-") || Take(v, "ISO8859-") || Take(v, "8859-")) return IsoPage(v);
  if (Take(v, "ISO8859")) return IsoPage(v);
  for (std::string_view prefix : {"WINDOWS-", "WINDOWS", "ANSI", "OEM", "IBM", "CP-", "CP", "MS", "DOS", "WIN"}) {
    std::string_view rest = v;
    if (Take(rest, prefix)) {
      Take(rest, "-");
      if (const int n = Number(rest)) return n;
    }
  }
  return Number(v);
}

std::string CpgTextFor(int codePage) {
  if (codePage == 65001) return "UTF-8";
  if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
  if (codePage == 20866) return "KOI8-R";
  if (codePage == 21866) return "KOI8-U";
  return std::to_string(codePage);
}

std::string CodePageLabel(int codePage) {
  if (codePage == 65001 || (codePage >= 28591 && codePage <= 28606) || codePage == 20866 || codePage == 21866)
    return CpgTextFor(codePage);
  if (codePage >= 1250 && codePage <= 1258) return "windows-" + std::to_string(codePage);
  return "cp" + std::to_string(codePage);
}

TCodePageGuess DetectTableCodePage(TDbfFile& table) {
  TCodePageDetector detector;
  std::vector<const TDbfFieldDef*> texts, memos;
  for (int i = 0; i < table.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = table.FieldDefs().Item(i);
    if (f.FieldType() == ftString || f.FieldType() == ftFixedChar || f.FieldType() == ftWideString)
      texts.push_back(&f);
    else if (f.FieldType() == ftMemo)
      memos.push_back(&f);
  }
  const int64_t records = table.RecordsInFile();
  const int length = table.RecordLength();
  if ((texts.empty() && memos.empty()) || records <= 0 || length <= 0) return detector.Guess();

  // A few stretches spread over the file, its first and its last records
  // included, rather than its start only: a table sorted by name can hold
  // nothing but ASCII there, and records added later sit at the end. The
  // reads stay bounded whatever the table's size.
  constexpr int kStretches = 8;
  constexpr int64_t kStretchBytes = 16 * 1024;
  const int64_t perStretch = std::max<int64_t>(1, kStretchBytes / length);
  std::vector<uint8_t> buffer(static_cast<size_t>(perStretch * length));
  std::vector<int64_t> memoBlocks;
  int64_t nextFirst = 1;
  for (int s = 0; s < kStretches && !detector.Full(); ++s) {
    const int64_t first = std::max(nextFirst, 1 + std::max<int64_t>(records - perStretch, 0) * s / (kStretches - 1));
    if (first > records) break;
    const int64_t count = std::min(perStretch, records - first + 1);
    int64_t got = 0;
    try {
      got = table.ReadRecords(first, count, buffer.data());
    } catch (const Exception&) {
      break;
    }
    nextFirst = first + count;
    for (int64_t r = 0; r < got && !detector.Full(); ++r) {
      const TRecordView view(buffer.data() + r * length, static_cast<size_t>(length), &table.Codec());
      for (const TDbfFieldDef* f : texts) {
        const std::string_view text = view.Text(*f);
        if (!text.empty()) detector.Add(text.data(), text.size());
      }
      if (memoBlocks.size() < 32) {
        for (const TDbfFieldDef* f : memos) {
          int64_t block = 0;  // room for any width the codec writes
          if (table.DecodeField(*f, ftInteger, false, &block, view.Data()) && static_cast<int32_t>(block) > 0)
            memoBlocks.push_back(static_cast<int32_t>(block));
        }
      }
    }
  }
  // Memo values fill what the character fields left of the budget; a memo
  // can be long, so only its first part counts.
  if (!detector.Full() && table.MemoFile() && !table.MemoFileName().empty()) {
    std::string value;
    for (int64_t block : memoBlocks) {
      if (detector.Full()) break;
      try {
        table.MemoFile()->ReadMemo(block, value);
      } catch (const Exception&) {
        continue;
      }
      detector.Add(value.data(), std::min<size_t>(value.size(), 4096));
    }
  }
  return detector.Guess();
}

}  // namespace norvale
