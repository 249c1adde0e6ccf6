#include "cli/import_command.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/failure.h"
#include "app/export/export_value.h"
#include "app/export/import_source.h"
#include "app/export/table_import.h"
#include "dataset/dbf_table.h"
#include "platform/ascii.h"

namespace norvale::cli {
namespace {

constexpr const char* kImportUsage =
    "usage: norvale-cli import TABLE SOURCE [--format csv|txt|dbf|xlsx] [--dry-run]\n"
    "                  [--separator C|tab] [--quote C|none] [--no-header] [--encoding NAME] [--index FILE.NDX ...]\n"
    "Every row is converted and checked first; when any would be rejected, their row numbers are\n"
    "listed and nothing is imported. Columns are matched to fields by name, else by position.\n"
    "--dry-run stops after the check. The production index is kept current; name the table's\n"
    "single-index files with --index so that they are too.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "norvale-cli: %s\n%s", message.c_str(), kImportUsage);
  return 2;
}

struct TSourceChoice {
  std::string path, format;
  TCsvImportOptions csv;
};

std::unique_ptr<TImportSource> OpenSource(const TSourceChoice& choice) {
  if (choice.format == "dbf") return OpenDbfSource(choice.path);
  if (choice.format == "xlsx") return OpenXlsxSource(choice.path);
  return OpenCsvSource(choice.path, choice.csv);
}

}  // namespace

int RunImportCommand(int argc, char** argv) {
  std::vector<std::string> positional;
  TSourceChoice source;
  bool dryRun = false;
  std::vector<std::string> indexFiles;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kImportUsage, stdout);
      return 0;
    }
    if (arg == "--format" || arg == "--separator" || arg == "--quote" || arg == "--encoding" || arg == "--index") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--format") {
        source.format = AsciiLower(value);
        if (source.format != "csv" && source.format != "txt" && source.format != "dbf" && source.format != "xlsx")
          return UsageError("unknown format \"" + value + "\"");
      } else if (arg == "--separator") {
        if (value == "tab" || value == "\\t") {
          source.csv.separator = '\t';
        } else if (value.size() == 1) {
          source.csv.separator = value[0];
        } else {
          return UsageError("--separator is one character or \"tab\"");
        }
      } else if (arg == "--quote") {
        if (value == "none") {
          source.csv.quote = '\0';
        } else if (value.size() == 1) {
          source.csv.quote = value[0];
        } else {
          return UsageError("--quote is one character or \"none\"");
        }
      } else if (arg == "--index") {
        indexFiles.push_back(value);
      } else {
        source.csv.encoding = value;
      }
    } else if (arg == "--dry-run") {
      dryRun = true;
    } else if (arg == "--no-header") {
      source.csv.header = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return UsageError("import needs a table and a source file");
  const std::string& tablePath = positional[0];
  source.path = positional[1];
  if (source.format.empty()) {
    std::string ext = AsciiLower(std::filesystem::path(source.path).extension().string());
    source.format = ext == ".dbf" ? "dbf" : ext == ".xlsx" ? "xlsx" : ext == ".txt" ? "txt" : "csv";
  }
  try {
    TImportTarget target;
    target.table = tablePath;
    target.indexFiles = indexFiles;
    std::vector<int> mapping;
    TImportCheck check;
    {
      TDbfTable table;
      table.SetReadOnly(true);
      table.SetTableName(tablePath);
      table.Open();
      // A file that does not open stops the import before the check.
      for (const std::string& index : indexFiles) table.OpenIndexFile(index);
      target.codePage = table.CodePage();
      std::unique_ptr<TImportSource> rows = OpenSource(source);
      std::vector<std::string> fields;
      for (int i = 0; i < table.FieldCount(); ++i) fields.push_back(table.Fields(i).FieldName());
      mapping = MatchColumns(rows->ColumnNames(), fields);
      check = CheckImport(table, *rows, mapping);
    }
    if (check.rejectedRows > 0) {
      std::fprintf(stderr, "%s\nnorvale-cli: %lld of %lld rows would be rejected; nothing was imported.\n",
                   check.Describe(50).c_str(), static_cast<long long>(check.rejectedRows),
                   static_cast<long long>(check.rows));
      return 1;
    }
    if (dryRun) {
      std::printf("%lld rows would be imported.\n", static_cast<long long>(check.rows));
      return 0;
    }
    std::unique_ptr<TImportSource> rows = OpenSource(source);
    const int64_t appended = AppendImport(target, *rows, mapping);
    std::printf("%lld records imported.\n", static_cast<long long>(appended));
    return 0;
  } catch (const std::exception& e) {
    return ReportFailure(tablePath, e);
  }
}

}  // namespace norvale::cli
