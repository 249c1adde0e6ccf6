#include "cli/create_command.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "cli/failure.h"
#include "cli/field_list.h"
#include "engine/code_page_choice.h"
#include "engine/exceptions.h"
#include "engine/messages.h"
#include "engine/table_file.h"
#include "platform/os_file.h"

namespace norvale::cli {
namespace {

constexpr const char* kCreateUsage =
    "usage: norvale-cli create TABLE --fields \"NAME C(30), AMOUNT N(12,2), BORN D, NOTE M\" [--level 3|4|7|25]\n"
    "                  [--codepage CP]\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "norvale-cli: %s\n%s", message.c_str(), kCreateUsage);
  return 2;
}

std::string WithExtension(const std::string& path, const std::string& ext) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExt ? path.substr(0, dot) : path) + ext;
}

void RefuseExisting(const std::string& path) {
  if (TOsFile::Exists(path)) throw Exception(FormatMessage(msg::kNameTaken, path.c_str(), "it already exists"));
}

// dBASE III headers have no room for a driver; programs that read such
// tables look for the page in a .cpg beside them.
void WriteCpg(const std::string& path, int codePage) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << (codePage == 65001 ? std::string("UTF-8") : std::to_string(codePage));
  out.close();
  if (!out) throw Exception(FormatMessage(msg::kCpgWriteError, path.c_str(), "write failed"));
}

}  // namespace

int RunCreateCommand(int argc, char** argv) {
  std::string table, fields;
  bool hasFields = false;
  int level = 4, codePage = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kCreateUsage, stdout);
      return 0;
    }
    if (arg == "--fields" || arg == "--level" || arg == "--codepage") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--fields") {
        fields = value;
        hasFields = true;
      } else if (arg == "--level") {
        if (value != "3" && value != "4" && value != "7" && value != "25")
          return UsageError("--level is 3, 4, 7 or 25, not \"" + value + "\"");
        level = std::stoi(value);
      } else {
        codePage = CodePageFromName(value);
        if (codePage <= 0 || codePage > 99999) return UsageError("invalid code page \"" + value + "\"");
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else if (table.empty()) {
      table = arg;
    } else {
      return UsageError("expected one table, got \"" + arg + "\" as well");
    }
  }
  if (table.empty()) return UsageError("create needs a table name");
  if (!hasFields) return UsageError("create needs --fields");

  const TXBaseVersion version = VersionOfTableLevel(level);
  const std::string memoName = WithExtension(table, version == xFoxPro ? ".fpt" : ".dbt");
  const std::string cpgName = WithExtension(table, ".cpg");
  bool created = false;
  try {
    TDbfFieldDefs defs(version);
    ParseFieldList(fields, defs);
    RefuseExisting(table);
    bool memo = false;
    for (int i = 0; i < defs.Count(); ++i)
      memo = memo || (defs.Item(i).IsMemoField() && !(version == xFoxPro && defs.Item(i).NativeFieldType() == 'B'));
    // An old memo file beside the new table would be emptied.
    if (memo) RefuseExisting(memoName);
    if (codePage) RefuseExisting(cpgName);
    {
      TDbfFile file;
      file.SetFileName(table);
      file.SetMode(amExclusiveCreate);
      file.SetCreateVersion(version);
      file.Open();
      created = true;
      file.CreateStructure(defs, 512);
    }
    if (codePage && version == xBaseIII) {
      WriteCpg(cpgName, codePage);
    } else if (codePage) {
      TDbfFile file;
      file.SetFileName(table);
      file.SetMode(amExclusiveOpen);
      file.SetDetectCodePage(false);
      file.Open();
      file.WriteCodePage(codePage);
      // A dBASE IV header with driver byte 0 is a dBASE III header: the
      // table would not reopen at the level asked for.
      if (version == xBaseIV && file.LanguageId() == 0)
        throw Exception("no dBASE IV language driver names code page " + std::to_string(codePage) +
                        "; a level 3 table can name it in a .cpg file");
    }
    return 0;
  } catch (const std::exception& e) {
    // Half a table is worse than none.
    if (created) {
      std::remove(table.c_str());
      std::remove(memoName.c_str());
      if (codePage) std::remove(cpgName.c_str());
    }
    return ReportFailure(table, e);
  }
}

}  // namespace norvale::cli
