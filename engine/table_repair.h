// Inspection and repair of a damaged table's header, from its raw bytes.
//
// The table file proper (TDbfFile) refuses some damage and quietly works
// around the rest in memory, so it cannot say what is wrong with a file.
// The inspector reads the bytes itself and weighs each doubt against what
// the file shows: where records begin (their deletion flags), how many whole
// records its size holds, whether it ends with the end-of-file byte. It fixes
// only what that evidence settles; the rest is reported and left alone.
//
// A repair never changes a record's bytes. It rewrites header fields (record
// count, header length, record length, the production-index byte) and may
// append the end-of-file byte, after saving the original header beside the
// table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/stream.h"

namespace norvale {

enum class TDamage {
  kHeaderUnreadable,  // too short, an unknown version byte, no descriptor terminator
  kTerminatorMissing,  // descriptors fill the header length, with no 0x0D after them
  kHeaderLength,
  kRecordLength,
  kRecordCount,
  kEndOfFile,       // the 0x1A after the last record is missing
  kTrailingBytes,   // bytes after the last record that are not a whole record
  kProductionIndex, // the header names an index file that is not there
  kMemoFile,        // the memo file is missing or has no readable header
  kMemoPointers,    // block numbers past the end of the memo file
};

struct TTableFinding {
  TDamage damage;
  // What is wrong, in plain English, led by what it concerns:
  // "record count: the header says 120, the file holds 118 records".
  std::string message;
  bool fixable = false;
  // Why it cannot be fixed; empty when it can.
  std::string reason;
};

// What lies beside the table, as the inspector needs it. Names are for the
// messages ("customer.dbt"); streams are null when the file is absent.
struct TTableCompanions {
  std::string tableBaseName;  // the table's name without folder and extension
  bool mdxPresent = false;
  bool cdxPresent = false;
  TStream* dbt = nullptr;
  std::string dbtName;
  TStream* fpt = nullptr;
  std::string fptName;
  // Set when a memo file exists but could not be opened (the system's reason).
  std::string dbtError;
  std::string fptError;
};

struct TTableInspection {
  std::vector<TTableFinding> findings;
  // The bytes before the record data, as stored (the larger of the stored
  // header length and where the records were found to start, within the
  // file), and the same bytes with every fixable finding fixed.
  std::vector<uint8_t> storedHeader;
  std::vector<uint8_t> repairedHeader;
  // Fixing includes appending the end-of-file byte at `fileSize`.
  bool appendEndOfFile = false;
  int64_t fileSize = 0;
  // A read of the table or its memo file failed (the system's reason); the
  // findings then stop where the read did.
  std::string readError;

  bool HasFixable() const;
  bool HasUnfixable() const;
  bool HeaderChanged() const { return storedHeader != repairedHeader; }
};

// Inspects the table whose bytes `table` holds. Never writes, never throws
// for what the bytes hold (only std::bad_alloc); read failures end up in
// readError.
TTableInspection InspectTable(TStream& table, const TTableCompanions& companions);

enum class TRepairMode {
  kCheck,   // inspect only
  kDryRun,  // inspect and say what a repair would do; nothing is written
  kRepair,  // inspect under an exclusive open and fix what can be fixed
};

struct TRepairOutcome {
  TTableInspection inspection;
  // What reached the table: the repaired header, the end-of-file byte.
  bool headerWritten = false;
  bool endOfFileWritten = false;
  std::string backupPath;  // the saved original header, when one was written
  // Why the table could not be opened, read or written; empty when nothing
  // failed. After a failed header write the original header is in backupPath.
  std::string error;
};

// Inspects the table at `path` (and repairs it in kRepair mode). The check
// and the dry run open it read-only; the repair opens it writable and denying
// writes to others, so a table another program has open is refused. A
// repair writes only when some finding is fixable: first a backup of the
// whole stored header to a free name beside the table (NAME.header.bak,
// NAME.header.1.bak, ...; never over an existing file), synced; then the
// changed header bytes and the end-of-file byte, synced.
TRepairOutcome RepairTableFile(const std::string& path, TRepairMode mode);

}  // namespace norvale
