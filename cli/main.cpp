// norvale-cli: table information and record dumps for scripts.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/create_command.h"
#include "cli/export_command.h"
#include "cli/failure.h"
#include "cli/import_command.h"
#include "cli/index_command.h"
#include "cli/order_dump.h"
#include "cli/record_writer.h"
#include "cli/repair_command.h"
#include "cli/rewrite_command.h"
#include "dataset/table_filter.h"
#include "engine/code_page_choice.h"
#include "engine/exceptions.h"
#include "engine/language.h"
#include "engine/memo_file.h"
#include "engine/messages.h"
#include "engine/table_file.h"
#include "platform/text_codec.h"

namespace norvale::cli {
namespace {

constexpr const char* kUsage =
    "usage: norvale-cli info TABLE [--codepage CP] [--no-detect]\n"
    "       norvale-cli dump TABLE [--format csv|json] [--deleted] [--codepage CP] [--no-detect] [--where EXPR]\n"
    "                  [--order TAG] [--index FILE] [--seek VALUE] [--range LOW HIGH]\n"
    "       norvale-cli repair TABLE [--dry-run]\n"
    "       norvale-cli check TABLE\n"
    "       norvale-cli index TABLE | index keys|create|drop ... | reindex TABLE (norvale-cli index --help)\n"
    "       norvale-cli create TABLE --fields \"NAME C(30), AMOUNT N(12,2), BORN D, NOTE M\" [--level 3|4|7|25]\n"
    "                  [--codepage CP]\n"
    "       norvale-cli pack TABLE | zap TABLE | restructure TABLE --fields \"...\" [--pack] (norvale-cli pack --help)\n"
    "       norvale-cli export TABLE OUT [--format txt|pdf|xls|...] [--where EXPR] [--order TAG] [--fields A,B]\n"
    "       norvale-cli import TABLE SOURCE [--format csv|txt|dbf|xlsx] [--dry-run] (norvale-cli import --help)\n"
    "  CP: a code page number (866, 1251, 65001) or name (cp866, UTF-8, ISO-8859-2)\n";

struct TArguments {
  std::string command;
  std::string table;
  TDumpOptions dump;
  int codePage = 0;
  bool detect = true;
  bool hasWhere = false;
  std::string where;
  TOrderOptions order;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "norvale-cli: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

TArguments Parse(int argc, char** argv) {
  TArguments a;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) UsageError(std::string(name) + " needs a value");
      return argv[++i];
    };
    if (arg == "--format") {
      const std::string f = value("--format");
      if (f == "json")
        a.dump.format = TOutputFormat::kJson;
      else if (f == "csv")
        a.dump.format = TOutputFormat::kCsv;
      else
        UsageError("unknown format \"" + f + "\"");
    } else if (arg == "--where") {
      a.where = value("--where");
      a.hasWhere = true;
    } else if (arg == "--order") {
      a.order.tag = value("--order");
    } else if (arg == "--index") {
      a.order.indexFile = value("--index");
    } else if (arg == "--seek") {
      a.order.seekValue = value("--seek");
      a.order.seek = true;
    } else if (arg == "--range") {
      a.order.low = value("--range");
      a.order.high = value("--range");
      a.order.range = true;
    } else if (arg == "--deleted") {
      a.dump.includeDeleted = true;
    } else if (arg == "--codepage") {
      const std::string v = value("--codepage");
      a.codePage = CodePageFromName(v);
      if (a.codePage <= 0 || a.codePage > 99999) UsageError("invalid code page \"" + v + "\"");
    } else if (arg == "--no-detect") {
      a.detect = false;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      UsageError("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) UsageError("expected a command and a table");
  a.command = positional[0];
  a.table = positional[1];
  if (a.command != "info" && a.command != "dump") UsageError("unknown command \"" + a.command + "\"");
  if (a.hasWhere && a.command != "dump") UsageError("--where applies to dump only");
  if (a.order.Any() && a.command != "dump") UsageError("--order, --index, --seek and --range apply to dump only");
  if ((a.order.seek || a.order.range) && a.order.tag.empty() && a.order.indexFile.empty())
    UsageError("--seek and --range need --order TAG or --index FILE");
  return a;
}

void OpenTable(TDbfFile& table, const TArguments& args) {
  table.SetFileName(args.table);
  table.SetChosenCodePage(args.codePage);
  table.SetDetectCodePage(args.detect);
  table.SetMode(amReadOnly);
  table.Open();
  if (table.GiveUp()) throw EDbfError(norvale::msg::kInvalidDbfFile);
}

void PrintInfo(TDbfFile& table, const TCodePageDecoder& text) {
  const uint8_t* h = table.Header();
  std::printf("Table:            %s\n", table.FileName().c_str());
  std::printf("Version byte:     0x%02X (%s)\n", table.VersionByte(), VersionByteDescription(table.VersionByte()));
  std::printf("Table level:      %d (%s)\n", table.TableLevel(), VersionName(table.Version()));
  const std::string_view collation = CollationNameFor(table.LanguageId());
  std::printf("Language driver:  0x%02X%s%.*s%s\n", table.LanguageId(), collation.empty() ? "" : " (",
              static_cast<int>(collation.size()), collation.data(), collation.empty() ? "" : ")");
  if (table.Version() == xBaseVII) std::printf("Driver name:      %s\n", table.LanguageDriverName().c_str());
  std::printf("Code page:        %d (%s)%s\n", text.CodePage(), CodePageLabel(text.CodePage()).c_str(),
              text.Valid() ? "" : " (no converter: text beyond ASCII shows as U+FFFD)");
  std::printf("Code page from:   %s\n", table.CodePageSourceText().c_str());
  if (!table.CpgFileName().empty()) std::printf("Code page file:   %s\n", table.CpgFileName().c_str());
  std::printf("Last update:      %04d-%02d-%02d\n", 1900 + h[1], h[2], h[3]);
  std::printf("Records (header): %u\n", table.HeaderRecordCount());
  std::printf("Records (actual): %u\n", table.RecordCount());
  std::printf("Header length:    %d\n", table.HeaderLength());
  std::printf("Record length:    %d\n", table.RecordLength());
  if (table.HasMemoFields()) {
    if (table.MemoFileName().empty())
      std::printf("Memo file:        missing (memo values read as empty)\n");
    else
      std::printf("Memo file:        %s (block size %d)\n", table.MemoFileName().c_str(), table.MemoFile()->BlockSize());
  }
  std::printf("Fields:           %d\n", table.FieldDefs().Count());
  std::printf("  %-4s %-32s %-4s %6s %4s  %s\n", "#", "Name", "Type", "Size", "Dec", "Logical type");
  for (int i = 0; i < table.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = table.FieldDefs().Item(i);
    std::string name;
    text.AppendUtf8(name, f.FieldName().data(), f.FieldName().size());
    const char letter = f.NativeFieldType();
    std::printf("  %-4d %-32s %-4c %6d %4d  %s\n", i + 1, name.c_str(), letter, f.Size(), f.Precision(),
                FieldTypeName(f.FieldType()));
  }
}

int Run(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "repair") == 0 || std::strcmp(argv[1], "check") == 0))
    return RunRepairCommand(argc, argv);
  if (argc >= 2 && (std::strcmp(argv[1], "index") == 0 || std::strcmp(argv[1], "reindex") == 0))
    return RunIndexCommand(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "create") == 0) return RunCreateCommand(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "export") == 0) return RunExportCommand(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "import") == 0) return RunImportCommand(argc, argv);
  if (argc >= 2 && (std::strcmp(argv[1], "pack") == 0 || std::strcmp(argv[1], "zap") == 0 ||
                    std::strcmp(argv[1], "restructure") == 0))
    return RunRewriteCommand(argc, argv);
  const TArguments args = Parse(argc, argv);
  try {
    TDbfFile table;
    OpenTable(table, args);
    const TCodePageDecoder text(table.UseCodePage());
    if (args.command == "info") {
      PrintInfo(table, text);
    } else {
      TDumpOptions options = args.dump;
      // The table object's filter, with "*" wildcards and without letter
      // case: what a person typing a condition at a prompt expects.
      TTableFilter filter(&table);
      if (args.hasWhere) {
        try {
          filter.Compile(args.where, /*ignoreCase=*/true, /*partialCompare=*/true);
        } catch (const Exception& e) {
          throw Exception(std::string(msg::kFilterError) + e.what());
        }
      }
      if (!filter.Empty()) {
        options.accept = [&filter](const uint8_t* record) {
          try {
            return filter.Accepts(record);
          } catch (const Exception& e) {
            throw Exception(std::string(msg::kFilterError) + e.what());
          }
        };
      }
      if (args.order.Any()) {
        DumpInOrder(table, text, options, args.order, stdout);
      } else {
        TRecordWriter writer(table, text, options, stdout);
        writer.WriteAll();
      }
    }
    return 0;
  } catch (const std::exception& e) {
    return ReportFailure(args.table, e);
  }
}

}  // namespace
}  // namespace norvale::cli

int main(int argc, char** argv) { return norvale::cli::Run(argc, argv); }
