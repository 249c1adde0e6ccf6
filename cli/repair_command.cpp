#include "cli/repair_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/index_command.h"
#include "engine/table_repair.h"

namespace norvale::cli {

namespace {

constexpr const char* kRepairUsage =
    "usage: norvale-cli repair TABLE [--dry-run]\n"
    "       norvale-cli check TABLE\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "norvale-cli: %s\n%s", message.c_str(), kRepairUsage);
  return 2;
}

// What became of a finding, as the line ends.
std::string Outcome(const TTableFinding& finding, TRepairMode mode, const TRepairOutcome& outcome) {
  if (!finding.fixable) return "cannot fix (" + finding.reason + ")";
  switch (mode) {
    case TRepairMode::kCheck: return "fixable";
    case TRepairMode::kDryRun: return "would fix";
    case TRepairMode::kRepair: break;
  }
  const bool done = finding.damage == TDamage::kEndOfFile ? outcome.endOfFileWritten : outcome.headerWritten;
  return done ? "fixed" : "not fixed";
}

}  // namespace

int RunRepairCommand(int argc, char** argv) {
  const std::string command = argc >= 2 ? argv[1] : "";
  if (command != "repair" && command != "check") return UsageError("unknown command \"" + command + "\"");
  bool dryRun = false;
  std::string table;
  int tables = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dry-run" && command == "repair") {
      dryRun = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kRepairUsage, stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return UsageError("unknown option " + arg + " for " + command);
    } else {
      table = arg;
      ++tables;
    }
  }
  if (tables != 1) return UsageError(command + " expects one table");

  const TRepairMode mode =
      command == "check" ? TRepairMode::kCheck : dryRun ? TRepairMode::kDryRun : TRepairMode::kRepair;
  const TRepairOutcome outcome = RepairTableFile(table, mode);
  const TTableInspection& found = outcome.inspection;
  for (const TTableFinding& finding : found.findings)
    std::printf("%s: %s\n", finding.message.c_str(), Outcome(finding, mode, outcome).c_str());
  // The indexes are checked against the records once the header reads.
  std::vector<std::string> indexProblems;
  if (mode == TRepairMode::kCheck && outcome.error.empty() && !found.HasUnfixable()) {
    try {
      indexProblems = CheckTableIndexes(table);
    } catch (const std::exception& e) {
      indexProblems.push_back(std::string("index: ") + e.what());
    }
    for (const std::string& problem : indexProblems) std::printf("index %s\n", problem.c_str());
  }
  if (outcome.error.empty() && found.findings.empty() && indexProblems.empty()) std::printf("no damage found\n");
  if (!outcome.backupPath.empty()) std::printf("the original header is saved in %s\n", outcome.backupPath.c_str());
  std::fflush(stdout);
  if (!outcome.error.empty()) {
    std::fprintf(stderr, "norvale-cli: %s: %s\n", table.c_str(), outcome.error.c_str());
    return 1;
  }
  if (mode == TRepairMode::kCheck) return found.findings.empty() && indexProblems.empty() ? 0 : 1;
  return found.HasUnfixable() ? 1 : 0;
}

}  // namespace norvale::cli
