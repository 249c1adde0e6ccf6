#include "cli/index_command.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/failure.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "index/index_keys.h"
#include "index/table_indexes.h"
#include "platform/text_codec.h"

namespace norvale::cli {
namespace {

constexpr const char* kIndexUsage =
    "usage: norvale-cli index TABLE\n"
    "       norvale-cli index keys TABLE [--index FILE] [--tag TAG]\n"
    "       norvale-cli index create TABLE TAG EXPR [--index FILE.NDX] [--unique] [--descending]\n"
    "       norvale-cli index drop TABLE NAME\n"
    "       norvale-cli reindex TABLE\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "norvale-cli: %s\n%s", message.c_str(), kIndexUsage);
  return 2;
}

struct TIndexArgs {
  std::string action;  // list, keys, create, drop, reindex
  std::vector<std::string> positional;
  std::string indexFile;
  std::string tag;
  bool unique = false;
  bool descending = false;
};

// An open table with its production index and, when named, one more index
// file.
struct TOpenTable {
  TDbfFile table;
  std::unique_ptr<TTableIndexes> indexes;

  TOpenTable(const std::string& path, bool write, const std::string& indexFile = {}) {
    table.SetFileName(path);
    table.SetMode(write ? amExclusiveOpen : amReadOnly);
    table.SetDetectCodePage(false);  // keys are bytes; only their text needs a page
    table.Open();
    if (table.GiveUp()) throw EDbfError("Invalid DBF file.");
    indexes = std::make_unique<TTableIndexes>(table);
    indexes->OpenProduction();
    if (!indexFile.empty()) indexes->AttachIndex(indexFile, {}, 0, false);
  }
  ~TOpenTable() { indexes.reset(); }
};

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

const char* UniquenessName(TIndexUniqueness u) {
  switch (u) {
    case iuUnique: return "unique";
    case iuDistinct: return "distinct";
    case iuNormal: break;
  }
  return "no";
}

int64_t EntryCount(TIndexFile& file, int tag) {
  int64_t n = 0;
  file.ForEachEntry(tag, [&n](std::string_view, uint32_t) {
    ++n;
    return true;
  });
  return n;
}

void ListIndexes(TOpenTable& t) {
  std::printf("%-16s %-12s %-40s %-4s %6s %-8s %-10s %8s\n", "File", "Tag", "Expression", "Type", "Length", "Unique",
              "Descending", "Entries");
  for (const auto& file : t.indexes->Files()) {
    for (int i = 0; i < file->TagCount(); ++i) {
      const TIndexTagInfo info = file->TagInfo(i);
      std::printf("%-16s %-12s %-40s %-4c %6d %-8s %-10s %8lld\n", FileNameOf(file->FileName()).c_str(),
                  info.name.c_str(), info.expression.c_str(), info.keyType, info.keyLength,
                  UniquenessName(info.uniqueness), info.descending ? "yes" : "no",
                  static_cast<long long>(EntryCount(*file, i)));
    }
  }
}

void AppendJsonString(std::string& out, const std::string& utf8) {
  out += '"';
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

// The number a numeric or date key stands for: the 12-byte decimal form of
// multiple-index files, else an 8-byte double.
double KeyNumber(std::string_view key, bool decimalForm) {
  if (decimalForm) return key.size() >= 12 ? DoubleFromDecimal(reinterpret_cast<const uint8_t*>(key.data())) : 0;
  double d = 0;
  if (key.size() >= sizeof d) std::memcpy(&d, key.data(), sizeof d);
  return d;
}

void AppendNumber(std::string& out, double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", v);
  out += text;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TIndexFile* ChosenFile(TOpenTable& t, const std::string& indexFile) {
  if (!indexFile.empty()) {
    int tag = 0;
    TIndexFile* file = t.indexes->Find(indexFile, &tag);
    if (!file) throw Exception("no index file " + indexFile + " is open");
    return file;
  }
  if (!t.indexes->Production()) throw Exception("the table has no production index; name one with --index");
  return t.indexes->Production();
}

void PrintKeys(TOpenTable& t, const std::string& indexFile, const std::string& tagName) {
  TIndexFile* file = ChosenFile(t, indexFile);
  std::vector<int> tags;
  if (!tagName.empty()) {
    const int i = file->IndexOfTag(tagName);
    if (i < 0) throw Exception("no tag " + tagName + " in " + FileNameOf(file->FileName()));
    tags.push_back(i);
  } else {
    for (int i = 0; i < file->TagCount(); ++i) tags.push_back(i);
  }
  const TCodePageDecoder text(t.table.UseCodePage());
  std::string line;
  for (int tag : tags) {
    const TIndexTagInfo info = file->TagInfo(tag);
    const bool decimal = file->IsMultiple() && info.keyType != 'D' && info.keyLength == 12;
    file->ForEachEntry(tag, [&](std::string_view key, uint32_t recNo) {
      line = "{";
      if (tags.size() > 1) {
        line += "\"tag\": ";
        AppendJsonString(line, info.name);
        line += ", ";
      }
      line += "\"key\": ";
      if (info.keyType == 'C') {
        std::string utf8;
        text.AppendUtf8(utf8, key.data(), key.size());
        AppendJsonString(line, utf8);
      } else {
        AppendNumber(line, KeyNumber(key, decimal));
      }
      line += ", \"hex\": \"" + Hex(key) + "\", \"recno\": " + std::to_string(recNo) + "}\n";
      std::fputs(line.c_str(), stdout);
      return true;
    });
  }
}

}  // namespace

std::vector<std::string> CheckTableIndexes(const std::string& path) {
  std::vector<std::string> problems;
  TOpenTable t(path, false);
  const int64_t records = t.table.RecordsInFile();
  const int length = t.table.RecordLength();
  for (const auto& owned : t.indexes->Files()) {
    TIndexFile& file = *owned;
    const std::string fileName = FileNameOf(file.FileName());
    for (int tag = 0; tag < file.TagCount(); ++tag) {
      const TIndexTagInfo info = file.TagInfo(tag);
      const std::string where = fileName + (file.IsMultiple() ? " tag " + info.name : std::string());
      file.SelectTag(tag);
      // The key each record gives (none for a deleted record of a distinct
      // tag, which holds only live ones).
      std::vector<std::string> keyOf(static_cast<size_t>(records) + 1);
      std::vector<bool> counted(static_cast<size_t>(records) + 1, false);
      std::vector<uint8_t> buffer(static_cast<size_t>(std::max(length, 1)) * 1024);
      for (int64_t firstRec = 1; firstRec <= records; firstRec += 1024) {
        const int64_t got =
            t.table.ReadRecords(firstRec, std::min<int64_t>(1024, records - firstRec + 1), buffer.data());
        for (int64_t r = 0; r < got; ++r) {
          const uint8_t* record = buffer.data() + r * length;
          if (info.uniqueness == iuDistinct && record[0] == '*') continue;
          keyOf[static_cast<size_t>(firstRec + r)] = file.BuildKey(record);
          counted[static_cast<size_t>(firstRec + r)] = true;
        }
      }
      // Keys are compared as the tag orders them: other programs write the
      // same number in more than one byte form.
      std::vector<std::string> held;
      std::vector<bool> seen(static_cast<size_t>(records) + 1, false);
      int64_t disorder = 0, wrong = 0, twice = 0, repeated = 0;
      file.ForEachEntry(tag, [&](std::string_view key, uint32_t recNo) {
        const std::string k(key);
        if (!held.empty()) {
          const int c = file.CompareKeys(tag, held.back(), k);
          if (c > 0) ++disorder;
          if (c == 0 && info.uniqueness != iuNormal) ++repeated;
        }
        held.push_back(k);
        if (recNo == 0 || recNo > records || !counted[recNo] || file.CompareKeys(tag, keyOf[recNo], k) != 0)
          ++wrong;
        else if (seen[recNo])
          ++twice;
        else
          seen[recNo] = true;
        return true;
      });
      int64_t missing = 0;
      if (!info.filtered) {
        for (int64_t r = 1; r <= records; ++r) {
          if (!counted[static_cast<size_t>(r)] || seen[static_cast<size_t>(r)]) continue;
          if (info.uniqueness == iuNormal) {
            ++missing;
            continue;
          }
          // A unique tag holds each key once, for whichever record came first.
          const std::string& k = keyOf[static_cast<size_t>(r)];
          const auto at = std::lower_bound(held.begin(), held.end(), k, [&](const std::string& a, const std::string& b) {
            return file.CompareKeys(tag, a, b) < 0;
          });
          if (at == held.end() || file.CompareKeys(tag, *at, k) != 0) ++missing;
        }
      }
      auto say = [&](int64_t n, const char* what) {
        if (n) problems.push_back(where + ": " + std::to_string(n) + " " + what);
      };
      say(disorder, "entries out of key order");
      say(wrong, "entries name no record with that key");
      say(twice, "records have more than one entry");
      say(repeated, "keys are held more than once");
      say(missing, info.uniqueness == iuNormal ? "records have no entry" : "keys of the records are missing");
    }
  }
  return problems;
}

int RunIndexCommand(int argc, char** argv) {
  TIndexArgs a;
  const std::string command = argc >= 2 ? argv[1] : "";
  std::vector<std::string> words;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) {
        UsageError(std::string(name) + " needs a value");
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--index") {
      a.indexFile = value("--index");
    } else if (arg == "--tag") {
      a.tag = value("--tag");
    } else if (arg == "--unique") {
      a.unique = true;
    } else if (arg == "--descending") {
      a.descending = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kIndexUsage, stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      words.push_back(arg);
    }
  }
  if (command == "reindex") {
    a.action = "reindex";
  } else if (!words.empty() && (words[0] == "keys" || words[0] == "create" || words[0] == "drop")) {
    a.action = words[0];
    words.erase(words.begin());
  } else {
    a.action = "list";
  }
  const size_t wantedWords = a.action == "create" ? 3 : a.action == "drop" ? 2 : 1;
  if (words.size() != wantedWords) return UsageError("wrong number of arguments for " + command + " " + a.action);
  const std::string& path = words[0];
  try {
    const bool write = a.action == "create" || a.action == "drop" || a.action == "reindex";
    TOpenTable t(path, write, a.action == "keys" || a.action == "reindex" ? a.indexFile : std::string());
    if (a.action == "list") {
      ListIndexes(t);
    } else if (a.action == "keys") {
      PrintKeys(t, a.indexFile, a.tag);
    } else if (a.action == "create") {
      TIndexOptions options = 0;
      if (a.unique) options |= ixUnique;
      if (a.descending) options |= ixDescending;
      t.indexes->AttachIndex(a.indexFile.empty() ? words[1] : a.indexFile, words[2], options, true);
    } else if (a.action == "drop") {
      if (!t.indexes->DropIndex(words[1])) throw Exception("no index named " + words[1]);
    } else {
      t.indexes->RebuildAllIndexes();
    }
    std::fflush(stdout);
    return 0;
  } catch (const std::exception& e) {
    return ReportFailure(path, e);
  }
}

}  // namespace norvale::cli
