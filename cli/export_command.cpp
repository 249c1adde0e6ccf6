#include "cli/export_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QGuiApplication>

#include "app/export/table_export.h"
#include "dataset/dbf_table.h"
#include "engine/exceptions.h"
#include "cli/cli_messages.h"
#include "cli/failure.h"
#include "platform/ascii.h"

namespace norvale::cli {
namespace {

constexpr const char* kExportUsage =
    "usage: norvale-cli export TABLE OUT [--format txt|pdf|xls|rtf|wks|xml|html|dbf|csv|xlsx|json|sqlite|pgsql]\n"
    "                  [--where EXPR] [--order TAG] [--index FILE] [--fields A,B,...] [--deleted] [--codepage CP]\n"
    "The format is taken from OUT's extension when --format is not given. OUT is written under a\n"
    "temporary name and replaces a file of that name only once complete.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "norvale-cli: %s\n%s", message.c_str(), kExportUsage);
  return 2;
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> names;
  std::string name;
  for (char c : text + ",") {
    if (c == ',') {
      while (!name.empty() && name.back() == ' ') name.pop_back();
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else if (c != ' ' || !name.empty()) {
      name += c;
    }
  }
  return names;
}

const TExportFormatInfo* FormatOfExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  if (ext.empty()) return nullptr;
  ext = AsciiLower(ext.substr(1));
  if (ext == "htm" || ext == "html") return ExportFormatNamed("html");
  if (ext == "sql") return ExportFormatNamed("pgsql");
  if (ext == "db" || ext == "sqlite3") return ExportFormatNamed("sqlite");
  if (ext == "text") return ExportFormatNamed("txt");
  return ExportFormatNamed(ext);
}

}  // namespace

int RunExportCommand(int argc, char** argv) {
  std::vector<std::string> positional;
  std::string format, where, order, indexFile, fields;
  bool hasWhere = false, deleted = false;
  int codePage = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kExportUsage, stdout);
      return 0;
    }
    if (arg == "--format" || arg == "--where" || arg == "--order" || arg == "--index" || arg == "--fields" ||
        arg == "--codepage") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--format") format = value;
      if (arg == "--where") where = value, hasWhere = true;
      if (arg == "--order") order = value;
      if (arg == "--index") indexFile = value;
      if (arg == "--fields") fields = value;
      if (arg == "--codepage") {
        codePage = TDbfTable::CodePageNamed(value);
        if (codePage <= 0) return UsageError("invalid code page \"" + value + "\"");
      }
    } else if (arg == "--deleted") {
      deleted = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return UsageError("export needs a table and an output file");
  const std::string& tablePath = positional[0];
  const std::string& out = positional[1];
  const TExportFormatInfo* info = format.empty() ? FormatOfExtension(out) : ExportFormatNamed(format);
  if (!info)
    return UsageError(format.empty() ? "give --format: the type of \"" + out + "\" is not known from its name"
                                     : "unknown format \"" + format + "\"");

  // The PDF writer paints with Qt, which wants an application object; a
  // script run has no display, so it paints off screen.
  std::unique_ptr<QGuiApplication> gui;
  static int fakeArgc = 1;
  static char fakeName[] = "norvale-cli";
  static char* fakeArgv[] = {fakeName, nullptr};
  if (info->format == TExportFormat::Pdf && !QGuiApplication::instance()) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    gui = std::make_unique<QGuiApplication>(fakeArgc, fakeArgv);
  }

  try {
    TDbfTable table;
    table.SetReadOnly(true);
    table.SetTableName(tablePath);
    if (codePage) table.SetChosenCodePage(codePage);
    table.SetShowDeleted(deleted);
    // The same conditions as dump --where: "*" wildcards, without letter case.
    table.SetFilterOptions(foCaseInsensitive);
    table.Open();
    // Set on the open table, so that a condition that does not compile is
    // refused before anything is written.
    if (hasWhere) {
      try {
        table.SetFilter(where);
        table.SetFiltered(true);
      } catch (const std::exception& e) {
        throw EDbfError(std::string(msg::kFilterError) + e.what());
      }
    }
    std::string opened;
    if (!indexFile.empty()) {
      const std::vector<std::string> before = table.GetIndexNames();
      table.OpenIndexFile(indexFile);
      for (const std::string& name : table.GetIndexNames())
        if (std::find(before.begin(), before.end(), name) == before.end()) opened = name;
    }
    if (!order.empty()) {
      table.SetIndexName(order);
    } else if (!opened.empty()) {
      table.SetIndexName(opened);
    }
    TExportJob job;
    job.format = info->format;
    job.path = out;
    job.title = std::filesystem::path(tablePath).stem().string();
    job.fields = SplitNames(fields);
    const TExportResult result = RunExport(table, job);
    for (const std::string& warning : result.warnings) std::fprintf(stderr, "norvale-cli: %s\n", warning.c_str());
    std::fprintf(stderr, "%lld records exported to %s\n", static_cast<long long>(result.rows), out.c_str());
    return 0;
  } catch (const std::exception& e) {
    return ReportFailure(tablePath, e);
  }
}

}  // namespace norvale::cli
