#include "cli/rewrite_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/field_list.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "index/table_rewrite.h"
#include "platform/ascii.h"

namespace norvale::cli {
namespace {

constexpr const char* kRewriteUsage =
    "usage: norvale-cli pack TABLE [--index FILE.NDX ...]\n"
    "       norvale-cli zap TABLE [--index FILE.NDX ...]\n"
    "       norvale-cli restructure TABLE --fields \"NAME C(30), AMOUNT N(12,2), ...\" [--pack] [--index FILE.NDX ...]\n"
    "Fields of the new list that name an old field receive its values, converted by value;\n"
    "the others start empty. The old table is kept as TABLE_N with its memo and index files.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "norvale-cli: %s\n%s", message.c_str(), kRewriteUsage);
  return 2;
}

// The new field list, each field matched by name to the old one it takes
// its values from.
TDbfFieldDefs NewFields(const std::string& table, const std::string& text) {
  TDbfFile old;
  old.SetFileName(table);
  old.SetMode(amReadOnly);
  old.Open();
  TDbfFieldDefs defs(old.Version());
  ParseFieldList(text, defs);
  for (int i = 0; i < defs.Count(); ++i) {
    TDbfFieldDef& d = defs.Item(i);
    const TDbfFieldDef* from = old.FieldDefByName(AsciiUpper(d.FieldName()));
    d.SetCopyFrom(from && from != old.NullFlagsField() ? from->Index() : -1);
    // A FoxPro field that could hold null keeps that.
    if (from && from->NullPosition() >= 0) d.SetNullPosition(0);
  }
  return defs;
}

}  // namespace

int RunRewriteCommand(int argc, char** argv) {
  const std::string command = argv[1];
  std::string table, fields;
  bool hasFields = false, pack = false;
  TRewriteOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kRewriteUsage, stdout);
      return 0;
    }
    if (arg == "--fields" || arg == "--index") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      if (arg == "--fields") {
        fields = argv[++i];
        hasFields = true;
      } else {
        options.indexFiles.push_back(argv[++i]);
      }
    } else if (arg == "--pack" && command == "restructure") {
      pack = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else if (table.empty()) {
      table = arg;
    } else {
      return UsageError("expected one table, got \"" + arg + "\" as well");
    }
  }
  if (table.empty()) return UsageError(command + " needs a table name");
  if (command == "restructure" && !hasFields) return UsageError("restructure needs --fields");
  if (command != "restructure" && hasFields) return UsageError("--fields applies to restructure only");
  try {
    if (command == "pack") {
      const TRewriteResult r = PackTable(table, options);
      std::printf("%s: %lld records kept, %lld deleted records removed\n", table.c_str(),
                  static_cast<long long>(r.records), static_cast<long long>(r.dropped));
    } else if (command == "zap") {
      ZapTable(table, options);
      std::printf("%s: every record removed\n", table.c_str());
    } else {
      const TRewriteResult r = RestructureTable(table, NewFields(table, fields), pack, options);
      std::printf("%s: %lld records in the new structure; the old table is %s\n", table.c_str(),
                  static_cast<long long>(r.records), r.backup.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "norvale-cli: %s: %s\n", table.c_str(), e.what());
    return 1;
  }
  return 0;
}

}  // namespace norvale::cli
